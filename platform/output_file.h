#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// A failed write, flush, sync, copy, close or rename. what() is the system's reason (strerror text),
// Error() its number (EPIPE when the reader of a stream went away).
class CFileException : public std::runtime_error {
public:
    CFileException(const std::string& reason, int error) : std::runtime_error(reason), m_nError(error) {}
    int Error() const { return m_nError; }

private:
    int m_nError;
};

// What opening a FIFO that no program reads yet asks of its caller.
class COpenWait {
public:
    virtual ~COpenWait() = default;
    // Called once when the wait begins: nothing reads `path` yet.
    virtual void Waiting(const std::string& path) = 0;
    // Called about every 50 ms while nothing reads it: false gives up (Open fails as cancelled).
    virtual bool KeepWaiting() = 0;
};

// An output file that replaces its target only when it is complete.
//
// How it is written, decided when it is opened:
//  - Replace: a regular file, or a name that does not exist yet. The bytes go to a new hidden
//    temporary file in the target's folder (".NAME.XXXXXX", created exclusively); Commit() gives it
//    the target's permission bits, owner and group, syncs it when it replaces a file, and renames it
//    over the target. A symbolic link is followed to its final target, which is replaced; the link
//    stays a link.
//  - CopyInPlace: a regular file that a rename could not replace as it was: its folder may not be
//    written, a sticky folder keeps another user's file from being renamed over, it has more than one
//    name (hard links), or its owner or group could not be given to a new file. The bytes go to a
//    temporary in $TMPDIR (or /tmp); Commit() copies them over the target itself (which keeps its
//    owner, group, mode and every name), truncates it to their length and syncs it. While that copy
//    runs the target is incomplete; a copy that fails leaves it so, and says so.
//  - Stream: any path that is not a regular file or a folder (standard output, /dev/null, a pipe
//    such as /dev/fd/63, a FIFO, a terminal) is opened as it is and written directly. Opening a FIFO
//    that no program reads waits for a reader, in a way `wait` can end.
// Until Commit() completes, and whenever the file is discarded (Discard(), the destructor, any
// failure), the target stays exactly as it was (a stream keeps what it was sent) and no temporary
// stays behind.
//
// Small writes go to a buffer of kBufferBytes and reach the system in large writes, so callers may
// write a few bytes at a time without paying a system call each; writes of kDirectBytes or more
// go to the system as they are (after what is buffered), without a copy. Not thread-safe.
class COutputFile {
public:
    enum class EMode { Replace, CopyInPlace, Stream };

    // 1 MiB: large enough that the system call cost vanishes, small enough for the memory budget.
    static constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
    // 64 KiB: past this a system call costs less than copying the bytes into the buffer.
    static constexpr std::size_t kDirectBytes = std::size_t{1} << 16;

    COutputFile() = default;
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;
    // Discards a file that was not committed.
    ~COutputFile();

    // Prepares to write `path` as described above. Returns false on any failure (an empty name, a
    // missing folder, no permission to write the target, a directory, a name too long, a loop of
    // links, no room for a temporary) with the system's reason in OpenError(), and stays closed; a
    // wait for a FIFO's reader that `wait` ended fails with Cancelled() true. Without `wait`, it waits
    // for a reader as long as it takes. Never throws but std::bad_alloc.
    bool Open(const std::string& path, COpenWait* wait = nullptr);
    // Why the last Open failed (strerror text); empty after a successful Open.
    const std::string& OpenError() const { return m_strOpenError; }
    // Its number (errno): ENOENT, EACCES, ...; EINTR for a cancelled wait; 0 after a successful Open.
    int OpenErrorNumber() const { return m_nOpenError; }
    // The target existed when opened: a failed or discarded write leaves it as it was, unless
    // TargetChanged() (a copy over it had begun and failed: its message says it is incomplete).
    bool Replacing() const { return m_bReplacing; }
    bool TargetChanged() const { return m_bTargetChanged; }
    // The last Open gave up waiting for a FIFO's reader.
    bool Cancelled() const { return m_bCancelled; }
    EMode Mode() const { return m_eMode; }
    // Appends `count` bytes. Throws CFileException when the system refuses them (a full disk, a
    // file-size limit, a closed pipe).
    void Write(const void* data, std::size_t count);
    // Bytes handed to the system so far (those still in the buffer not counted), up to the furthest
    // point written: for a stream, what its reader may have received.
    std::uint64_t BytesWritten() const { return m_nEnd; }
    // A file (not a stream) can go back: Seek and Position work.
    bool Seekable() const { return IsOpen() && m_eMode != EMode::Stream; }
    // Moves where the next bytes go to `offset` from the start (after what is buffered); they then
    // overwrite what is there. Throws CFileException on a stream or when the system refuses.
    void Seek(std::uint64_t offset);
    // Where the next bytes go, counted from the start.
    std::uint64_t Position() const { return m_nPosition + m_aBuffer.size(); }
    // Bytes free for this user in the file system the bytes go to first (the temporary's); nullopt
    // for a stream or when the system does not say.
    std::optional<std::uint64_t> FreeBytes() const;
    // Flushes and puts the bytes in place as the mode says; afterwards the target holds exactly the
    // bytes written. Throws CFileException on any failure, after discarding. Committing a closed
    // file does nothing.
    void Commit();
    // Closes without committing: the temporary is removed, the target left as it was (a stream
    // keeps what it was sent). Never throws.
    void Discard() noexcept;
    bool IsOpen() const { return m_hFile >= 0; }

private:
    bool OpenStream(const std::string& path, COpenWait* wait);
    bool CreateTemporary(const std::string& folder, const std::string& name);
    void CopyOverTarget();
    void Flush();
    void WriteAll(const unsigned char* data, std::size_t count);

    int m_hFile = -1;
    EMode m_eMode = EMode::Replace;
    std::string m_strTemporary;    // empty when writing a stream
    std::string m_strTarget;       // the final target the temporary replaces or is copied over
    bool m_bReplacing = false;     // the target exists: sync it and keep what it is
    bool m_bTargetChanged = false; // a copy over the target has begun
    unsigned m_nMode = 0;          // the target's permission bits, owner and group, when replacing
    unsigned m_nOwner = 0;
    unsigned m_nGroup = 0;
    std::uint64_t m_nPosition = 0; // where the system's next bytes go
    std::uint64_t m_nEnd = 0;      // the furthest point written
    std::string m_strOpenError;
    int m_nOpenError = 0;
    bool m_bCancelled = false;
    std::vector<unsigned char> m_aBuffer;
};

} // namespace platform
