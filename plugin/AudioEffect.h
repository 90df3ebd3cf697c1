// Plug-in side of the VST 2.4 interface: the AEffect descriptor, routing of the descriptor's
// entry points and dispatcher opcodes to virtual operations with their default answers, and
// the calls back into the host.
//
// Threading: the host calls the dispatcher and usually setParameter from its user-interface
// thread and processReplacing from its audio thread; this layer takes no locks. Every call
// into the host is skipped when the host gave no callback.
#pragma once

#include "plugin/VstInterface.h"

class AudioEffect;

// The plug-in's editor as the interface layer sees it. The window exists only between open
// and close; the object lives as long as the plug-in, which deletes it.
class AEffEditor {
public:
    explicit AEffEditor(AudioEffect* effect) : effect(effect) {}
    virtual ~AEffEditor() = default;
    AEffEditor(const AEffEditor&) = delete;
    AEffEditor& operator=(const AEffEditor&) = delete;

    // Writes the editor's rectangle through rect (when rect is not null); true when it did.
    virtual bool getRect(ERect** rect);
    // Opens the window inside the host's parent window ptr.
    virtual bool open(void* ptr);
    virtual void close();
    virtual bool isOpen() { return systemWindow != nullptr; }
    virtual void idle() {}
    virtual bool onKeyDown(VstKeyCode& keyCode);
    virtual bool onKeyUp(VstKeyCode& keyCode);
    // The mouse wheel turned `distance` notches over the window; true when it was used.
    virtual bool onWheel(float distance) {
        (void)distance;
        return false;
    }
    virtual bool setKnobMode(VstInt32 mode);
    // Called by controls that track the mouse in a loop of their own.
    virtual void doIdleStuff() {}

    // A parameter (or an editor command index) changed: move the controls to match.
    virtual void setParameter(VstInt32 index, float value);

protected:
    AudioEffect* effect;         // the plug-in this editor belongs to
    void* systemWindow{nullptr}; // the host's parent window while open
};

class AudioEffect {
public:
    AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
    virtual ~AudioEffect();
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    // Opcodes 0 to 24; every other opcode answers 0.
    virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                 float opt);

    virtual void open() {}
    virtual void close() {}
    virtual void setProgram(VstInt32 program) { curProgram = program; }
    virtual VstInt32 getProgram() { return curProgram; }
    virtual void setProgramName(char* name);
    virtual void getProgramName(char* name);
    virtual void getParameterLabel(VstInt32 index, char* label);
    virtual void getParameterDisplay(VstInt32 index, char* text);
    virtual void getParameterName(VstInt32 index, char* text);
    virtual float getVu() { return 0.0f; }
    virtual VstInt32 getChunk(void** data, bool isPreset = false);
    virtual VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset = false);
    virtual void setSampleRate(float newRate) { sampleRate = newRate; }
    virtual void setBlockSize(VstInt32 newSize) { blockSize = newSize; }
    virtual void suspend() {}
    virtual void resume() {}

    virtual void setParameter(VstInt32 index, float value);
    virtual float getParameter(VstInt32 index);
    // The editor's path: the own setParameter, then audioMasterAutomate to the host.
    virtual void setParameterAutomated(VstInt32 index, float value);

    virtual void process(float** inputs, float** outputs, VstInt32 sampleFrames);
    virtual void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) = 0;
    virtual void processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames);

    virtual AEffect* getAeffect() { return &cEffect; }
    virtual void setUniqueID(VstInt32 id) { cEffect.uniqueID = id; }
    virtual void setNumInputs(VstInt32 inputs) { cEffect.numInputs = inputs; }
    virtual void setNumOutputs(VstInt32 outputs) { cEffect.numOutputs = outputs; }
    virtual void canProcessReplacing(bool state = true);
    virtual void canDoubleReplacing(bool state = true);
    virtual void programsAreChunks(bool state = true);
    virtual void setInitialDelay(VstInt32 delay) { cEffect.initialDelay = delay; }
    virtual void setEditor(AEffEditor* newEditor);
    virtual AEffEditor* getEditor() { return editor; }

    virtual VstInt32 getMasterVersion();
    virtual VstInt32 getCurrentUniqueId();
    virtual void masterIdle();

    float getSampleRate() const { return sampleRate; }
    VstInt32 getBlockSize() const { return blockSize; }

    // The descriptor's entry points; they find the object through AEffect::object.
    static VstIntPtr VSTCALLBACK dispatchEffectClass(AEffect* e, VstInt32 opcode, VstInt32 index,
                                                     VstIntPtr value, void* ptr, float opt);
    static float VSTCALLBACK getParameterClass(AEffect* e, VstInt32 index);
    static void VSTCALLBACK setParameterClass(AEffect* e, VstInt32 index, float value);
    static void VSTCALLBACK processClass(AEffect* e, float** inputs, float** outputs,
                                         VstInt32 sampleFrames);
    static void VSTCALLBACK processClassReplacing(AEffect* e, float** inputs, float** outputs,
                                                  VstInt32 sampleFrames);
    static void VSTCALLBACK processClassDoubleReplacing(AEffect* e, double** inputs,
                                                        double** outputs, VstInt32 sampleFrames);

protected:
    // Calls the host, when there is one; 0 otherwise.
    VstIntPtr callHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f);

    audioMasterCallback audioMaster; // the host callback passed to the entry function
    AEffEditor* editor{nullptr};     // owned; deleted by the destructor
    float sampleRate{44100.0f};      // Hz; the plug-in keeps its internal rate here
    VstInt32 blockSize{1024};        // frames, as the host last set it; nothing reads it
    VstInt32 numPrograms;            // bound for effSetProgram
    VstInt32 numParams;              // copied to the descriptor
    VstInt32 curProgram{0};          // effGetProgram / effSetProgram
    AEffect cEffect{};               // the descriptor handed to the host
};
