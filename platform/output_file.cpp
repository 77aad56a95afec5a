#include "platform/output_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
CFileException SystemError() {
    return CFileException(std::strerror(errno));
}
} // namespace

COutputFile::~COutputFile() {
    if (m_hFile >= 0) {
        try {
            Flush();
        } catch (const CFileException&) {
            // Nothing can be reported from a destructor; the bytes written so far stay.
        }
        ::close(m_hFile);
    }
}

bool COutputFile::Open(const std::string& path) {
    if (m_hFile >= 0 || path.empty()) {
        return false;
    }
    const int handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (handle < 0) {
        return false;
    }
    m_hFile = handle;
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

void COutputFile::Close() {
    if (m_hFile < 0) {
        return;
    }
    const int handle = m_hFile;
    try {
        Flush();
    } catch (...) {
        m_hFile = -1;
        ::close(handle);
        throw;
    }
    m_hFile = -1;
    if (::close(handle) != 0) {
        throw SystemError();
    }
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
