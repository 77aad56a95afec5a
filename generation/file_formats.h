#pragma once

#include <string>
#include <vector>

#include "generation/sample_format.h"
#include "generation/settings.h"

// The sample formats and containers as every program names, offers and describes them: the options
// (--format, --container), Python's keywords, the dialog's Format choice, --info's file type and the
// file choosers' filters all read these rows.

struct CSampleFormatRow {
    ESampleFormat m_eFormat;
    const char* m_szName;    // the option's value: "s16"
    const char* m_szSamples; // for people: "16-bit PCM" (in a WAV), "16-bit" (in a FLAC)
    const char* m_szFlacSamples;
};

struct CContainerRow {
    EContainer m_eContainer;
    const char* m_szName;      // the option's value: "auto", "wav", "rf64", "flac"
    const char* m_szExtension; // the file name's ending that chooses it, or "" when none does
    const char* m_szFileType;  // for people: "WAV", "RF64", "FLAC"; "" for auto
};

// A choice of the dialog's Format box: a format in a container, and its label.
struct CFileChoice {
    ESampleFormat m_eFormat;
    EContainer m_eContainer; // Wav or Flac (a WAV past 4 GiB becomes RF64 by itself)
    const char* m_szLabel;   // "16-bit WAV", "FLAC 24-bit"
};

const std::vector<CSampleFormatRow>& SampleFormatRows(); // in ESampleFormat's order
const std::vector<CContainerRow>& ContainerRows();       // in EContainer's order
const std::vector<CFileChoice>& FileChoices();

// The endings of the sound files a recording may be read from (what libsndfile reads), for file
// choosers: "wav", "flac", "aiff", ...
const std::vector<const char*>& RecordingExtensions();

// "16-bit PCM WAV", "24-bit PCM WAV (extensible)", "32-bit float RF64", "24-bit FLAC": a file's samples
// and container for people.
std::string FileTypeText(ESampleFormat format, EContainer container);
