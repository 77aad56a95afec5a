#include <gtest/gtest.h>
#include <string>

#include "platform/md5.h"

namespace {

std::string Hex(const std::array<unsigned char, 16>& digest) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

} // namespace

// RFC 1321's test suite, each fed whole and in uneven pieces (across the 64-byte blocks and the
// 56-byte padding edge).
TEST(Md5, GivesTheDigestsOfRfc1321InAnyPieces) {
    const std::pair<std::string, std::string> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, digest] : suite) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        platform::CMd5 whole;
        whole.Add(bytes, text.size());
        EXPECT_EQ(Hex(whole.Finish()), digest) << text;
        platform::CMd5 pieces;
        for (std::size_t at = 0, step = 1; at < text.size(); at += step, step = step * 2 + 1) {
            pieces.Add(bytes + at, std::min(step, text.size() - at));
        }
        EXPECT_EQ(Hex(pieces.Finish()), digest) << text << " in pieces";
    }
}
