#include "cli/Cli.h"

#include "cli/AudioSource.h"
#include "cli/Demo.h"
#include "cli/Job.h"
#include "cli/Json.h"
#include "cli/Settings.h"
#include "cli/SettingsPicture.h"
#include "cli/Verify.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <thread>

namespace fs = std::filesystem;

namespace cli {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onSignal(int) {
    interrupted.store(true);
}

// A wrong command: reported before any file is touched.
struct UsageError {
    std::string message;
};

constexpr const char* kUsage =
    "usage:\n"
    "  veltrano process IN... -o OUT_OR_DIR [settings] [options]\n"
    "  veltrano probe FILE... [--json] [--stream N]   list the streams of files\n"
    "  veltrano settings show [settings]\n"
    "  veltrano settings save FILE [settings]\n"
    "  veltrano settings picture FILE.png [settings]   the editor's panel with the setting\n"
    "  veltrano demo [-o DIR]\n"
    "  veltrano verify RECORD.json... [--reprocess]   check the files processing records name\n"
    "                          (--reprocess: also run each record's setting on its input again)\n"
    "  veltrano --version\n"
    "\n"
    "options:\n"
    "  -o, --output PATH       output file (one input) or folder (several inputs or a folder)\n"
    "  --residue PATH          also write what the chain removed (file, or folder in a batch)\n"
    "  --format                keep the input's format where lossless (WAV, AIFF, FLAC PCM);\n"
    "                          default and otherwise: 32-bit float WAV\n"
    "  --stream N              the audio stream read (default: the file's first audio stream)\n"
    "  --case ID, --examiner INITIALS   recorded in the processing record and case report\n"
    "  --no-html               no case report (NAME.report.html) beside the output\n"
    "  -j, --jobs N            files processed in parallel (default: number of cores)\n"
    "  --overwrite             replace existing outputs\n"
    "  --quiet                 no progress and no summary unless something failed\n"
    "  --block N[,N...]        host call sizes used in turn (results do not depend on them)\n"
    "\n"
    "settings (applied in the order given, starting from the plug-in's defaults):\n"
    "  --settings FILE         a settings file, a setup report or a processing record\n"
    "  --auto-normalize, --high-pass, --hum-filter, --hum-auto-track, --predictable-noise,\n"
    "  --reverb, --random-noise, --aggressive, --equalizer, --auto-gain   on | off\n"
    "  --hum-attenuation 45dB  --hum-frequency 50  --predictable-attenuation 80%\n"
    "  --random-attenuation 80%  --max-gain 12dB  --eq 240=-6dB  --eq-preset low-cut\n"
    "  (veltrano settings show lists every parameter with its range)\n";

bool isSwitchWord(const std::string& word) {
    static const std::set<std::string> words = {"on",   "off",   "yes", "no",
                                                "true", "false", "1",   "0"};
    std::string lower = word;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return words.count(lower) > 0;
}

struct Arguments {
    std::vector<std::string> positional;
    std::string output;
    std::string residue;
    int jobs = 0;
    bool quiet = false;
    bool json = false; // probe: JSON instead of text
    JobOptions options;
};

int parseCount(const std::string& name, const std::string& text, int low, int high) {
    try {
        std::size_t used = 0;
        const int n = std::stoi(text, &used);
        if (used == text.size() && n >= low && n <= high) {
            return n;
        }
    } catch (const std::exception&) {
    }
    throw UsageError{"option '" + name + "': '" + text + "' is not a whole number from " +
                     std::to_string(low) + " to " + std::to_string(high)};
}

// Reads options and settings; everything else is positional.
Arguments parseArguments(const std::vector<std::string>& args) {
    Arguments a;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-' || arg == "--") {
            a.positional.push_back(arg);
            continue;
        }
        std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
        std::string value;
        bool hasValue = false;
        if (const auto equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        auto take = [&]() -> std::string {
            if (hasValue) {
                return value;
            }
            if (i + 1 >= args.size()) {
                throw UsageError{"option '" + arg + "' needs a value"};
            }
            return args[++i];
        };
        if (arg[1] != '-' && name.size() > 1 && (name[0] == 'j' || name[0] == 'o') &&
            name != "jobs" && name != "output" && name != "overwrite") {
            // -j4, -oOUT (all of it: "-oa=b" is the file a=b); a long name with one dash is
            // still the long option ("-overwrite" is not -o verwrite)
            value = arg.substr(2);
            name = name.substr(0, 1);
            hasValue = true;
        }
        if (name == "o" || name == "output") {
            a.output = take();
        } else if (name == "residue") {
            a.residue = take();
        } else if (name == "format") {
            const std::string kind = hasValue ? value : "input";
            if (kind != "input" && kind != "float") {
                throw UsageError{"option '--format': '" + kind + "' is not input or float"};
            }
            a.options.keepFormat = kind == "input";
        } else if (name == "stream") {
            a.options.stream = parseCount("--stream", take(), 0, 1 << 20);
        } else if (name == "json") {
            a.json = true;
        } else if (name == "case") {
            a.options.caseId = take();
        } else if (name == "examiner") {
            a.options.examiner = take();
        } else if (name == "j" || name == "jobs") {
            a.jobs = parseCount("-j", take(), 1, 1024);
        } else if (name == "overwrite") {
            a.options.overwrite = true;
        } else if (name == "no-html") {
            a.options.htmlReport = false;
        } else if (name == "quiet" || name == "q") {
            a.quiet = true;
        } else if (name == "block") {
            std::string list = take();
            std::vector<int> pattern;
            std::size_t start = 0;
            while (start <= list.size()) {
                const auto comma = list.find(',', start);
                pattern.push_back(parseCount(
                    "--block",
                    list.substr(start, comma == std::string::npos ? comma : comma - start), 1,
                    1 << 20));
                if (comma == std::string::npos) {
                    break;
                }
                start = comma + 1;
            }
            a.options.blockPattern = pattern;
        } else if (name == "settings") {
            a.options.settings.load(take());
        } else {
            const ParameterInfo* info = findParameter(name);
            if (info != nullptr && info->unit == Unit::kSwitch && !hasValue &&
                (i + 1 >= args.size() || !isSwitchWord(args[i + 1]))) {
                a.options.settings.apply(name, "on"); // a bare switch turns it on
            } else if (info != nullptr || name == "eq" || name == "eq-preset") {
                a.options.settings.apply(name, take());
            } else {
                throw SettingError("unknown setting or option '" + arg + "'");
            }
        }
    }
    return a;
}

bool isAudioName(const fs::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const std::set<std::string> known = {
        ".wav", ".flac", ".aif", ".aiff", ".aifc", ".rf64", ".w64", ".bwf", ".mp3",  ".m4a",
        ".aac", ".amr",  ".awb", ".3gp",  ".3g2",  ".opus", ".ogg", ".oga", ".wma",  ".asf",
        ".mp4", ".mov",  ".avi", ".mkv",  ".mka",  ".webm", ".ts",  ".mts", ".m2ts", ".gsm"};
    return known.count(ext) > 0;
}

// The name an output keeps with --format: the input's where the format may be kept.
std::string keptExtension(const fs::path& input) {
    std::string ext = input.extension().string();
    std::string lower = ext;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool lossless = lower == ".wav" || lower == ".flac" || lower == ".aif" ||
                          lower == ".aiff" || lower == ".rf64";
    return lossless ? ext : ".wav";
}

struct PlannedJob {
    Job job;
    std::string refused; // set when the plan itself refuses the job
};

std::vector<PlannedJob> planJobs(const Arguments& a) {
    if (a.positional.empty()) {
        throw UsageError{"no input files"};
    }
    if (a.output.empty()) {
        throw UsageError{"no output given (-o FILE or -o FOLDER)"};
    }
    std::vector<std::string> inputs;
    bool folderInput = false;
    for (const std::string& in : a.positional) {
        std::error_code ec;
        if (fs::is_directory(in, ec)) {
            folderInput = true;
            std::vector<std::string> found;
            for (const auto& entry : fs::directory_iterator(in, ec)) {
                if (entry.is_regular_file(ec) && isAudioName(entry.path()) &&
                    entry.path().filename().string()[0] != '.') {
                    found.push_back(entry.path().string());
                }
            }
            if (ec) {
                throw UsageError{"folder '" + in + "' cannot be read: " + ec.message()};
            }
            std::sort(found.begin(), found.end());
            inputs.insert(inputs.end(), found.begin(), found.end());
        } else {
            inputs.push_back(in); // a missing file fails as a job, not the batch
        }
    }
    if (inputs.empty()) {
        throw UsageError{"no audio or video files (.wav, .flac, .mp3, .m4a, .mp4, ...) in the "
                         "given folders"};
    }
    std::error_code ec;
    const bool toFolder = inputs.size() > 1 || folderInput || fs::is_directory(a.output, ec) ||
                          a.output.back() == '/';
    if (toFolder) {
        if (!fs::is_directory(a.output, ec)) {
            fs::create_directories(a.output, ec);
            if (ec) {
                throw UsageError{"output folder '" + a.output +
                                 "' cannot be created: " + ec.message()};
            }
        }
        if (!a.residue.empty() && !fs::is_directory(a.residue, ec)) {
            fs::create_directories(a.residue, ec);
            if (ec) {
                throw UsageError{"residue folder '" + a.residue +
                                 "' cannot be created: " + ec.message()};
            }
        }
    }
    if (!toFolder) {
        const fs::path parent = fs::path(a.output).parent_path();
        if (!parent.empty() && !fs::is_directory(parent, ec)) {
            fs::create_directories(parent, ec);
            if (ec) {
                throw UsageError{"output folder '" + parent.string() +
                                 "' cannot be created: " + ec.message()};
            }
        }
    }
    std::vector<PlannedJob> jobs;
    // Output name without its extension (the report and record share it) -> input claiming it.
    std::map<std::string, std::string> claimed;
    for (const std::string& in : inputs) {
        PlannedJob planned;
        planned.job.input = in;
        const fs::path inPath(in);
        const std::string ext = a.options.keepFormat ? keptExtension(inPath) : ".wav";
        if (toFolder) {
            planned.job.output = (fs::path(a.output) / (inPath.stem().string() + ext)).string();
            if (!a.residue.empty()) {
                planned.job.residue =
                    (fs::path(a.residue) / (inPath.stem().string() + ".residue" + ext)).string();
            }
        } else {
            planned.job.output = a.output;
            planned.job.residue = a.residue;
        }
        const std::string key =
            fs::absolute(planned.job.output).lexically_normal().replace_extension().string();
        if (claimed.count(key) > 0) {
            planned.refused = "refused: output " + planned.job.output +
                              " would also be the output of " + claimed[key];
        }
        claimed.emplace(key, in);
        for (const std::string& other : inputs) {
            if (fs::exists(planned.job.output, ec) && fs::exists(other, ec) &&
                fs::equivalent(planned.job.output, other, ec)) {
                planned.refused = "refused: output " + planned.job.output + " is an input";
            }
        }
        jobs.push_back(planned);
    }
    return jobs;
}

// One status line on a terminal, shared by the workers.
class ProgressLine {
public:
    ProgressLine(std::ostream& err, bool enabled) : err(err), enabled(enabled) {}
    void show(std::size_t job, const std::string& name, double fraction) {
        if (!enabled) {
            return;
        }
        const int percent = static_cast<int>(fraction * 100.0);
        std::lock_guard<std::mutex> lock(mutex);
        auto& last = shown[job];
        if (percent == last) {
            return;
        }
        last = percent;
        constexpr int kWidth = 30;
        const int filled = std::clamp(percent * kWidth / 100, 0, kWidth);
        err << "\r\033[K" << fs::path(name).filename().string() << " [" << std::string(filled, '#')
            << std::string(kWidth - filled, '.') << "] " << percent << "%" << std::flush;
    }
    void clear() {
        if (enabled) {
            std::lock_guard<std::mutex> lock(mutex);
            err << "\r\033[K" << std::flush;
        }
    }

private:
    std::ostream& err;
    bool enabled;
    std::mutex mutex;
    std::map<std::size_t, int> shown;
};

std::string joined(int argc, char** argv) {
    std::string text;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += argv[i];
    }
    return text;
}

int runProcess(const std::vector<std::string>& args, const std::string& commandLine,
               std::ostream& out, std::ostream& err) {
    Arguments a = parseArguments(args);
    a.options.commandLine = commandLine;
    std::vector<PlannedJob> planned = planJobs(a);

    interrupted.store(false);
    a.options.cancel = &interrupted;
    auto previousInt = std::signal(SIGINT, onSignal);
    auto previousTerm = std::signal(SIGTERM, onSignal);

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t workers = std::min<std::size_t>(
        planned.size(), a.jobs > 0 ? static_cast<std::size_t>(a.jobs) : cores);
    std::vector<JobResult> results(planned.size());
    std::atomic<std::size_t> next{0};
    ProgressLine progress(err, !a.quiet && isatty(STDERR_FILENO) != 0);
    auto work = [&]() {
        for (std::size_t k = next++; k < planned.size(); k = next++) {
            if (!planned[k].refused.empty()) {
                results[k].error = planned[k].refused;
                continue;
            }
            results[k] = runJob(planned[k].job, a.options, [&, k](double fraction) {
                progress.show(k, planned[k].job.input, fraction);
            });
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t t = 1; t < workers; ++t) {
        threads.emplace_back(work);
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    progress.clear();
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);

    std::size_t failed = 0;
    for (std::size_t k = 0; k < planned.size(); ++k) {
        const JobResult& r = results[k];
        for (const std::string& warning : r.warnings) {
            err << "warning: " << planned[k].job.input << ": " << warning << "\n";
        }
        if (r.ok) {
            if (!a.quiet) {
                out << "restored " << planned[k].job.input << " -> " << planned[k].job.output
                    << " (" << r.frames << " frames, " << r.sampleRate << " Hz, " << r.channels
                    << (r.channels == 1 ? " channel" : " channels") << ", delay of " << r.latency
                    << " frames compensated)\n";
            }
        } else {
            ++failed;
            err << "FAILED " << planned[k].job.input << ": " << r.error << "\n";
        }
    }
    if (failed > 0 || !a.quiet) {
        (failed > 0 ? err : out) << "veltrano: " << planned.size() - failed << " of "
                                 << planned.size() << " file" << (planned.size() == 1 ? "" : "s")
                                 << " restored"
                                 << (failed > 0 ? ", " + std::to_string(failed) + " failed" : "")
                                 << "\n";
    }
    if (interrupted.load()) {
        return 130;
    }
    return failed > 0 ? 1 : 0;
}

std::string secondsText(double t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", t);
    return text;
}

// Lists the streams of each file; a file that cannot be read, or whose chosen stream is not
// audio, fails (exit status 1) and the others are still listed.
int runProbe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Arguments a = parseArguments(args);
    if (a.positional.empty()) {
        throw UsageError{"probe: give one or more files"};
    }
    JsonWriter json;
    json.beginObject();
    json.beginArray("files");
    int failed = 0;
    for (const std::string& path : a.positional) {
        FileStreams found;
        std::string error;
        int chosen = -1;
        try {
            found = probeStreams(path);
            chosen = chooseAudioStream(found, a.options.stream);
        } catch (const SourceError& failure) {
            error = failure.what();
            ++failed;
        }
        if (!error.empty()) {
            err << "FAILED " << path << ": " << error << "\n";
        }
        if (a.json) {
            json.beginObject();
            json.string("path", path);
            if (found.container.empty()) {
                json.null("container");
            } else {
                json.string("container", found.container);
            }
            if (chosen < 0) {
                json.null("audio_stream");
            } else {
                json.integer("audio_stream", chosen);
            }
            json.beginArray("streams");
            for (const StreamInfo& s : found.streams) {
                json.beginObject();
                json.integer("index", s.index);
                json.string("type", s.type);
                json.string("codec", s.codec);
                if (s.type == "audio") {
                    json.integer("sample_rate", s.sampleRate);
                    json.integer("channels", s.channels);
                }
                if (s.durationSeconds < 0.0) {
                    json.null("duration_seconds");
                } else {
                    json.number("duration_seconds", s.durationSeconds);
                }
                json.number("start_time_seconds", s.startSeconds);
                json.endObject();
            }
            json.endArray();
            if (error.empty()) {
                json.null("error");
            } else {
                json.string("error", error);
            }
            json.endObject();
            continue;
        }
        if (found.container.empty()) {
            continue;
        }
        out << path << ": " << found.container << "\n";
        for (const StreamInfo& s : found.streams) {
            out << "  stream " << s.index << ": " << s.type << ", " << s.codec;
            if (s.type == "audio") {
                out << ", " << s.sampleRate << " Hz, " << s.channels
                    << (s.channels == 1 ? " channel" : " channels");
            }
            out << ", duration "
                << (s.durationSeconds < 0.0 ? std::string("unknown")
                                            : secondsText(s.durationSeconds))
                << ", start " << secondsText(s.startSeconds)
                << (s.index == chosen ? "  <- audio read" : "") << "\n";
        }
    }
    json.endArray();
    json.endObject();
    if (a.json) {
        out << json.text() << "\n";
    }
    return failed > 0 ? 1 : 0;
}

int runSettings(const std::vector<std::string>& args, std::ostream& out) {
    if (args.empty()) {
        throw UsageError{"settings: show, save FILE or picture FILE.png"};
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    Arguments a = parseArguments(rest);
    if (args[0] == "show") {
        if (!a.positional.empty()) {
            throw UsageError{"settings show: unexpected '" + a.positional[0] + "'"};
        }
        out << a.options.settings.showText();
        return 0;
    }
    if (args[0] == "save") {
        if (a.positional.size() != 1) {
            throw UsageError{"settings save: give one FILE"};
        }
        const std::string& path = a.positional[0];
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << a.options.settings.saveText();
        file.flush();
        if (!file) {
            throw UsageError{"settings save: cannot write '" + path + "'"};
        }
        return 0;
    }
    if (args[0] == "picture") {
        if (a.positional.size() != 1) {
            throw UsageError{"settings picture: give one FILE.png"};
        }
        const std::string& path = a.positional[0];
        std::error_code ec;
        if (!a.options.overwrite && std::filesystem::exists(path, ec)) {
            throw UsageError{"settings picture: '" + path + "' exists (--overwrite replaces it)"};
        }
        const std::vector<std::uint8_t> png = settingsPicture(a.options.settings);
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(png.data()),
                   static_cast<std::streamsize>(png.size()));
        file.close();
        if (png.empty() || !file) {
            throw UsageError{"settings picture: cannot write '" + path + "'"};
        }
        return 0;
    }
    throw UsageError{"settings: '" + args[0] + "' is not show, save or picture"};
}

} // namespace

int run(int argc, char** argv, std::ostream& out, std::ostream& err) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
            (args.empty() ? err : out) << kUsage;
            return args.empty() ? 2 : 0;
        }
        if (args[0] == "--version" || args[0] == "version") {
            out << "veltrano " << programVersion() << " (" << programBuild() << ")\n";
            return 0;
        }
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (args[0] == "process") {
            return runProcess(rest, joined(argc, argv), out, err);
        }
        if (args[0] == "settings") {
            return runSettings(rest, out);
        }
        if (args[0] == "verify") {
            return runVerify(rest, out, err);
        }
        if (args[0] == "probe") {
            return runProbe(rest, out, err);
        }
        if (args[0] == "demo") {
            std::string folder = "veltrano-demo";
            for (std::size_t i = 0; i < rest.size(); ++i) {
                if ((rest[i] == "-o" || rest[i] == "--output") && i + 1 < rest.size()) {
                    folder = rest[++i];
                } else {
                    throw UsageError{"demo: unexpected '" + rest[i] + "'"};
                }
            }
            return runDemo(folder, out, err);
        }
        throw UsageError{"unknown command '" + args[0] + "'"};
    } catch (const UsageError& error) {
        err << "veltrano: " << error.message << "\n"
            << "(veltrano --help for usage)\n";
        return 2;
    } catch (const SettingError& error) {
        err << "veltrano: " << error.what() << "\n";
        return 2;
    } catch (const std::exception& error) {
        err << "veltrano: " << error.what() << "\n";
        return 2;
    }
}

} // namespace cli
