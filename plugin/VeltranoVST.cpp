#include "plugin/VeltranoVST.h"

#include "common/PortableMath.h"
#include "common/ScopedDenormals.h"
#include "dsp/TapTables.h"
#include "plugin/EqualizerBasis.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr char kVendorString[] = "Brimwater";
constexpr char kProductString[] = "Veltrano VST";
constexpr VstInt32 kUniqueId = vstFourCC('V', 'T', 'V', 'T');

// Level conversions, evaluated in double by our own functions and stored in single precision,
// so that the stored values do not depend on the platform's C library.
float dbFromGain(float gain) {
    return static_cast<float>(20.0 * portable::log10(static_cast<double>(gain)));
}

float powerOfTen(float exponent) {
    return static_cast<float>(portable::exp10(static_cast<double>(exponent)));
}

float gainFromDb(float dB) {
    return static_cast<float>(portable::exp10(static_cast<double>(dB) / 20.0));
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

// One row of the sample-rate table.
struct RateRow {
    int hostRate;               // Hz, as the host gives it, truncated
    VstInt32 f;                 // decimation factor
    VstInt32 g;                 // interpolation factor
    std::uint32_t hostBlock;    // frames collected per internal block
    std::uint32_t extraLatency; // chain delay x F / G plus the resampling filters' delay
};

// Host block x G / F is 2048 in every row; the extra latency is 2596 x F / G frames plus the
// resampling filters' delay: 128 frames where G is 2 or 4, 256 where only F is above 1.
constexpr RateRow kRateTable[] = {
    {8000, 1, 2, 1024, 1426},   {11025, 3, 4, 1536, 2075},   {22050, 3, 2, 3072, 4150},
    {32000, 2, 1, 4096, 5448},  {44100, 3, 1, 6144, 8044},   {48000, 3, 1, 6144, 8044},
    {64000, 4, 1, 8192, 10640}, {88200, 6, 1, 12288, 15832}, {96000, 6, 1, 12288, 15832},
};
// Any other rate runs the stages at the host rate itself.
constexpr RateRow kOtherRate = {0, 1, 1, 2048, 2596};

// The samples at the high rate (G x host rate) by which the resampling filters fall short of
// the delay the extra latency counts for them. Each resampler used delays by 127.5 high-rate
// samples on the way in and again on the way out (255 in all); the latency counts 128 or 256
// host frames, that is 256 or 512 high-rate samples.
constexpr std::uint32_t resamplingGap(const RateRow& row) {
    const std::uint32_t counted =
        (row.extraLatency - VeltranoVST::kChainDelay * static_cast<std::uint32_t>(row.f) /
                                static_cast<std::uint32_t>(row.g)) *
        static_cast<std::uint32_t>(row.g);
    const std::uint32_t resamplers = (row.f > 1 ? 1u : 0u) + (row.g > 1 ? 1u : 0u);
    return counted - 255u * resamplers;
}

constexpr bool gapsAreWhole() {
    for (const RateRow& row : kRateTable) {
        const std::uint32_t gap = resamplingGap(row);
        if (gap < 1 || gap > 2 ||
            VeltranoVST::kChainDelay * static_cast<std::uint32_t>(row.f) %
                    static_cast<std::uint32_t>(row.g) !=
                0) {
            return false;
        }
    }
    return resamplingGap(kOtherRate) == 0;
}
static_assert(gapsAreWhole(), "every row's delay must be a whole number of high-rate samples");

RateRow rateRow(int hostRate) {
    for (const RateRow& row : kRateTable) {
        if (row.hostRate == hostRate) {
            return row;
        }
    }
    RateRow row = kOtherRate;
    row.hostRate = hostRate;
    return row;
}

// Input samples enter the chain only as finite numbers: a NaN or infinity from the host would
// otherwise stay in every filter history and detector it reaches.
float finiteOrZero(float x) {
    return std::isfinite(x) ? x : 0.0f;
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

    // Without an editor until the module's entry installs one (the command line and the tests
    // run without).
    installEditor(nullptr);

    for (RelaxedFloat& value : switchValues) {
        value = 0.0f;
    }
    autoNorm = std::make_unique<CAutoNorm>();
    humFrequency = kInitialHumFrequency;
    maxGainLinear = kInitialMaxGainLinear;
    maxGain = clamp(dbFromGain(kInitialMaxGainLinear) / kMaxGainRangeDb);
    autoGain = std::make_unique<CAutoGain>();

    for (int c = 0; c < kNumChannels; ++c) {
        // Both resamplers start at their constructed factor; setSampleRate gives the real ones.
        resampleF[c] = std::make_unique<CResample>();
        resampleG[c] = std::make_unique<CResample>();
        highPass[c] = std::make_unique<CFirFilter>();
        highPass[c]->init();
        highPass[c]->setTaps(taps::kHighPass, taps::kHighPassCount);
        humDetect[c] = std::make_unique<CHumDetect>(); // starts at 60 Hz, matching humFrequency
        deconvolver[c] = std::make_unique<CDeconvolver>();
        deconvolver[c]->adapt = true;
        deconvolver[c]->reset();
        spectralSub[c] = std::make_unique<SpectralSub>(); // in its start state
        equalizer[c] = std::make_unique<CFirFilter>();
        equalizer[c]->init();
        for (int stage = 0; stage < kNumStages; ++stage) {
            bypassLine[stage][c].assign(kBypassDelay[stage], 0.0f);
            alignLine[stage][c].assign(kAlignDelay[stage], 0.0f);
        }
    }

    const float flatValue = clamp((dbFromGain(1.0f) + kEqRangeDb) / kEqRangeDb);
    for (int band = 0; band < kNumEqBands; ++band) {
        bandGains[band] = 1.0f;
        bandValues[band] = flatValue;
    }

    // The equalizers get their tap count now, so that the per-block tap updates only ever
    // replace values and the audio call never obtains memory for a new count.
    buildEqualizerTaps();
    for (auto& filter : equalizer) {
        filter->updateTaps(eqTaps, kEqTaps);
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

void VeltranoVST::setSampleRate(float rate) {
    // Rates outside the table run the stages at the host rate itself, and the hum filter's
    // buffers grow with the rate: beyond any real host rate the change is ignored (at 2 GHz
    // the buffers alone would take 1.6 GB).
    if (!(rate >= 1.0f && rate <= kMaxHostRate)) {
        return;
    }
    const int hostRate = static_cast<int>(rate);
    const RateRow row = rateRow(hostRate);
    factorF = row.f;
    factorG = row.g;
    hostBlock = row.hostBlock;
    extraLatency = row.extraLatency;
    setInitialDelay(static_cast<VstInt32>(hostBlock + extraLatency));
    ioChanged();

    const std::size_t internalBlock = static_cast<std::size_t>(hostBlock) *
                                      static_cast<std::size_t>(factorG) /
                                      static_cast<std::size_t>(factorF);
    const std::size_t highRateBlock =
        static_cast<std::size_t>(hostBlock) * static_cast<std::size_t>(factorG);
    inputHistory.assign(internalBlock + kChainDelay, 0.0f);
    rateBuffer.assign(highRateBlock, 0.0f);
    for (int c = 0; c < kNumChannels; ++c) {
        rateGapLine[c].assign(resamplingGap(row), 0.0f);
        inputBlock[c].assign(hostBlock, 0.0f);
        outputBlock[c].assign(hostBlock, 0.0f);
        workA[c].assign(internalBlock, 0.0f);
        workB[c].assign(internalBlock, 0.0f);
        if (factorF > 1) {
            resampleF[c]->setFactor(factorF);
        }
        if (factorG > 1) {
            resampleG[c]->setFactor(factorG);
        }
    }

    // From here on the base's sampleRate holds the internal rate.
    const float internalRate =
        static_cast<float>(static_cast<double>(factorG) * hostRate / static_cast<double>(factorF));
    AudioEffect::setSampleRate(internalRate);

    // Re-rated (and reset) only when the internal rate really changes.
    for (auto& detector : humDetect) {
        detector->setSampleRate(internalRate);
    }
}

void VeltranoVST::resume() {
    fillPosition = 0;
    const auto clear = [](std::vector<float>& buffer) {
        std::fill(buffer.begin(), buffer.end(), 0.0f);
    };
    clear(inputHistory);
    clear(rateBuffer);
    autoNorm->reset();
    autoGain->reset();
    for (int c = 0; c < kNumChannels; ++c) {
        clear(inputBlock[c]);
        clear(outputBlock[c]);
        clear(workA[c]);
        clear(workB[c]);
        clear(rateGapLine[c]);
        for (int stage = 0; stage < kNumStages; ++stage) {
            clear(bypassLine[stage][c]);
            clear(alignLine[stage][c]);
        }
        resampleF[c]->reset();
        resampleG[c]->reset();
        highPass[c]->init();
        // The tracker forgets its estimates; the nominal frequency is a parameter and stays.
        humDetect[c]->reset();
        deconvolver[c]->reset();
        spectralSub[c]->reset();
        equalizer[c]->init();
    }
}

void VeltranoVST::setRemovalReference(bool on) {
    removalReference = on;
    // The all-pass is longer than the high-pass, by 384 samples of delay: its stage's bypass
    // path takes them on too, and random-noise reduction's bypass path, which is all the
    // reference has of that stage, gives them back.
    constexpr unsigned kLonger = (taps::kHighPassPhaseCount - taps::kHighPassCount) / 2;
    static_assert(kLonger < kBypassDelay[kStageRandom]);
    for (int c = 0; c < kNumChannels; ++c) {
        if (on) {
            highPass[c]->setTaps(taps::kHighPassPhase, taps::kHighPassPhaseCount);
        } else {
            highPass[c]->setTaps(taps::kHighPass, taps::kHighPassCount);
        }
        bypassLine[kStageHighPass][c].assign(kBypassDelay[kStageHighPass] + (on ? kLonger : 0),
                                             0.0f);
        bypassLine[kStageRandom][c].assign(kBypassDelay[kStageRandom] - (on ? kLonger : 0), 0.0f);
    }
}

void VeltranoVST::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (sampleFrames < 1 || inputs == nullptr || outputs == nullptr) {
        return;
    }
    const int channels = std::clamp(inputArrangement.numChannels, 1, kNumChannels);
    if (hostBlock == 0) {
        // No sample rate yet, so no buffers: play silence.
        for (int c = 0; c < channels; ++c) {
            if (outputs[c] != nullptr) {
                std::fill(outputs[c], outputs[c] + sampleFrames, 0.0f);
            }
        }
        return;
    }
    ScopedFlushDenormals denormals;

    // Frame by frame the input goes into the block buffer and the output comes from the block
    // computed one host block earlier; whole runs of frames are copied at once, inputs of a
    // run before outputs, so outputs may be the input arrays.
    const std::uint32_t frames = static_cast<std::uint32_t>(sampleFrames);
    std::uint32_t n = 0;
    while (n < frames) {
        if (fillPosition >= hostBlock) {
            processBlock(channels);
            fillPosition = 0;
        }
        const std::uint32_t run = std::min(frames - n, hostBlock - fillPosition);
        for (int c = 0; c < channels; ++c) {
            float* collected = inputBlock[c].data() + fillPosition;
            if (inputs[c] != nullptr) {
                std::transform(inputs[c] + n, inputs[c] + n + run, collected, finiteOrZero);
            } else {
                std::fill(collected, collected + run, 0.0f);
            }
        }
        for (int c = 0; c < channels; ++c) {
            if (outputs[c] != nullptr) {
                const float* played = outputBlock[c].data() + fillPosition;
                std::copy(played, played + run, outputs[c] + n);
            }
        }
        fillPosition += run;
        n += run;
    }
}

void VeltranoVST::bypass(Stage stage, int channel, bool on, const float* input, float* output,
                         unsigned count) {
    std::vector<float>& line = bypassLine[stage][channel];
    const unsigned delay = static_cast<unsigned>(line.size());
    if (count < delay) {
        return; // the fixed internal block is never shorter than a delay
    }
    if (!on) {
        std::copy(line.begin(), line.end(), output);
        std::copy(input, input + (count - delay), output + delay);
    }
    std::copy(input + (count - delay), input + count, line.begin());
}

void VeltranoVST::delayThrough(std::vector<float>& line, float* samples, unsigned count) {
    const auto delay = static_cast<unsigned>(line.size());
    if (delay == 0 || count < delay) {
        return;
    }
    // The newest `delay` samples go to the front and trade places with the line's.
    std::rotate(samples, samples + (count - delay), samples + count);
    std::swap_ranges(line.begin(), line.end(), samples);
}

void VeltranoVST::buildEqualizerTaps() {
    const int set =
        getSampleRate() > 15350.0f ? eqbasis::kEqBasisSet16000 : eqbasis::kEqBasisSet14700;
    // Accumulated in single precision in ascending band order, tap by tap. The basis filters
    // are centred on their tap 255 and end in a zero tap 511: placed one tap later they are
    // centred on 256, the equalizer's bypass delay.
    std::fill(std::begin(eqTaps), std::end(eqTaps), 0.0f);
    for (int band = 0; band < kNumEqBands; ++band) {
        const float gain = bandGains[band];
        const float* basis = eqbasis::kEqualizerBasis[set][band];
        for (unsigned k = 1; k < kEqTaps; ++k) {
            eqTaps[k] += gain * basis[k - 1];
        }
    }
}

void VeltranoVST::processBlock(int channels) {
    unsigned count[kNumChannels] = {0, 0};

    // Into the internal rate.
    for (int c = 0; c < channels; ++c) {
        unsigned n = hostBlock;
        if (factorG > 1) {
            resampleG[c]->interpolate(inputBlock[c].data(), rateBuffer.data(), hostBlock,
                                      static_cast<unsigned>(rateBuffer.size()), &n);
        } else {
            std::copy(inputBlock[c].begin(), inputBlock[c].end(), rateBuffer.begin());
        }
        unsigned m = n;
        if (factorF > 1) {
            resampleF[c]->decimate(rateBuffer.data(), workA[c].data(), n, &m);
        } else {
            std::copy(rateBuffer.begin(), rateBuffer.begin() + n, workA[c].begin());
        }
        count[c] = m;
    }

    // The input that lines up with this block's output, for the spectrum display.
    const std::size_t keep = inputHistory.size() - count[0];
    std::copy(inputHistory.begin() + count[0], inputHistory.end(), inputHistory.begin());
    std::copy(workA[0].begin(), workA[0].begin() + count[0], inputHistory.begin() + keep);

    // As the reference of what the chain removes, only the high-pass (turned into an all-pass)
    // runs; every other stage takes its bypass path.
    const bool run = !removalReference;

    // Auto-normalize, both channels with one gain.
    if (!run) {
        // Nothing to do: the bypass below writes every sample.
    } else if (channels == 2) {
        unsigned n = count[0];
        autoNorm->processStereo(workA[0].data(), workA[1].data(), workB[0].data(), workB[1].data(),
                                count[0], &n);
        count[0] = n;
        count[1] = n;
    } else {
        autoNorm->maxGain = CAutoNorm::kFixedMaxGain;
        autoNorm->processMono(workA[0].data(), workB[0].data(), count[0]);
    }
    const bool normalizeOn = run && switchOn(kAutoNormalize);
    for (int c = 0; c < channels; ++c) {
        bypass(kStageNormalize, c, normalizeOn, workA[c].data(), workB[c].data(), count[c]);
    }

    const bool highPassOn = switchOn(kHighPass);
    const bool humOn = run && switchOn(kHumFilter);
    const bool predictableOn = run && switchOn(kPredictableNoise);
    const bool reverbOn = switchOn(kReverb);
    const float predictableAmount = 1.0f - predictableAttenuation;
    const bool randomOn = run && switchOn(kRandomNoise);
    const float randomAmountPercent = (1.0f - randomAttenuation) * 100.0f;
    const bool conservative = !switchOn(kAggressive);
    const bool equalizerOn = run && switchOn(kEqualizer);
    for (int c = 0; c < channels; ++c) {
        float* a = workA[c].data();
        float* b = workB[c].data();
        unsigned n = count[c];

        highPass[c]->filter(b, a, n, &n);
        bypass(kStageHighPass, c, highPassOn, b, a, n);

        // Hum filter, at the nominal frequency or tracking the hum. The tracking switch and
        // the attenuation are read per channel: channel 0's write-back may come in between.
        CHumDetect& detector = *humDetect[c];
        const bool tracking = switchOn(kHumAutoTrack);
        if (run) {
            const float product = 60.0f * humAttenuation;
            detector.tracking = tracking;
            detector.process(a, b, n, &n, 60.0f - product);
            delayThrough(alignLine[kStageHum][c], b, n);
        }
        bypass(kStageHum, c, humOn, a, b, n);

        // The tracked frequency becomes the nominal one of both channels (no automation is
        // sent for it). A detector without an estimate yet has nothing to say: its "unset"
        // marker is not a frequency and does not overwrite the user's setting.
        if (run && tracking && !CHumDetect::isUnset(detector.trackedFrequency)) {
            const float f = std::clamp(detector.trackedFrequency, CHumDetect::kMinHumFrequency,
                                       CHumDetect::kMaxHumFrequency);
            setParameter(kHumFrequency, (f - kHumFrequencyBase) / kHumFrequencySpan);
        }
        // The frequency channel 0 works at, for the editor's field.
        if (c == 0 && editorOpen()) {
            myEditor->setHumFrequencyText(detector.frequency);
        }

        // Predictable noise reduction: the short predictor, or the long one for reverberation.
        if (run) {
            CDeconvolver& predictor = *deconvolver[c];
            predictor.amount = predictableAmount;
            if (reverbOn) {
                predictor.order = 1024;
                predictor.delay = 1;
                predictor.step = 0.00030517578125f;
            } else {
                predictor.order = 128;
                predictor.delay = 3;
                predictor.step = 0.006103515625f;
            }
            predictor.process(b, a, n, &n);
        }
        if (!predictableOn) {
            std::copy(b, b + n, a);
        }

        // Random noise reduction. The count stays whatever the stage returns. The call that
        // completes its first frame returns the start of the processed stream, fewer samples
        // than the block: they go at the end of the block, after silence, so that the stream
        // lags by the same count - produced samples from the first block on.
        if (run) {
            unsigned produced = n;
            spectralSub[c]->process(a, b, n, randomAmountPercent, &produced, conservative);
            if (produced < n) {
                std::copy_backward(b, b + produced, b + n);
                std::fill(b, b + (n - produced), 0.0f);
            }
            delayThrough(alignLine[kStageRandom][c], b, n);
        }
        bypass(kStageRandom, c, randomOn, a, b, n);

        if (run) {
            buildEqualizerTaps();
            equalizer[c]->updateTaps(eqTaps, kEqTaps);
            equalizer[c]->filter(b, a, n, &n);
        }
        bypass(kStageEqualizer, c, equalizerOn, b, a, n);
        count[c] = n;
    }

    // Automatic gain control, both channels with one gain.
    if (!run) {
        // Bypassed below.
    } else if (channels == 2) {
        unsigned n = count[0];
        autoGain->processStereo(workA[0].data(), workA[1].data(), workB[0].data(), workB[1].data(),
                                count[0], &n, maxGainLinear);
        count[0] = n;
        count[1] = n;
    } else {
        autoGain->maxGain = maxGainLinear;
        autoGain->processMono(workA[0].data(), workB[0].data(), count[0]);
    }
    const bool gainOn = run && switchOn(kAutoGain);
    for (int c = 0; c < channels; ++c) {
        bypass(kStageGain, c, gainOn, workA[c].data(), workB[c].data(), count[c]);
    }

    // The spectrum display: the input that lines up with this block and the output.
    if (myEditor != nullptr && myEditor->spectrumWanted()) {
        myEditor->feedSpectrum(static_cast<int>(count[0]), inputHistory.data(), workB[0].data());
    }

    // Back to the host rate, made up at the high rate to the resampling delay the latency
    // counts.
    for (int c = 0; c < channels; ++c) {
        unsigned n = count[c];
        if (factorF > 1) {
            resampleF[c]->interpolate(workB[c].data(), rateBuffer.data(), n,
                                      n * static_cast<unsigned>(factorF), &n);
        } else {
            std::copy(workB[c].begin(), workB[c].begin() + n, rateBuffer.begin());
        }
        delayThrough(rateGapLine[c], rateBuffer.data(), n);
        unsigned m = n;
        if (factorG > 1) {
            resampleG[c]->decimate(rateBuffer.data(), outputBlock[c].data(), n, &m);
        } else {
            std::copy(rateBuffer.begin(), rateBuffer.begin() + n, outputBlock[c].begin());
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
