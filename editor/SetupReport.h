// The setup report: a one-page plain-text record of the complete enhancement setting, with
// blanks for the case number and the examiner's initials. The editor's Report button and the
// command line write it from the same function.
//
// The text is 8-bit; every line break is written as carriage return plus line feed, whatever
// the platform, so the stream should be opened in binary mode. The numbers are written in
// fixed-point notation; the stream keeps that notation and the last precision afterwards.
#pragma once

#include <ctime>
#include <iosfwd>
#include <string>

class VeltranoVST;

// Writes the report of the plug-in's stored setting, dated with the local time of `when`.
std::ostream& writeSetupReport(std::ostream& out, VeltranoVST& plugin, std::time_t when);
// The same, dated now.
std::ostream& writeSetupReport(std::ostream& out, VeltranoVST& plugin);

// The standard library's ctime form of the local time, ending in its line break
// ("Tue Dec  8 02:07:37 2026\n"); reentrant.
std::string ctimeText(std::time_t when);
