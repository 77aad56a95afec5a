#pragma once
// A FIFO that ALSA's file plugin reads as an input device (its `infile`), fed by a thread of the test
// at a steady pace: the plugin alone runs as fast as it can, and a live measurement rightly refuses a
// recording that outruns it.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

namespace test {

class CPacedFifo {
public:
    // Makes the FIFO at `path` and holds it open for reading and writing, so that opening it (PortAudio
    // probes every device) never waits for a writer, whoever comes first.
    explicit CPacedFifo(const std::filesystem::path& path);
    // Stops the feeding and closes the FIFO.
    ~CPacedFifo();
    CPacedFifo(const CPacedFifo&) = delete;
    CPacedFifo& operator=(const CPacedFifo&) = delete;

    // Feeds 32-bit float stereo frames from now on, `framesPerSecond` of them a second, in writes of
    // 512 frames (4096 bytes: a pipe takes them whole or not at all), for at most a minute: `period`
    // (interleaved left, right) over and over, with Gaussian noise of `noise` RMS added to the left
    // (seeded by `seed`), and silence at the frames `silent` names (if given).
    void Feed(std::vector<double> period, double framesPerSecond, double noise = 0.0, unsigned seed = 1,
              std::function<bool(std::uint64_t frame)> silent = {});

private:
    int m_nFd = -1;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

} // namespace test
