#pragma once

#include <functional>
#include <string>
#include <vector>

namespace audio {

enum class EDirection { Output, Input };

// A sound device as the audio library lists it.
struct CDeviceInfo {
    int m_nIndex = -1; // the library's device number
    std::string m_strName;
    std::string m_strHostApi; // "ALSA", "JACK Audio Connection Kit", ...
    int m_nInputChannels = 0;
    int m_nOutputChannels = 0;
    double m_dDefaultRateHz = 0.0;
    bool m_bDefaultInput = false; // the host's default device for that direction
    bool m_bDefaultOutput = false;

    int Channels(EDirection direction) const {
        return direction == EDirection::Output ? m_nOutputChannels : m_nInputChannels;
    }
};

// PortAudio, initialised for as long as an object lives (objects may overlap: the library counts
// them). While it probes the host's devices, and while a stream opens, the messages ALSA and JACK
// print on standard error are silenced: they are not this program's, and every failure comes back
// as an error with its reason. Construct and use on one thread at a time.
class CAudioSystem {
public:
    // How long the devices may take to answer while PortAudio starts (an ALSA device reading a FIFO
    // that nobody writes, or a hung sound server, never answers).
    static constexpr double kStartLimitSeconds = 5.0;

    // Throws CAudioError when PortAudio cannot start, or has not started within kStartLimitSeconds
    // (a start that never returns is left behind, and every later CAudioSystem is refused at once,
    // since PortAudio cannot start twice at the same time), or when `keepWaiting` (called every
    // 50 ms from this thread while it waits; empty: always) returns false.
    explicit CAudioSystem(const std::function<bool()>& keepWaiting = {});
    ~CAudioSystem();
    CAudioSystem(const CAudioSystem&) = delete;
    CAudioSystem& operator=(const CAudioSystem&) = delete;

    const std::vector<CDeviceInfo>& Devices() const { return m_aDevices; }

    // The device with channels in `direction` that `name` names: the one whose name equals it, or
    // else the only one whose name contains it (both ignoring case); the host's default for an empty
    // name. Throws CAudioError naming the devices there are when none or several match.
    const CDeviceInfo& Find(const std::string& name, EDirection direction) const;

    // The devices as a table for people: number, name, host API, inputs, outputs, default rate, and
    // which are the defaults.
    std::string ListText() const;

private:
    std::vector<CDeviceInfo> m_aDevices;
};

// Sends standard error to /dev/null while it lives, for a whole session with a device: the audio
// libraries print their own diagnostics from their threads when a device fails, and the session
// reports every failure itself. SavedDescriptor() is the real standard error, for the caller's
// progress line. One at a time, created and destroyed on the same thread.
class CQuietStandardError {
public:
    CQuietStandardError();
    ~CQuietStandardError();
    CQuietStandardError(const CQuietStandardError&) = delete;
    CQuietStandardError& operator=(const CQuietStandardError&) = delete;
    int SavedDescriptor() const { return m_nSaved; }

private:
    int m_nSaved;
};

// Runs `call` with standard error sent to /dev/null (the audio libraries' chatter), restoring it
// afterwards. Serialised process-wide.
void WithQuietStandardError(void (*call)(void*), void* context);

} // namespace audio
