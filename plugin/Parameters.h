// Indices of the plug-in's parameters (0 to 34, what the host sees) and of the editor's
// command indices (43 to 71, beyond what the host sees), and the constants of their mappings.
#pragma once

#include "plugin/VstInterface.h"

enum ParameterIndex : VstInt32 {
    kEqBand0 = 0,
    kEqBand19 = 19,
    kAutoNormalize = 20,
    kHighPass,
    kHumFilter,
    kHumAutoTrack,
    kPredictableNoise,
    kReverb,
    kRandomNoise,
    kAggressive,
    kEqualizer,
    kAutoGain,
    kHumAttenuation = 30,
    kPredictableAttenuation,
    kRandomAttenuation,
    kMaxGain,
    kHumFrequency,
    kNumParams,

    // Editor commands; 35 to 42 are the editor's own control tags.
    kHumFrequencyStep = 43,
    kEqShift,
    kHumAttenuationEntry,
    kPredictableAttenuationEntry,
    kRandomAttenuationEntry,
    kEqBandEntry0 = 48,
    kEqBandEntry19 = 67,
    kMaxGainEntry = 68,
    kEqFlat,
    kEqPresetLowCut,
    kEqPresetHighCut,
};

inline constexpr int kNumEqBands = 20;
inline constexpr int kNumSwitches = 10;

// Nominal hum frequency f = kHumFrequencyBase + kHumFrequencySpan * x (Hz).
inline constexpr float kHumFrequencyBase = 44.45f;
inline constexpr float kHumFrequencySpan = 23.73f;
// One step of kHumFrequencyStep, in normalized units (0.2373 Hz).
inline constexpr float kHumFrequencyStepSize = 0.01f;

// Equalizer band gains range from -30 dB (x = 0) to 0 dB (x = 1).
inline constexpr float kEqRangeDb = 30.0f;
// The automatic gain control's maximum gain ranges from 0 dB (x = 0) to 60 dB (x = 1).
inline constexpr float kMaxGainRangeDb = 60.0f;

// Initial values.
inline constexpr float kInitialMaxGainLinear = 3.16f;
inline constexpr float kInitialHumFrequency = 0.6552886f; // 60.0 Hz

// Centre frequencies under which the setup report lists the bands (Hz).
inline constexpr int kEqBandCentres[kNumEqBands] = {80,   240,  400,  560,  720,  880,  1040,
                                                    1200, 1400, 1600, 1800, 2200, 2600, 3000,
                                                    3500, 4000, 4500, 5000, 5500, 6000};

// Linear band gains of the two equalizer presets.
inline constexpr float kEqPresetLowCutGains[kNumEqBands] = {
    0.0398f, 0.1202f, 0.1995f, 0.2786f, 0.3589f, 0.4416f, 0.5012f, 0.6026f, 0.6998f, 0.75f,
    0.8995f, 1.0f,    1.0f,    1.0f,    1.0f,    1.0f,    1.0f,    1.0f,    1.0f,    1.0f};
inline constexpr float kEqPresetHighCutGains[kNumEqBands] = {
    1.0f,    1.0f,    1.0f,    1.0f,    1.0f,    1.0f,    1.0f,    1.0f,    0.9739f, 0.9605f,
    0.9141f, 0.8414f, 0.7674f, 0.6761f, 0.5495f, 0.4169f, 0.2917f, 0.1778f, 0.0933f, 0.0394f};
