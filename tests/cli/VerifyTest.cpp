// `veltrano verify` on records the built program writes: an untouched batch verifies and
// reprocesses to its recorded outputs; a changed byte, a changed input, a wrong hash, a missing
// file and a broken record each give their exit status and name what is wrong.
#include "CommandFixture.h"
#include "cli/Sha256.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using clitest::Outcome;

// The program's temporary files go into the test's folder, where they can be counted.
class Verify : public clitest::CommandFixture {
protected:
    Verify() : CommandFixture("veltrano-verify-") {}

    void SetUp() override {
        CommandFixture::SetUp();
        fs::create_directories(folder / "tmp");
        environment = "TMPDIR=" + path("tmp");
    }

    static void write(const std::string& file, const std::string& text) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    }

    void writeAudio(const std::string& name, int channels, double frequency) {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* sf = sf_open(path(name).c_str(), SFM_WRITE, &info);
        ASSERT_NE(sf, nullptr);
        std::vector<float> x(30000 * static_cast<std::size_t>(channels));
        for (std::size_t i = 0; i < x.size(); ++i) {
            x[i] = static_cast<float>(0.3 * std::sin(0.0001 * frequency * static_cast<double>(i)) +
                                      0.05 * std::sin(0.0085 * static_cast<double>(i)));
        }
        sf_writef_float(sf, x.data(), 30000);
        sf_close(sf);
    }

    // Two files processed in parallel, with their residues.
    void processBatch() {
        fs::create_directories(folder / "in");
        writeAudio("in/a.wav", 2, 300.0);
        writeAudio("in/b.wav", 1, 440.0);
        const Outcome run =
            veltrano("process " + path("in") + " -o " + path("out") + " --residue " +
                     path("removed") + " -j 2 --quiet --hum-filter --high-pass --auto-gain");
        ASSERT_EQ(run.status, 0) << run.err;
    }

    std::size_t filesIn(const std::string& name) const {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder / name)) {
            ++count;
        }
        return count;
    }
};

TEST_F(Verify, UntouchedBatchVerifiesAndEveryChangeIsNamed) {
    processBatch();
    const std::size_t outputs = filesIn("out");
    Outcome run = veltrano("verify " + path("out"));
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("2 of 2 records verified"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("result: VERIFIED (4 of 4 files match)"), std::string::npos)
        << run.out; // input, output, residue and the case report

    // The recorded setting, run again, gives the recorded output and residue bit for bit; its
    // scratch files are gone and nothing was added beside the evidence.
    run = veltrano("verify --reprocess " + path("out/a.record.json"));
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("reprocess MATCH       output"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("reprocess MATCH       residue"), std::string::npos) << run.out;
    EXPECT_EQ(filesIn("tmp"), 0u);
    EXPECT_EQ(filesIn("out"), outputs);

    // The case folder moved: its files are found beside their records.
    fs::rename(folder / "out", folder / "moved");
    run = veltrano("verify " + path("moved/a.record.json"));
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("output    MATCH       " + path("moved/a.wav") + "\n" +
                           "            recorded    " + path("out/a.wav")),
              std::string::npos)
        << run.out;
    fs::rename(folder / "moved", folder / "out");

    // One byte of an output changed.
    const std::string original = read(path("out/b.wav"));
    std::string changed = original;
    changed[changed.size() / 2] ^= 1;
    write(path("out/b.wav"), changed);
    run = veltrano("verify " + path("out/a.record.json") + " " + path("out/b.record.json"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(
        run.out.find("output    CHANGED     " + path("out/b.wav") + "\n" +
                     "            expected    " + cli::sha256Hex(original.data(), original.size()) +
                     "\n            actual      " + cli::sha256Hex(changed.data(), changed.size())),
        std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("1 of 2 records verified"), std::string::npos) << run.out;
    write(path("out/b.wav"), original);

    // A case report edited after the fact.
    const std::string page = read(path("out/a.report.html"));
    write(path("out/a.report.html"), page + "<!-- -->");
    run = veltrano("verify " + path("out/a.record.json"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("report    CHANGED     " + path("out/a.report.html")), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("result: NOT VERIFIED (report changed)"), std::string::npos) << run.out;
    write(path("out/a.report.html"), page);

    // A changed input: named, and not reprocessed.
    std::string input = read(path("in/a.wav"));
    input.back() ^= 1;
    write(path("in/a.wav"), input);
    run = veltrano("verify --reprocess " + path("out/a.record.json"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("input     CHANGED     " + path("in/a.wav")), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("result: NOT VERIFIED (input changed)"), std::string::npos) << run.out;
}

TEST_F(Verify, WrongMissingAndBrokenRecords) {
    processBatch();
    const std::string record = read(path("out/a.record.json"));
    const nlohmann::ordered_json json = nlohmann::ordered_json::parse(record);

    // A hash that is not the file's, and a file that is gone: status 1, each named.
    nlohmann::ordered_json wrong = json;
    std::string hash = wrong["output"]["sha256"];
    hash[0] = hash[0] == '0' ? '1' : '0';
    wrong["output"]["sha256"] = hash;
    write(path("wrong.record.json"), wrong.dump(-1)); // compact, as another program might
    fs::remove(path("removed/a.residue.wav"));
    Outcome run = veltrano("verify " + path("wrong.record.json"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("output    CHANGED     "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("residue   MISSING     " + path("removed/a.residue.wav") + "\n" +
                           "            expected    " +
                           json["residue"]["sha256"].get<std::string>() +
                           "\n            actual      missing"),
              std::string::npos)
        << run.out;

    // Records that cannot be checked: status 2, saying why.
    write(path("cut.record.json"), record.substr(0, record.size() / 2));
    nlohmann::ordered_json notHex = json;
    notHex["input"]["sha256"] = "not a hash";
    write(path("nothex.record.json"), notHex.dump(2));
    for (const auto& [name, why] :
         {std::pair<const char*, const char*>{"cut.record.json", "not valid JSON (parse error"},
          {"nothex.record.json", "not 64 hexadecimal digits"},
          {"absent.record.json", "no such file"}}) {
        run = veltrano("verify " + path(name) + " " + path("out/b.record.json"));
        EXPECT_EQ(run.status, 2) << name;
        EXPECT_NE(run.out.find(why), std::string::npos) << name << ": " << run.out;
        EXPECT_NE(run.out.find("1 of 2 records verified"), std::string::npos) << run.out;
    }
    EXPECT_EQ(veltrano("verify").status, 2);
    EXPECT_EQ(veltrano("verify --again " + path("out/b.record.json")).status, 2);
}

// A file name need not be UTF-8: the record keeps its exact bytes and verify finds the file.
TEST_F(Verify, FileNamesThatAreNotUtf8AreFound) {
    writeAudio("caf\xe9.wav", 1, 300.0);
    ASSERT_EQ(
        veltrano("process '" + path("caf\xe9.wav") + "' -o '" + path("out\xe9.wav") + "' --quiet")
            .status,
        0);
    const Outcome run = veltrano("verify '" + path("out\xe9.record.json") + "'");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("input     MATCH       " + path("caf\xe9.wav")), std::string::npos)
        << run.out;
}

// A record from another version whose output differs: the difference is measured, not hidden.
TEST_F(Verify, ReprocessingAnotherVersionsRecordCountsTheDifferingSamples) {
    processBatch();
    // Output b as if an older version had written it: one sample of the audio data changed.
    nlohmann::ordered_json json = nlohmann::ordered_json::parse(read(path("out/b.record.json")));
    std::string audio = read(path("out/b.wav"));
    audio[audio.size() - 3] ^= 0x10; // in the last float sample's mantissa
    write(path("out/b.wav"), audio);
    json["version"] = "0.9.0";
    json["output"]["sha256"] = cli::sha256Hex(audio.data(), audio.size());
    write(path("old.record.json"), json.dump(4));
    const Outcome run = veltrano("verify --reprocess " + path("old.record.json"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("reprocess DIFFERENT   output"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 of 30000 samples differ; largest difference "), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("recorded by veltrano 0.9.0"), std::string::npos) << run.out;
    EXPECT_EQ(filesIn("tmp"), 0u);
}

} // namespace
