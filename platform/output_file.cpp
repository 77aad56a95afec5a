#include "platform/output_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

namespace platform {

namespace {

CFileException SystemError(int error = errno) {
    return CFileException(std::strerror(error), error);
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

// True when this process may give a new file the owner and group `info` has: root may give any,
// others only their own user and a group they belong to.
bool CanGiveOwnership(const struct stat& info) {
    if (::geteuid() == 0) {
        return true;
    }
    if (info.st_uid != ::geteuid()) {
        return false;
    }
    if (info.st_gid == ::getegid()) {
        return true;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    for (int i = 0; i < count; ++i) {
        if (groups[static_cast<std::size_t>(i)] == info.st_gid) {
            return true;
        }
    }
    return false;
}

// True when a file `target` (described by `info`) in `folder` can be replaced by a rename and stay
// what it was: the folder may be written, a sticky folder lets this user remove it, it has no other
// names, and its owner and group can be given to the new file.
bool RenameKeepsIt(const std::string& folder, const struct stat& info) {
    const std::string directory = folder.empty() ? "." : folder;
    struct stat parent {};
    if (::stat(directory.c_str(), &parent) != 0 || ::access(directory.c_str(), W_OK | X_OK) != 0) {
        return false;
    }
    const uid_t user = ::geteuid();
    if ((parent.st_mode & S_ISVTX) != 0 && user != 0 && info.st_uid != user && parent.st_uid != user) {
        return false;
    }
    return info.st_nlink == 1 && CanGiveOwnership(info);
}

// The folder for temporaries of a copy in place: $TMPDIR, or /tmp.
std::string TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    std::string path = folder != nullptr && *folder != '\0' ? folder : "/tmp";
    return path.back() == '/' ? path : path + "/";
}

// Longest part of the target's name that goes into the temporary's, so that the temporary's
// name fits where the target's does.
constexpr std::size_t kNamePartBytes = 200;

// How often a wait for a FIFO's reader looks again.
constexpr long kReaderPollNs = 50'000'000;

} // namespace

COutputFile::~COutputFile() {
    Discard();
}

bool COutputFile::Open(const std::string& path, COpenWait* wait) {
    m_strOpenError.clear();
    m_nOpenError = 0;
    m_bCancelled = false;
    m_nPosition = m_nEnd = 0;
    const auto fail = [this](int error) {
        m_strOpenError = std::strerror(error);
        m_nOpenError = error;
        return false;
    };
    if (m_hFile >= 0) {
        return fail(EBUSY);
    }
    if (path.empty()) {
        return fail(ENOENT);
    }
    if (path == "/dev/stdout") {
        m_eMode = EMode::Stream;
        m_hFile = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        return m_hFile >= 0 || fail(errno);
    }
    // What the path names, links followed the way the system follows them (/dev/fd/63 is a pipe).
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return fail(EISDIR);
        }
        if (!S_ISREG(info.st_mode)) { // a device, FIFO, pipe, socket or terminal: a stream
            return OpenStream(path, wait);
        }
    } else if (errno != ENOENT) {
        return fail(errno);
    }
    const auto target = FinalTarget(path);
    if (!target) {
        return fail(errno);
    }
    const bool exists = ::stat(target->c_str(), &info) == 0;
    if (!exists && errno != ENOENT) {
        return fail(errno);
    }
    if ((exists && S_ISDIR(info.st_mode)) || target->back() == '/') {
        return fail(EISDIR);
    }
    const auto slash = target->rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target->substr(0, slash + 1);
    const std::string name =
        target->substr(slash == std::string::npos ? 0 : slash + 1).substr(0, kNamePartBytes);
    m_eMode = EMode::Replace;
    if (exists) {
        // Replacing must not override a file the user may not write to; writing over it must work.
        const int probe = ::open(target->c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (probe < 0) {
            return fail(errno);
        }
        ::close(probe);
        if (!RenameKeepsIt(folder, info)) {
            m_eMode = EMode::CopyInPlace;
        }
    }
    const std::string scratch = m_eMode == EMode::CopyInPlace ? TemporaryFolder() : folder;
    if (!CreateTemporary(scratch, name)) {
        if (exists) { // the system's reason alone ("No such file") would deny a file that is there
            m_strOpenError = "it exists, but the file that is written first and then replaces it cannot be "
                             "created in " +
                             (scratch.empty() ? std::string("the current folder") : scratch) + ": " +
                             m_strOpenError;
        }
        return false;
    }
    m_strTarget = *target;
    m_bReplacing = exists;
    m_nMode = info.st_mode & 07777;
    m_nOwner = info.st_uid;
    m_nGroup = info.st_gid;
    m_aBuffer.reserve(kBufferBytes);
    return true;
}

bool COutputFile::OpenStream(const std::string& path, COpenWait* wait) {
    m_eMode = EMode::Stream;
    bool waiting = false;
    for (;;) {
        // Not blocking: a FIFO without a reader answers ENXIO at once instead of holding the thread.
        m_hFile = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (m_hFile >= 0) {
            break;
        }
        struct stat info {};
        if (errno != ENXIO || ::stat(path.c_str(), &info) != 0 || !S_ISFIFO(info.st_mode)) {
            m_nOpenError = errno;
            m_strOpenError = std::strerror(m_nOpenError);
            return false;
        }
        if (wait != nullptr) {
            if (!waiting) {
                wait->Waiting(path);
                waiting = true;
            }
            if (!wait->KeepWaiting()) {
                m_bCancelled = true;
                m_strOpenError = "cancelled while waiting for a program to read it";
                m_nOpenError = EINTR;
                return false;
            }
        }
        const timespec pause{0, kReaderPollNs};
        ::nanosleep(&pause, nullptr);
    }
    // Writes block again, as a stream's reader expects them to.
    const int flags = ::fcntl(m_hFile, F_GETFL);
    if (flags < 0 || ::fcntl(m_hFile, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        m_nOpenError = errno;
        m_strOpenError = std::strerror(m_nOpenError);
        ::close(m_hFile);
        m_hFile = -1;
        return false;
    }
    return true;
}

bool COutputFile::CreateTemporary(const std::string& folder, const std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = folder + "." + name + "." + RandomSuffix();
        // Read too: a copy in place reads it back.
        m_hFile = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_hFile >= 0) {
            m_strTemporary = temporary;
            return true;
        }
        if (errno != EEXIST) {
            m_nOpenError = errno;
            m_strOpenError = std::strerror(m_nOpenError);
            return false;
        }
    }
    m_nOpenError = EEXIST;
    m_strOpenError = std::strerror(EEXIST);
    return false;
}

void COutputFile::Write(const void* data, std::size_t count) {
    if (m_hFile < 0) {
        throw CFileException("file is not open", EBADF);
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

void COutputFile::Seek(std::uint64_t offset) {
    if (!Seekable()) {
        throw CFileException("a stream cannot go back", ESPIPE);
    }
    Flush();
    if (::lseek(m_hFile, static_cast<off_t>(offset), SEEK_SET) < 0) {
        throw SystemError();
    }
    m_nPosition = offset;
}

std::optional<std::uint64_t> COutputFile::FreeBytes() const {
    struct statvfs info {};
    if (!Seekable() || ::fstatvfs(m_hFile, &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

void COutputFile::Commit() {
    if (m_hFile < 0) {
        return;
    }
    try {
        Flush();
        if (m_eMode == EMode::CopyInPlace) {
            CopyOverTarget();
            return;
        }
        if (m_eMode == EMode::Replace && m_bReplacing) {
            // The new file is what the old one was: its bits, its owner and group (root may give any;
            // others only their own, which CanGiveOwnership checked), and on disk before its name
            // points at it.
            if (::fchown(m_hFile, m_nOwner, m_nGroup) != 0 || ::fchmod(m_hFile, m_nMode) != 0 ||
                ::fsync(m_hFile) != 0) {
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

void COutputFile::CopyOverTarget() {
    const int target = ::open(m_strTarget.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (target < 0) {
        throw SystemError();
    }
    // One writer at a time in the file's own bytes: another program's copy over it (this one, run
    // twice) is waited for, for at most a minute, so the file ends as one whole copy, never a mix.
    for (int tries = 0; ::flock(target, LOCK_EX | LOCK_NB) != 0; ++tries) {
        if (errno != EWOULDBLOCK || tries == 3000) {
            const int error = errno == EWOULDBLOCK ? EBUSY : errno;
            ::close(target);
            throw CFileException(std::string("another program is writing the file and does not finish (") +
                                     std::strerror(error) + "); it is as it was",
                                 error);
        }
        ::usleep(20000);
    }
    const auto fail = [&](std::uint64_t copied) {
        const int error = errno;
        ::close(target);
        return CFileException(std::string(std::strerror(error)) + " while copying over the file, after " +
                                  std::to_string(copied) + " of " + std::to_string(m_nEnd) +
                                  " bytes: it is incomplete",
                              error);
    };
    m_bTargetChanged = true; // from here on a failure leaves the target incomplete
    std::vector<unsigned char> block(kBufferBytes);
    std::uint64_t copied = 0;
    while (copied < m_nEnd) {
        const ssize_t read = ::pread(m_hFile, block.data(), block.size(), static_cast<off_t>(copied));
        if (read < 0) {
            throw fail(copied);
        }
        if (read == 0) {
            errno = EIO;
            throw fail(copied);
        }
        for (ssize_t done = 0; done < read;) {
            const ssize_t wrote = ::pwrite(target, block.data() + done, static_cast<std::size_t>(read - done),
                                           static_cast<off_t>(copied + static_cast<std::uint64_t>(done)));
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            if (wrote < 0) {
                throw fail(copied + static_cast<std::uint64_t>(done));
            }
            done += wrote;
        }
        copied += static_cast<std::uint64_t>(read);
    }
    if (::ftruncate(target, static_cast<off_t>(m_nEnd)) != 0 || ::fsync(target) != 0) {
        throw fail(copied);
    }
    if (::close(target) != 0) {
        throw SystemError();
    }
    Discard(); // the temporary's work is done
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
        m_nPosition += static_cast<std::uint64_t>(written);
        m_nEnd = std::max(m_nEnd, m_nPosition);
    }
}

} // namespace platform
