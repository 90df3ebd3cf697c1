#include "cli/Json.h"

#include <cmath>
#include <stdexcept>

namespace cli {

namespace {

constexpr int kIndent = 2;

std::string dumped(const nlohmann::ordered_json& value) {
    return value.dump(kIndent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool isUtf8(const std::string& value) {
    try {
        (void)nlohmann::ordered_json(value).dump();
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
    return true;
}

} // namespace

std::string JsonWriter::escape(const std::string& value) {
    return dumped(nlohmann::ordered_json(value));
}

nlohmann::ordered_json& JsonWriter::add(const char* key, nlohmann::ordered_json value) {
    if (open.empty()) {
        if (started) {
            throw std::logic_error("JsonWriter: a second value after the document");
        }
        started = true;
        root = std::move(value);
        return root;
    }
    nlohmann::ordered_json& container = *open.back();
    if (container.is_object()) {
        if (key == nullptr) {
            throw std::logic_error("JsonWriter: a value without a key in an object");
        }
        // Later containers are only ever added to the innermost open one, so the references
        // kept in `open` stay valid.
        container[key] = std::move(value);
        return container[key];
    }
    container.push_back(std::move(value));
    return container.back();
}

void JsonWriter::beginObject(const char* key) {
    open.push_back(&add(key, nlohmann::ordered_json::object()));
}

void JsonWriter::endObject() {
    open.pop_back();
}

void JsonWriter::beginArray(const char* key) {
    open.push_back(&add(key, nlohmann::ordered_json::array()));
}

void JsonWriter::endArray() {
    open.pop_back();
}

void JsonWriter::string(const char* key, const std::string& value) {
    add(key, value);
    if (key != nullptr && !isUtf8(value)) {
        // A file name need not be UTF-8, and JSON text can only be: the text above has U+FFFD
        // for each bad byte, and "KEY_hex" keeps the exact bytes, so that the file can still be
        // found.
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string hex;
        for (unsigned char c : value) {
            hex += kDigits[c >> 4];
            hex += kDigits[c & 15];
        }
        add((std::string(key) + "_hex").c_str(), hex);
    }
}

void JsonWriter::number(const char* key, double value) {
    if (!std::isfinite(value)) {
        add(key, nullptr);
    } else if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0 &&
               !(value == 0.0 && std::signbit(value))) {
        // A whole number is written without ".0" (45, not 45.0), as in every record so far;
        // below 2^53 it is exact either way.
        add(key, static_cast<std::int64_t>(value));
    } else {
        add(key, value);
    }
}

void JsonWriter::integer(const char* key, std::int64_t value) {
    add(key, value);
}

void JsonWriter::boolean(const char* key, bool value) {
    add(key, value);
}

void JsonWriter::null(const char* key) {
    add(key, nullptr);
}

const std::string& JsonWriter::text() const {
    out = started ? dumped(root) : std::string();
    if (started && open.empty()) {
        out += '\n';
    }
    return out;
}

} // namespace cli
