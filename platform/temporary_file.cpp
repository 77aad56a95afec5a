#include "platform/temporary_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "platform/output_file.h"

namespace platform {

CTemporaryFile::CTemporaryFile(const std::string& prefix, const std::string& suffix) {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/" + prefix +
                          "XXXXXX" + suffix;
    const int handle = ::mkstemps(pattern.data(), static_cast<int>(suffix.size()));
    if (handle < 0) {
        const int error = errno;
        throw CFileException("Cannot create a temporary file " + pattern + ": " + std::strerror(error),
                             error);
    }
    ::close(handle);
    m_strPath = pattern;
}

CTemporaryFile::~CTemporaryFile() {
    ::unlink(m_strPath.c_str());
}

} // namespace platform
