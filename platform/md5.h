#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform {

// The MD5 digest (RFC 1321) of a stream of bytes given in pieces. FLAC's STREAMINFO holds the MD5
// of a file's samples; computing it here lets it run beside the encoder. Not thread-safe.
class CMd5 {
public:
    CMd5();
    // Adds `count` bytes.
    void Add(const unsigned char* bytes, std::size_t count);
    // The digest of everything added; the object is spent afterwards.
    std::array<unsigned char, 16> Finish();

private:
    void Block(const unsigned char* block);

    std::array<std::uint32_t, 4> m_aState;
    std::array<unsigned char, 64> m_aPending{};
    std::size_t m_nPending = 0;
    std::uint64_t m_nBytes = 0;
};

} // namespace platform
