// SHA-256 against the standard's examples; the JSON writer's escaping, numbers and text that is
// not UTF-8.
#include "cli/Json.h"
#include "cli/Sha256.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

TEST(Sha256, StandardVectors) {
    EXPECT_EQ(cli::sha256Hex("", 0),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(cli::sha256Hex("abc", 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(cli::sha256Hex(two.data(), two.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // A million 'a', through a file (read in pieces).
    const std::string path = ::testing::TempDir() + "/sha-million-a";
    {
        std::ofstream out(path, std::ios::binary);
        out << std::string(1000000, 'a');
    }
    std::uintmax_t size = 0;
    EXPECT_EQ(cli::sha256File(path, &size),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(size, 1000000u);
    std::remove(path.c_str());
    EXPECT_EQ(cli::sha256File(path), "");
}

TEST(Json, EscapesAndNumbers) {
    cli::JsonWriter json;
    json.beginObject();
    json.string("path", "a\"b\\c\n\t\x01 é");
    json.string("name", "caf\xe9"); // Latin-1, not UTF-8
    json.number("x", 0.16656236350536346);
    json.number("inf", -HUGE_VAL);
    json.integer("n", -5);
    json.beginArray("empty");
    json.endArray();
    json.beginArray("list");
    json.string(nullptr, "w");
    json.endArray();
    json.endObject();
    EXPECT_EQ(json.text(), "{\n"
                           "  \"path\": \"a\\\"b\\\\c\\n\\t\\u0001 é\",\n"
                           "  \"name\": \"caf\xEF\xBF\xBD\",\n"
                           "  \"name_hex\": \"636166e9\",\n"
                           "  \"x\": 0.16656236350536346,\n"
                           "  \"inf\": null,\n"
                           "  \"n\": -5,\n"
                           "  \"empty\": [],\n"
                           "  \"list\": [\n"
                           "    \"w\"\n"
                           "  ]\n"
                           "}\n");
}

} // namespace
