// Drives the plug-in as a careless host would: an arbitrary sequence of dispatcher opcodes,
// parameter writes and reads at any index with any float (NaN and infinities included), speaker
// arrangements, sample-rate changes and processReplacing calls of arbitrary lengths and
// contents, in place or not. Every pointer handed over is valid and as large as the call needs,
// as a host's would be; everything else is the fuzzer's choice.
//
// Besides the sanitizers' findings it checks what a host relies on: every output sample is
// finite while the input stays within +80 dB of full scale (non-finite input samples count as
// silence), stored parameter values are finite, and the latency is never negative.
#include "plugin/VeltranoVST.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Frames one input may process in all: enough for several host blocks at every rate.
constexpr int kFrameBudget = 1 << 16;
// The longest single processReplacing call.
constexpr int kMaxCall = 20000;
// Input samples up to this magnitude must give finite output.
constexpr float kSaneInput = 1.0e4f;

VstIntPtr VSTCALLBACK hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    switch (opcode) {
    case audioMasterVersion:
        return kVstVersion;
    case audioMasterGetSampleRate:
        return 48000;
    case audioMasterGetBlockSize:
        return 512;
    default:
        return 0;
    }
}

void fail(const char* what, long a = 0, double b = 0.0) {
    std::fprintf(stderr, "plugin fuzzer: %s (%ld, %g)\n", what, a, b);
    std::abort();
}

float interestingFloat(FuzzedDataProvider& data) {
    static constexpr float kSpecial[] = {
        0.0f,
        -0.0f,
        1.0f,
        0.5f,
        -1.0f,
        2.0f,
        1.0e-40f,
        std::numeric_limits<float>::min(),
        std::numeric_limits<float>::max(),
        -std::numeric_limits<float>::max(),
        std::numeric_limits<float>::infinity(),
        -std::numeric_limits<float>::infinity(),
        std::numeric_limits<float>::quiet_NaN(),
        -std::numeric_limits<float>::quiet_NaN(),
        std::numeric_limits<float>::signaling_NaN(),
        0.9999999f,
        1.0000001f,
    };
    switch (data.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return kSpecial[data.ConsumeIntegralInRange<std::size_t>(0, std::size(kSpecial) - 1)];
    case 1:
        return data.ConsumeFloatingPointInRange<float>(-0.25f, 1.25f);
    case 2: {
        const std::uint32_t bits = data.ConsumeIntegral<std::uint32_t>();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    default:
        return data.ConsumeProbability<float>();
    }
}

float sampleRate(FuzzedDataProvider& data) {
    static constexpr float kRates[] = {8000.0f,  11025.0f, 16000.0f, 22050.0f, 32000.0f,
                                       44100.0f, 48000.0f, 64000.0f, 88200.0f, 96000.0f};
    if (data.ConsumeBool()) {
        return kRates[data.ConsumeIntegralInRange<std::size_t>(0, std::size(kRates) - 1)];
    }
    return interestingFloat(data) * (data.ConsumeBool() ? 1.0f : 100000.0f);
}

VstInt32 anyIndex(FuzzedDataProvider& data) {
    if (data.ConsumeBool()) {
        return data.ConsumeIntegralInRange<VstInt32>(-2, 80);
    }
    return data.ConsumeIntegral<VstInt32>();
}

// A host's view of one plug-in instance, with buffers that are always large enough.
class Session {
public:
    explicit Session(FuzzedDataProvider& source) : data(source) {}

    bool start() {
        auto* plugin = new (std::nothrow) VeltranoVST(hostCallback);
        if (plugin == nullptr) {
            return false;
        }
        effect = plugin->getAeffect();
        return effect != nullptr;
    }

    void finish() {
        if (effect != nullptr) {
            effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
            effect = nullptr;
        }
    }

    void step() {
        switch (data.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
        case 1:
            setParameter();
            break;
        case 2:
            getParameter();
            break;
        case 3:
            dispatch();
            break;
        case 4:
            effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, sampleRate(data));
            checkLatency();
            break;
        case 5:
            setSpeakers();
            break;
        default:
            process();
            break;
        }
    }

    bool budgetLeft() const { return framesLeft > 0; }

    // A starting point chosen by one byte, so that short inputs reach the whole chain: a rate
    // from the table, every stage switched on, mono.
    void prologue() {
        const auto choice = data.ConsumeIntegral<std::uint8_t>();
        if ((choice & 1) != 0) {
            static constexpr float kStart[] = {48000.0f, 44100.0f, 8000.0f, 96000.0f};
            effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, kStart[(choice >> 4) & 3]);
        }
        if ((choice & 2) != 0) {
            for (VstInt32 index = kAutoNormalize; index <= kAutoGain; ++index) {
                effect->setParameter(effect, index, 1.0f);
            }
        }
        if ((choice & 4) != 0) {
            input.head.type = kSpeakerArrMono;
            input.head.numChannels = 1;
            output.head = input.head;
            effect->dispatcher(effect, effSetSpeakerArrangement, 0,
                               reinterpret_cast<VstIntPtr>(&input.head), &output.head, 0.0f);
            refreshChannels();
        }
        if ((choice & 8) != 0) {
            effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
        }
    }

private:
    void setParameter() { effect->setParameter(effect, anyIndex(data), interestingFloat(data)); }

    void getParameter() {
        const VstInt32 index = anyIndex(data);
        const float value = effect->getParameter(effect, index);
        if (!std::isfinite(value)) {
            fail("non-finite parameter value", index, value);
        }
    }

    void checkLatency() const {
        if (effect->initialDelay < 0) {
            fail("negative latency", effect->initialDelay);
        }
    }

    void setSpeakers() {
        static constexpr VstInt32 kTypes[] = {kSpeakerArrMono, kSpeakerArrStereo, -2, 0, 1, 100};
        for (Arrangement* a : {&input, &output}) {
            std::memset(a, 0, sizeof *a);
            a->head.type =
                data.ConsumeBool()
                    ? kTypes[data.ConsumeIntegralInRange<std::size_t>(0, std::size(kTypes) - 1)]
                    : data.ConsumeIntegral<VstInt32>();
            a->head.numChannels = data.ConsumeIntegralInRange<VstInt32>(-1, kMaxSpeakers);
        }
        effect->dispatcher(effect, effSetSpeakerArrangement, 0,
                           reinterpret_cast<VstIntPtr>(&input.head), &output.head, 0.0f);
        refreshChannels();
    }

    // What the plug-in holds now decides how many channels the host hands over.
    void refreshChannels() {
        VstSpeakerArrangement* heldIn = nullptr;
        VstSpeakerArrangement* heldOut = nullptr;
        effect->dispatcher(effect, effGetSpeakerArrangement, 0,
                           reinterpret_cast<VstIntPtr>(&heldIn), &heldOut, 0.0f);
        if (heldIn == nullptr || heldOut == nullptr) {
            fail("no speaker arrangement");
        }
        if (heldIn->numChannels < 1 || heldIn->numChannels > 2 ||
            heldOut->numChannels != heldIn->numChannels) {
            fail("arrangement held", heldIn->numChannels, heldOut->numChannels);
        }
        channels = heldIn->numChannels;
    }

    void dispatch() {
        VstInt32 opcode = data.ConsumeBool() ? data.ConsumeIntegralInRange<VstInt32>(0, 80)
                                             : data.ConsumeIntegral<VstInt32>();
        const VstInt32 index = anyIndex(data);
        VstIntPtr value = data.ConsumeIntegralInRange<VstIntPtr>(-2, 70000);
        const float opt = interestingFloat(data);
        std::memset(scratch.data(), 0, scratch.size());
        // Strings the plug-in reads come terminated, as from a host.
        const std::string text = data.ConsumeRandomLengthString(64);
        std::memcpy(scratch.data(), text.c_str(), text.size() + 1);
        void* ptr = scratch.data();
        switch (opcode) {
        case effClose:
            return; // the end of the object; finish() does it last
        case effSetSpeakerArrangement:
            setSpeakers();
            return;
        case effGetSpeakerArrangement:
            value = reinterpret_cast<VstIntPtr>(&scratchPointers[0]);
            ptr = &scratchPointers[1];
            break;
        case effSetChunk:
            value = std::clamp<VstIntPtr>(value, 0, static_cast<VstIntPtr>(scratch.size()));
            break;
        case effEditGetRect:
        case effGetChunk:
            ptr = &scratchPointers[0];
            break;
        case effOfflineNotify:
        case effOfflinePrepare:
        case effOfflineRun:
            value = std::clamp<VstIntPtr>(value, 0, 1);
            break;
        case effSetBlockSize:
            value = data.ConsumeBool() ? value : data.ConsumeIntegral<VstInt32>();
            break;
        default:
            break;
        }
        effect->dispatcher(effect, opcode, index, value, ptr, opt);
        checkLatency();
    }

    void process() {
        const int frames =
            std::min(data.ConsumeIntegralInRange<int>(-1, kMaxCall), std::max(framesLeft, 0));
        framesLeft -= std::max(frames, 1);
        const int length = std::max(frames, 0);
        const bool inPlace = data.ConsumeBool();
        const float level = interestingFloat(data);
        const std::uint32_t seed = data.ConsumeIntegral<std::uint32_t>();
        const int spikes = data.ConsumeIntegralInRange<int>(0, 4);
        for (int c = 0; c < 2; ++c) {
            // Exactly the frames passed (one where none are), so overruns are seen.
            in[c].resize(static_cast<std::size_t>(std::max(length, 1)));
            out[c].assign(static_cast<std::size_t>(std::max(length, 1)), -12345.0f);
            // A noise of the chosen level (a cheap generator: the fuzzer picks the seed).
            std::uint32_t state = seed + static_cast<std::uint32_t>(c) * 0x9e3779b9u;
            for (int n = 0; n < length; ++n) {
                state = state * 1664525u + 1013904223u;
                const float unit =
                    static_cast<float>(static_cast<std::int32_t>(state)) * 4.6566e-10f;
                in[c][static_cast<std::size_t>(n)] = level * unit;
            }
            for (int s = 0; s < spikes && length > 0; ++s) {
                in[c][static_cast<std::size_t>(data.ConsumeIntegralInRange<int>(0, length - 1))] =
                    interestingFloat(data);
            }
            for (int n = 0; n < length; ++n) {
                const float x = in[c][static_cast<std::size_t>(n)];
                if (std::isfinite(x) && std::fabs(x) > kSaneInput) {
                    saneSoFar = false;
                }
            }
        }
        // Arrays of exactly as many channels as the plug-in holds, as a host passes them: a
        // read beyond them is an overflow the address sanitizer reports.
        std::vector<float*> inputs(static_cast<std::size_t>(channels));
        std::vector<float*> outputs(static_cast<std::size_t>(channels));
        for (std::size_t c = 0; c < inputs.size(); ++c) {
            inputs[c] = in[c].data();
            outputs[c] = inPlace ? in[c].data() : out[c].data();
        }
        switch (data.ConsumeIntegralInRange<int>(0, 15)) {
        case 0: {
            // The old accumulating call and the double-precision one, which a careless host
            // may call although the flags do not offer them: they must leave memory alone.
            effect->process(effect, inputs.data(), outputs.data(), frames);
            std::vector<double> wide[2];
            std::vector<double*> wideIn(inputs.size());
            for (std::size_t c = 0; c < inputs.size(); ++c) {
                wide[c].assign(in[c].begin(), in[c].end());
                wideIn[c] = wide[c].data();
            }
            effect->processDoubleReplacing(effect, wideIn.data(), wideIn.data(), frames);
            return;
        }
        default:
            effect->processReplacing(effect, inputs.data(), outputs.data(), frames);
            break;
        }
        if (!saneSoFar || frames < 1) {
            return;
        }
        for (int c = 0; c < channels; ++c) {
            for (int n = 0; n < frames; ++n) {
                const float y = outputs[c][n];
                if (!std::isfinite(y)) {
                    fail("non-finite output sample", n, y);
                }
            }
        }
    }

    static constexpr int kMaxSpeakers = 8;
    struct Arrangement {
        VstSpeakerArrangement head; // room for eight speakers, as the interface declares
    };

    FuzzedDataProvider& data;
    AEffect* effect{nullptr};
    int framesLeft{kFrameBudget};
    int channels{2};      // the channels the plug-in writes
    bool saneSoFar{true}; // no input sample beyond kSaneInput yet
    Arrangement input{};
    Arrangement output{};
    std::vector<float> in[2];
    std::vector<float> out[2];
    alignas(16) std::array<char, 4096> scratch{};
    void* scratchPointers[2]{};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    Session session(data);
    if (!session.start()) {
        return 0;
    }
    session.prologue();
    for (int steps = 0; steps < 200 && data.remaining_bytes() > 0 && session.budgetLeft();
         ++steps) {
        session.step();
    }
    session.finish();
    return 0;
}
