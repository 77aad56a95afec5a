#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace audio {

// A ring of bytes between one writing thread and one reading thread (an audio callback on one
// side): neither ever waits, locks or allocates; each only learns how much there is room for or to
// read. The capacity is fixed at construction.
class CByteRing {
public:
    // A ring holding up to `capacity` bytes (rounded up to a power of two).
    explicit CByteRing(std::size_t capacity);

    // Copies up to `count` bytes in, as many as there is room for; returns how many. Writer only.
    std::size_t Write(const unsigned char* bytes, std::size_t count);
    // Copies up to `count` bytes out, as many as there are; returns how many. Reader only.
    std::size_t Read(unsigned char* bytes, std::size_t count);
    // Bytes there are to read (the reader's view) and room there is to write (the writer's view).
    std::size_t Readable() const;
    std::size_t Writable() const;
    std::size_t Capacity() const { return m_aBytes.size(); }

private:
    std::vector<unsigned char> m_aBytes;
    std::size_t m_nMask;
    std::atomic<std::uint64_t> m_nWritten{0}; // bytes ever written: the writer's; read by the reader
    std::atomic<std::uint64_t> m_nRead{0};    // bytes ever read: the reader's; read by the writer
};

} // namespace audio
