// The plug-in object: the descriptor values, the parameter model and the speaker arrangements.
//
// Parameter values are 32-bit floats written whole from whichever thread sets them and read by
// the audio path once per block; no locks. The hum frequency's working value lives in the two
// channels' hum detectors.
#pragma once

#include "common/RelaxedFloat.h"
#include "dsp/CHumDetect.h"
#include "plugin/AudioEffectX.h"
#include "plugin/EditorLink.h"
#include "plugin/Parameters.h"

#include <memory>

class VeltranoVST : public AudioEffectX {
public:
    static constexpr int kNumChannels = 2;

    explicit VeltranoVST(audioMasterCallback audioMaster);
    ~VeltranoVST() override;

    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    // Stores the value of a parameter (0 ... 34) or carries out an editor command (43 ... 71),
    // then tells the editor. A NaN or infinite value is ignored: nothing is stored or told.
    void setParameter(VstInt32 index, float value) override;
    // The stored value of 0 ... 34; 0 for every other index.
    float getParameter(VstInt32 index) override;
    bool setSpeakerArrangement(VstSpeakerArrangement* pluginInput,
                               VstSpeakerArrangement* pluginOutput) override;
    bool getSpeakerArrangement(VstSpeakerArrangement** pluginInput,
                               VstSpeakerArrangement** pluginOutput) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;

    // Installs the editor (owned from then on) and sets or clears effFlagsHasEditor.
    void installEditor(EditorLink* newEditor);

    // Working values derived from the parameters.
    float bandGain(int band) const { return bandGains[band]; }
    float maxGainLinearValue() const { return maxGainLinear; }
    // True when the switch's stored value is exactly 1 (kAggressive: above 0.5).
    bool switchOn(VstInt32 index);

    CHumDetect& humDetector(int channel) { return *humDetect[channel]; }
    const VstSpeakerArrangement& inputArrangementValue() const { return inputArrangement; }
    const VstSpeakerArrangement& outputArrangementValue() const { return outputArrangement; }

    static float clamp(float value);

private:
    void setBandValue(int band, float value);
    void setMaxGain(float value);
    void setHumFrequency(float value);
    void shiftEq(float dB);
    void flattenEq();
    void applyEqPreset(const float* gains, bool lowCut);
    bool editorOpen();

    // Parameter store.
    RelaxedFloat bandValues[kNumEqBands];              // 0-19: normalized band values as stored
    RelaxedFloat bandGains[kNumEqBands];               // linear band gains derived from them
    RelaxedFloat switchValues[kNumSwitches];           // 20-29: stored exactly as received
    RelaxedFloat humAttenuation{0.0f};                 // 30: [0, 1], 60 - 60x dB
    RelaxedFloat predictableAttenuation{0.0f};         // 31: [0, 1]
    RelaxedFloat randomAttenuation{0.0f};              // 32: [0, 1]
    RelaxedFloat maxGain{0.0f};                        // 33: [0, 1], 60x dB
    RelaxedFloat maxGainLinear{kInitialMaxGainLinear}; // linear gain of the maximum gain
    RelaxedFloat humFrequency{kInitialHumFrequency};   // 34: [0, 1]

    std::unique_ptr<CHumDetect>
        humDetect[kNumChannels]; // per channel; hold the hum frequency in Hz

    VstSpeakerArrangement inputArrangement{};  // its numChannels decides the channels handled
    VstSpeakerArrangement outputArrangement{}; // follows the input's channel count

    EditorLink* myEditor{nullptr}; // the editor as installed (owned through the base)
};
