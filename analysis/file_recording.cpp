#include "analysis/file_recording.h"

namespace analysis {

std::unique_ptr<CFileRecording> CFileRecording::Open(const std::string& path, std::string& error) {
    auto recording = std::make_unique<CFileRecording>();
    if (!recording->m_reader.Open(path)) {
        error = recording->m_reader.OpenError();
        return nullptr;
    }
    return recording;
}

std::unique_ptr<CFileRecording> CFileRecording::OpenMemory(const std::vector<unsigned char>& bytes,
                                                           const std::string& name, std::string& error) {
    auto recording = std::make_unique<CFileRecording>();
    if (!recording->m_reader.OpenMemory(bytes, name)) {
        error = recording->m_reader.OpenError();
        return nullptr;
    }
    return recording;
}

void CFileRecording::Read(std::uint64_t first, std::size_t count, double* out) {
    if (first != m_nPosition) {
        m_reader.Seek(first);
        m_nPosition = first;
    }
    std::size_t done = 0;
    while (done < count) {
        const std::size_t read =
            m_reader.Read(out + done * static_cast<std::size_t>(Channels()), count - done);
        if (read == 0) {
            m_nPosition += done;
            throw platform::CReadException(Name() + ": the file is cut short: it ends at frame " +
                                           std::to_string(m_nPosition) + ", before the " +
                                           std::to_string(Frames()) + " frames its header promises");
        }
        done += read;
    }
    m_nPosition += count;
}

} // namespace analysis
