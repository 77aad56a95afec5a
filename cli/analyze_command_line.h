#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis/analyzer.h"
#include "generation/settings.h"
#include "instrument/measure_continuous.h"
#include "instrument/sweep_spec.h"

// What vorlanx-analyze's command line asks for.
struct CAnalyzeCommandLine {
    enum class EAction { Analyze, Help, Version, BadUsage };
    enum class EFormat { Text, Json, Csv };
    EAction m_eAction = EAction::Analyze;
    CGenerationSettings m_settings; // the stimulus; its file name is not used
    analysis::CAnalysisOptions m_options;
    EFormat m_eFormat = EFormat::Text;
    std::string m_strRecording;
    // --make-limits K: a limits file from the spread of these known-good recordings (mean +- K sigma).
    std::optional<double> m_dMakeLimitsK;
    std::vector<std::string> m_aGolden;
    std::string m_strOutput; // the report's file; empty for standard output
    std::string m_strLimits; // --limits: the limits file to judge the figures against (empty: none)
    std::string m_strJunit;  // --junit: where the verdict goes as JUnit XML (empty: nowhere)
    std::string m_strReport; // --report: where the measurement goes as an HTML page (empty: nowhere)
    std::optional<analysis::CFullScale> m_fullScale; // --full-scale: the converter's full scale
    bool m_bQuiet = false;
    // --sample-rate was given: the stimulus was made at that rate, whatever the recording's.
    bool m_bSampleRateGiven = false;
    // --measure: play the stimulus and record the device's answer instead of reading a recording.
    bool m_bMeasure = false;
    bool m_bListDevices = false;
    std::string m_strOutputDevice;  // the device that plays the stimulus (empty: the default)
    std::string m_strInputDevice;   // the device that records the answer (empty: the default)
    std::string m_strSaveRecording; // keep the measured recording here (empty: a temporary file)
    // --continuous: measure live again and again, a line (or JSON object) per update.
    bool m_bContinuous = false;
    instrument::CContinuousOptions m_continuous; // --update, --average, --count
    std::optional<double> m_dGainAtHz;           // --gain-at: the tone whose gain each line shows
    // --sweep: a measurement per level or fundamental, live or from a folder of recordings.
    std::optional<instrument::CSweepSpec> m_sweep;
    std::string m_strError; // with BadUsage
};

// Parses the arguments after the program name: the signal options exactly as vorlanx-gen reads
// them, the analysis's own, and one recording.
CAnalyzeCommandLine ParseAnalyzeCommandLine(const std::vector<std::string>& arguments);

// The --help text, starting with "Usage:".
std::string AnalyzeUsageText();
