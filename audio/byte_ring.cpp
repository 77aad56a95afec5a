#include "audio/byte_ring.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace audio {

CByteRing::CByteRing(std::size_t capacity)
    : m_aBytes(std::bit_ceil(std::max<std::size_t>(capacity, 64))), m_nMask(m_aBytes.size() - 1) {}

std::size_t CByteRing::Readable() const {
    return static_cast<std::size_t>(m_nWritten.load(std::memory_order_acquire) -
                                    m_nRead.load(std::memory_order_relaxed));
}

std::size_t CByteRing::Writable() const {
    return m_aBytes.size() - static_cast<std::size_t>(m_nWritten.load(std::memory_order_relaxed) -
                                                      m_nRead.load(std::memory_order_acquire));
}

std::size_t CByteRing::Write(const unsigned char* bytes, std::size_t count) {
    const std::uint64_t written = m_nWritten.load(std::memory_order_relaxed);
    count = std::min(count, Writable());
    const std::size_t at = static_cast<std::size_t>(written) & m_nMask;
    const std::size_t first = std::min(count, m_aBytes.size() - at);
    std::memcpy(m_aBytes.data() + at, bytes, first);
    std::memcpy(m_aBytes.data(), bytes + first, count - first);
    m_nWritten.store(written + count, std::memory_order_release); // the bytes before the count
    return count;
}

std::size_t CByteRing::Read(unsigned char* bytes, std::size_t count) {
    const std::uint64_t read = m_nRead.load(std::memory_order_relaxed);
    count = std::min(count, Readable());
    const std::size_t at = static_cast<std::size_t>(read) & m_nMask;
    const std::size_t first = std::min(count, m_aBytes.size() - at);
    std::memcpy(bytes, m_aBytes.data() + at, first);
    std::memcpy(bytes + first, m_aBytes.data(), count - first);
    m_nRead.store(read + count, std::memory_order_release); // the room after the bytes are out
    return count;
}

} // namespace audio
