#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "generation/feedback.h"
#include "generation/settings.h"

namespace test {

// Records every feedback call in order: "BeginWait", "EndWait", "Message:<type>:<text>"; the
// progress reports and message details apart. Cancels once it has seen m_nCancelAfterReports
// progress reports (never when negative).
class CRecordingFeedback : public CGenerationFeedback {
public:
    void BeginWait() override { m_aEvents.push_back("BeginWait"); }
    void EndWait() override { m_aEvents.push_back("EndWait"); }
    void ShowMessage(const std::string& text, unsigned type) override {
        m_aEvents.push_back("Message:" + std::to_string(type) + ":" + text);
        m_aTexts.push_back(text);
        m_aTypes.push_back(type);
    }
    void ShowDetailedMessage(const std::string& text, unsigned type, const std::string& detail) override {
        m_aDetails.push_back(detail);
        ShowMessage(text, type);
    }
    void ReportProgress(std::uint64_t framesWritten, std::uint64_t frameCount) override {
        m_aProgress.push_back(framesWritten);
        m_nProgressTotal = frameCount;
    }
    bool CancelRequested() override {
        return m_nCancelAfterReports >= 0 && static_cast<long>(m_aProgress.size()) >= m_nCancelAfterReports;
    }
    long m_nCancelAfterReports = -1;
    std::vector<std::uint64_t> m_aProgress;
    std::uint64_t m_nProgressTotal = 0;
    std::vector<std::string> m_aDetails;
    std::vector<std::string> m_aEvents;
    std::vector<std::string> m_aTexts;
    std::vector<unsigned> m_aTypes;
};

// A fresh empty folder under the system's temporary folder, removed with the object.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

std::vector<unsigned char> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);
void WriteText(const std::filesystem::path& path, const std::string& text);

// A WAV file as libsndfile reads it: format facts and the interleaved 16-bit samples.
struct CDecodedWav {
    bool m_bOpened = false;
    int m_nChannels = 0;
    int m_nSampleRate = 0;
    int m_nFormat = 0;
    std::vector<std::int16_t> m_aSamples; // left, right, left, right, ...
};
CDecodedWav DecodeWithSndfile(const std::filesystem::path& path);

// Writes interleaved `samples` (full scale 1.0) as a sound file in libsndfile's `format` (SF_FORMAT_*
// major | subtype); false when libsndfile refuses.
bool WriteSoundFile(const std::filesystem::path& path, const std::vector<double>& samples, int channels,
                    int sampleRate, int format);

// Runs `sox` with `arguments` (each quoted), quietly; true when it exits 0.
bool RunSox(const std::vector<std::string>& arguments);

// The stimulus `settings` describe, rendered as 32-bit float (whatever their format says), as
// doubles of full scale 1: left, right per frame. The exact stimulus for in-memory captures.
std::vector<double> FloatStimulus(CGenerationSettings settings);

// Settings for a short file at `path` with the given duration; the rest default.
CGenerationSettings ShortSettings(const std::filesystem::path& path, double duration = 0.05);

} // namespace test
