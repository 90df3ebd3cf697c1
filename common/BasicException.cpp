#include "common/BasicException.h"

#include <utility>

namespace Exceptions {

BasicException::BasicException(int errorNumber, std::string message, std::string sourceFile,
                               int lineNumber)
    : number(errorNumber), extraMessage(std::move(message)), fileName(std::move(sourceFile)),
      line(lineNumber) {}

const char* BasicException::description() const noexcept {
    return "Basic Exception Text, This function should be overridden.";
}

BasicException::~BasicException() = default;

std::string BasicException::report() const {
    std::string text;
    if (number != 0) {
        text += "Error Number: " + std::to_string(number) + "\n";
    }
    text += description();
    if (!extraMessage.empty()) {
        text += "\n" + extraMessage;
    }
    if (!fileName.empty()) {
        text += "\nSource File: " + fileName;
    }
    if (line != 0) {
        text += "\nLine Number: " + std::to_string(line);
    }
    return text;
}

} // namespace Exceptions
