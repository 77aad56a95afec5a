#include "platform/sound_file_reader.h"

#include "platform/number_text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// libsndfile normalises an integer format's samples by 2^(bits - 1); full scale is 2^(bits - 1) - 1.
double FullScaleFactor(int subtype, bool& isFloat) {
    isFloat = false;
    const auto of = [](int bits) {
        return static_cast<double>(1ull << (bits - 1)) / ((1ull << (bits - 1)) - 1);
    };
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_DPCM_8:
        return of(8);
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
    case SF_FORMAT_DWVW_16:
    case SF_FORMAT_DPCM_16:
    case SF_FORMAT_ALAC_16:
    case SF_FORMAT_NMS_ADPCM_16:
        return of(16);
    case SF_FORMAT_ALAC_20:
        return of(20);
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_DWVW_24:
    case SF_FORMAT_ALAC_24:
        return of(24);
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32:
        return of(32);
    default: // floating point and lossy codecs decode to values against a full scale of 1
        isFloat = true;
        return 1.0;
    }
}

// Whether libsndfile's log says the file ends before its header said: a size noted as "data : 5292000
// (should be 99956)" (WAV, and " SSND" in AIFF, "riff" in W64, "Riff size" in RF64), or a frame count
// that "does not match" / is "not equal to" the one calculated from what is there (RF64, AIFF). Streams
// written without knowing their length put placeholders of 2 GiB or more in their sizes: those are
// no truncations.
bool LogShowsTruncation(SNDFILE* file) {
    char log[8192] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    if (std::strstr(log, "*** Calculated frame count") != nullptr ||
        std::strstr(log, "*** Frame count read from") != nullptr) {
        return true;
    }
    for (const char* at = log; (at = std::strstr(at, "(should be ")) != nullptr; ++at) {
        const char* line = at;
        while (line > log && line[-1] != '\n') {
            --line;
        }
        while (*line == ' ') {
            ++line;
        }
        const bool sized = std::strncmp(line, "data", 4) == 0 || std::strncmp(line, "SSND", 4) == 0 ||
                           std::strncmp(line, "riff", 4) == 0 || std::strncmp(line, "Riff size", 9) == 0;
        const char* colon = std::strchr(line, ':');
        if (!sized || colon == nullptr || colon > at) {
            continue;
        }
        const unsigned long long promised = std::strtoull(colon + 1, nullptr, 10);
        const unsigned long long found = std::strtoull(at + std::strlen("(should be "), nullptr, 10);
        if (found < promised && promised < 0x7FFF0000ull) {
            return true;
        }
    }
    return false;
}

// Why libsndfile could not open a file, in this program's words: bytes of no format it knows, or a
// known format whose header does not hold together.
std::string NotAudio() {
    const std::string reason = sf_strerror(nullptr);
    if (reason.find("not recognised") != std::string::npos ||
        reason.find("unknown format") != std::string::npos ||
        reason.find("not supported") != std::string::npos) {
        return "not a sound file that can be read: its bytes are in no sound format this program knows "
               "(WAV, RF64, W64, FLAC, AIFF, CAF, ...)";
    }
    return "not a sound file that can be read: its header is damaged or cut short";
}

} // namespace

// libsndfile's handle and, for a file opened from memory, the bytes and the read position.
struct CSoundFileReader::CState {
    SNDFILE* m_pFile = nullptr;
    std::vector<unsigned char> m_aBytes;
    sf_count_t m_nPosition = 0;
    std::uint64_t m_nFrame = 0; // the next frame Read gives
    ~CState() {
        if (m_pFile != nullptr) {
            sf_close(m_pFile);
        }
    }
};

CSoundFileReader::CSoundFileReader() = default;
CSoundFileReader::~CSoundFileReader() = default;

bool CSoundFileReader::Open(const std::string& path) {
    m_pState = std::make_unique<CState>();
    m_strName = path;
    // libsndfile's own messages for these are vague ("System error"); the system's reason is better.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        m_strOpenError = std::strerror(errno);
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        m_strOpenError = std::strerror(EISDIR);
        return false;
    }
    // Opened once for the system's reason when it cannot be read (no permission, say).
    const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (handle < 0) {
        m_strOpenError = std::strerror(errno);
        return false;
    }
    ::close(handle);
    if (!S_ISREG(status.st_mode)) {
        m_strOpenError = "not a regular file";
        return false;
    }
    SF_INFO info{};
    m_pState->m_pFile = sf_open(path.c_str(), SFM_READ, &info);
    if (m_pState->m_pFile == nullptr) {
        m_strOpenError = status.st_size == 0 ? "the file is empty" : NotAudio();
        return false;
    }
    return Finish(path);
}

bool CSoundFileReader::OpenMemory(const std::vector<unsigned char>& bytes, const std::string& name) {
    m_pState = std::make_unique<CState>();
    m_pState->m_aBytes = bytes;
    m_strName = name;
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* user) -> sf_count_t {
        return static_cast<sf_count_t>(static_cast<CState*>(user)->m_aBytes.size());
    };
    io.seek = [](sf_count_t offset, int whence, void* user) -> sf_count_t {
        auto* state = static_cast<CState*>(user);
        const auto size = static_cast<sf_count_t>(state->m_aBytes.size());
        const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? state->m_nPosition : size;
        // Both lie in [0, size] and [min, max]: out of [-base, size - base] the target is outside the
        // bytes, and adding would overflow for an offset near the type's ends (a header's huge size).
        if (offset < -base || offset > size - base) {
            return -1;
        }
        const sf_count_t target = base + offset;
        return state->m_nPosition = target;
    };
    io.read = [](void* out, sf_count_t count, void* user) -> sf_count_t {
        auto* state = static_cast<CState*>(user);
        const auto size = static_cast<sf_count_t>(state->m_aBytes.size());
        const sf_count_t available = std::max<sf_count_t>(0, std::min(count, size - state->m_nPosition));
        if (available > 0) {
            std::memcpy(out, state->m_aBytes.data() + state->m_nPosition,
                        static_cast<std::size_t>(available));
        }
        state->m_nPosition += available;
        return available;
    };
    io.write = [](const void*, sf_count_t, void*) -> sf_count_t { return 0; };
    io.tell = [](void* user) -> sf_count_t { return static_cast<CState*>(user)->m_nPosition; };
    SF_INFO info{};
    m_pState->m_pFile = sf_open_virtual(&io, SFM_READ, &info, m_pState.get());
    if (m_pState->m_pFile == nullptr) {
        m_strOpenError = bytes.empty() ? "the file is empty" : NotAudio();
        return false;
    }
    return Finish(name);
}

bool CSoundFileReader::Finish(const std::string& name) {
    m_strName = name;
    SNDFILE* file = m_pState->m_pFile;
    SF_INFO info{};
    sf_command(file, SFC_GET_CURRENT_SF_INFO, &info, sizeof info);
    m_info.m_bTruncated = LogShowsTruncation(file);
    if (info.channels <= 0 || info.samplerate <= 0 || info.frames < 0) {
        m_strOpenError = "the file's header is not valid (channels, sample rate or length)";
        m_pState.reset();
        return false;
    }
    m_info.m_nFrames = static_cast<std::uint64_t>(info.frames);
    m_info.m_nChannels = info.channels;
    m_info.m_nSampleRate = info.samplerate;
    SF_FORMAT_INFO major{info.format & SF_FORMAT_TYPEMASK, nullptr, nullptr};
    SF_FORMAT_INFO minor{info.format & SF_FORMAT_SUBMASK, nullptr, nullptr};
    sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof major);
    sf_command(nullptr, SFC_GET_FORMAT_INFO, &minor, sizeof minor);
    m_info.m_strFormat = std::string(major.name ? major.name : "unknown container") + ", " +
                         (minor.name ? minor.name : "unknown encoding");
    m_dScale = FullScaleFactor(info.format & SF_FORMAT_SUBMASK, m_info.m_bFloat);
    sf_command(file, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
    m_strOpenError.clear();
    return true;
}

void CSoundFileReader::Seek(std::uint64_t frame) {
    if (!m_pState || sf_seek(m_pState->m_pFile, static_cast<sf_count_t>(frame), SEEK_SET) < 0) {
        throw CReadException(
            m_strName + ": the file is damaged or cut short: its audio cannot be decoded as " +
            "far as frame " + std::to_string(frame) + " (" + SecondsText(frame) + " into the file)");
    }
    m_pState->m_nFrame = frame;
}

std::string CSoundFileReader::SecondsText(std::uint64_t frame) const {
    return m_info.m_nSampleRate > 0
               ? platform::FormatDecimals(static_cast<double>(frame) / m_info.m_nSampleRate, 3) + " s"
               : "frame " + std::to_string(frame);
}

std::size_t CSoundFileReader::Read(double* out, std::size_t frames) {
    if (!m_pState) {
        throw CReadException(m_strName + ": not open");
    }
    SNDFILE* file = m_pState->m_pFile;
    const sf_count_t read = sf_readf_double(file, out, static_cast<sf_count_t>(frames));
    if (read < 0 || sf_error(file) != SF_ERR_NO_ERROR) {
        const std::uint64_t from = m_pState->m_nFrame, to = from + frames;
        throw CReadException(m_strName + ": the file is damaged or cut short: its audio cannot be decoded " +
                             "somewhere in frames " + std::to_string(from) + " to " + std::to_string(to) +
                             " (" + SecondsText(from) + " to " + SecondsText(to) + " into the file)");
    }
    m_pState->m_nFrame += static_cast<std::uint64_t>(read);
    const std::size_t values = static_cast<std::size_t>(read) * static_cast<std::size_t>(m_info.m_nChannels);
    if (m_dScale != 1.0) {
        for (std::size_t i = 0; i < values; ++i) {
            out[i] *= m_dScale;
        }
    }
    return static_cast<std::size_t>(read);
}

} // namespace platform
