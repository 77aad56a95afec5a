#include "audio/audio_system.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <portaudio.h>
#include <thread>
#include <unistd.h>

#include "audio/audio_error.h"
#include "platform/number_text.h"

namespace audio {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

const char* DirectionName(EDirection direction) {
    return direction == EDirection::Output ? "output" : "input";
}

} // namespace

void WithQuietStandardError(void (*call)(void*), void* context) {
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0) {
        ::dup2(null, STDERR_FILENO);
    }
    if (null >= 0) {
        ::close(null);
    }
    try {
        call(context);
    } catch (...) {
        if (saved >= 0) {
            ::dup2(saved, STDERR_FILENO);
            ::close(saved);
        }
        throw;
    }
    if (saved >= 0) {
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
    }
}

CQuietStandardError::CQuietStandardError() : m_nSaved(::dup(STDERR_FILENO)) {
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (m_nSaved >= 0 && null >= 0) {
        ::dup2(null, STDERR_FILENO);
    }
    if (null >= 0) {
        ::close(null);
    }
    if (m_nSaved < 0) {
        m_nSaved = STDERR_FILENO;
    }
}

CQuietStandardError::~CQuietStandardError() {
    std::fflush(stderr);
    if (m_nSaved != STDERR_FILENO) {
        ::dup2(m_nSaved, STDERR_FILENO);
        ::close(m_nSaved);
    }
}

namespace {

// A start that never returned: PortAudio's state is its, for good.
std::atomic<bool> g_bStartStuck{false};

} // namespace

CAudioSystem::CAudioSystem(const std::function<bool()>& keepWaiting) {
    const std::string stuck = "The audio system did not start within " +
                              platform::FormatDecimals(kStartLimitSeconds, 0) +
                              " s: a device did not answer (an ALSA device reading from a FIFO that nobody "
                              "writes, or a sound server that hangs)";
    if (g_bStartStuck.load()) {
        throw CAudioError(stuck);
    }
    // Pa_Initialize probes every device and can block in one of them; it runs on a thread of its own
    // so that this one can give up. Standard error is quiet while it runs and restored here either way.
    struct CStart {
        std::mutex m_mutex;
        std::condition_variable m_done;
        bool m_bDone = false;
        PaError m_error = paNoError;
    };
    auto start = std::make_shared<CStart>();
    PaError error = paNoError;
    {
        const CQuietStandardError quiet;
        std::thread([start] {
            const PaError result = Pa_Initialize();
            const std::lock_guard lock(start->m_mutex);
            start->m_error = result;
            start->m_bDone = true;
            start->m_done.notify_all();
        }).detach();
        std::unique_lock lock(start->m_mutex);
        const auto limit =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(kStartLimitSeconds);
        while (!start->m_bDone) {
            if (std::chrono::steady_clock::now() >= limit) {
                g_bStartStuck = true;
                throw CAudioError(stuck);
            }
            if (keepWaiting && !keepWaiting()) {
                g_bStartStuck = true;
                throw CAudioError("Stopped while the audio system was starting");
            }
            start->m_done.wait_for(lock, std::chrono::milliseconds(50));
        }
        error = start->m_error;
    }
    if (keepWaiting && !keepWaiting()) { // a signal may also have cut a device's wait short
        if (error == paNoError) {
            Pa_Terminate();
        }
        throw CAudioError("Stopped while the audio system was starting");
    }
    if (error != paNoError) {
        throw CAudioError(std::string("The audio system cannot start: ") + Pa_GetErrorText(error));
    }
    const int count = Pa_GetDeviceCount();
    const PaDeviceIndex defaultInput = Pa_GetDefaultInputDevice();
    const PaDeviceIndex defaultOutput = Pa_GetDefaultOutputDevice();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info == nullptr) {
            continue;
        }
        const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi);
        m_aDevices.push_back({i, info->name != nullptr ? info->name : "", host != nullptr ? host->name : "",
                              info->maxInputChannels, info->maxOutputChannels, info->defaultSampleRate,
                              i == defaultInput, i == defaultOutput});
    }
}

CAudioSystem::~CAudioSystem() {
    Pa_Terminate();
}

const CDeviceInfo& CAudioSystem::Find(const std::string& name, EDirection direction) const {
    std::vector<const CDeviceInfo*> candidates;
    for (const CDeviceInfo& device : m_aDevices) {
        if (device.Channels(direction) > 0) {
            candidates.push_back(&device);
        }
    }
    const auto list = [&](const std::vector<const CDeviceInfo*>& devices) {
        std::string text;
        for (const CDeviceInfo* device : devices) {
            text += "\n  " + device->m_strName + " (" + device->m_strHostApi + ")";
        }
        return devices.empty() ? std::string(" none") : text;
    };
    if (name.empty()) {
        for (const CDeviceInfo* device : candidates) {
            if (direction == EDirection::Output ? device->m_bDefaultOutput : device->m_bDefaultInput) {
                return *device;
            }
        }
        throw CAudioError(std::string("There is no default ") + DirectionName(direction) +
                          " device; name one of the " + DirectionName(direction) +
                          " devices:" + list(candidates));
    }
    const std::string wanted = Lower(name);
    std::vector<const CDeviceInfo*> matches;
    for (const CDeviceInfo* device : candidates) {
        const std::string own = Lower(device->m_strName);
        if (own == wanted) {
            return *device;
        }
        if (own.find(wanted) != std::string::npos) {
            matches.push_back(device);
        }
    }
    if (matches.size() == 1) {
        return *matches.front();
    }
    if (matches.empty()) {
        throw CAudioError("No " + std::string(DirectionName(direction)) + " device is named '" + name +
                          "'; the " + DirectionName(direction) + " devices are:" + list(candidates));
    }
    throw CAudioError("'" + name + "' names " + std::to_string(matches.size()) + " " +
                      DirectionName(direction) + " devices; give more of the name:" + list(matches));
}

std::string CAudioSystem::ListText() const {
    std::string text = "  #  inputs  outputs  default rate  name (host API)\n";
    char line[64];
    for (const CDeviceInfo& device : m_aDevices) {
        std::snprintf(line, sizeof line, "%3d  %6d  %7d  %12s  ", device.m_nIndex, device.m_nInputChannels,
                      device.m_nOutputChannels,
                      (platform::FormatGeneral15(device.m_dDefaultRateHz) + " Hz").c_str());
        std::string defaults;
        if (device.m_bDefaultOutput) {
            defaults += "default output";
        }
        if (device.m_bDefaultInput) {
            defaults += std::string(defaults.empty() ? "" : ", ") + "default input";
        }
        text += line + device.m_strName + " (" + device.m_strHostApi + ")" +
                (defaults.empty() ? "" : " [" + defaults + "]") + "\n";
    }
    if (m_aDevices.empty()) {
        text += "  (no devices)\n";
    }
    return text;
}

} // namespace audio
