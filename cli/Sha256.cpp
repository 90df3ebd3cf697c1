#include "cli/Sha256.h"

#include <nettle/sha2.h>

#include <cstdio>
#include <fstream>
#include <vector>

namespace cli {

namespace {

std::string hex(const std::uint8_t* digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < SHA256_DIGEST_SIZE; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 15];
    }
    return text;
}

} // namespace

std::string sha256Hex(const void* data, std::size_t size) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, size, static_cast<const std::uint8_t*>(data));
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, SHA256_DIGEST_SIZE, digest);
    return hex(digest);
}

std::string sha256File(const std::string& path, std::uintmax_t* size) {
    std::ifstream in(path, std::ios::binary | std::ios::in);
    if (!in) {
        return {};
    }
    sha256_ctx context;
    sha256_init(&context);
    std::vector<char> buffer(1 << 16);
    std::uintmax_t total = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::streamsize n = in.gcount();
        if (n <= 0) {
            break;
        }
        sha256_update(&context, static_cast<std::size_t>(n),
                      reinterpret_cast<const std::uint8_t*>(buffer.data()));
        total += static_cast<std::uintmax_t>(n);
    }
    if (in.bad()) {
        return {};
    }
    if (size != nullptr) {
        *size = total;
    }
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, SHA256_DIGEST_SIZE, digest);
    return hex(digest);
}

struct Sha256::State {
    sha256_ctx context;
};

Sha256::Sha256() : state(std::make_unique<State>()) {
    sha256_init(&state->context);
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, std::size_t size) {
    sha256_update(&state->context, size, static_cast<const std::uint8_t*>(data));
}

std::string Sha256::hex() {
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&state->context, SHA256_DIGEST_SIZE, digest);
    return cli::hex(digest);
}

} // namespace cli
