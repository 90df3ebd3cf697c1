// The built veltrano program on files written here: outputs, reports and records, batches in
// parallel, and bad input that must fail clearly without losing anything.
#include "CommandFixture.h"
#include "cli/Restorer.h"
#include "cli/Settings.h"
#include "cli/Sha256.h"
#include "editor/SetupReport.h"
#include "plugin/VeltranoVST.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using clitest::Outcome;

class Command : public clitest::CommandFixture {
protected:
    Command() : CommandFixture("veltrano-cli-") {}

    // Writes a recording: a tone with hum and noise.
    std::string writeAudio(const std::string& name, int rate, int channels, std::size_t frames,
                           int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16, unsigned seed = 1) {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        const std::string file = path(name);
        SNDFILE* sf = sf_open(file.c_str(), SFM_WRITE, &info);
        EXPECT_NE(sf, nullptr) << sf_strerror(nullptr);
        std::mt19937 random(seed);
        std::normal_distribution<float> noise(0.0f, 0.01f);
        std::vector<float> x(frames * static_cast<std::size_t>(channels));
        for (std::size_t n = 0; n < frames; ++n) {
            const double t = static_cast<double>(n) / rate;
            for (int c = 0; c < channels; ++c) {
                x[n * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                    static_cast<float>(0.3 * std::sin(2.0 * std::numbers::pi * 300.0 * t) +
                                       0.05 * std::sin(2.0 * std::numbers::pi * 60.0 * t)) +
                    noise(random);
            }
        }
        sf_writef_float(sf, x.data(), static_cast<sf_count_t>(frames));
        sf_close(sf);
        return file;
    }

    static std::vector<float> readAudio(const std::string& file, SF_INFO* infoOut = nullptr) {
        SF_INFO info{};
        SNDFILE* sf = sf_open(file.c_str(), SFM_READ, &info);
        if (sf == nullptr) {
            return {};
        }
        std::vector<float> x(static_cast<std::size_t>(info.frames * info.channels));
        sf_readf_float(sf, x.data(), info.frames);
        sf_close(sf);
        if (infoOut != nullptr) {
            *infoOut = info;
        }
        return x;
    }
};

constexpr const char* kEveryStage =
    "--auto-normalize on --high-pass on --hum-filter on --hum-auto-track on "
    "--predictable-noise on --random-noise on --equalizer on --auto-gain on --eq-preset low-cut";

TEST_F(Command, OneFileWithReportRecordAndResidue) {
    const std::string in = writeAudio("in.wav", 44100, 2, 44100 * 2);
    const std::string before = cli::sha256File(in);
    const Outcome run = veltrano("process " + in + " -o " + path("out.wav") + " --residue " +
                                 path("removed.wav") + " --hum-filter --hum-attenuation 45dB " +
                                 "--max-gain 12dB --eq 240=-6dB --case 'C-17/2026' --examiner AB");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(cli::sha256File(in), before); // the evidence is untouched

    SF_INFO inInfo{};
    SF_INFO outInfo{};
    const std::vector<float> x = readAudio(in, &inInfo);
    const std::vector<float> y = readAudio(path("out.wav"), &outInfo);
    const std::vector<float> r = readAudio(path("removed.wav"));
    EXPECT_EQ(outInfo.frames, inInfo.frames);
    EXPECT_EQ(outInfo.channels, 2);
    EXPECT_EQ(outInfo.samplerate, 44100);
    EXPECT_EQ(outInfo.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    // The residue: the input as the chain with every stage off delays and band-limits it,
    // minus the output (neither the high-pass nor a level stage is on).
    ASSERT_EQ(r.size(), x.size());
    const std::vector<float> passed = cli::Restorer(cli::Settings{}, 44100, 2).process(x);
    for (std::size_t i = 0; i < x.size(); i += 97) {
        ASSERT_EQ(r[i], passed[i] - y[i]) << i;
    }

    // The report: exactly what the plug-in with these settings writes, apart from the date.
    cli::Settings settings;
    settings.apply("hum-filter", "on");
    settings.apply("hum-attenuation", "45dB");
    settings.apply("max-gain", "12dB");
    settings.apply("eq", "240=-6dB");
    VeltranoVST plugin([](AEffect*, VstInt32 op, VstInt32, VstIntPtr, void*, float) -> VstIntPtr {
        return op == audioMasterVersion ? kVstVersion : 0;
    });
    settings.applyTo(plugin);
    std::ostringstream expected;
    writeSetupReport(expected, plugin, 0);
    std::string report = read(path("out.report.txt"));
    const std::string dateLine = "Setup Report for ";
    const auto at = report.find(dateLine) + dateLine.size();
    const auto atExpected = expected.str().find(dateLine) + dateLine.size();
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(report.substr(0, at), expected.str().substr(0, atExpected));
    EXPECT_EQ(report.substr(report.find("\r\n", at)),
              expected.str().substr(expected.str().find("\r\n", atExpected)));

    const std::string record = read(path("out.record.json"));
    for (const std::string& field :
         {"\"sha256\": \"" + before + "\"",
          "\"sha256\": \"" + cli::sha256File(path("out.wav")) + "\"",
          std::string("\"case_id\": \"C-17/2026\""), std::string("\"examiner\": \"AB\""),
          std::string("\"latency_frames\": 14188"), std::string("\"frames\": 88200"),
          std::string("\"channels\": 2"), std::string("\"sample_rate\": 44100"),
          std::string("\"name\": \"hum-attenuation\",\n      \"normalized\": 0.25,\n      "
                      "\"working\": 45,\n      \"unit\": \"dB\""),
          std::string("\"clipped_samples\": 0"), std::string("\"residue\": {"),
          std::string("\"definition\": \"what the filtering removed: ")}) {
        EXPECT_NE(record.find(field), std::string::npos) << field << "\n" << record;
    }
    // The case report names the files and the command that checks them; --no-html skips it.
    const std::string page = read(path("out.report.html"));
    const std::string recordPath = fs::absolute(path("out.record.json")).lexically_normal();
    for (const std::string& part :
         {"veltrano verify " + recordPath, before, cli::sha256File(path("removed.wav")),
          std::string("C-17/2026"), std::string("id=\"spectrogram-residue\""),
          std::string("<tr class=\"on\"><th>Hum filter</th>"),
          std::string("<tr class=\"off\"><th>Graphic equalizer</th>")}) {
        EXPECT_NE(page.find(part), std::string::npos) << part;
    }
    EXPECT_NE(record.find("\"html_report\": {\n    \"path\": \"" +
                          fs::absolute(path("out.report.html")).string() +
                          "\",\n    \"bytes\": " + std::to_string(page.size()) +
                          ",\n    \"sha256\": \"" + cli::sha256Hex(page.data(), page.size())),
              std::string::npos)
        << record;
    const Outcome plain = veltrano("process " + in + " -o " + path("plain.wav") + " --no-html");
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_FALSE(fs::exists(path("plain.report.html")));
    EXPECT_NE(read(path("plain.record.json")).find("\"html_report\": null"), std::string::npos);
    // No temporary files left behind.
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    }
}

TEST_F(Command, BatchIsBitIdenticalWithAnyJobCountAndCallPattern) {
    fs::create_directories(folder / "in");
    writeAudio("in/a.wav", 48000, 2, 48000 * 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1);
    writeAudio("in/b.flac", 22050, 1, 22050 * 3, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2);
    writeAudio("in/c.aiff", 44100, 1, 30000, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 3);
    std::vector<std::string> hashes;
    int k = 0;
    for (const char* options : {"-j 1", "-j 3", "-j 2 --block 1,333,4095", "-j 2 --block 70000"}) {
        const std::string out = path("out" + std::to_string(k++));
        const Outcome run = veltrano("process " + path("in") + " -o " + out + " " + kEveryStage +
                                     " --quiet " + options);
        ASSERT_EQ(run.status, 0) << options << run.err;
        EXPECT_EQ(run.out, "");
        std::string joined;
        for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
            joined += cli::sha256File((fs::path(out) / name).string()) + " ";
        }
        hashes.push_back(joined);
    }
    for (const std::string& h : hashes) {
        EXPECT_EQ(h, hashes[0]);
    }
    // Nothing in the file depends on when it was written (libsndfile's PEAK chunk would).
    EXPECT_EQ(read(path("out0/a.wav")).find("PEAK"), std::string::npos);
    // Two inputs that would share an output name (and its report): the second is refused
    // before anything is written for it.
    writeAudio("in/a.aiff", 8000, 1, 1000, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    const Outcome twice = veltrano("process " + path("in/a.wav") + " " + path("in/a.aiff") +
                                   " -o " + path("twice") + " --format");
    EXPECT_EQ(twice.status, 1);
    EXPECT_NE(twice.err.find("a.aiff: refused: output"), std::string::npos) << twice.err;
    EXPECT_TRUE(fs::exists(path("twice/a.wav")));
    EXPECT_FALSE(fs::exists(path("twice/a.aiff")));
    // --format keeps the input's own format.
    const Outcome run =
        veltrano("process " + path("in/b.flac") + " -o " + path("b.flac") + " --format");
    ASSERT_EQ(run.status, 0) << run.err;
    SF_INFO info{};
    readAudio(path("b.flac"), &info);
    EXPECT_EQ(info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
}

TEST_F(Command, BadInputFailsClearlyAndTheBatchGoesOn) {
    fs::create_directories(folder / "in");
    writeAudio("in/good.wav", 44100, 1, 20000);
    writeAudio("in/odd-rate.wav", 16000, 1, 20000);
    writeAudio("in/eight.wav", 44100, 8, 1000);
    writeAudio("in/empty.wav", 44100, 2, 0);
    {
        std::ofstream text(path("in/notes.wav"));
        text << "This is not audio, only a text file named .wav\n";
    }
    {
        // A WAV cut short in its header.
        const std::string whole = read(writeAudio("whole.wav", 44100, 2, 5000));
        std::ofstream cut(path("in/truncated.wav"), std::ios::binary);
        cut << whole.substr(0, 30);
    }
    {
        // A WAV cut short in its data: processed as far as it goes, with a warning.
        const std::string whole = read(writeAudio("long.wav", 44100, 2, 50000));
        std::ofstream cut(path("in/cut.wav"), std::ios::binary);
        cut << whole.substr(0, 100044);
    }
    {
        // Float samples that are not numbers.
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* sf = sf_open(path("in/nan.wav").c_str(), SFM_WRITE, &info);
        std::vector<float> x(4000, 0.1f);
        x[100] = std::nanf("");
        x[200] = INFINITY;
        sf_writef_float(sf, x.data(), 4000);
        sf_close(sf);
    }
    const Outcome run = veltrano("process " + path("in") + " " + path("missing.wav") + " -o " +
                                 path("out") + " --quiet");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("FAILED " + path("missing.wav") + ": unreadable: no such file"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("empty.wav: refused: no audio frames"), std::string::npos);
    EXPECT_NE(run.err.find("notes.wav: not a supported audio file"), std::string::npos);
    EXPECT_NE(run.err.find("truncated.wav: "), std::string::npos);
    EXPECT_NE(run.err.find("warning: " + path("in/odd-rate.wav") + ": sample rate 16000 Hz"),
              std::string::npos);
    EXPECT_NE(run.err.find("5 of 9 files restored, 4 failed"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("warning: " + path("in/cut.wav") + ": header and file size disagree"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("nan.wav: 2 input samples are not finite"), std::string::npos);
    EXPECT_NE(read(path("out/nan.record.json")).find("\"non_finite_samples\": 2"),
              std::string::npos);
    SF_INFO cutInfo{};
    readAudio(path("out/cut.wav"), &cutInfo);
    EXPECT_EQ(cutInfo.frames, 25000);
    EXPECT_TRUE(fs::exists(path("out/good.wav")));
    EXPECT_TRUE(fs::exists(path("out/odd-rate.wav")));
    EXPECT_NE(read(path("out/odd-rate.record.json")).find("fallback row"), std::string::npos);
    SF_INFO info{};
    readAudio(path("out/odd-rate.wav"), &info);
    EXPECT_EQ(info.frames, 20000);
    EXPECT_EQ(info.samplerate, 16000);
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(folder / "out")) {
        ++files;
        EXPECT_NE(entry.path().filename().string()[0], '.');
    }
    EXPECT_EQ(files, 20u); // five outputs with their reports, case reports and records
}

TEST_F(Command, EvidenceIsNeverOverwritten) {
    const std::string in = writeAudio("in.wav", 8000, 1, 8000);
    const std::string before = cli::sha256File(in);
    Outcome run = veltrano("process " + in + " -o " + in);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("is an input"), std::string::npos) << run.err;
    run = veltrano("process " + in + " -o " + in + " --overwrite");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(cli::sha256File(in), before);

    ASSERT_EQ(veltrano("process " + in + " -o " + path("out.wav")).status, 0);
    const std::string first = cli::sha256File(path("out.wav"));
    run = veltrano("process " + in + " -o " + path("out.wav") + " --high-pass on");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("exists (use --overwrite)"), std::string::npos) << run.err;
    EXPECT_EQ(cli::sha256File(path("out.wav")), first);
    run = veltrano("process " + in + " -o " + path("out.wav") + " --high-pass on --overwrite");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(cli::sha256File(path("out.wav")), first);

    // An output folder that cannot be created or written.
    { std::ofstream blocker(path("file")); }
    run = veltrano("process " + in + " -o " + path("file/sub/out.wav"));
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("cannot be created"), std::string::npos) << run.err;
    run = veltrano("process " + in + " -o " + path("new/sub/out.wav"));
    EXPECT_EQ(run.status, 0) << run.err;
    run = veltrano("process " + in + " " + in + " -o " + path("file/sub/"));
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("cannot be created"), std::string::npos) << run.err;
    EXPECT_EQ(cli::sha256File(in), before);
}

TEST_F(Command, WrongSettingsTouchNothing) {
    const std::string in = writeAudio("in.wav", 44100, 2, 1000);
    for (const auto& [bad, named] :
         {std::pair<const char*, const char*>{"--hum-attenuation 70dB", "'hum-attenuation'"},
          {"--humm-filter on", "'--humm-filter'"},
          {"--eq 250=-6dB", "250 Hz"},
          {"--random-attenuation 80dB", "'random-attenuation'"},
          {"--settings /nonexistent", "/nonexistent"},
          {"-j 0", "-j"}}) {
        const Outcome run = veltrano("process " + in + " -o " + path("out.wav") + " " + bad);
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_NE(run.err.find(named), std::string::npos) << bad << ": " << run.err;
        EXPECT_FALSE(fs::exists(path("out.wav")));
    }
}

TEST_F(Command, SettingsFileAndReportGiveTheSameSetting) {
    const std::string in = writeAudio("in.wav", 32000, 2, 32000);
    Outcome run = veltrano(std::string("settings save ") + path("s.txt") + " " + kEveryStage +
                           " --hum-frequency 50.3 --random-attenuation 70% --max-gain 20dB");
    ASSERT_EQ(run.status, 0) << run.err;
    run = veltrano("process " + in + " -o " + path("a.wav") + " --settings " + path("s.txt"));
    ASSERT_EQ(run.status, 0) << run.err;
    run = veltrano("process " + in + " -o " + path("b.wav") + " " + kEveryStage +
                   " --hum-frequency 50.3 --random-attenuation 70% --max-gain 20dB");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(cli::sha256File(path("a.wav")), cli::sha256File(path("b.wav")));
    // The report written beside the output reads back as a setting.
    run =
        veltrano("process " + in + " -o " + path("c.wav") + " --settings " + path("a.report.txt"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read(path("c.report.txt")).substr(200), read(path("a.report.txt")).substr(200));

    // The processing record repeats the setting exactly.
    run =
        veltrano("process " + in + " -o " + path("d.wav") + " --settings " + path("a.record.json"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(cli::sha256File(path("d.wav")), cli::sha256File(path("a.wav")));

    run = veltrano("settings show --settings " + path("s.txt"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("random-attenuation        70.00 %        100.00 %       0 ... 100 %"),
              std::string::npos)
        << run.out;
}

TEST_F(Command, SettingsPictureIsReproducibleAndNeverReplacesAFile) {
    Outcome run = veltrano("settings picture " + path("a.png") + " " + kEveryStage);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(veltrano("settings save " + path("s.txt") + " " + kEveryStage).status, 0);
    run = veltrano("settings picture " + path("b.png") + " --settings " + path("s.txt"));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string a = read(path("a.png"));
    EXPECT_EQ(a.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(a, read(path("b.png")));
    ASSERT_EQ(veltrano("settings picture " + path("c.png")).status, 0);
    EXPECT_NE(read(path("c.png")), a); // the initial setting looks different

    run = veltrano("settings picture " + path("a.png"));
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("exists"), std::string::npos) << run.err;
    EXPECT_EQ(read(path("a.png")), a);
}

// Long options work with one dash too; only -j and -o take their value joined to them.
TEST_F(Command, ShortAndLongOptionsWithOneDash) {
    const std::string in = writeAudio("in.wav", 8000, 1, 800);
    for (int run = 0; run < 2; ++run) {
        const Outcome outcome =
            veltrano("process " + in + " -output=" + path("out.wav") + " -overwrite -jobs 1");
        EXPECT_EQ(outcome.status, 0) << outcome.err;
    }
    const Outcome joined = veltrano("process " + in + " -j1 -o" + path("a=b.wav"));
    EXPECT_EQ(joined.status, 0) << joined.err;
    EXPECT_TRUE(fs::exists(path("out.wav")));
    EXPECT_TRUE(fs::exists(path("a=b.wav")));
}

TEST_F(Command, DemoWritesItsFolder) {
    const Outcome run = veltrano("demo -o " + path("demo"));
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* name : {"restored.wav", "removed.wav", "restored.report.txt",
                             "restored.record.json", "restored.report.html"}) {
        EXPECT_TRUE(fs::exists(folder / "demo" / name)) << name;
    }
    EXPECT_NE(run.out.find("hum (60 Hz"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(fs::absolute(path("demo")).lexically_normal().string()),
              std::string::npos);
    // What was removed (hum, noise, rumble) is quieter than the sample: it holds no speech.
    const auto level = [](const std::vector<float>& x) {
        double sum = 0.0;
        for (float v : x) {
            sum += static_cast<double>(v) * v;
        }
        return 10.0 * std::log10(sum / static_cast<double>(x.size()));
    };
    const double sample = level(readAudio(VELTRANO_DEMO_SAMPLE));
    const double removed = level(readAudio(path("demo/removed.wav")));
    EXPECT_LT(removed, sample - 1.0) << removed << " dB against " << sample << " dB";
}

} // namespace
