#include "platform/md5.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

// The per-step shift amounts and the constants floor(2^32 |sin(i + 1)|), as RFC 1321 lists them.
constexpr unsigned kShifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                  5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                  4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                  6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
constexpr std::uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

std::uint32_t RotateLeft(std::uint32_t value, unsigned shift) {
    return (value << shift) | (value >> (32 - shift));
}

} // namespace

CMd5::CMd5() : m_aState{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void CMd5::Block(const unsigned char* block) {
    std::uint32_t words[16];
    for (int i = 0; i < 16; ++i) { // little-endian words
        words[i] = std::uint32_t{block[4 * i]} | std::uint32_t{block[4 * i + 1]} << 8 |
                   std::uint32_t{block[4 * i + 2]} << 16 | std::uint32_t{block[4 * i + 3]} << 24;
    }
    std::uint32_t a = m_aState[0], b = m_aState[1], c = m_aState[2], d = m_aState[3];
    for (unsigned i = 0; i < 64; ++i) {
        std::uint32_t f = 0;
        unsigned g = 0;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const std::uint32_t next = b + RotateLeft(a + f + kSines[i] + words[g], kShifts[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    m_aState[0] += a;
    m_aState[1] += b;
    m_aState[2] += c;
    m_aState[3] += d;
}

void CMd5::Add(const unsigned char* bytes, std::size_t count) {
    m_nBytes += count;
    if (m_nPending > 0) {
        const std::size_t take = std::min(count, 64 - m_nPending);
        std::memcpy(m_aPending.data() + m_nPending, bytes, take);
        m_nPending += take;
        bytes += take;
        count -= take;
        if (m_nPending < 64) {
            return;
        }
        Block(m_aPending.data());
        m_nPending = 0;
    }
    for (; count >= 64; bytes += 64, count -= 64) {
        Block(bytes);
    }
    std::memcpy(m_aPending.data(), bytes, count);
    m_nPending = count;
}

std::array<unsigned char, 16> CMd5::Finish() {
    // A 1 bit, zeros up to 56 bytes into a block, then the length in bits, little-endian.
    const std::uint64_t bits = m_nBytes * 8;
    unsigned char padding[72] = {0x80};
    const std::size_t zeros = (m_nPending < 56 ? 56 : 120) - m_nPending;
    for (int i = 0; i < 8; ++i) {
        padding[zeros + static_cast<std::size_t>(i)] = static_cast<unsigned char>(bits >> (8 * i));
    }
    Add(padding, zeros + 8);
    std::array<unsigned char, 16> digest;
    for (int i = 0; i < 16; ++i) {
        digest[static_cast<std::size_t>(i)] = static_cast<unsigned char>(m_aState[i / 4] >> (8 * (i % 4)));
    }
    return digest;
}

} // namespace platform
