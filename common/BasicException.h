// Root of the exceptions our library-like classes throw (the real FFT wrapper's among them).
//
// A BasicException carries an error number (0: none), an extra message (empty: none), the
// source file that threw it (empty: unknown) and the line there (0: unknown). Each derived class
// overrides description() with its fixed text; report() assembles everything for a log or a
// message box, one item a line, lines separated by "\n" with no trailing separator:
//
//     Error Number: <number>      only when the number is not 0
//     <description()>
//     <message>                   only when not empty
//     Source File: <file>         only when not empty
//     Line Number: <line>         only when not 0
//
// It derives from std::exception, with what() returning description(), so that a catch of
// std::exception at the host boundary also stops these; nothing relies on the order of the
// virtual functions.
#pragma once

#include <exception>
#include <string>

namespace Exceptions {

class BasicException : public std::exception {
public:
    explicit BasicException(int errorNumber = 0, std::string message = {},
                            std::string sourceFile = {}, int lineNumber = 0);

    // The class's fixed text; derived classes override it.
    virtual const char* description() const noexcept;
    ~BasicException() override;
    // All fields as lines (see above).
    virtual std::string report() const;

    const char* what() const noexcept override { return description(); }

    int errorNumber() const { return number; }
    const std::string& message() const { return extraMessage; }
    const std::string& sourceFile() const { return fileName; }
    int lineNumber() const { return line; }

private:
    int number;               // error number, 0 when there is none
    std::string extraMessage; // detail added by the thrower, may be empty
    std::string fileName;     // source file that threw, may be empty
    int line;                 // line in that file, 0 when unknown
};

} // namespace Exceptions
