// Writes the processing record: objects and arrays opened and closed in order, the document
// built as a JSON value (keys in the order written) and printed indented two blanks a level.
// Numbers read back to the same value; non-finite numbers are written as null. Text that is not
// valid UTF-8 (a file name can be anything) has its bad bytes replaced by U+FFFD, so that the
// output is always valid JSON; a keyed value also gets "KEY_hex" beside it, its exact bytes in
// lower-case hexadecimal.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

class JsonWriter {
public:
    void beginObject(const char* key = nullptr);
    void endObject();
    void beginArray(const char* key = nullptr);
    void endArray();

    void string(const char* key, const std::string& value);
    void number(const char* key, double value); // non-finite values as null
    void integer(const char* key, std::int64_t value);
    void boolean(const char* key, bool value);
    void null(const char* key);

    // The document as text; complete (with a final line break) once the outermost value is
    // closed.
    const std::string& text() const;

    static std::string escape(const std::string& value);

private:
    nlohmann::ordered_json& add(const char* key, nlohmann::ordered_json value);
    nlohmann::ordered_json root;
    std::vector<nlohmann::ordered_json*> open; // the containers not yet closed, outermost first
    bool started = false;
    mutable std::string out;
};

} // namespace cli
