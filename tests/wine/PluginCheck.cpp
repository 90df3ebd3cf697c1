// plugin_check PLUGIN OUTPUT [SECONDS]: what must come out the same wherever the plug-in runs.
// plugin_check --compare A B: how two such outputs differ.
//
// Loads a plug-in binary (the Linux module, or a Windows DLL when built for Windows and run
// under Wine), checks its descriptor, opcode answers and parameter model against the values the
// integration tests expect, then processes a generated stereo recording (speech-like tones, 60 Hz
// hum and noise; 20 s at 44.1 kHz unless SECONDS says otherwise) with every stage on, in host
// blocks of varying sizes. Writes the output as raw little-endian float32 (interleaved left,
// right) to OUTPUT and prints a report whose lines, hashes included, must be identical on every
// platform. Exit status 0 when every check passed, 1 when one failed, 2 on bad usage or a
// plug-in that does not load. --compare exits 0 when the two files are the same bytes, else
// prints the first differing sample and the largest difference and exits 1.
//
// The test recording is made from integer noise and our own sine, never the C library's.
#include "common/PortableMath.h"
#include "host/VstHost.h"
#include "plugin/Parameters.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok" : "FAILED", what.c_str());
    if (!ok) {
        ++failures;
    }
}

std::string hex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

std::uint32_t bitsOf(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// FNV-1a over bytes.
class Hash {
public:
    void add(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i) {
            state = (state ^ bytes[i]) * 0x100000001b3ull;
        }
    }
    void addFloat(float value) {
        const std::uint32_t bits = bitsOf(value);
        const unsigned char bytes[4] = {
            static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
            static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
        add(bytes, sizeof bytes);
    }
    std::uint64_t value() const { return state; }

private:
    std::uint64_t state = 0xcbf29ce484222325ull;
};

// A 64-bit xorshift generator: the same sequence everywhere.
class Noise {
public:
    std::uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    // Uniform in [-1, 1), exactly representable: 24 random bits.
    float uniform() {
        const auto n = static_cast<std::int32_t>(next() >> 40) - (1 << 23);
        return static_cast<float>(n) / static_cast<float>(1 << 23);
    }

private:
    std::uint64_t state = 0x9e3779b97f4a7c15ull;
};

VstIntPtr dispatchText(VstHost& host, VstInt32 opcode, VstInt32 index, std::string& text) {
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    const VstIntPtr answer = host.dispatch(opcode, index, 0, buffer);
    text = buffer;
    return answer;
}

void checkDescriptor(VstHost& host, AEffect* effect) {
    check(host.calls.size() == 2 && host.calls[0].opcode == audioMasterVersion &&
              host.calls[1].opcode == audioMasterIOChanged,
          "loading asks the version, then reports its channels");
    check(effect->magic == kEffectMagic, "magic");
    check(effect->uniqueID == vstFourCC('V', 'T', 'V', 'T'), "unique ID 'VTVT'");
    check(effect->version == 1, "version 1");
    check(effect->numPrograms == 1, "1 program");
    check(effect->numParams == kNumParams, "35 parameters");
    check(effect->numInputs == 2 && effect->numOutputs == 2, "2 inputs, 2 outputs");
    check(effect->flags == (effFlagsCanReplacing | effFlagsHasEditor),
          "flags: replacing and an editor");
    check(effect->initialDelay == 0, "no delay before a rate is set");
    check(effect->ioRatio == 1.0f, "ioRatio 1");
    check(effect->processReplacing != nullptr && effect->dispatcher != nullptr,
          "processReplacing and dispatcher set");
}

void checkOpcodes(VstHost& host) {
    std::string text;
    check(host.dispatch(effGetVstVersion) == 2400, "effGetVstVersion answers 2400");
    check(dispatchText(host, effGetVendorString, 0, text) == 1 && text == "Brimwater",
          "vendor string");
    check(dispatchText(host, effGetProductString, 0, text) == 1 && text == "Veltrano VST",
          "product string");
    check(host.dispatch(effIdentify) == 0x4E764566, "effIdentify");
    check(host.dispatch(effGetPlugCategory) == kPlugCategUnknown, "plug-in category");
    check(host.dispatch(effGetTailSize) == 0, "tail size");
    check(host.dispatch(effSetTotalSampleToProcess, 0, 123456) == 123456,
          "effSetTotalSampleToProcess echoes its value");
    check(host.dispatch(effGetCurrentMidiProgram) == -1, "no MIDI program");
    for (const char* what : {"receiveVstEvents", "bypass", "sendVstEvents", ""}) {
        char copy[64];
        std::snprintf(copy, sizeof copy, "%s", what);
        check(host.dispatch(effCanDo, 0, 0, copy) == 0, std::string("canDo \"") + what + "\": 0");
    }
    bool allEmpty = true;
    for (VstInt32 opcode :
         {effGetParamName, effGetParamLabel, effGetParamDisplay, effGetProgramName}) {
        for (VstInt32 index : {-1, 0, 19, 34, 35}) {
            allEmpty = allEmpty && dispatchText(host, opcode, index, text) == 0 && text.empty();
        }
    }
    check(allEmpty, "parameter and program names, labels and displays are empty");
    check(dispatchText(host, effGetEffectName, 0, text) == 0, "no effect name");
    ERect* rect = nullptr;
    check(host.dispatch(effEditGetRect, 0, 0, &rect) == 1 && rect != nullptr &&
              rect->right == 576 && rect->bottom == 470,
          "editor rectangle 576 x 470");
    VstSpeakerArrangement* in = nullptr;
    VstSpeakerArrangement* out = nullptr;
    check(host.dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&in), &out) == 1 &&
              in != nullptr && out != nullptr && in->numChannels == 2 && out->numChannels == 2,
          "stereo speaker arrangements");
}

// Host rate, the latency it must report.
struct RateDelay {
    float rate;
    VstInt32 delay;
};
constexpr RateDelay kRateDelays[] = {
    {8000.0f, 2450},   {22050.0f, 7222},  {44100.0f, 14188},
    {48000.0f, 14188}, {96000.0f, 28120}, {12345.0f, 4644},
};

void checkLatencies(VstHost& host, AEffect* effect) {
    for (const RateDelay& row : kRateDelays) {
        host.setSampleRate(row.rate);
        check(effect->initialDelay == row.delay,
              "latency " + std::to_string(effect->initialDelay) + " at " +
                  std::to_string(static_cast<int>(row.rate)) + " Hz");
    }
}

// The parameter model; returns the hash of every value read back.
std::uint64_t checkParameters(VstHost& host) {
    Hash values;
    const auto readAll = [&] {
        for (VstInt32 index = 0; index < kNumParams; ++index) {
            values.addFloat(host.getParameter(index));
        }
    };
    bool initial = true;
    for (VstInt32 band = 0; band < kNumEqBands; ++band) {
        initial = initial && host.getParameter(band) == 1.0f;
    }
    for (VstInt32 index = kAutoNormalize; index <= kRandomAttenuation; ++index) {
        initial = initial && host.getParameter(index) == 0.0f;
    }
    initial = initial && host.getParameter(kHumFrequency) == kInitialHumFrequency;
    const float maxGain = host.getParameter(kMaxGain);
    initial = initial && maxGain > 0.1665f && maxGain < 0.1666f;
    check(initial, "initial values");
    readAll();

    bool roundTrips = true;
    const VstInt32 stored[] = {kHumAttenuation, kPredictableAttenuation, kRandomAttenuation,
                               kMaxGain,        kHumFrequency,           5,
                               kAutoNormalize};
    for (VstInt32 index : stored) {
        for (float value : {0.0f, 0.25f, 0.3f, 0.7f, 1.0f}) {
            host.setParameter(index, value);
            roundTrips = roundTrips && host.getParameter(index) == value;
        }
    }
    check(roundTrips, "set and get round trips");
    host.setParameter(kHumAttenuation, 1.5f);
    host.setParameter(kRandomAttenuation, -0.5f);
    check(host.getParameter(kHumAttenuation) == 1.0f &&
              host.getParameter(kRandomAttenuation) == 0.0f,
          "attenuations clamped to [0, 1]");
    host.setParameter(kHumFrequency, kInitialHumFrequency);
    host.setParameter(kHumFrequencyStep, 1.0f);
    const float stepped = host.getParameter(kHumFrequency);
    check(stepped < kInitialHumFrequency - 0.0099f && stepped > kInitialHumFrequency - 0.0101f,
          "hum frequency steps down by 0.01");
    host.setParameter(kMaxGainEntry, 0.5f);
    check(host.getParameter(kMaxGain) == 0.5f, "maximum gain entry");
    readAll();

    // The equalizer's presets and shift go through the level conversions.
    host.setParameter(kEqFlat, 0.0f);
    host.setParameter(kEqShift, 3.0f);
    bool shifted = true;
    for (VstInt32 band = 0; band < kNumEqBands; ++band) {
        const float v = host.getParameter(band);
        shifted = shifted && v > 0.8999f && v < 0.9001f;
    }
    check(shifted, "equalizer shift: every band 3 dB down");
    readAll();
    host.setParameter(kEqFlat, 0.0f);
    host.setParameter(kEqPresetLowCut, 1.0f);
    const float lowest = host.getParameter(kEqBand0);
    check(lowest > 0.0664f && lowest < 0.0666f && host.getParameter(kEqBand19) == 1.0f,
          "low-cut preset");
    readAll();
    host.setParameter(kEqPresetHighCut, 1.0f);
    readAll();
    host.setParameter(kEqFlat, 0.0f);
    bool flat = true;
    for (VstInt32 band = 0; band < kNumEqBands; ++band) {
        flat = flat && host.getParameter(band) == 1.0f;
    }
    check(flat, "flat equalizer");
    return values.value();
}

// The test recording: a voice of 90-220 Hz with ten harmonics under a syllable envelope, a
// 60 Hz hum with its odd harmonics, and noise; the right channel is the left one delayed,
// softer and with noise of its own.
class Recording {
public:
    explicit Recording(std::size_t frames) : left(frames), right(frames) {
        constexpr unsigned kTable = 4096;
        sine.resize(kTable + 1);
        for (unsigned i = 0; i <= kTable; ++i) {
            sine[i] = static_cast<float>(
                portable::sin(6.283185307179586 * static_cast<double>(i) / kTable));
        }
        Noise noise;
        double voicePhase[10] = {};
        double humPhase = 0.0;
        constexpr double kRate = 44100.0;
        for (std::size_t n = 0; n < frames; ++n) {
            const double t = static_cast<double>(n) / kRate;
            // Pitch glides over 1.3 s, syllables every 0.23 s with a pause each 2 s.
            const double glide = wrap(t / 1.3);
            const double f0 = 90.0 + 130.0 * (glide < 0.5 ? 2.0 * glide : 2.0 - 2.0 * glide);
            const double syllable = wrap(t / 0.23);
            const bool pause = wrap(t / 2.0) > 0.8;
            const float envelope = pause ? 0.0f : static_cast<float>(lookup(0.5 * syllable) * 0.5);
            float voice = 0.0f;
            for (int h = 0; h < 10; ++h) {
                voicePhase[h] = wrap(voicePhase[h] + f0 * (h + 1) / kRate);
                voice += lookup(voicePhase[h]) / static_cast<float>(h + 1);
            }
            humPhase = wrap(humPhase + 60.0 / kRate);
            const float hum = 0.08f * lookup(humPhase) + 0.03f * lookup(wrap(3.0 * humPhase)) +
                              0.01f * lookup(wrap(5.0 * humPhase));
            const float hiss = 0.02f * noise.uniform();
            left[n] = 0.25f * envelope * voice + hum + hiss;
            right[n] =
                0.02f * noise.uniform() + hum + (n >= 40 ? 0.8f * left[n - 40] - 0.8f * hum : 0.0f);
        }
    }

    std::vector<float> left;
    std::vector<float> right;

private:
    static double wrap(double x) { return x - static_cast<double>(static_cast<std::int64_t>(x)); }

    // sin(2 pi x) for x in [0, 1), interpolated from the table.
    float lookup(double x) const {
        const double position = x * static_cast<double>(sine.size() - 1);
        const auto i = static_cast<std::size_t>(position);
        const auto fraction = static_cast<float>(position - static_cast<double>(i));
        const float a = sine[std::min(i, sine.size() - 1)];
        const float b = sine[std::min(i + 1, sine.size() - 1)];
        return a + fraction * (b - a);
    }

    std::vector<float> sine;
};

// Processes the recording with every stage on, in host blocks of 1 to 8192 frames.
std::vector<float> render(VstHost& host, const Recording& recording) {
    host.setSampleRate(44100.0f);
    host.dispatch(effSetBlockSize, 0, 8192);
    for (VstInt32 index : {kAutoNormalize, kHighPass, kHumFilter, kHumAutoTrack, kPredictableNoise,
                           kRandomNoise, kEqualizer, kAutoGain}) {
        host.setParameter(index, 1.0f);
    }
    host.setParameter(kHumAttenuation, 0.1f);
    host.setParameter(kPredictableAttenuation, 0.2f);
    host.setParameter(kRandomAttenuation, 0.3f);
    host.setParameter(kEqPresetLowCut, 1.0f);
    host.dispatch(effMainsChanged, 0, 1);

    const std::size_t frames = recording.left.size();
    std::vector<float> outLeft(frames);
    std::vector<float> outRight(frames);
    Noise sizes;
    std::size_t position = 0;
    while (position < frames) {
        const std::uint64_t pick = sizes.next();
        // Mostly ordinary host blocks, now and then a very short or very long one.
        std::size_t block = 64 + pick % 2048;
        if (pick % 7 == 0) {
            block = 1 + (pick >> 20) % 16;
        } else if (pick % 11 == 0) {
            block = 8192;
        }
        block = std::min(block, frames - position);
        float* in[2] = {const_cast<float*>(recording.left.data() + position),
                        const_cast<float*>(recording.right.data() + position)};
        float* out[2] = {outLeft.data() + position, outRight.data() + position};
        host.processReplacing(in, out, static_cast<VstInt32>(block));
        position += block;
    }
    host.dispatch(effMainsChanged, 0, 0);

    std::vector<float> interleaved(2 * frames);
    for (std::size_t n = 0; n < frames; ++n) {
        interleaved[2 * n] = outLeft[n];
        interleaved[2 * n + 1] = outRight[n];
    }
    return interleaved;
}

bool writeRaw(const std::string& path, const std::vector<float>& samples, Hash& hash) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    std::vector<unsigned char> bytes(4 * samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::uint32_t bits = bitsOf(samples[i]);
        for (int b = 0; b < 4; ++b) {
            bytes[4 * i + static_cast<std::size_t>(b)] =
                static_cast<unsigned char>(bits >> (8 * b));
        }
    }
    hash.add(bytes.data(), bytes.size());
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

bool readRaw(const char* path, std::vector<float>& samples) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    unsigned char bytes[4];
    while (std::fread(bytes, 1, sizeof bytes, file) == sizeof bytes) {
        const std::uint32_t bits =
            static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
            static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
        float value;
        std::memcpy(&value, &bits, sizeof value);
        samples.push_back(value);
    }
    std::fclose(file);
    return true;
}

int compare(const char* pathA, const char* pathB) {
    std::vector<float> a;
    std::vector<float> b;
    if (!readRaw(pathA, a) || !readRaw(pathB, b)) {
        std::fprintf(stderr, "plugin_check: cannot read %s or %s\n", pathA, pathB);
        return 2;
    }
    if (a.size() != b.size()) {
        std::printf("different lengths: %zu and %zu samples\n", a.size(), b.size());
        return 1;
    }
    std::size_t differing = 0;
    std::size_t first = 0;
    double largest = 0.0;
    std::size_t largestAt = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (bitsOf(a[i]) == bitsOf(b[i])) {
            continue;
        }
        if (differing++ == 0) {
            first = i;
        }
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        const double magnitude = d < 0.0 ? -d : d;
        if (magnitude > largest || !(magnitude == magnitude)) {
            largest = magnitude;
            largestAt = i;
        }
    }
    if (differing == 0) {
        std::printf("identical: %zu samples\n", a.size());
        return 0;
    }
    std::printf("%zu of %zu samples differ; first at frame %zu channel %zu (%.9g and %.9g); "
                "largest difference %.3g at frame %zu channel %zu\n",
                differing, a.size(), first / 2, first % 2, static_cast<double>(a[first]),
                static_cast<double>(b[first]), largest, largestAt / 2, largestAt % 2);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--compare") == 0) {
        return compare(argv[2], argv[3]);
    }
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: plugin_check PLUGIN OUTPUT.raw [SECONDS]\n"
                             "       plugin_check --compare A.raw B.raw\n");
        return 2;
    }
    const int seconds = argc == 4 ? std::atoi(argv[3]) : 20;
    if (seconds < 1 || seconds > 600) {
        std::fprintf(stderr, "plugin_check: SECONDS must be 1 to 600\n");
        return 2;
    }

    {
        VstHost host(argv[1]);
        AEffect* effect = host.open();
        if (effect == nullptr) {
            std::fprintf(stderr, "plugin_check: %s does not load: %s\n", argv[1],
                         host.error().c_str());
            return 2;
        }
        checkDescriptor(host, effect);
        checkOpcodes(host);
        checkLatencies(host, effect);
        std::printf("parameters %s\n", hex(checkParameters(host)).c_str());
        check(host.close() == 1, "effClose answers 1");
    }
    {
        VstHost host(argv[1]);
        AEffect* effect = host.open("main");
        check(effect != nullptr && effect->uniqueID == vstFourCC('V', 'T', 'V', 'T'),
              "main is the same entry as VSTPluginMain");
    }

    VstHost host(argv[1]);
    if (host.open() == nullptr) {
        return 2;
    }
    const Recording recording(static_cast<std::size_t>(seconds) * 44100);
    Hash input;
    for (std::size_t n = 0; n < recording.left.size(); ++n) {
        input.addFloat(recording.left[n]);
        input.addFloat(recording.right[n]);
    }
    std::printf("recording %d s %s\n", seconds, hex(input.value()).c_str());
    const std::vector<float> output = render(host, recording);
    Hash hash;
    check(writeRaw(argv[2], output, hash), "output written");
    std::printf("hum frequency after tracking %08x\n",
                static_cast<unsigned>(bitsOf(host.getParameter(kHumFrequency))));
    std::printf("output %s\n", hex(hash.value()).c_str());
    std::printf("%d checks failed\n", failures);
    return failures == 0 ? 0 : 1;
}
