#pragma once

#include <stdexcept>
#include <string>

namespace audio {

// A sound device that cannot be found, opened or kept running: the text names the device and the
// reason ("Unknown device 'usb': ...", "The output device 'hw:1' stopped taking samples ...").
class CAudioError : public std::runtime_error {
public:
    explicit CAudioError(const std::string& text) : std::runtime_error(text) {}
};

} // namespace audio
