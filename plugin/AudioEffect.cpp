#include "plugin/AudioEffect.h"

#include <cstring>

namespace {

// Writes an empty string where the host gave room for one.
void writeEmpty(char* text) {
    if (text != nullptr) {
        text[0] = '\0';
    }
}

AudioEffect* objectOf(AEffect* e) {
    return e != nullptr ? static_cast<AudioEffect*>(e->object) : nullptr;
}

} // namespace

bool AEffEditor::getRect(ERect** rect) {
    if (rect != nullptr) {
        *rect = nullptr;
    }
    return false;
}

bool AEffEditor::open(void* ptr) {
    systemWindow = ptr;
    return false;
}

void AEffEditor::close() {
    systemWindow = nullptr;
}

bool AEffEditor::onKeyDown(VstKeyCode&) {
    return false;
}

bool AEffEditor::onKeyUp(VstKeyCode&) {
    return false;
}

bool AEffEditor::setKnobMode(VstInt32) {
    return false;
}

void AEffEditor::setParameter(VstInt32, float) {}

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : audioMaster(audioMaster), numPrograms(numPrograms), numParams(numParams) {
    // The interface's defaults; the plug-in's constructor sets its own values afterwards.
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEffectClass;
    cEffect.process = processClass;
    cEffect.setParameter = setParameterClass;
    cEffect.getParameter = getParameterClass;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.flags = effFlagsCanReplacing;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = vstFourCC('N', 'o', 'E', 'f');
    cEffect.version = 1;
    cEffect.processReplacing = processClassReplacing;
    cEffect.processDoubleReplacing = processClassDoubleReplacing;
}

AudioEffect::~AudioEffect() {
    delete editor;
}

VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                float opt) {
    if (audioMaster == nullptr) {
        return 0;
    }
    return audioMaster(&cEffect, opcode, index, value, ptr, opt);
}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                  float opt) {
    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 1;
    case effSetProgram:
        // Only program numbers that exist; a negative number would leave no valid program.
        if (value >= 0 && value < numPrograms) {
            setProgram(static_cast<VstInt32>(value));
        }
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        setProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetProgramName:
        getProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetParamLabel:
        getParameterLabel(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamDisplay:
        getParameterDisplay(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamName:
        getParameterName(index, static_cast<char*>(ptr));
        return 0;
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(static_cast<VstInt32>(value));
        return 0;
    case effMainsChanged:
        if (value != 0) {
            resume();
        } else {
            suspend();
        }
        return 0;
    case effEditGetRect:
        return editor != nullptr ? editor->getRect(static_cast<ERect**>(ptr)) : 0;
    case effEditOpen:
        return editor != nullptr ? editor->open(ptr) : 0;
    case effEditClose:
        if (editor != nullptr) {
            editor->close();
        }
        return 0;
    case effEditIdle:
        if (editor != nullptr) {
            editor->idle();
        }
        return 0;
    case effIdentify:
        return kEffectIdentify;
    case effGetChunk:
        return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
        return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
    default:
        // effGetVu, the deprecated editor opcodes and anything unknown.
        return 0;
    }
}

void AudioEffect::setProgramName(char*) {}

void AudioEffect::getProgramName(char* name) {
    writeEmpty(name);
}

void AudioEffect::getParameterLabel(VstInt32, char* label) {
    writeEmpty(label);
}

void AudioEffect::getParameterDisplay(VstInt32, char* text) {
    writeEmpty(text);
}

void AudioEffect::getParameterName(VstInt32, char* text) {
    writeEmpty(text);
}

VstInt32 AudioEffect::getChunk(void**, bool) {
    return 0;
}

VstInt32 AudioEffect::setChunk(void*, VstInt32, bool) {
    return 0;
}

void AudioEffect::setParameter(VstInt32, float) {}

float AudioEffect::getParameter(VstInt32) {
    return 0.0f;
}

void AudioEffect::setParameterAutomated(VstInt32 index, float value) {
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::process(float**, float**, VstInt32) {}

void AudioEffect::processDoubleReplacing(double**, double**, VstInt32) {}

void AudioEffect::canProcessReplacing(bool state) {
    if (state) {
        cEffect.flags |= effFlagsCanReplacing;
    } else {
        cEffect.flags &= ~effFlagsCanReplacing;
    }
}

void AudioEffect::canDoubleReplacing(bool state) {
    if (state) {
        cEffect.flags |= effFlagsCanDoubleReplacing;
    } else {
        cEffect.flags &= ~effFlagsCanDoubleReplacing;
    }
}

void AudioEffect::programsAreChunks(bool state) {
    if (state) {
        cEffect.flags |= effFlagsProgramChunks;
    } else {
        cEffect.flags &= ~effFlagsProgramChunks;
    }
}

void AudioEffect::setEditor(AEffEditor* newEditor) {
    editor = newEditor;
    if (editor != nullptr) {
        cEffect.flags |= effFlagsHasEditor;
    } else {
        cEffect.flags &= ~effFlagsHasEditor;
    }
}

VstInt32 AudioEffect::getMasterVersion() {
    const VstIntPtr version = callHost(audioMasterVersion);
    return version != 0 ? static_cast<VstInt32>(version) : 1;
}

VstInt32 AudioEffect::getCurrentUniqueId() {
    return static_cast<VstInt32>(callHost(audioMasterCurrentId));
}

void AudioEffect::masterIdle() {
    callHost(audioMasterIdle);
}

VstIntPtr VSTCALLBACK AudioEffect::dispatchEffectClass(AEffect* e, VstInt32 opcode, VstInt32 index,
                                                       VstIntPtr value, void* ptr, float opt) {
    AudioEffect* object = objectOf(e);
    if (object == nullptr) {
        return 0;
    }
    if (opcode == effClose) {
        // The object ends here, whatever its dispatcher answered.
        object->dispatcher(opcode, index, value, ptr, opt);
        delete object;
        return 1;
    }
    return object->dispatcher(opcode, index, value, ptr, opt);
}

float VSTCALLBACK AudioEffect::getParameterClass(AEffect* e, VstInt32 index) {
    AudioEffect* object = objectOf(e);
    return object != nullptr ? object->getParameter(index) : 0.0f;
}

void VSTCALLBACK AudioEffect::setParameterClass(AEffect* e, VstInt32 index, float value) {
    if (AudioEffect* object = objectOf(e)) {
        object->setParameter(index, value);
    }
}

void VSTCALLBACK AudioEffect::processClass(AEffect* e, float** inputs, float** outputs,
                                           VstInt32 sampleFrames) {
    if (AudioEffect* object = objectOf(e)) {
        object->process(inputs, outputs, sampleFrames);
    }
}

void VSTCALLBACK AudioEffect::processClassReplacing(AEffect* e, float** inputs, float** outputs,
                                                    VstInt32 sampleFrames) {
    if (AudioEffect* object = objectOf(e)) {
        object->processReplacing(inputs, outputs, sampleFrames);
    }
}

void VSTCALLBACK AudioEffect::processClassDoubleReplacing(AEffect* e, double** inputs,
                                                          double** outputs, VstInt32 sampleFrames) {
    if (AudioEffect* object = objectOf(e)) {
        object->processDoubleReplacing(inputs, outputs, sampleFrames);
    }
}
