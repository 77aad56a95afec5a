#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// A failed write, flush, sync, close or rename. what() is the system's reason (strerror text).
class CFileException : public std::runtime_error {
public:
    explicit CFileException(const std::string& reason) : std::runtime_error(reason) {}
};

// An output file that replaces its target only when it is complete.
//
// For a regular file, or a name that does not exist yet, the bytes go to a new hidden temporary
// file in the target's folder (".NAME.XXXXXX", created exclusively), and Commit() renames it over
// the target after the last byte is written; an existing target is synced to disk first and keeps
// its permission bits. Until then, and whenever the file is discarded (Discard(), the destructor,
// any failure), the target stays exactly as it was and the temporary is removed. A symbolic link
// is followed to its final target, which is replaced; the link stays a link.
// Anything else (a device such as /dev/null, a FIFO, a terminal) is written directly as a stream;
// "/dev/stdout" is always the process's standard output, whatever it is.
//
// Small writes go to a buffer of kBufferBytes and reach the system in large writes, so callers may
// write a few bytes at a time without paying a system call each; writes of kDirectBytes or more
// go to the system as they are (after what is buffered), without a copy. Not thread-safe.
class COutputFile {
public:
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
    // missing folder, no permission, a directory, a name too long, a loop of links) with the
    // system's reason in OpenError(), and stays closed. Never throws.
    bool Open(const std::string& path);
    // Why the last Open failed (strerror text); empty after a successful Open.
    const std::string& OpenError() const { return m_strOpenError; }
    // Appends `count` bytes. Throws CFileException when the system refuses them (a full disk, a
    // file-size limit, a closed pipe).
    void Write(const void* data, std::size_t count);
    // Flushes, syncs an existing target's replacement, closes, and renames the temporary over the
    // target: afterwards the target holds exactly the bytes written. Throws CFileException on any
    // failure, after discarding. Committing a closed file does nothing.
    void Commit();
    // Closes without committing: the temporary is removed, the target left as it was (a stream
    // keeps what it was sent). Never throws.
    void Discard() noexcept;
    bool IsOpen() const { return m_hFile >= 0; }

private:
    void Flush();
    void WriteAll(const unsigned char* data, std::size_t count);

    int m_hFile = -1;
    std::string m_strTemporary; // empty when writing a stream
    std::string m_strTarget;    // the final target the temporary replaces
    bool m_bReplacing = false;  // the target exists: sync and keep its mode
    unsigned m_nMode = 0;       // the target's permission bits, when replacing
    std::string m_strOpenError;
    std::vector<unsigned char> m_aBuffer;
};

} // namespace platform
