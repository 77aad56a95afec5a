#include "platform/output_file.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

CFileException SystemError() {
    return CFileException(std::strerror(errno));
}

// Six letters and digits, different in every call and process.
std::string RandomSuffix() {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::string suffix(6, ' ');
    for (char& c : suffix) {
        c = kAlphabet[generator() % (sizeof kAlphabet - 1)];
    }
    return suffix;
}

// The file `path` finally names, following symbolic links (relative ones from their own folder);
// nullopt with errno set on a loop or an unreadable link.
std::optional<std::string> FinalTarget(std::string path) {
    for (int hops = 0;; ++hops) {
        struct stat link {};
        if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
            return path;
        }
        if (hops == 40) {
            errno = ELOOP;
            return std::nullopt;
        }
        std::vector<char> text(static_cast<std::size_t>(link.st_size > 0 ? link.st_size : PATH_MAX) + 1);
        const ssize_t length = ::readlink(path.c_str(), text.data(), text.size());
        if (length < 0) {
            return std::nullopt;
        }
        std::string next(text.data(), static_cast<std::size_t>(length));
        const auto slash = path.rfind('/');
        if (!next.empty() && next.front() != '/' && slash != std::string::npos) {
            next = path.substr(0, slash + 1) + next;
        }
        path = next;
    }
}

// Longest part of the target's name that goes into the temporary's, so that the temporary's
// name fits where the target's does.
constexpr std::size_t kNamePartBytes = 200;

} // namespace

COutputFile::~COutputFile() {
    Discard();
}

bool COutputFile::Open(const std::string& path) {
    m_strOpenError.clear();
    const auto fail = [this](int error) {
        m_strOpenError = std::strerror(error);
        return false;
    };
    if (m_hFile >= 0) {
        return fail(EBUSY);
    }
    if (path.empty()) {
        return fail(ENOENT);
    }
    if (path == "/dev/stdout") {
        m_hFile = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        return m_hFile >= 0 || fail(errno);
    }
    const auto target = FinalTarget(path);
    if (!target) {
        return fail(errno);
    }
    struct stat info {};
    const bool exists = ::stat(target->c_str(), &info) == 0;
    if (!exists && errno != ENOENT) {
        return fail(errno);
    }
    if ((exists && S_ISDIR(info.st_mode)) || target->back() == '/') {
        return fail(EISDIR);
    }
    if (exists && !S_ISREG(info.st_mode)) { // a device, FIFO, socket or terminal: a stream
        m_hFile = ::open(target->c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        return m_hFile >= 0 || fail(errno);
    }
    // Replacing must not override a file the user may not write to.
    if (exists && ::access(target->c_str(), W_OK) != 0) {
        return fail(errno);
    }
    const auto slash = target->rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target->substr(0, slash + 1);
    const std::string name =
        target->substr(slash == std::string::npos ? 0 : slash + 1).substr(0, kNamePartBytes);
    for (int attempt = 0; attempt < 100 && m_hFile < 0; ++attempt) {
        const std::string temporary = folder + "." + name + "." + RandomSuffix();
        m_hFile = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_hFile >= 0) {
            m_strTemporary = temporary;
        } else if (errno != EEXIST) {
            return fail(errno);
        }
    }
    if (m_hFile < 0) {
        return fail(EEXIST);
    }
    m_strTarget = *target;
    m_bReplacing = exists;
    m_nMode = info.st_mode & 07777;
    m_aBuffer.reserve(kBufferBytes);
    return true;
}

void COutputFile::Write(const void* data, std::size_t count) {
    if (m_hFile < 0) {
        throw CFileException("file is not open");
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (count >= kDirectBytes) {
        Flush();
        WriteAll(bytes, count);
        return;
    }
    if (m_aBuffer.size() + count > kBufferBytes) {
        Flush();
    }
    m_aBuffer.insert(m_aBuffer.end(), bytes, bytes + count);
}

void COutputFile::Commit() {
    if (m_hFile < 0) {
        return;
    }
    try {
        Flush();
        if (!m_strTemporary.empty() && m_bReplacing) {
            // The replaced file's data must be on disk before its name points at the new one.
            if (::fchmod(m_hFile, m_nMode) != 0 || ::fsync(m_hFile) != 0) {
                throw SystemError();
            }
        }
        const int handle = m_hFile;
        m_hFile = -1;
        if (::close(handle) != 0) {
            throw SystemError();
        }
        if (!m_strTemporary.empty() && ::rename(m_strTemporary.c_str(), m_strTarget.c_str()) != 0) {
            throw SystemError();
        }
        m_strTemporary.clear();
    } catch (...) {
        Discard();
        throw;
    }
}

void COutputFile::Discard() noexcept {
    if (m_hFile >= 0) {
        ::close(m_hFile);
        m_hFile = -1;
    }
    if (!m_strTemporary.empty()) {
        ::unlink(m_strTemporary.c_str());
        m_strTemporary.clear();
    }
    m_aBuffer.clear();
}

void COutputFile::Flush() {
    if (m_aBuffer.empty()) {
        return;
    }
    // The buffer is emptied even when the write fails, so a later flush does not repeat it.
    try {
        WriteAll(m_aBuffer.data(), m_aBuffer.size());
    } catch (...) {
        m_aBuffer.clear();
        throw;
    }
    m_aBuffer.clear();
}

void COutputFile::WriteAll(const unsigned char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t written = ::write(m_hFile, data, count);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw SystemError();
        }
        data += written;
        count -= static_cast<std::size_t>(written);
    }
}

} // namespace platform
