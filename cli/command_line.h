#pragma once

#include <string>
#include <vector>

#include "generation/generate_job.h"
#include "generation/settings.h"

// What the command line asks for.
struct CCommandLine {
    enum class EAction { Generate, Help, Version, BadUsage };
    EAction m_eAction = EAction::Generate;
    CGenerationSettings m_settings;
    render::CRenderOptions m_options;
    bool m_bQuiet = false;       // -q: no progress line
    bool m_bInfo = false;        // --info: print the plan, write nothing
    bool m_bJson = false;        // --json (with --info): the plan as JSON
    bool m_bListDevices = false; // --list-devices: list the sound devices, write nothing
    bool m_bPlay = false;        // --play: play the signal on a sound device instead of writing it
    bool m_bLoop = false;        // --loop: play it again and again until interrupted (implies --play)
    std::string m_strDevice;     // --device: the output device's name, or part of it; empty: the default
    std::string m_strError;      // with BadUsage: one line naming the option and what is wrong
};

// Parses the arguments after the program name. Numbers are read in the C locale as the whole
// argument; the duration, sample rate and Nyquist factor must lie in their inclusive ranges.
CCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The --help text, starting with "Usage:".
std::string UsageText();
