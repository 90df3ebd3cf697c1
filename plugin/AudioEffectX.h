// The VST 2.x extensions of the plug-in side: opcodes 25 to 79 with their default answers and
// the extended calls into the host. Opcodes below 25 go to AudioEffect.
#pragma once

#include "plugin/AudioEffect.h"

class AudioEffectX : public AudioEffect {
public:
    AudioEffectX(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);

    VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                         float opt) override;

    // Structures the plug-in does not use are passed as untyped pointers.
    virtual VstInt32 processEvents(void* events);
    virtual bool canParameterBeAutomated(VstInt32 index);
    virtual bool string2parameter(VstInt32 index, char* text);
    virtual bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text);
    virtual bool getInputProperties(VstInt32 index, void* properties);
    virtual bool getOutputProperties(VstInt32 index, void* properties);
    virtual VstInt32 getPlugCategory();
    virtual bool offlineNotify(void* audioFiles, VstInt32 numAudioFiles, bool start);
    virtual bool offlinePrepare(void* offline, VstInt32 count);
    virtual bool offlineRun(void* offline, VstInt32 count);
    virtual bool processVariableIo(void* varIo);
    virtual bool setSpeakerArrangement(VstSpeakerArrangement* pluginInput,
                                       VstSpeakerArrangement* pluginOutput);
    virtual bool setBypass(bool onOff);
    virtual bool getEffectName(char* name);
    virtual bool getVendorString(char* text);
    virtual bool getProductString(char* text);
    virtual VstInt32 getVendorVersion();
    virtual VstIntPtr vendorSpecific(VstInt32 lArg, VstIntPtr lArg2, void* ptrArg, float floatArg);
    virtual VstInt32 canDo(char* text);
    virtual VstInt32 getGetTailSize();
    virtual bool getParameterProperties(VstInt32 index, void* properties);
    virtual VstInt32 getVstVersion();
    virtual VstInt32 getMidiProgramName(VstInt32 channel, void* midiProgramName);
    virtual VstInt32 getCurrentMidiProgram(VstInt32 channel, void* currentProgram);
    virtual VstInt32 getMidiProgramCategory(VstInt32 channel, void* category);
    virtual bool hasMidiProgramsChanged(VstInt32 channel);
    virtual bool getMidiKeyName(VstInt32 channel, void* keyName);
    virtual bool beginSetProgram();
    virtual bool endSetProgram();
    // Hands out the plug-in's own arrangements; false (and nothing written) without them.
    virtual bool getSpeakerArrangement(VstSpeakerArrangement** pluginInput,
                                       VstSpeakerArrangement** pluginOutput);
    virtual VstInt32 getNextShellPlugin(char* name);
    virtual VstInt32 startProcess();
    virtual VstInt32 stopProcess();
    virtual VstInt32 setTotalSampleToProcess(VstInt32 value);
    virtual bool setPanLaw(VstInt32 type, float val);
    virtual VstInt32 beginLoadBank(void* ptr);
    virtual VstInt32 beginLoadProgram(void* ptr);
    virtual bool setProcessPrecision(VstInt32 precision);
    virtual VstInt32 getNumMidiInputChannels();
    virtual VstInt32 getNumMidiOutputChannels();

    // Calls into the host.
    virtual bool ioChanged();
    virtual bool canHostDo(char* text);
    virtual bool beginEdit(VstInt32 index);
    virtual bool endEdit(VstInt32 index);
    virtual bool openFileSelector(VstFileSelect* select);
    virtual bool closeFileSelector(VstFileSelect* select);
};
