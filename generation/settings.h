#pragma once

#include <cstdint>
#include <string>

#include "generation/sample_format.h"

// The file's container: by the name (".flac" is FLAC, anything else WAV), or as chosen. A WAV file
// whose data passes the 4 GiB of a RIFF file is written as RF64, whatever was chosen.
enum class EContainer { Auto, Wav, Rf64, Flac };

// The ten values that define one test file, and how it is stored. Default construction gives the
// defaults, which give today's 16-bit WAV file; the dialog's transfer (or the headless generator's
// options) is the only writer, the job only reads.
struct CGenerationSettings {
    CGenerationSettings();

    std::string m_strFileName;           // output path, UTF-8; default "Ombrel.wav" in the home folder
    double m_dDuration = 30.0;           // seconds
    std::uint32_t m_nSampleRate = 44100; // frames per second (Hz)
    double m_dFundamentalFreq = 277.0;   // f0, Hz
    double m_dMotherAmplitude = 1.0;     // A, 1.0 = full scale; harmonic n gets A / n
    double m_dCarrierFreq1 = 3878.0;     // Hz (14 x 277)
    double m_dDaughterAmplitude1 = 0.0;  // 1.0 = full scale
    double m_dCarrierFreq2 = 4155.0;     // Hz (15 x 277)
    double m_dDaughterAmplitude2 = 0.0;  // 1.0 = full scale
    double m_dNyquistFactor = 0.95;      // band limit as a fraction of half the sample rate
    // How the samples are stored (sample_format.h), in what file, and the fades' lengths.
    ESampleFormat m_eFormat = ESampleFormat::S16;
    EContainer m_eContainer = EContainer::Auto;
    double m_dFadeInS = 0.0;  // seconds of raised-cosine fade-in, 0 for none
    double m_dFadeOutS = 0.0; // and fade-out
};

// "s16", "s24", "f32".
const char* FormatName(ESampleFormat format);
// "auto", "wav", "rf64", "flac".
const char* ContainerName(EContainer container);

// The container `settings` choose: as given, or by the file name's ending (".flac", any case, is
// FLAC; anything else WAV). The plan still makes a WAV file too large for RIFF an RF64 one.
EContainer ChosenContainer(const CGenerationSettings& settings);

// The inclusive ranges that the input shells enforce; the other fields have none.
inline constexpr double kMinDuration = 0.0;
inline constexpr double kMaxDuration = 1000000.0;
inline constexpr std::uint32_t kMinSampleRate = 0;
inline constexpr std::uint32_t kMaxSampleRate = 1000000;
inline constexpr double kMinNyquistFactor = 0.0;
inline constexpr double kMaxNyquistFactor = 1.0;
inline constexpr double kMinFadeS = 0.0;
inline constexpr double kMaxFadeS = 1000000.0;

// "Ombrel.wav" in the folder named by HOME, or a bare "Ombrel.wav" (the working directory) when
// HOME is unset or empty.
std::string DefaultOutputPath();
