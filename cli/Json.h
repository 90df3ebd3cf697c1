// A small writer of JSON text: objects and arrays opened and closed in order, strings escaped,
// numbers written so that they read back to the same value. Indented two blanks a level.
#pragma once

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

    const std::string& text() const { return out; }

    static std::string escape(const std::string& value);

private:
    void item(const char* key);
    std::string out;
    std::vector<bool> first; // per open level: nothing written in it yet
};

} // namespace cli
