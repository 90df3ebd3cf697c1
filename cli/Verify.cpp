#include "cli/Verify.h"

#include "cli/AudioSource.h"
#include "cli/Job.h"
#include "cli/Settings.h"
#include "cli/Sha256.h"

#include <nlohmann/json.hpp>
#include <sndfile.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>

namespace fs = std::filesystem;

namespace cli {

namespace {

std::atomic<bool> verifyInterrupted{false};

extern "C" void onVerifySignal(int) {
    verifyInterrupted.store(true);
}

constexpr int kMatches = 0;
constexpr int kDiffers = 1;
constexpr int kUnusable = 2;

// A record that cannot be checked: unreadable, not JSON, or not a processing record.
struct RecordError {
    std::string message;
};

// One file a record names, with the hash it had when the record was written.
struct RecordedFile {
    std::string role;         // "input", "output", "residue", "report"
    std::string path;         // the file checked
    std::string recordedPath; // where the record says it was, when it is not there any more
    std::string sha256;       // lower-case hex
    std::optional<std::uintmax_t> bytes;
};

struct Record {
    std::string text; // as read: the setting is taken from it as --settings would
    std::string version;
    std::string build;
    RecordedFile input;
    RecordedFile output;
    std::optional<RecordedFile> residue;
    std::optional<RecordedFile> page; // the case report, in records that name it
    std::string outputFormat;
    std::string inputFormat;
    int stream = -1;
};

bool isHash(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(),
                                            [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string stringField(const nlohmann::json& object, const char* key, const std::string& where) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) {
        throw RecordError{"no \"" + std::string(key) + "\" text" +
                          (where.empty() ? "" : " in \"" + where + "\"")};
    }
    return found->get<std::string>();
}

RecordedFile fileField(const nlohmann::json& record, const char* role, const fs::path& folder) {
    const auto found = record.find(role);
    if (found == record.end() || !found->is_object()) {
        throw RecordError{"no \"" + std::string(role) + "\" object"};
    }
    RecordedFile file;
    file.role = role;
    file.path = stringField(*found, "path", role);
    // A name that is not UTF-8 is kept exactly beside its readable form.
    const auto hex = found->find("path_hex");
    if (hex != found->end() && hex->is_string()) {
        const std::string& digits = hex->get_ref<const std::string&>();
        if (digits.size() % 2 != 0 || !std::all_of(digits.begin(), digits.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c)) != 0;
            })) {
            throw RecordError{"the \"path_hex\" of \"" + std::string(role) +
                              "\" is not hexadecimal"};
        }
        file.path.clear();
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            file.path += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
        }
    }
    if (file.path.empty()) {
        throw RecordError{"an empty \"path\" in \"" + std::string(role) + "\""};
    }
    if (fs::path(file.path).is_relative()) {
        file.path = (folder / file.path).lexically_normal().string(); // beside the record
    }
    // A case folder copied elsewhere: a file gone from its recorded place is looked for under
    // its name beside the record (where the command writes outputs and residues); its hash
    // still decides.
    std::error_code ec;
    if (!fs::exists(file.path, ec)) {
        const fs::path beside = folder / fs::path(file.path).filename();
        if (fs::path(file.path).has_filename() && fs::is_regular_file(beside, ec)) {
            file.recordedPath = file.path;
            file.path = beside.string();
        }
    }
    file.sha256 = stringField(*found, "sha256", role);
    if (!isHash(file.sha256)) {
        throw RecordError{"the \"sha256\" of \"" + std::string(role) + "\" is '" + file.sha256 +
                          "', not 64 hexadecimal digits"};
    }
    file.sha256 = lowered(file.sha256);
    const auto bytes = found->find("bytes");
    if (bytes != found->end() && bytes->is_number_unsigned()) {
        file.bytes = bytes->get<std::uintmax_t>();
    }
    return file;
}

Record readRecord(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        throw RecordError{"is a folder"};
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw RecordError{fs::exists(path, ec) ? "cannot be read" : "no such file"};
    }
    std::ostringstream text;
    text << in.rdbuf();
    Record record;
    record.text = text.str();
    nlohmann::json json;
    try {
        json = nlohmann::json::parse(record.text);
    } catch (const nlohmann::json::exception& error) {
        throw RecordError{"not valid JSON (" + jsonProblem(error) + ")"};
    }
    if (!json.is_object() || json.value("program", nlohmann::json()) != "veltrano") {
        throw RecordError{"not a veltrano processing record (no \"program\": \"veltrano\")"};
    }
    const fs::path folder = fs::absolute(path, ec).parent_path();
    record.version = stringField(json, "version", "");
    record.build = json.value("build", std::string());
    record.input = fileField(json, "input", folder);
    record.output = fileField(json, "output", folder);
    const auto residue = json.find("residue");
    if (residue != json.end() && !residue->is_null()) {
        record.residue = fileField(json, "residue", folder);
    }
    const auto page = json.find("html_report");
    if (page != json.end() && !page->is_null()) {
        record.page = fileField(json, "html_report", folder);
        record.page->role = "report";
    }
    record.inputFormat = json["input"].value("format", std::string());
    record.outputFormat = json["output"].value("format", std::string());
    const auto stream = json["input"].find("stream_index");
    if (stream != json["input"].end() && stream->is_number_integer()) {
        record.stream = stream->get<int>();
    }
    return record;
}

enum class State { kMatch, kChanged, kMissing, kUnreadable };

const char* stateWord(State state) {
    switch (state) {
    case State::kMatch:
        return "MATCH";
    case State::kChanged:
        return "CHANGED";
    case State::kMissing:
        return "MISSING";
    case State::kUnreadable:
        return "UNREADABLE";
    }
    return "";
}

// Prints one file's check:
//   output   CHANGED     /cases/17/restored.wav
//            expected    e624...
//            actual      1b0c...
State checkFile(const RecordedFile& file, std::ostream& out) {
    std::error_code ec;
    std::string actual;
    std::uintmax_t bytes = 0;
    State state = State::kMatch;
    if (!fs::exists(file.path, ec)) {
        state = State::kMissing;
    } else {
        actual = fs::is_regular_file(file.path, ec) ? sha256File(file.path, &bytes) : "";
        state = actual.empty()          ? State::kUnreadable
                : actual == file.sha256 ? State::kMatch
                                        : State::kChanged;
    }
    char head[64];
    std::snprintf(head, sizeof head, "  %-9s %-11s ", file.role.c_str(), stateWord(state));
    out << head << file.path << "\n";
    if (!file.recordedPath.empty()) {
        out << "            recorded    " << file.recordedPath
            << " (not there: the file of that name beside the record was checked)\n";
    }
    out << "            expected    " << file.sha256 << "\n";
    out << "            actual      "
        << (state == State::kMissing      ? "missing"
            : state == State::kUnreadable ? "unreadable"
                                          : actual)
        << "\n";
    if (state == State::kChanged && file.bytes && *file.bytes != bytes) {
        out << "            size        " << bytes << " bytes, recorded " << *file.bytes << "\n";
    }
    return state;
}

// A folder of its own for the reprocessed files, in the system's temporary folder; removed
// with everything in it.
class ScratchFolder {
public:
    ScratchFolder() {
        std::error_code ec;
        fs::path base = fs::temp_directory_path(ec);
        if (ec) {
            base = "/tmp";
        }
        std::string pattern = (base / "veltrano-verify-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw RecordError{"cannot create a temporary folder in " + base.string()};
        }
        folder = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    fs::path path() const { return folder; }

private:
    fs::path folder;
};

// How far two recordings are apart, sample by sample.
struct Difference {
    bool readable = false;
    std::uint64_t framesA = 0;
    std::uint64_t framesB = 0;
    int channelsA = 0;
    int channelsB = 0;
    std::uint64_t compared = 0; // samples compared (the shorter length)
    std::uint64_t differing = 0;
    double largest = 0.0;
};

Difference compareAudio(const std::string& a, const std::string& b) {
    Difference d;
    SF_INFO infoA{};
    SF_INFO infoB{};
    SNDFILE* fileA = sf_open(a.c_str(), SFM_READ, &infoA);
    SNDFILE* fileB = fileA != nullptr ? sf_open(b.c_str(), SFM_READ, &infoB) : nullptr;
    if (fileA == nullptr || fileB == nullptr) {
        if (fileA != nullptr) {
            sf_close(fileA);
        }
        return d;
    }
    d.readable = true;
    d.framesA = static_cast<std::uint64_t>(infoA.frames);
    d.framesB = static_cast<std::uint64_t>(infoB.frames);
    d.channelsA = infoA.channels;
    d.channelsB = infoB.channels;
    if (infoA.channels == infoB.channels) {
        const std::size_t width = static_cast<std::size_t>(infoA.channels);
        constexpr std::size_t kFrames = 8192;
        std::vector<float> x(kFrames * width);
        std::vector<float> y(kFrames * width);
        for (;;) {
            const sf_count_t gotA = sf_readf_float(fileA, x.data(), kFrames);
            const sf_count_t gotB = sf_readf_float(fileB, y.data(), kFrames);
            const std::size_t n =
                static_cast<std::size_t>(std::max<sf_count_t>(0, std::min(gotA, gotB))) * width;
            for (std::size_t i = 0; i < n; ++i) {
                // Bits, not values: NaN against NaN is the same sample, -0 against 0 is not.
                if (std::memcmp(&x[i], &y[i], sizeof(float)) != 0) {
                    ++d.differing;
                    const double gap =
                        std::fabs(static_cast<double>(x[i]) - static_cast<double>(y[i]));
                    d.largest = std::isnan(gap) ? HUGE_VAL : std::max(d.largest, gap);
                }
            }
            d.compared += n;
            if (n == 0 || gotA < static_cast<sf_count_t>(kFrames) ||
                gotB < static_cast<sf_count_t>(kFrames)) {
                break;
            }
        }
    }
    sf_close(fileA);
    sf_close(fileB);
    return d;
}

void printDifference(const Difference& d, std::ostream& out) {
    if (!d.readable) {
        out << "            the two outputs cannot be read as audio to compare their samples\n";
        return;
    }
    if (d.channelsA != d.channelsB) {
        out << "            the recorded output has " << d.channelsA << " channels, the new one "
            << d.channelsB << "\n";
        return;
    }
    if (d.framesA != d.framesB) {
        out << "            the recorded output has " << d.framesA << " frames, the new one "
            << d.framesB << " (the first " << std::min(d.framesA, d.framesB) << " compared)\n";
    }
    char line[200];
    if (d.differing == 0) {
        std::snprintf(line, sizeof line,
                      "            all %llu samples are identical (the files differ elsewhere)\n",
                      static_cast<unsigned long long>(d.compared));
    } else {
        std::snprintf(line, sizeof line,
                      "            %llu of %llu samples differ; largest difference %.3g "
                      "(%.1f dB below full scale)\n",
                      static_cast<unsigned long long>(d.differing),
                      static_cast<unsigned long long>(d.compared), d.largest,
                      d.largest > 0.0 ? -20.0 * std::log10(d.largest) : HUGE_VAL);
    }
    out << line;
}

// Runs the recorded setting on the input again into a scratch folder and compares. Returns
// whether the new output (and residue) are the recorded ones bit for bit.
int reprocess(const std::string& recordPath, const Record& record, bool outputIntact,
              bool residueIntact, std::ostream& out) {
    JobOptions options;
    try {
        options.settings.parse(record.text, recordPath);
    } catch (const SettingError& error) {
        out << "  reprocess CANNOT RUN  the record's setting cannot be read: " << error.what()
            << "\n";
        return kUnusable;
    }
    // The default output is 32-bit float WAV (RF64 beyond 4 GB); anything else was written
    // in the input's own format.
    const int floatFormats[] = {SF_FORMAT_WAV | SF_FORMAT_FLOAT, SF_FORMAT_RF64 | SF_FORMAT_FLOAT};
    options.keepFormat = std::none_of(std::begin(floatFormats), std::end(floatFormats), [&](int f) {
        return sndfileFormatName(f) == record.outputFormat;
    });
    options.stream = record.stream;
    options.commandLine = "veltrano verify --reprocess " + recordPath;
    options.cancel = &verifyInterrupted;
    options.htmlReport = false; // only the audio is compared

    ScratchFolder scratch;
    Job job;
    job.input = record.input.path;
    job.output = (scratch.path() / fs::path(record.output.path).filename()).string();
    if (record.residue) {
        job.residue =
            (scratch.path() / ("residue-" + fs::path(record.residue->path).filename().string()))
                .string();
    }
    const JobResult result = runJob(job, options);
    if (!result.ok) {
        out << "  reprocess FAILED      " << result.error << "\n";
        return verifyInterrupted.load() ? 130 : kDiffers;
    }
    const bool sameProgram = record.version == programVersion() && record.build == programBuild();
    int status = kMatches;
    std::vector<std::pair<const RecordedFile*, std::string>> made = {{&record.output, job.output}};
    if (record.residue) {
        made.emplace_back(&*record.residue, job.residue);
    }
    for (const auto& [recorded, path] : made) {
        const std::string actual = sha256File(path);
        const bool same = actual == recorded->sha256;
        char head[64];
        std::snprintf(head, sizeof head, "  reprocess %-11s ", same ? "MATCH" : "DIFFERENT");
        out << head << recorded->role << " made again from the input with the recorded setting\n"
            << "            expected    " << recorded->sha256 << "\n"
            << "            actual      " << actual << "\n";
        if (!same) {
            status = kDiffers;
            if (recorded == &record.output ? outputIntact : residueIntact) {
                printDifference(compareAudio(recorded->path, path), out);
            } else {
                out << "            the recorded " << recorded->role
                    << " is not at hand unchanged: no samples to compare with\n";
            }
        }
    }
    if (sameProgram) {
        out << "            same program as the record (veltrano " << programVersion() << ", "
            << programBuild() << ")" << (status == kMatches ? "" : ": it should be identical")
            << "\n";
    } else {
        out << "            recorded by veltrano " << record.version << " (" << record.build
            << "); this is veltrano " << programVersion() << " (" << programBuild() << ")\n";
    }
    return status;
}

int verifyOne(const std::string& path, bool again, std::ostream& out) {
    out << "record      " << path << "\n";
    Record record;
    try {
        record = readRecord(path);
    } catch (const RecordError& error) {
        out << "  UNUSABLE record: " << error.message << "\n"
            << "  result: NOT CHECKED\n";
        return kUnusable;
    }
    std::vector<std::string> problems;
    const State input = checkFile(record.input, out);
    const State output = checkFile(record.output, out);
    std::optional<State> residue;
    if (record.residue) {
        residue = checkFile(*record.residue, out);
    }
    const std::optional<State> page =
        record.page ? std::optional<State>(checkFile(*record.page, out)) : std::nullopt;
    auto note = [&](const RecordedFile& file, State state) {
        if (state != State::kMatch) {
            problems.push_back(file.role + " " + lowered(stateWord(state)));
        }
    };
    note(record.input, input);
    note(record.output, output);
    if (residue) {
        note(*record.residue, *residue);
    }
    if (page) {
        note(*record.page, *page);
    }
    int status = problems.empty() ? kMatches : kDiffers;
    if (again) {
        if (input != State::kMatch) {
            out << "  reprocess SKIPPED     the input is not the recorded input\n";
        } else {
            const int made =
                reprocess(path, record, output == State::kMatch, residue == State::kMatch, out);
            if (made == 130) {
                return 130;
            }
            if (made != kMatches) {
                problems.push_back(made == kUnusable ? "reprocessing impossible"
                                                     : "reprocessed output different");
            }
            status = std::max(status, made);
        }
    }
    const std::size_t files = 2 + (record.residue ? 1 : 0) + (record.page ? 1 : 0);
    if (problems.empty()) {
        out << "  result: VERIFIED (" << files << " of " << files << " files match"
            << (again ? ", and the input reprocesses to the recorded output" : "") << ")\n";
    } else {
        out << "  result: NOT VERIFIED (";
        for (std::size_t i = 0; i < problems.size(); ++i) {
            out << (i > 0 ? ", " : "") << problems[i];
        }
        out << ")\n";
    }
    return status;
}

} // namespace

int runVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool again = false;
    std::vector<std::string> records;
    for (const std::string& arg : args) {
        if (arg == "--reprocess") {
            again = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            err << "veltrano: verify: unknown option '" << arg << "'\n"
                << "(veltrano --help for usage)\n";
            return kUnusable;
        } else {
            std::error_code ec;
            if (fs::is_directory(arg, ec)) {
                std::vector<std::string> found;
                for (const auto& entry : fs::directory_iterator(arg, ec)) {
                    const std::string name = entry.path().filename().string();
                    if (name.size() > 12 && name.ends_with(".record.json") && name[0] != '.') {
                        found.push_back(entry.path().string());
                    }
                }
                if (found.empty()) {
                    err << "veltrano: verify: no *.record.json in folder '" << arg << "'\n";
                    return kUnusable;
                }
                std::sort(found.begin(), found.end());
                records.insert(records.end(), found.begin(), found.end());
            } else {
                records.push_back(arg);
            }
        }
    }
    if (records.empty()) {
        err << "veltrano: verify: give one or more processing records (NAME.record.json)\n"
            << "(veltrano --help for usage)\n";
        return kUnusable;
    }

    verifyInterrupted.store(false);
    auto previousInt = std::signal(SIGINT, onVerifySignal);
    auto previousTerm = std::signal(SIGTERM, onVerifySignal);
    int status = kMatches;
    std::size_t verified = 0;
    for (std::size_t i = 0; i < records.size() && status != 130; ++i) {
        if (i > 0) {
            out << "\n";
        }
        int one = kUnusable;
        try {
            one = verifyOne(records[i], again, out);
        } catch (const RecordError& error) {
            out << "  result: NOT CHECKED (" << error.message << ")\n";
        }
        verified += one == kMatches ? 1 : 0;
        status = one == 130 ? 130 : std::max(status, one);
    }
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
    if (records.size() > 1) {
        out << "\nveltrano verify: " << verified << " of " << records.size()
            << " records verified\n";
    }
    out.flush();
    return status;
}

} // namespace cli
