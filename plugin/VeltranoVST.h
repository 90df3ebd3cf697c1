// The plug-in object: the descriptor values, the parameter model, the speaker arrangements, the
// sample-rate handling and the processing chain.
//
// The chain collects the host's frames into a host block of fixed length, converts each full
// block to the internal rate (14 700 or 16 000 Hz) by integer interpolation and decimation,
// runs the restoration stages on internal blocks of 2048 samples and converts back; the output
// plays one host block later. Latency: host block + extra latency frames, reported as the
// descriptor's initialDelay.
//
// Time-exactness: the output is the input delayed by exactly initialDelay frames, whichever
// stages are on. Every stage's switched-on output is delayed to the length of its bypass path
// (the hum filter by one sample, random-noise reduction by 611; the equalizer's taps are
// centred on its bypass delay), and the resampling filters' 255 high-rate samples are made up
// to the 256 the latency counts. Only the high-pass, antisymmetric with 127.5 samples of
// delay, lies half an internal sample before its bypass path of 128.
//
// Lifecycle: resume (effMainsChanged 1) returns every stage, buffer and delay line to its
// state after construction and the current rate's setSampleRate, keeping every parameter, so a
// render after any live cycle equals a fresh instance's.
//
// Threading: parameter values are 32-bit floats written whole from whichever thread sets them
// and read by the audio path once per block; no locks. The hum frequency's working value lives
// in the two channels' hum detectors. setSampleRate runs on the host's user-interface thread,
// never while processReplacing runs (the interface's rule); it allocates every buffer the
// audio path uses, so processReplacing neither allocates nor waits. What the audio path tells
// the editor (the tracked frequency, the frequency text, the spectrum feed) goes through
// EditorLink calls that neither wait nor allocate; the editor applies it at its idle.
#pragma once

#include "common/RelaxedFloat.h"
#include "dsp/CAutoGain.h"
#include "dsp/CAutoNorm.h"
#include "dsp/CDeconvolver.h"
#include "dsp/CFirFilter.h"
#include "dsp/CHumDetect.h"
#include "dsp/CResample.h"
#include "dsp/SpectralSub.h"
#include "plugin/AudioEffectX.h"
#include "plugin/EditorLink.h"
#include "plugin/Parameters.h"

#include <cstdint>
#include <memory>
#include <vector>

class VeltranoVST : public AudioEffectX {
public:
    static constexpr int kNumChannels = 2;

    explicit VeltranoVST(audioMasterCallback audioMaster);
    ~VeltranoVST() override;

    // Chooses the internal rate, factors, host block and latency for the host rate (truncated to
    // an integer) and allocates the block buffers. A rate that is not a finite number from 1 Hz
    // to kMaxHostRate is ignored.
    void setSampleRate(float rate) override;
    // Starts the chain afresh (see above). Runs on the host's non-audio thread, never while
    // processReplacing runs (the interface's rule); clears, allocates nothing.
    void resume() override;
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

    // The reference of what the chain removes, for the command line's residue (no host reaches
    // it). With it on, no stage runs: each passes its input through its bypass delay, except
    // that a switched-on high-pass is replaced by an all-pass with the high-pass's phase (a
    // 90-degree turn at every frequency from 22 Hz up, 384 samples longer than the high-pass,
    // which random-noise reduction's bypass path gives back). The output is then the input
    // delayed, band-limited and turned exactly as the output of an instance with the same
    // setting, before anything is removed. Call it before processing, like setSampleRate; it
    // allocates.
    void setRemovalReference(bool on);
    bool isRemovalReference() const { return removalReference; }

    // Working values derived from the parameters.
    float bandGain(int band) const { return bandGains[band]; }
    float maxGainLinearValue() const { return maxGainLinear; }
    // True when the switch's stored value is exactly 1 (kAggressive: above 0.5).
    bool switchOn(VstInt32 index);

    CHumDetect& humDetector(int channel) { return *humDetect[channel]; }
    const VstSpeakerArrangement& inputArrangementValue() const { return inputArrangement; }
    const VstSpeakerArrangement& outputArrangementValue() const { return outputArrangement; }

    static float clamp(float value);

    // Chain constants.
    static constexpr unsigned kInternalBlock = 2048; // samples per internal block
    static constexpr unsigned kChainDelay = 2596;    // the stages' bypass delays added up
    static constexpr unsigned kEqTaps = 512;
    static constexpr float kMaxHostRate = 1536000.0f; // Hz, eight times 192 kHz

    VstInt32 decimationFactor() const { return factorF; }
    VstInt32 interpolationFactor() const { return factorG; }
    std::uint32_t hostBlockFrames() const { return hostBlock; }
    std::uint32_t extraLatencyFrames() const { return extraLatency; }
    // The equalizer taps as last built (before the first block: from the initial gains).
    const float* equalizerTaps() const { return eqTaps; }

private:
    // The stages in chain order; each has a bypass delay line per channel.
    enum Stage {
        kStageNormalize,
        kStageHighPass,
        kStageHum,
        kStagePredictable,
        kStageRandom,
        kStageEqualizer,
        kStageGain,
        kNumStages
    };
    static constexpr unsigned kBypassDelay[kNumStages] = {64, 128, 36, 0, 2048, 256, 64};
    // Samples by which each stage's own output is delayed further so that it lines up with its
    // bypass path: the hum canceller delays by 35, random-noise reduction by 1437 at blocks of
    // 2048 (its first call returns 611 samples, placed at the end of the block). The equalizer
    // needs none (taps centred on 256), the high-pass cannot be helped by a whole sample.
    static constexpr unsigned kAlignDelay[kNumStages] = {0, 0, 1, 0, 611, 0, 0};

    void processBlock(int channels);
    // The switch rule: with the stage off, its output is its input delayed by the stage's
    // bypass delay; on or off, the delay line then takes the input's newest samples.
    void bypass(Stage stage, int channel, bool on, const float* input, float* output,
                unsigned count);
    // Delays `count` samples in place through `line` (its length is the delay).
    static void delayThrough(std::vector<float>& line, float* samples, unsigned count);
    void buildEqualizerTaps();

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

    // Sample-rate handling.
    VstInt32 factorF{1};           // decimation factor F
    VstInt32 factorG{1};           // interpolation factor G
    std::uint32_t hostBlock{0};    // frames per host block; 0 until the first rate is set
    std::uint32_t extraLatency{0}; // frames of latency beyond the host block
    std::uint32_t fillPosition{0}; // next frame of the block buffers, shared by the channels
    bool removalReference{false};  // the chain runs as the reference of what it removes

    // Processing objects shared by both channels (stereo-linked).
    std::unique_ptr<CAutoNorm> autoNorm; // first stage: brings the input to a working level
    std::unique_ptr<CAutoGain> autoGain; // last stage: raises quiet passages

    // Processing objects, per channel.
    std::unique_ptr<CResample> resampleF[kNumChannels];      // factor F: in down, out up
    std::unique_ptr<CResample> resampleG[kNumChannels];      // factor G: in up, out down
    std::unique_ptr<CFirFilter> highPass[kNumChannels];      // the 200 Hz high-pass
    std::unique_ptr<CDeconvolver> deconvolver[kNumChannels]; // predictable noise reduction
    std::unique_ptr<SpectralSub> spectralSub[kNumChannels];  // random noise reduction
    std::unique_ptr<CFirFilter> equalizer[kNumChannels];     // taps rebuilt every block

    // Buffers, sized by setSampleRate.
    std::vector<float> inputBlock[kNumChannels];  // host-rate input being collected
    std::vector<float> outputBlock[kNumChannels]; // host-rate output of the last block
    std::vector<float> workA[kNumChannels];       // internal-rate work buffers; the stages
    std::vector<float> workB[kNumChannels];       // alternate between A and B
    std::vector<float> rateBuffer;                // G x host block samples at the high rate
    std::vector<float> inputHistory;              // resampled channel-0 input, 2048 + 2596
    std::vector<float> bypassLine[kNumStages][kNumChannels]; // cleared only by resume
    std::vector<float> alignLine[kNumStages][kNumChannels];  // kAlignDelay of stage output
    std::vector<float> rateGapLine[kNumChannels]; // high-rate samples the resampling filters
                                                  // fall short of the latency's count
    float eqTaps[kEqTaps]{};                      // the equalizer taps of the current block
};
