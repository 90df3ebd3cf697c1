#include "plugin/VeltranoVST.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr char kVendorString[] = "Brimwater";
constexpr char kProductString[] = "Veltrano VST";
constexpr VstInt32 kUniqueId = vstFourCC('V', 'T', 'V', 'T');

// Level conversions, evaluated in double and stored in single precision, so that the stored
// values do not depend on the platform's single-precision library functions.
float dbFromGain(float gain) {
    return static_cast<float>(20.0 * std::log10(static_cast<double>(gain)));
}

float powerOfTen(float exponent) {
    return static_cast<float>(std::pow(10.0, static_cast<double>(exponent)));
}

float gainFromDb(float dB) {
    return static_cast<float>(std::pow(10.0, static_cast<double>(dB) / 20.0));
}

// Copies an arrangement's type, channel count and speakers; the rest of the target is cleared.
// The source may be the target itself (a host handing back what it got from us).
void copyArrangement(VstSpeakerArrangement& target, const VstSpeakerArrangement& source) {
    VstSpeakerArrangement copy{};
    copy.type = source.type;
    copy.numChannels = source.numChannels;
    const int speakers = std::clamp(source.numChannels, 0, VeltranoVST::kNumChannels);
    for (int i = 0; i < speakers; ++i) {
        copy.speakers[i] = source.speakers[i];
    }
    target = copy;
}

void makeStereo(VstSpeakerArrangement& target) {
    target = VstSpeakerArrangement{};
    target.type = kSpeakerArrStereo;
    target.numChannels = 2;
}

} // namespace

VeltranoVST::VeltranoVST(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, 1, kNumParams) {
    setNumInputs(2);
    setNumOutputs(2);
    canProcessReplacing(true);
    canDoubleReplacing(false);
    setUniqueID(kUniqueId);

    makeStereo(inputArrangement);
    makeStereo(outputArrangement);
    ioChanged();

    // The editor comes with its own module; until then the plug-in runs without one.
    installEditor(nullptr);

    for (RelaxedFloat& value : switchValues) {
        value = 0.0f;
    }
    humFrequency = kInitialHumFrequency;
    maxGainLinear = kInitialMaxGainLinear;
    maxGain = clamp(dbFromGain(kInitialMaxGainLinear) / kMaxGainRangeDb);

    for (auto& detector : humDetect) {
        detector = std::make_unique<CHumDetect>(); // starts at 60 Hz, matching humFrequency
    }

    const float flatValue = clamp((dbFromGain(1.0f) + kEqRangeDb) / kEqRangeDb);
    for (int band = 0; band < kNumEqBands; ++band) {
        bandGains[band] = 1.0f;
        bandValues[band] = flatValue;
    }
}

VeltranoVST::~VeltranoVST() = default;

void VeltranoVST::installEditor(EditorLink* newEditor) {
    delete editor;
    myEditor = newEditor;
    setEditor(newEditor);
}

bool VeltranoVST::editorOpen() {
    return myEditor != nullptr && myEditor->isOpen();
}

float VeltranoVST::clamp(float value) {
    if (value > 1.0f) {
        return 1.0f;
    }
    if (value < 0.0f) {
        return 0.0f;
    }
    return value;
}

bool VeltranoVST::switchOn(VstInt32 index) {
    const float value = getParameter(index);
    return index == kAggressive ? value > 0.5f : value == 1.0f;
}

void VeltranoVST::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    // Until the processing chain exists the plug-in plays silence.
    (void)inputs;
    if (sampleFrames < 1 || outputs == nullptr) {
        return;
    }
    const int channels = std::clamp(inputArrangement.numChannels, 0, kNumChannels);
    for (int c = 0; c < channels; ++c) {
        if (outputs[c] != nullptr) {
            std::fill(outputs[c], outputs[c] + sampleFrames, 0.0f);
        }
    }
}

void VeltranoVST::setParameter(VstInt32 index, float value) {
    // A host that sends NaN or infinity has nothing meaningful to say; storing it would poison
    // every gain derived from it.
    if (!std::isfinite(value)) {
        return;
    }
    float told = value;
    if (index >= kEqBand0 && index <= kEqBand19) {
        setBandValue(index - kEqBand0, value);
    } else if (index >= kAutoNormalize && index <= kAutoGain) {
        switchValues[index - kAutoNormalize] = value;
    } else if (index >= kEqBandEntry0 && index <= kEqBandEntry19) {
        setBandValue(index - kEqBandEntry0, clamp(value));
    } else {
        switch (index) {
        case kHumAttenuation:
        case kHumAttenuationEntry:
            humAttenuation = clamp(value);
            break;
        case kPredictableAttenuation:
        case kPredictableAttenuationEntry:
            predictableAttenuation = clamp(value);
            break;
        case kRandomAttenuation:
        case kRandomAttenuationEntry:
            randomAttenuation = clamp(value);
            break;
        case kMaxGain:
        case kMaxGainEntry:
            setMaxGain(value);
            break;
        case kHumFrequency:
            setHumFrequency(value);
            break;
        case kHumFrequencyStep:
            told = clamp(humFrequency - kHumFrequencyStepSize * value);
            setHumFrequency(told);
            break;
        case kEqShift:
            shiftEq(value);
            break;
        case kEqFlat:
            flattenEq();
            break;
        case kEqPresetLowCut:
            applyEqPreset(kEqPresetLowCutGains, true);
            break;
        case kEqPresetHighCut:
            applyEqPreset(kEqPresetHighCutGains, false);
            break;
        default:
            break; // the editor's own tags and unknown indices store nothing
        }
    }
    if (editor != nullptr) {
        editor->setParameter(index, told);
    }
}

float VeltranoVST::getParameter(VstInt32 index) {
    if (index >= kEqBand0 && index <= kEqBand19) {
        return bandValues[index - kEqBand0];
    }
    if (index >= kAutoNormalize && index <= kAutoGain) {
        return switchValues[index - kAutoNormalize];
    }
    switch (index) {
    case kHumAttenuation:
        return humAttenuation;
    case kPredictableAttenuation:
        return predictableAttenuation;
    case kRandomAttenuation:
        return randomAttenuation;
    case kMaxGain:
        return maxGain;
    case kHumFrequency:
        return humFrequency;
    default:
        return 0.0f;
    }
}

void VeltranoVST::setBandValue(int band, float value) {
    bandValues[band] = value;
    const float v = kEqRangeDb * value;
    bandGains[band] = powerOfTen((kEqRangeDb - v) / -20.0f);
}

void VeltranoVST::setMaxGain(float value) {
    const float x = clamp(value);
    maxGain = x;
    maxGainLinear = gainFromDb(kMaxGainRangeDb * x);
}

void VeltranoVST::setHumFrequency(float value) {
    const float x = clamp(value);
    humFrequency = x;
    const float hz = static_cast<float>(static_cast<double>(kHumFrequencyBase) +
                                        static_cast<double>(kHumFrequencySpan) * x);
    for (auto& detector : humDetect) {
        detector->frequency = hz;
        detector->setLowerSpan(detector->lowerSpan);
        detector->setUpperSpan(detector->upperSpan);
    }
}

void VeltranoVST::shiftEq(float dB) {
    const bool open = editorOpen();
    for (int band = 0; band < kNumEqBands; ++band) {
        const float d = std::clamp(dbFromGain(bandGains[band]) - dB, -kEqRangeDb, 0.0f);
        if (open) {
            myEditor->setEqBandText(band, -d);
            myEditor->setEqBandSlider(band, 1.0f - clamp((-d - 0.0f) / (kEqRangeDb - 0.0f)));
        }
        bandGains[band] = gainFromDb(d);
        bandValues[band] = clamp((dbFromGain(bandGains[band]) + kEqRangeDb - 0.0f) / kEqRangeDb);
    }
}

void VeltranoVST::flattenEq() {
    const float flatValue = clamp((dbFromGain(1.0f) + kEqRangeDb) / kEqRangeDb);
    const bool open = editorOpen();
    for (int band = 0; band < kNumEqBands; ++band) {
        bandGains[band] = 1.0f;
        bandValues[band] = flatValue;
        if (open) {
            myEditor->setEqBandSlider(band, bandGains[band]);
            myEditor->setEqBandText(band, kEqRangeDb - kEqRangeDb * bandGains[band]);
        }
    }
}

void VeltranoVST::applyEqPreset(const float* gains, bool lowCut) {
    for (int band = 0; band < kNumEqBands; ++band) {
        if (gains[band] != 1.0f) {
            bandGains[band] = gains[band];
        }
    }
    const bool open = editorOpen();
    for (int band = 0; band < kNumEqBands; ++band) {
        if (lowCut ? band >= 11 : band < 8) {
            bandGains[band] = 1.0f;
        }
        const float gainDb = dbFromGain(bandGains[band]);
        if (open) {
            myEditor->setEqBandSlider(band, 1.0f - clamp(-gainDb / kEqRangeDb));
            myEditor->setEqBandText(band, -gainDb);
        }
        bandValues[band] = clamp((gainDb + kEqRangeDb) / kEqRangeDb);
    }
}

bool VeltranoVST::setSpeakerArrangement(VstSpeakerArrangement* pluginInput,
                                        VstSpeakerArrangement* pluginOutput) {
    if (pluginInput == nullptr || pluginOutput == nullptr) {
        return false;
    }
    // Read both offers before either own arrangement changes: a host may hand back ours.
    VstSpeakerArrangement offeredInput{};
    VstSpeakerArrangement offeredOutput{};
    copyArrangement(offeredInput, *pluginInput);
    copyArrangement(offeredOutput, *pluginOutput);

    bool accepted = true;
    if (offeredInput.numChannels > kNumChannels || offeredInput.numChannels < 1) {
        // More channels than we handle, or none at all: stay stereo.
        makeStereo(inputArrangement);
        accepted = false;
    } else {
        inputArrangement = offeredInput;
    }
    if (offeredOutput.numChannels == inputArrangement.numChannels) {
        outputArrangement = offeredOutput;
        return accepted;
    }
    copyArrangement(outputArrangement, inputArrangement);
    return false;
}

bool VeltranoVST::getSpeakerArrangement(VstSpeakerArrangement** pluginInput,
                                        VstSpeakerArrangement** pluginOutput) {
    if (pluginInput == nullptr || pluginOutput == nullptr) {
        return false;
    }
    *pluginInput = &inputArrangement;
    *pluginOutput = &outputArrangement;
    return true;
}

bool VeltranoVST::getVendorString(char* text) {
    if (text == nullptr) {
        return false;
    }
    std::memcpy(text, kVendorString, sizeof kVendorString);
    return true;
}

bool VeltranoVST::getProductString(char* text) {
    if (text == nullptr) {
        return false;
    }
    std::memcpy(text, kProductString, sizeof kProductString);
    return true;
}
