// One recording through the chain, as the command line runs it: read through an AudioSource
// (libsndfile or FFmpeg; never opened for writing), restored by a Restorer, written to temporary
// files in the target folder and renamed when complete, with the setup report, the processing
// record and (unless switched off) the HTML case report beside the output.
#pragma once

#include "cli/Settings.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace cli {

struct JobOptions {
    Settings settings;
    bool keepFormat = false;       // write the input's own format where it is lossless and
                                   // writable, instead of 32-bit float WAV
    int stream = -1;               // the audio stream read; -1: the file's first audio stream
    bool overwrite = false;        // replace existing outputs
    std::vector<int> blockPattern; // host call sizes; empty: the Restorer's default
    std::string caseId;            // empty: not given
    std::string examiner;          // empty: not given
    std::string commandLine;       // as invoked, for the record
    bool htmlReport = true;        // write the case report (NAME.report.html)
    const std::atomic<bool>* cancel = nullptr; // set when the run is interrupted
};

struct Job {
    std::string input;
    std::string output;
    std::string residue; // empty: none
};

// Peak and clipping of a signal; clipped samples are those at or beyond full scale (|x| >= 1).
struct Levels {
    double peak = 0.0;
    double sumSquares = 0.0;
    std::uint64_t samples = 0;
    std::uint64_t clipped = 0;
    std::uint64_t nonFinite = 0; // NaN or infinite samples (the chain takes them as silence)
    void add(const float* values, std::size_t count);
    double peakDb() const;
    double rmsDb() const;
};

struct JobResult {
    bool ok = false;
    std::string error; // why it failed: "unreadable: ...", "unsupported rate", "disk full", ...
    std::vector<std::string> warnings;
    std::string reportPath;
    std::string recordPath;
    std::string htmlPath; // empty: no case report asked for
    int sampleRate = 0;
    int channels = 0;
    std::uint64_t frames = 0;
    int latency = 0; // the plug-in's initialDelay: its true delay, compensated
    Levels input;
    Levels output;
};

// The report, record and case report paths beside an output: "x.wav" -> "x.report.txt",
// "x.record.json", "x.report.html".
std::string reportPathFor(const std::string& output);
std::string recordPathFor(const std::string& output);
std::string htmlReportPathFor(const std::string& output);

// Processes one job; never throws. `progress` gets the fraction done (0 ... 1).
JobResult runJob(const Job& job, const JobOptions& options,
                 const std::function<void(double)>& progress = {});

// The program's version and build, as the record shows them.
std::string programVersion();
std::string programBuild();

} // namespace cli
