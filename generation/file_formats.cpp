#include "generation/file_formats.h"

const std::vector<CSampleFormatRow>& SampleFormatRows() {
    static const std::vector<CSampleFormatRow> rows = {
        {ESampleFormat::S16, "s16", "16-bit PCM", "16-bit"},
        {ESampleFormat::S24, "s24", "24-bit PCM", "24-bit"},
        {ESampleFormat::F32, "f32", "32-bit float", "32-bit float"},
    };
    return rows;
}

const std::vector<CContainerRow>& ContainerRows() {
    static const std::vector<CContainerRow> rows = {
        {EContainer::Auto, "auto", "", ""},
        {EContainer::Wav, "wav", ".wav", "WAV"},
        {EContainer::Rf64, "rf64", "", "RF64"},
        {EContainer::Flac, "flac", ".flac", "FLAC"},
    };
    return rows;
}

const std::vector<CFileChoice>& FileChoices() {
    static const std::vector<CFileChoice> choices = {
        {ESampleFormat::S16, EContainer::Wav, "16-bit WAV"},
        {ESampleFormat::S24, EContainer::Wav, "24-bit WAV"},
        {ESampleFormat::F32, EContainer::Wav, "32-bit float WAV"},
        {ESampleFormat::S16, EContainer::Flac, "FLAC 16-bit"},
        {ESampleFormat::S24, EContainer::Flac, "FLAC 24-bit"},
    };
    return choices;
}

const std::vector<const char*>& RecordingExtensions() {
    static const std::vector<const char*> extensions = {"wav",  "flac", "aif", "aiff", "caf", "w64",
                                                        "rf64", "au",   "snd", "ogg",  "oga"};
    return extensions;
}

std::string FileTypeText(ESampleFormat format, EContainer container) {
    const CSampleFormatRow& samples = SampleFormatRows()[static_cast<std::size_t>(format)];
    const bool flac = container == EContainer::Flac;
    const char* file = container == EContainer::Rf64  ? "RF64"
                       : flac                         ? "FLAC"
                       : format == ESampleFormat::S16 ? "WAV"
                                                      : "WAV (extensible)";
    return std::string(flac ? samples.m_szFlacSamples : samples.m_szSamples) + " " + file;
}
