#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <vector>

#include "audio/byte_ring.h"

// One thread writes a counting sequence in pieces of random size, another reads it in pieces of
// other sizes through a small ring: every byte arrives once, in order, across many wraps.
TEST(ByteRing, CarriesEveryByteInOrderBetweenTwoThreads) {
    audio::CByteRing ring(100); // rounded up to 128
    EXPECT_EQ(ring.Capacity(), 128u);
    constexpr std::size_t kBytes = 1 << 20;
    std::thread writer([&] {
        std::mt19937 random(1);
        std::vector<unsigned char> piece(300);
        for (std::size_t sent = 0; sent < kBytes;) {
            const std::size_t want = std::min<std::size_t>(random() % 300 + 1, kBytes - sent);
            for (std::size_t i = 0; i < want; ++i) {
                piece[i] = static_cast<unsigned char>((sent + i) * 7);
            }
            const std::size_t wrote = ring.Write(piece.data(), want);
            EXPECT_LE(wrote, want);
            sent += wrote;
            if (wrote == 0) {
                std::this_thread::yield();
            }
        }
    });
    std::mt19937 random(2);
    std::vector<unsigned char> piece(200);
    std::size_t received = 0, wrong = 0;
    while (received < kBytes) {
        const std::size_t got = ring.Read(piece.data(), random() % 200 + 1);
        for (std::size_t i = 0; i < got; ++i) {
            wrong += piece[i] != static_cast<unsigned char>((received + i) * 7);
        }
        received += got;
        if (got == 0) {
            std::this_thread::yield();
        }
    }
    writer.join();
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(ring.Readable(), 0u);
    EXPECT_EQ(ring.Writable(), 128u);
}
