// The case report: one self-contained HTML page beside an output (NAME.report.html) that shows
// what came in, what was done and what came out. No script, no network: pictures are PNG data
// URIs, plots are inline SVG with real text, and a print style lays it out on A4.
//
// What it shows comes from the processing record as written (identities, formats, levels,
// warnings), the setting, and the analyses made while the file streamed through the chain:
// spectrograms of input, output and residue on one time axis and one dB colour scale, the RMS
// level over time, a min/max waveform overview, and the tracked hum frequency over time.
#pragma once

#include "cli/CaseAnalysis.h"
#include "cli/Settings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

struct CaseReportInputs {
    std::string recordText;                  // the processing record (JSON), as written
    std::string recordPath;                  // where the record is, for the verify command
    Settings settings;                       // the setting the chain ran with
    std::vector<std::uint8_t> panelPng;      // the editor's panel with that setting; empty: none
    const SignalOverview* input = nullptr;   // required
    const SignalOverview* output = nullptr;  // required
    const SignalOverview* residue = nullptr; // null: no residue written
    const ValueTrack* hum = nullptr;         // the tracked hum frequency (Hz); null: not tracked
};

// The page. Throws std::invalid_argument when the record cannot be read or an analysis is
// missing.
std::string caseReportHtml(const CaseReportInputs& inputs);

// A word for a POSIX shell: unchanged when it holds only safe characters, else single-quoted.
std::string shellWord(const std::string& text);

// Text for HTML content and attribute values (& < > " ' escaped).
std::string htmlEscape(const std::string& text);

// Standard base64 with padding.
std::string base64(const std::vector<std::uint8_t>& bytes);

// A time for an axis: "m:ss" below an hour, "h:mm:ss" from an hour; tenths when `tenths`.
std::string clockText(double seconds, bool tenths = false);

} // namespace cli
