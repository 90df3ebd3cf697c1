// SHA-256 (FIPS 180-4) of byte strings and files, as lower-case hexadecimal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace cli {

std::string sha256Hex(const void* data, std::size_t size);
// The digest of a file's bytes, read through a read-only stream; empty when it cannot be read.
// `size` receives the number of bytes read.
std::string sha256File(const std::string& path, std::uintmax_t* size = nullptr);

// The digest of bytes given in pieces.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void update(const void* data, std::size_t size);
    std::string hex(); // the digest of everything given; ends the hashing

private:
    struct State;
    std::unique_ptr<State> state;
};

} // namespace cli
