#pragma once

#include <string>

namespace platform {

// A new empty file in $TMPDIR (or /tmp), named from `prefix` and `suffix` with six random characters
// between, removed with the object: a place for an intermediate result such as a measurement's
// recording. Throws CFileException (output_file.h) when it cannot be created.
class CTemporaryFile {
public:
    CTemporaryFile(const std::string& prefix, const std::string& suffix);
    ~CTemporaryFile();
    CTemporaryFile(const CTemporaryFile&) = delete;
    CTemporaryFile& operator=(const CTemporaryFile&) = delete;
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

} // namespace platform
