#include "cli/Job.h"

#include "cli/AudioSource.h"
#include "cli/CaseAnalysis.h"
#include "cli/CaseReport.h"
#include "cli/Json.h"
#include "cli/Restorer.h"
#include "cli/SettingsPicture.h"
#include "cli/Sha256.h"
#include "editor/SetupReport.h"
#include "plugin/VeltranoVST.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>

#ifndef VELTRANO_VERSION
#define VELTRANO_VERSION "0.0.0"
#endif
#ifndef VELTRANO_BUILD
#define VELTRANO_BUILD "unknown"
#endif

namespace fs = std::filesystem;

namespace cli {

namespace {

// Raised inside a job; its text becomes the job's error.
struct JobFailure {
    std::string message;
};

[[noreturn]] void fail(const std::string& message) {
    throw JobFailure{message};
}

std::string withoutExtension(const std::string& path) {
    const fs::path p(path);
    return (p.parent_path() / p.stem()).string();
}

std::string writeFailure(int error) {
    if (error == ENOSPC || error == EDQUOT) {
        return "disk full";
    }
    return std::string("write failed (") + std::strerror(error) + ")";
}

// A file being written under a temporary name in its target folder; removed unless committed.
class PendingFile {
public:
    PendingFile(std::string finalPath, int serial) : target(std::move(finalPath)) {
        const fs::path p(target);
        fs::path folder = p.parent_path();
        if (folder.empty()) {
            folder = ".";
        }
        std::string name = ".";
        name += p.filename().string();
        name += ".part-";
        name += std::to_string(getpid());
        name += '-';
        name += std::to_string(serial);
        temporary = (folder / name).string();
    }
    ~PendingFile() {
        if (!committed) {
            std::remove(temporary.c_str());
        }
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::string& path() const { return temporary; }
    const std::string& finalPath() const { return target; }

    // Renames the temporary file to its final name; refuses to replace an existing file
    // unless `overwrite`.
    void commit(bool overwrite) {
        if (overwrite) {
            if (std::rename(temporary.c_str(), target.c_str()) != 0) {
                fail("cannot rename to " + target + ": " + std::strerror(errno));
            }
        } else {
            // A hard link fails when the name exists, so nothing is replaced even if another
            // program created the file meanwhile.
            if (link(temporary.c_str(), target.c_str()) == 0) {
                std::remove(temporary.c_str());
            } else if (errno == EEXIST) {
                fail(target + " exists (use --overwrite)");
            } else if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(),
                                 RENAME_NOREPLACE) != 0) {
                // File systems without hard links: renaming without replacing, where the
                // system offers it; otherwise the check made before processing stands.
                if (errno == EEXIST) {
                    fail(target + " exists (use --overwrite)");
                }
                std::error_code ec;
                if ((errno != EINVAL && errno != ENOSYS) || fs::exists(target, ec) ||
                    std::rename(temporary.c_str(), target.c_str()) != 0) {
                    fail("cannot create " + target + ": " + std::strerror(errno));
                }
            }
        }
        committed = true;
    }

private:
    std::string target;
    std::string temporary;
    bool committed = false;
};

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        fail("cannot write " + path + ": " + std::strerror(errno));
    }
    out << text;
    out.flush();
    if (!out) {
        fail(writeFailure(errno));
    }
}

class AudioWriter {
public:
    AudioWriter(const std::string& path, SF_INFO info) {
        // libsndfile keeps the error of a failed open in one global, shared with the reading
        // side: parallel jobs report their own errors.
        const std::lock_guard<std::mutex> guard(sndfileLock());
        file = sf_open(path.c_str(), SFM_WRITE, &info);
        if (file == nullptr) {
            fail("cannot write in " + fs::path(path).parent_path().string() + ": " +
                 sf_strerror(nullptr));
        }
        // No PEAK chunk: it holds the time of writing, and identical audio must give identical
        // files (and hashes).
        sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
        if ((info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_FLOAT &&
            (info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_DOUBLE) {
            // Integer formats saturate instead of wrapping around.
            sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        }
    }
    ~AudioWriter() {
        if (file != nullptr) {
            sf_close(file); // after a failure: the temporary file is removed anyway
        }
    }
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    void write(const float* frames, std::size_t count) {
        errno = 0;
        if (sf_writef_float(file, frames, static_cast<sf_count_t>(count)) !=
            static_cast<sf_count_t>(count)) {
            fail(writeFailure(errno != 0 ? errno : EIO));
        }
    }
    void close() {
        if (file != nullptr) {
            sf_write_sync(file);
            const int result = sf_close(file);
            file = nullptr;
            if (result != 0) {
                fail(writeFailure(errno != 0 ? errno : EIO));
            }
        }
    }

private:
    SNDFILE* file = nullptr;
};

std::string isoTime(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string hostSystem() {
    utsname name{};
    if (uname(&name) != 0) {
        return "unknown";
    }
    return std::string(name.sysname) + " " + name.release + " " + name.machine;
}

std::string absolute(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

void levelsJson(JsonWriter& json, const Levels& levels) {
    json.number("peak", levels.peak);
    json.number("peak_dbfs", levels.peakDb());
    json.number("rms_dbfs", levels.rmsDb());
    json.integer("clipped_samples", static_cast<std::int64_t>(levels.clipped));
    json.integer("non_finite_samples", static_cast<std::int64_t>(levels.nonFinite));
}

std::atomic<int> serialCounter{0};

// Formats kept by --format: lossless PCM that libsndfile writes as it reads.
bool losslessWritable(int format) {
    const int major = format & SF_FORMAT_TYPEMASK;
    const int sub = format & SF_FORMAT_SUBMASK;
    const bool container = major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX ||
                           major == SF_FORMAT_RF64 || major == SF_FORMAT_AIFF ||
                           major == SF_FORMAT_FLAC;
    const bool pcm = sub == SF_FORMAT_PCM_S8 || sub == SF_FORMAT_PCM_U8 ||
                     sub == SF_FORMAT_PCM_16 || sub == SF_FORMAT_PCM_24 ||
                     sub == SF_FORMAT_PCM_32 || sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
    return format != 0 && container && pcm;
}

bool hasAiffName(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".aif" || ext == ".aiff" || ext == ".aifc";
}

std::string channelProcessing(int channels) {
    if (channels == 1) {
        return "one mono chain";
    }
    if (channels == 2) {
        return "one stereo chain";
    }
    return "each channel through its own mono chain";
}

constexpr char kResidueDefinition[] =
    "what the filtering removed: the input delayed and band-limited exactly as the output, and "
    "turned by the high-pass's phase (90 degrees, 127.5 internal samples) where the high-pass "
    "is on, minus the output of the same setting without its level stages (auto-normalize, "
    "automatic gain control); aligned with the input sample for sample";

} // namespace

void Levels::add(const float* values, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const double x = std::fabs(static_cast<double>(values[i]));
        if (!std::isfinite(x)) {
            ++nonFinite;
            continue;
        }
        peak = std::max(peak, x);
        sumSquares += x * x;
        if (x >= 1.0) {
            ++clipped;
        }
    }
    samples += count;
}

double Levels::peakDb() const {
    return peak > 0.0 ? 20.0 * std::log10(peak) : -HUGE_VAL;
}

double Levels::rmsDb() const {
    return sumSquares > 0.0 ? 10.0 * std::log10(sumSquares / static_cast<double>(samples))
                            : -HUGE_VAL;
}

std::string reportPathFor(const std::string& output) {
    return withoutExtension(output) + ".report.txt";
}

std::string recordPathFor(const std::string& output) {
    return withoutExtension(output) + ".record.json";
}

std::string htmlReportPathFor(const std::string& output) {
    return withoutExtension(output) + ".report.html";
}

std::string programVersion() {
    return VELTRANO_VERSION;
}

std::string programBuild() {
    return VELTRANO_BUILD;
}

JobResult runJob(const Job& job, const JobOptions& options,
                 const std::function<void(double)>& progress) {
    JobResult result;
    result.reportPath = reportPathFor(job.output);
    result.recordPath = recordPathFor(job.output);
    if (options.htmlReport) {
        result.htmlPath = htmlReportPathFor(job.output);
    }
    const std::time_t started = std::time(nullptr);
    try {
        std::error_code ec;
        if (!fs::exists(job.input, ec)) {
            fail("unreadable: no such file");
        }
        if (!fs::is_regular_file(job.input, ec)) {
            fail("unreadable: not a regular file");
        }
        std::vector<std::string> targets = {job.output, result.reportPath, result.recordPath};
        if (!job.residue.empty()) {
            targets.push_back(job.residue);
        }
        if (!result.htmlPath.empty()) {
            targets.push_back(result.htmlPath);
        }
        for (const std::string& target : targets) {
            if (fs::exists(target, ec) && fs::equivalent(target, job.input, ec)) {
                fail("refused: output " + target + " is an input");
            }
            if (!options.overwrite && fs::exists(fs::symlink_status(target, ec))) {
                fail("refused: " + target + " exists (use --overwrite)");
            }
        }

        std::unique_ptr<AudioSource> source;
        try {
            source = openAudioSource(job.input, options.stream);
        } catch (const SourceError& error) {
            fail(error.what());
        }
        const SourceDescription& about = source->description();
        const int rate = source->sampleRate();
        const int channelCount = source->channels();
        result.sampleRate = rate;
        result.channels = channelCount;
        if (rate < 1) {
            fail("unsupported rate " + std::to_string(rate) + " Hz");
        }
        if (!supportedRate(rate)) {
            result.warnings.push_back(
                "sample rate " + std::to_string(rate) +
                " Hz is not one of the chain's rates; processed at the fallback row (the stages "
                "run at the file's own rate)");
        }

        SF_INFO outInfo{};
        outInfo.samplerate = rate;
        outInfo.channels = channelCount;
        const double bytes = static_cast<double>(source->declaredFrames()) * channelCount * 4.0;
        outInfo.format = (bytes > 4.0e9 ? SF_FORMAT_RF64 : SF_FORMAT_WAV) | SF_FORMAT_FLOAT;
        if (options.keepFormat) {
            if (losslessWritable(about.sndfileFormat)) {
                outInfo.format = about.sndfileFormat;
            } else {
                if (hasAiffName(job.output)) {
                    outInfo.format = SF_FORMAT_AIFF | SF_FORMAT_FLOAT; // as the name says
                }
                result.warnings.push_back(
                    "the input's format (" + about.container + ", " + about.codec +
                    ") is not a lossless one that can be written; written as " +
                    sndfileFormatName(outInfo.format) + " instead");
            }
        }
        if (!sf_format_check(&outInfo)) {
            fail("output format " + sndfileFormatName(outInfo.format) + " cannot be written");
        }

        Restorer restorer(options.settings, rate, channelCount);
        if (!options.blockPattern.empty()) {
            restorer.setBlockPattern(options.blockPattern);
        }
        result.latency = restorer.latency();
        // The report documents the setting as applied, before the audio path runs (automatic
        // tracking may move the hum frequency while it does).
        std::ostringstream report(std::ios::out | std::ios::binary);
        writeSetupReport(report, restorer.plugin(), started);
        const float startFrequency = restorer.plugin().humDetector(0).frequency;

        const int serial = serialCounter++;
        PendingFile outputFile(job.output, serial);
        std::unique_ptr<PendingFile> residueFile;
        std::unique_ptr<AudioWriter> residueWriter;
        AudioWriter writer(outputFile.path(), outInfo);
        if (!job.residue.empty()) {
            restorer.enableResidue();
            residueFile = std::make_unique<PendingFile>(job.residue, serial);
            residueWriter = std::make_unique<AudioWriter>(residueFile->path(), outInfo);
        }

        // Streams of unknown length are read to their end.
        const std::size_t declared = static_cast<std::size_t>(source->declaredFrames());
        const std::size_t limit = declared > 0 && about.sndfileFormat != 0
                                      ? declared
                                      : std::numeric_limits<std::size_t>::max();
        const std::size_t width = static_cast<std::size_t>(channelCount);
        // The case report's analyses, fed as the audio streams; fixed memory whatever the length.
        std::unique_ptr<SignalOverview> inputOverview;
        std::unique_ptr<SignalOverview> outputOverview;
        std::unique_ptr<SignalOverview> residueOverview;
        std::unique_ptr<ValueTrack> humTrack;
        if (options.htmlReport) {
            const std::uint64_t expected = source->declaredFrames();
            inputOverview = std::make_unique<SignalOverview>(rate, channelCount, expected);
            outputOverview = std::make_unique<SignalOverview>(rate, channelCount, expected);
            if (residueWriter) {
                residueOverview = std::make_unique<SignalOverview>(rate, channelCount, expected);
            }
            if (options.settings.value(kHumAutoTrack) == 1.0f) {
                humTrack = std::make_unique<ValueTrack>(static_cast<std::uint64_t>(rate) / 10);
            }
        }
        std::uint64_t framesRead = 0;
        Sha256 decodedHash; // of the decoded samples, little-endian float32 interleaved
        std::vector<float> swapped;
        const std::size_t frames = restorer.run(
            limit,
            [&](float* buffer, std::size_t maxFrames) -> std::size_t {
                if (options.cancel != nullptr && options.cancel->load()) {
                    fail("interrupted");
                }
                if (humTrack) {
                    humTrack->add(framesRead, restorer.plugin().humDetector(0).frequency);
                }
                const std::size_t n = source->read(buffer, maxFrames);
                framesRead += n;
                result.input.add(buffer, n * width);
                if (inputOverview) {
                    inputOverview->add(buffer, n);
                }
                if constexpr (std::endian::native == std::endian::little) {
                    decodedHash.update(buffer, n * width * sizeof(float));
                } else {
                    swapped.resize(n * width);
                    for (std::size_t i = 0; i < n * width; ++i) {
                        swapped[i] = std::bit_cast<float>(
                            __builtin_bswap32(std::bit_cast<std::uint32_t>(buffer[i])));
                    }
                    decodedHash.update(swapped.data(), swapped.size() * sizeof(float));
                }
                return n;
            },
            [&](const float* played, const float* removed, std::size_t n) {
                result.output.add(played, n * width);
                writer.write(played, n);
                if (residueWriter) {
                    residueWriter->write(removed, n);
                }
                if (outputOverview) {
                    outputOverview->add(played, n);
                    if (residueOverview) {
                        residueOverview->add(removed, n);
                    }
                }
            },
            [&](std::size_t done) {
                // Only files of more than a few seconds show their progress.
                if (progress && declared > 5 * static_cast<std::size_t>(rate)) {
                    progress(
                        std::min(1.0, static_cast<double>(done) / static_cast<double>(declared)));
                }
            });
        result.frames = frames;
        const std::vector<std::string>& decoderWarnings = source->warnings();
        result.warnings.insert(result.warnings.begin(), decoderWarnings.begin(),
                               decoderWarnings.end());
        const std::string decodedSha256 = decodedHash.hex();
        if (result.input.nonFinite > 0) {
            result.warnings.push_back(std::to_string(result.input.nonFinite) +
                                      " input samples are not finite numbers (NaN or infinite); "
                                      "the chain took them as silence");
        }
        if (frames == 0) {
            fail("corrupt: no audio frames could be read");
        }
        writer.close();
        if (residueWriter) {
            residueWriter->close();
        }
        if (inputOverview) {
            inputOverview->finish();
            outputOverview->finish();
            if (residueOverview) {
                residueOverview->finish();
            }
        }
        if (result.input.clipped > 0) {
            result.warnings.push_back(std::to_string(result.input.clipped) +
                                      " input samples are at or beyond full scale: the recording "
                                      "may have been clipped before it came here");
        }
        const int outputSubformat = outInfo.format & SF_FORMAT_SUBMASK;
        if (result.output.clipped > 0) {
            if (outputSubformat != SF_FORMAT_FLOAT && outputSubformat != SF_FORMAT_DOUBLE) {
                result.warnings.push_back(
                    std::to_string(result.output.clipped) +
                    " output samples at or beyond full scale were clipped by the integer "
                    "format; the default float output keeps them");
            } else {
                result.warnings.push_back(
                    std::to_string(result.output.clipped) +
                    " output samples are at or beyond full scale; the float file keeps them, "
                    "but playing it or converting it to integer samples clips them");
            }
        }

        std::uintmax_t inputBytes = 0;
        std::uintmax_t outputBytes = 0;
        std::uintmax_t residueBytes = 0;
        const std::string inputHash = sha256File(job.input, &inputBytes);
        const std::string outputHash = sha256File(outputFile.path(), &outputBytes);
        const std::string residueHash =
            residueFile ? sha256File(residueFile->path(), &residueBytes) : std::string();
        if (inputHash.empty() || outputHash.empty()) {
            fail("cannot read back for hashing");
        }

        // The record; the case report is made from it before its own identity is known.
        struct PageIdentity {
            std::uintmax_t bytes = 0;
            std::string sha256;
        };
        const auto recordText = [&](const PageIdentity* page) {
            JsonWriter json;
            json.beginObject();
            json.string("program", "veltrano");
            json.string("version", programVersion());
            json.string("build", programBuild());
            json.string("plugin", "Veltrano VST (Brimwater), VST 2.4, version 1");
            json.string("date_utc", isoTime(started));
            json.string("date_local", ctimeText(started).substr(0, 24));
            json.string("host_os", hostSystem());
            json.string("command_line", options.commandLine);
            if (options.caseId.empty()) {
                json.null("case_id");
            } else {
                json.string("case_id", options.caseId);
            }
            if (options.examiner.empty()) {
                json.null("examiner");
            } else {
                json.string("examiner", options.examiner);
            }
            json.beginObject("input");
            json.string("path", absolute(job.input));
            json.integer("bytes", static_cast<std::int64_t>(inputBytes));
            json.string("sha256", inputHash);
            json.string("format", about.sndfileFormat != 0 ? sndfileFormatName(about.sndfileFormat)
                                                           : about.container + ", " + about.codec);
            json.string("container", about.container);
            json.string("codec", about.codec);
            json.integer("stream_index", about.streamIndex);
            json.string("decoder", about.decoder);
            json.string("decoded_sample_format", about.decodedSampleFormat);
            json.number("start_time_seconds", about.startSeconds);
            json.beginArray("decoder_warnings");
            for (const std::string& warning : decoderWarnings) {
                json.string(nullptr, warning);
            }
            json.endArray();
            json.string("decoded_sha256", decodedSha256);
            levelsJson(json, result.input);
            json.endObject();
            json.beginObject("output");
            json.string("path", absolute(job.output));
            json.integer("bytes", static_cast<std::int64_t>(outputBytes));
            json.string("sha256", outputHash);
            json.string("format", sndfileFormatName(outInfo.format));
            levelsJson(json, result.output);
            json.endObject();
            if (residueFile) {
                json.beginObject("residue");
                json.string("path", absolute(job.residue));
                json.integer("bytes", static_cast<std::int64_t>(residueBytes));
                json.string("sha256", residueHash);
                json.string("definition", kResidueDefinition);
                json.endObject();
            } else {
                json.null("residue");
            }
            json.string("report", absolute(result.reportPath));
            if (page == nullptr) {
                json.null("html_report");
            } else {
                json.beginObject("html_report");
                json.string("path", absolute(result.htmlPath));
                json.integer("bytes", static_cast<std::int64_t>(page->bytes));
                json.string("sha256", page->sha256);
                json.endObject();
            }
            json.integer("sample_rate", rate);
            json.integer("channels", channelCount);
            json.string("channel_processing", channelProcessing(channelCount));
            json.integer("frames", static_cast<std::int64_t>(frames));
            json.integer("latency_frames", result.latency);
            json.boolean("rate_in_table", supportedRate(rate));
            json.integer("internal_rate",
                         static_cast<std::int64_t>(restorer.plugin().getSampleRate()));
            json.beginArray("parameters");
            for (const ParameterInfo& parameter : parameterTable()) {
                const float x = options.settings.value(parameter.index);
                json.beginObject();
                json.integer("index", parameter.index);
                json.string("name", parameter.name);
                json.number("normalized", x);
                if (parameter.unit == Unit::kSwitch) {
                    json.string("working", x == 1.0f ? "on" : x == 0.0f ? "off" : "other");
                } else {
                    json.number("working", workingValue(parameter.index, x));
                    json.string("unit", unitText(parameter.unit));
                }
                json.endObject();
            }
            json.endArray();
            json.number("hum_frequency_start_hz", startFrequency);
            json.number("hum_frequency_end_hz", restorer.plugin().humDetector(0).frequency);
            json.beginArray("warnings");
            for (const std::string& warning : result.warnings) {
                json.string(nullptr, warning);
            }
            json.endArray();
            json.endObject();
            return json.text();
        };

        PendingFile reportFile(result.reportPath, serial);
        PendingFile recordFile(result.recordPath, serial);
        writeText(reportFile.path(), report.str());
        std::unique_ptr<PendingFile> htmlFile;
        PageIdentity pageIdentity;
        if (!result.htmlPath.empty()) {
            CaseReportInputs page;
            page.recordText = recordText(nullptr);
            page.recordPath = absolute(result.recordPath);
            page.settings = options.settings;
            page.panelPng = settingsPicture(options.settings, static_cast<float>(rate));
            page.input = inputOverview.get();
            page.output = outputOverview.get();
            page.residue = residueOverview.get();
            page.hum = humTrack.get();
            htmlFile = std::make_unique<PendingFile>(result.htmlPath, serial);
            writeText(htmlFile->path(), caseReportHtml(page));
            pageIdentity.sha256 = sha256File(htmlFile->path(), &pageIdentity.bytes);
            if (pageIdentity.sha256.empty()) {
                fail("cannot read back for hashing");
            }
        }
        writeText(recordFile.path(), recordText(htmlFile ? &pageIdentity : nullptr));

        // The record last: a complete record means everything it names is in place.
        outputFile.commit(options.overwrite);
        if (residueFile) {
            residueFile->commit(options.overwrite);
        }
        reportFile.commit(options.overwrite);
        if (htmlFile) {
            htmlFile->commit(options.overwrite);
        }
        recordFile.commit(options.overwrite);
        result.ok = true;
    } catch (const JobFailure& failure) {
        result.error = failure.message;
    } catch (const std::exception& error) {
        result.error = error.what();
    }
    return result;
}

} // namespace cli
