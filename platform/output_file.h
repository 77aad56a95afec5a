#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// A failed write, flush or close. what() is the system's reason (strerror text).
class CFileException : public std::runtime_error {
public:
    explicit CFileException(const std::string& reason) : std::runtime_error(reason) {}
};

// A file opened for writing only, created or truncated to length 0 (never appended to).
// Small writes go to a buffer of kBufferBytes and reach the system in large writes, so callers may
// write a few bytes at a time without paying a system call each; writes of kDirectBytes or more
// go to the system as they are (after what is buffered), without a copy.
class COutputFile {
public:
    // 1 MiB: large enough that the system call cost vanishes, small enough for the memory budget.
    static constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
    // 64 KiB: past this a system call costs less than copying the bytes into the buffer.
    static constexpr std::size_t kDirectBytes = std::size_t{1} << 16;

    COutputFile() = default;
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;
    // Closes an open file; errors are lost here, so callers that care call Close() first.
    ~COutputFile();

    // Creates or truncates `path` for writing. Returns false (and stays closed) on any failure,
    // including a path that names a directory. Never throws.
    bool Open(const std::string& path);
    // Appends `count` bytes at the end of the file. Throws CFileException when the system
    // refuses them (for example a full disk); the bytes accepted before stay in the file.
    void Write(const void* data, std::size_t count);
    // Flushes the buffer and closes. Throws CFileException if the flush or the close fails;
    // the file is closed afterwards either way. Closing a closed file does nothing.
    void Close();
    bool IsOpen() const { return m_hFile >= 0; }

private:
    void Flush();
    void WriteAll(const unsigned char* data, std::size_t count);

    int m_hFile = -1;
    std::vector<unsigned char> m_aBuffer;
};

} // namespace platform
