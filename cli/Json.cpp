#include "cli/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace cli {

std::string JsonWriter::escape(const std::string& value) {
    std::string text = "\"";
    for (unsigned char c : value) {
        switch (c) {
        case '"':
            text += "\\\"";
            break;
        case '\\':
            text += "\\\\";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\r':
            text += "\\r";
            break;
        case '\t':
            text += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char code[8];
                std::snprintf(code, sizeof code, "\\u%04x", c);
                text += code;
            } else {
                text += static_cast<char>(c); // UTF-8 passes through
            }
        }
    }
    return text + "\"";
}

void JsonWriter::item(const char* key) {
    if (!first.empty()) {
        out += first.back() ? "\n" : ",\n";
        first.back() = false;
        out.append(first.size() * 2, ' ');
    }
    if (key != nullptr) {
        out += escape(key) + ": ";
    }
}

void JsonWriter::beginObject(const char* key) {
    item(key);
    out += "{";
    first.push_back(true);
}

void JsonWriter::endObject() {
    const bool empty = first.back();
    first.pop_back();
    if (!empty) {
        out += "\n";
        out.append(first.size() * 2, ' ');
    }
    out += "}";
    if (first.empty()) {
        out += "\n";
    }
}

void JsonWriter::beginArray(const char* key) {
    item(key);
    out += "[";
    first.push_back(true);
}

void JsonWriter::endArray() {
    const bool empty = first.back();
    first.pop_back();
    if (!empty) {
        out += "\n";
        out.append(first.size() * 2, ' ');
    }
    out += "]";
}

void JsonWriter::string(const char* key, const std::string& value) {
    item(key);
    out += escape(value);
}

void JsonWriter::number(const char* key, double value) {
    item(key);
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    // The shortest of 9 ... 17 digits that reads back to the same double.
    for (int digits = 9; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) {
            break;
        }
    }
    out += text;
}

void JsonWriter::integer(const char* key, std::int64_t value) {
    item(key);
    out += std::to_string(value);
}

void JsonWriter::boolean(const char* key, bool value) {
    item(key);
    out += value ? "true" : "false";
}

void JsonWriter::null(const char* key) {
    item(key);
    out += "null";
}

} // namespace cli
