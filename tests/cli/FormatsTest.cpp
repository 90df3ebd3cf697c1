// Evidence in the formats it comes in: files made here with the ffmpeg and sox programs from a
// known signal, decoded at their own rate (bit for bit where lossless, within a stated SNR where
// not), listed by `veltrano probe`, and bad or unusual files that must fail clearly or be
// processed with warnings, the batch going on and no input touched.
#include "CommandFixture.h"
#include "cli/AudioSource.h"
#include "cli/Restorer.h"
#include "cli/Sha256.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Decoded {
    int rate = 0;
    int channels = 0;
    std::vector<float> samples;
    cli::SourceDescription about;
    std::vector<std::string> warnings;
};

Decoded decode(const std::string& file, int stream = -1) {
    Decoded d;
    const auto source = cli::openAudioSource(file, stream);
    d.rate = source->sampleRate();
    d.channels = source->channels();
    std::vector<float> block(1024 * static_cast<std::size_t>(d.channels));
    while (const std::size_t n = source->read(block.data(), 1024)) {
        d.samples.insert(d.samples.end(), block.begin(),
                         block.begin() + static_cast<std::ptrdiff_t>(n * d.channels));
    }
    d.about = source->description();
    d.warnings = source->warnings();
    return d;
}

// SNR of `y` against `x` (channel 0 of each) at the lag in [-range, range] where they agree
// best (codecs delay and pad); `lag` gets that lag.
double alignedSnr(const Decoded& x, const Decoded& y, int range, int* lag = nullptr) {
    const auto at = [](const Decoded& d, long n) {
        const long frames = static_cast<long>(d.samples.size()) / d.channels;
        return n >= 0 && n < frames ? d.samples[static_cast<std::size_t>(n * d.channels)] : 0.0f;
    };
    const long frames = static_cast<long>(x.samples.size()) / x.channels;
    double best = -HUGE_VAL;
    for (int k = -range; k <= range; ++k) {
        double signal = 0.0, error = 0.0;
        // The middle of the signal: its edges are faded by some codecs.
        for (long n = frames / 8; n < frames - frames / 8; ++n) {
            const double e = at(y, n + k) - at(x, n);
            signal += static_cast<double>(at(x, n)) * at(x, n);
            error += e * e;
        }
        const double snr = 10.0 * std::log10(signal / std::max(error, 1e-30));
        if (snr > best) {
            best = snr;
            if (lag != nullptr) {
                *lag = k;
            }
        }
    }
    return best;
}

using clitest::Outcome;

class Formats : public clitest::CommandFixture {
protected:
    Formats() : CommandFixture("veltrano-formats-") {}

    void SetUp() override {
        CommandFixture::SetUp();
        if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "the ffmpeg program is not installed (scripts/setup.sh installs it)";
        }
    }

    static std::string quoted(const std::string& text) { return "'" + text + "'"; }

    // Runs a shell command; true when it succeeded.
    static bool shell(const std::string& command) {
        return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
    }

    // A tone (440 Hz) and a sweep (300 to 3000 Hz, so that codec delays can be found without
    // ambiguity), the second channel a fifth higher; 16-bit WAV.
    std::string writeTones(const std::string& name, int rate, int channels, double seconds) {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        const std::string file = path(name);
        SNDFILE* sf = sf_open(file.c_str(), SFM_WRITE, &info);
        EXPECT_NE(sf, nullptr) << sf_strerror(nullptr);
        const auto frames = static_cast<std::size_t>(seconds * rate);
        std::vector<float> x(frames * static_cast<std::size_t>(channels));
        for (std::size_t n = 0; n < frames; ++n) {
            const double t = static_cast<double>(n) / rate;
            for (int c = 0; c < channels; ++c) {
                const double f = c % 2 == 0 ? 1.0 : 1.5;
                const double sweep = 300.0 * f * t + 1350.0 * f * t * t / seconds;
                x[n * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                    static_cast<float>(0.3 * std::sin(2.0 * std::numbers::pi * 440.0 * f * t) +
                                       0.2 * std::sin(2.0 * std::numbers::pi * sweep));
            }
        }
        sf_writef_float(sf, x.data(), static_cast<sf_count_t>(frames));
        sf_close(sf);
        return file;
    }
};

// Each format: how it is made from the source, and what decoding it must give back. SNRs as
// measured here (FFmpeg 5.1, LAME, libopus, libvorbis, opencore AMR, libgsm), less a margin.
TEST_F(Formats, EvidenceFormatsDecodeAtTheirOwnRate) {
    const std::string wide = writeTones("wide.wav", 48000, 2, 1.0);
    const std::string narrow = writeTones("narrow.wav", 8000, 1, 1.0);
    struct Case {
        const char* name;
        std::string make; // shell command writing `name` from the source
        bool fromNarrow;
        const char* decoder; // the library that must read it
        double minSnr;       // dB; infinite: bit for bit
        int slack;           // frames the length may differ from the source's (codec framing)
    };
    const auto ff = [&](const std::string& source, const std::string& options,
                        const std::string& name) {
        return "ffmpeg -y -i " + quoted(source) + " " + options + " " + quoted(path(name));
    };
    const double exact = HUGE_VAL;
    const std::vector<Case> cases = {
        {"flac.mkv", ff(wide, "-c:a flac", "flac.mkv"), false, "libavcodec", exact, 0},
        {"pcm.mov", ff(wide, "-c:a pcm_s16le", "pcm.mov"), false, "libavcodec", exact, 0},
        {"pcm.avi", ff(wide, "-c:a pcm_s16le", "pcm.avi"), false, "libavcodec", exact, 0},
        {"alac.m4a", ff(wide, "-c:a alac", "alac.m4a"), false, "libavcodec", exact, 0},
        {"flac.flac", ff(wide, "-c:a flac", "flac.flac"), false, "libsndfile", exact, 0},
        {"mulaw.wav", ff(narrow, "-c:a pcm_mulaw", "mulaw.wav"), true, "libsndfile", 35, 0},
        {"alaw.wav", ff(narrow, "-c:a pcm_alaw", "alaw.wav"), true, "libsndfile", 35, 0},
        {"gsm.wav", "sox " + quoted(narrow) + " -e gsm-full-rate " + quoted(path("gsm.wav")), true,
         "libsndfile", 8, 320},
        {"amr-nb.amr", "sox " + quoted(narrow) + " -t amr-nb -C 7 " + quoted(path("amr-nb.amr")),
         true, "libavcodec", 5, 160},
        {"mp3.mp3", ff(wide, "-c:a libmp3lame -b:a 192k", "mp3.mp3"), false, "libavcodec", 20,
         1152},
        {"aac.m4a", ff(wide, "-c:a aac -b:a 192k", "aac.m4a"), false, "libavcodec", 20, 1024},
        {"aac.ts", ff(wide, "-c:a aac -b:a 192k", "aac.ts"), false, "libavcodec", 20, 2048},
        {"aac.3gp", ff(narrow, "-c:a aac -b:a 32k", "aac.3gp"), true, "libavcodec", 10, 1024},
        {"opus.opus", ff(wide, "-c:a libopus -b:a 128k", "opus.opus"), false, "libavcodec", 15,
         960},
        {"vorbis.ogg", ff(wide, "-c:a libvorbis -q:a 6", "vorbis.ogg"), false, "libavcodec", 15,
         256},
        {"wma.wma", ff(wide, "-c:a wmav2 -b:a 192k", "wma.wma"), false, "libavcodec", 15, 2048},
    };
    std::cout << "AMR-WB: not tested, neither ffmpeg nor sox can encode it here\n";
    const Decoded wideSource = decode(wide);
    const Decoded narrowSource = decode(narrow);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(shell(c.make)) << c.make;
        const Decoded& source = c.fromNarrow ? narrowSource : wideSource;
        const Decoded got = decode(path(c.name));
        EXPECT_EQ(got.rate, source.rate);
        EXPECT_EQ(got.channels, source.channels);
        EXPECT_NE(got.about.decoder.find(c.decoder), std::string::npos) << got.about.decoder;
        EXPECT_TRUE(got.warnings.empty()) << got.warnings.front();
        const long extra = static_cast<long>(got.samples.size() / got.channels) -
                           static_cast<long>(source.samples.size() / source.channels);
        EXPECT_LE(std::abs(extra), c.slack);
        if (c.minSnr == exact) {
            EXPECT_TRUE(got.samples == source.samples);
            continue;
        }
        int lag = 0;
        const double snr = alignedSnr(source, got, 2500, &lag);
        std::cout << c.name << ": SNR " << snr << " dB at a lag of " << lag << " frames\n";
        EXPECT_GE(snr, c.minSnr);
    }
}

// Each of several channels goes through a mono chain of its own.
TEST_F(Formats, ManyChannelsAreEachRestoredAlone) {
    cli::Settings settings;
    settings.apply("hum-filter", "on");
    settings.apply("random-noise", "on");
    const Decoded six = decode(writeTones("three.wav", 16000, 3, 0.5));
    const std::vector<float> joint = cli::Restorer(settings, 16000, 3).process(six.samples);
    ASSERT_EQ(joint.size(), six.samples.size());
    for (std::size_t c = 0; c < 3; ++c) {
        std::vector<float> mono;
        for (std::size_t i = c; i < six.samples.size(); i += 3) {
            mono.push_back(six.samples[i]);
        }
        const std::vector<float> alone = cli::Restorer(settings, 16000, 1).process(mono);
        for (std::size_t n = 0; n < alone.size(); ++n) {
            ASSERT_EQ(joint[n * 3 + c], alone[n]) << "channel " << c << ", frame " << n;
        }
    }
}

TEST_F(Formats, ProbeListsTheStreamsAndProcessReadsTheAudioOne) {
    const std::string tones = writeTones("tones.wav", 48000, 2, 1.0);
    ASSERT_TRUE(shell("ffmpeg -y -f lavfi -i testsrc=size=64x48:rate=10:duration=1 -i " +
                      quoted(tones) + " -c:v mpeg4 -c:a aac -b:a 192k " + quoted(path("av.mp4"))));
    Outcome run = veltrano("probe " + path("av.mp4") + " " + tones);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("stream 0: video, mpeg4"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("stream 1: audio, aac, 48000 Hz, 2 channels, duration 1.000 s, "
                           "start 0.000 s  <- audio read"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("tones.wav: WAV (Microsoft)\n  stream 0: audio, Signed 16 bit PCM"),
              std::string::npos);
    run = veltrano("probe --json " + path("av.mp4"));
    EXPECT_NE(run.out.find("\"audio_stream\": 1"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"type\": \"video\""), std::string::npos);
    for (const auto& [stream, why] : std::map<std::string, std::string>{
             {"0", "stream 0 is video (mpeg4), not audio"}, {"5", "no stream 5 (the file has 2"}}) {
        run = veltrano("probe --stream " + stream + " " + path("av.mp4"));
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("FAILED " + path("av.mp4") + ": " + why), std::string::npos)
            << run.err;
    }

    // Processed: the audio stream, its output aligned with it (the chain's delay compensated;
    // with every stage off the chain only delays and band-limits).
    run = veltrano("process " + path("av.mp4") + " -o " + path("out.wav"));
    ASSERT_EQ(run.status, 0) << run.err;
    const Decoded in = decode(path("av.mp4"));
    const Decoded out = decode(path("out.wav"));
    ASSERT_EQ(out.samples.size(), in.samples.size());
    int lag = -1;
    EXPECT_GT(alignedSnr(in, out, 50, &lag), 20.0);
    EXPECT_EQ(lag, 0);
    const std::string record = read(path("out.record.json"));
    for (const std::string& field : std::vector<std::string>{
             "\"container\": \"QuickTime / MOV (mov,mp4,m4a,3gp,3g2,mj2)\"",
             "\"codec\": \"aac (AAC (Advanced Audio Coding))\"", "\"stream_index\": 1",
             "\"decoder\": \"libavcodec ", "\"decoded_sample_format\": \"fltp\"",
             "\"start_time_seconds\": 0", "\"decoder_warnings\": []",
             "\"decoded_sha256\": \"" + cli::sha256Hex(in.samples.data(), in.samples.size() * 4) +
                 "\"",
             "\"channel_processing\": \"one stereo chain\""}) {
        EXPECT_NE(record.find(field), std::string::npos) << field << "\n" << record;
    }
}

TEST_F(Formats, BadOrUnusualEvidenceFailsClearlyOrWarnsAndTheBatchGoesOn) {
    const fs::path in = folder / "evidence ünï 1";
    fs::create_directories(in);
    const std::string tones = writeTones("tones.wav", 8000, 1, 1.0);
    const auto at = [&](const std::string& name) { return quoted((in / name).string()); };
    { std::ofstream(in / "notes.mp3") << "Only a text file named .mp3\n"; }
    ASSERT_TRUE(shell("ffmpeg -y -i " + quoted(tones) + " -c:a aac " + quoted(path("whole.mp4"))));
    const std::string whole = read(path("whole.mp4"));
    // The index (moov) comes last: cut off, the media data is all there is.
    std::ofstream(in / "cut.mp4", std::ios::binary) << whole.substr(0, whole.size() / 2);
    ASSERT_TRUE(shell("ffmpeg -y -f lavfi -i testsrc=size=64x48:rate=10:duration=1 -c:v mpeg4 " +
                      at("video.mp4")));
    ASSERT_TRUE(
        shell("ffmpeg -y -f lavfi -i anullsrc=r=8000:cl=mono -t 0 -c:a aac " + at("empty.m4a")));
    ASSERT_TRUE(shell("sox " + quoted(tones) + " -t amr-nb -C 7 " + quoted(path("good.amr"))));
    {
        // Damage in the middle of the frames.
        std::string amr = read(path("good.amr"));
        for (std::size_t i = amr.size() / 2; i < amr.size() / 2 + 60; ++i) {
            amr[i] = static_cast<char>(amr[i] ^ 0x5a);
        }
        std::ofstream(in / "damaged.amr", std::ios::binary) << amr;
    }
    ASSERT_TRUE(shell("ffmpeg -y -f lavfi -i sine=frequency=500:sample_rate=48000:duration=1 "
                      "-ac 6 -c:a pcm_s16le " +
                      at("six.wav")));
    ASSERT_TRUE(shell("ffmpeg -y -f lavfi -i sine=frequency=500:sample_rate=384000:duration=1 "
                      "-c:a pcm_s24le " +
                      at("fast.wav")));
    ASSERT_TRUE(
        shell("ffmpeg -y -i " + quoted(tones) + " -c:a libmp3lame " + at("voice ünï 2.mp3")));
    std::map<std::string, std::string> before;
    for (const auto& entry : fs::directory_iterator(in)) {
        before[entry.path().string()] = cli::sha256File(entry.path().string());
    }

    const std::string out = (folder / "out ö").string();
    const Outcome run = veltrano("process " + quoted(in.string()) + " -o " + quoted(out) + " -j 2");
    EXPECT_EQ(run.status, 1);
    for (const std::string& expected :
         {std::string("notes.mp3: not a supported audio file"),
          std::string("cut.mp4: not a supported audio file (Invalid data found when "
                      "processing input: [mov,mp4,m4a,3gp,3g2,mj2] moov atom not found)"),
          std::string("video.mp4: no audio stream (1 stream, none of them audio)"),
          std::string("empty.m4a: no audio stream"), std::string("damaged.amr: at 0."),
          std::string("packet could not be decoded (Invalid data found when processing input); "
                      "0.020 s of silence put in its place"),
          std::string("corrupt or undecodable frames or packets"),
          std::string("fast.wav: sample rate 384000 Hz is not one of the chain's rates"),
          std::string("4 of 8 files restored, 4 failed")}) {
        EXPECT_NE(run.err.find(expected), std::string::npos) << expected << "\n" << run.err;
    }
    EXPECT_NE(run.out.find("voice ünï 2.wav (8000 frames"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("six.wav (48000 frames, 48000 Hz, 6 channels"), std::string::npos);
    EXPECT_NE(read(out + "/six.record.json")
                  .find("\"channel_processing\": \"each channel through its own mono chain\""),
              std::string::npos);
    EXPECT_NE(read(out + "/damaged.record.json").find("\"decoder_warnings\": [\n"),
              std::string::npos);
    EXPECT_NE(read(out + "/fast.record.json").find("fallback row"), std::string::npos);
    SF_INFO info{};
    SNDFILE* six = sf_open((out + "/six.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(six, nullptr);
    sf_close(six);
    EXPECT_EQ(info.channels, 6);
    EXPECT_EQ(info.frames, 48000);
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(out)) {
        ++files;
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    }
    EXPECT_EQ(files, 16u); // four outputs with their reports, case reports and records; no more
    for (const auto& [file, hash] : before) {
        EXPECT_EQ(cli::sha256File(file), hash) << file;
    }

    // A stream that is not there: that file fails, the others go on.
    const Outcome fifth = veltrano("process " + at("fast.wav") + " " + at("voice ünï 2.mp3") +
                                   " --stream 5 -o " + quoted(path("fifth")));
    EXPECT_EQ(fifth.status, 1);
    EXPECT_NE(fifth.err.find("fast.wav: no stream 5 (the file has 1 stream, from 0)"),
              std::string::npos)
        << fifth.err;
    EXPECT_NE(fifth.err.find("0 of 2 files restored, 2 failed"), std::string::npos);
}

} // namespace
