#include "tests/support/paced_fifo.h"

#include <chrono>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace test {

CPacedFifo::CPacedFifo(const std::filesystem::path& path) {
    if (::mkfifo(path.c_str(), 0600) == 0) {
        m_nFd = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
    }
}

CPacedFifo::~CPacedFifo() {
    m_bStop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_nFd >= 0) {
        ::close(m_nFd);
    }
}

void CPacedFifo::Feed(std::vector<double> period, double framesPerSecond, double noise, unsigned seed,
                      std::function<bool(std::uint64_t frame)> silent) {
    m_thread = std::thread([this, period = std::move(period), framesPerSecond, noise, seed, silent] {
        std::mt19937_64 random(seed);
        std::normal_distribution<double> gauss(0.0, noise);
        std::vector<float> chunk(2 * 512);
        std::uint64_t frame = 0;
        const auto start = std::chrono::steady_clock::now();
        const auto deadline = start + std::chrono::seconds(60);
        while (m_nFd >= 0 && !m_bStop && std::chrono::steady_clock::now() < deadline && !period.empty()) {
            for (std::size_t i = 0; i < chunk.size(); i += 2) {
                const std::size_t at = 2 * ((frame + i / 2) % (period.size() / 2));
                const bool quiet = silent && silent(frame + i / 2);
                chunk[i] =
                    quiet ? 0.0f : static_cast<float>(period[at] + (noise > 0.0 ? gauss(random) : 0.0));
                chunk[i + 1] = quiet ? 0.0f : static_cast<float>(period[at + 1]);
            }
            while (::write(m_nFd, chunk.data(), chunk.size() * 4) < 0 && !m_bStop) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            frame += chunk.size() / 2;
            std::this_thread::sleep_until(start +
                                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                              std::chrono::duration<double>(frame / framesPerSecond)));
        }
    });
}

} // namespace test
