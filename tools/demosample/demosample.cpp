// Synthesises the demonstration recording: six seconds of a speech-like voice (a glottal pulse
// train through three formant resonators, vowels changing per syllable, noise bursts for
// fricatives, pauses between words) at a low level (peaks near -20 dBFS), with 60 Hz mains hum
// and its odd harmonics and a steady broadband noise floor. Everything comes from a seeded
// generator, so the file is the same on every run; written as 16-bit mono WAV at 22 050 Hz.
//
// Usage: demosample OUTPUT.wav
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

constexpr int kRate = 22050;
constexpr double kSeconds = 6.0;

// A small linear congruential generator, for results identical everywhere.
class Random {
public:
    double uniform() { // [0, 1)
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    }
    double between(double low, double high) { return low + (high - low) * uniform(); }
    double gaussian() { // approximately, sum of four uniforms
        return (uniform() + uniform() + uniform() + uniform() - 2.0) * std::sqrt(3.0);
    }

private:
    std::uint64_t state = 20261208;
};

// Two-pole resonator at a formant frequency and bandwidth, unity gain at its peak (roughly).
class Resonator {
public:
    void set(double hz, double bandwidth) {
        const double r = std::exp(-std::numbers::pi * bandwidth / kRate);
        a1 = 2.0 * r * std::cos(2.0 * std::numbers::pi * hz / kRate);
        a2 = -r * r;
        gain = 1.0 - r;
    }
    double operator()(double x) {
        const double y = gain * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }

private:
    double a1 = 0.0, a2 = 0.0, gain = 0.0, y1 = 0.0, y2 = 0.0;
};

struct Vowel {
    double f1, f2, f3;
};
constexpr Vowel kVowels[] = {{730, 1090, 2440}, {270, 2290, 3010}, {530, 1840, 2480},
                             {300, 870, 2240},  {570, 840, 2410},  {660, 1720, 2410}};

void put16(std::FILE* file, int value) {
    std::fputc(value & 0xff, file);
    std::fputc((value >> 8) & 0xff, file);
}

void put32(std::FILE* file, std::uint32_t value) {
    put16(file, static_cast<int>(value & 0xffff));
    put16(file, static_cast<int>(value >> 16));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: demosample OUTPUT.wav\n");
        return 2;
    }
    const std::size_t frames = static_cast<std::size_t>(kSeconds * kRate);
    std::vector<double> voice(frames, 0.0);
    Random random;

    // Words of two or three syllables separated by pauses.
    std::size_t position = static_cast<std::size_t>(0.4 * kRate);
    Resonator formant[3];
    double phase = 0.0;
    double tilt = 0.0;
    while (position < frames - static_cast<std::size_t>(0.6 * kRate)) {
        const int syllables = 2 + static_cast<int>(random.uniform() * 2.0);
        for (int s = 0; s < syllables; ++s) {
            if (random.uniform() < 0.4) { // a fricative before the vowel
                const std::size_t length =
                    static_cast<std::size_t>(random.between(0.04, 0.08) * kRate);
                double previous = 0.0;
                for (std::size_t n = 0; n < length && position + n < frames; ++n) {
                    const double noise = random.gaussian();
                    const double window = std::sin(std::numbers::pi * static_cast<double>(n) /
                                                   static_cast<double>(length));
                    voice[position + n] += 0.05 * (noise - previous) * window;
                    previous = noise;
                }
                position += length;
            }
            const Vowel& vowel = kVowels[static_cast<int>(random.uniform() * 6.0) % 6];
            formant[0].set(vowel.f1, 90.0);
            formant[1].set(vowel.f2, 110.0);
            formant[2].set(vowel.f3, 170.0);
            const std::size_t length = static_cast<std::size_t>(random.between(0.16, 0.30) * kRate);
            const double f0Start = random.between(110.0, 150.0);
            const double f0End = f0Start * random.between(0.8, 1.1);
            for (std::size_t n = 0; n < length && position + n < frames; ++n) {
                const double t = static_cast<double>(n) / static_cast<double>(length);
                const double f0 = f0Start + (f0End - f0Start) * t;
                phase += f0 / kRate;
                double pulse = 0.0;
                if (phase >= 1.0) {
                    phase -= 1.0;
                    pulse = 1.0;
                }
                tilt = 0.9 * tilt + pulse; // glottal spectral tilt
                const double source = tilt;
                const double y =
                    formant[0](source) * 1.0 + formant[1](source) * 0.5 + formant[2](source) * 0.25;
                const double envelope = std::pow(std::sin(std::numbers::pi * t), 0.6);
                voice[position + n] += y * envelope;
            }
            position += length + static_cast<std::size_t>(random.between(0.02, 0.06) * kRate);
        }
        position += static_cast<std::size_t>(random.between(0.15, 0.4) * kRate);
    }

    // Low level: voice peaks at -20 dBFS.
    double peak = 0.0;
    for (double v : voice) {
        peak = std::max(peak, std::fabs(v));
    }
    const double scale = peak > 0.0 ? 0.1 / peak : 0.0;

    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(frames * 2);
    std::fputs("RIFF", file);
    put32(file, 36 + dataBytes);
    std::fputs("WAVEfmt ", file);
    put32(file, 16);
    put16(file, 1); // PCM
    put16(file, 1); // mono
    put32(file, kRate);
    put32(file, kRate * 2);
    put16(file, 2);
    put16(file, 16);
    std::fputs("data", file);
    put32(file, dataBytes);
    for (std::size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double w = 2.0 * std::numbers::pi * 60.0 * t;
        const double hum = 0.012 * std::sin(w) + 0.003 * std::sin(2.0 * w + 0.5) +
                           0.006 * std::sin(3.0 * w + 1.0) + 0.003 * std::sin(5.0 * w + 2.0);
        const double noise = 0.004 * random.gaussian();
        const double x = voice[n] * scale + hum + noise;
        const long value = std::lround(std::clamp(x, -1.0, 1.0) * 32767.0);
        put16(file, static_cast<int>(value));
    }
    if (std::fclose(file) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
