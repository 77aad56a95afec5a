#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "generation/settings.h"
#include "generation/signal_sources.h"

// Every source of one job, set up at phase 0.
struct CJobSources {
    CMotherSignal m_bank;
    std::array<CDaughterSignal, 2> m_aDaughters; // [0] from carrier 1, [1] from carrier 2
    CReferenceTone m_reference;
};

// Why a job refuses its settings before it opens the file, as the text shown to the user;
// nullopt when the settings can be rendered. Computes without allocating or writing anything.
std::optional<std::string> RefusalReason(const CGenerationSettings& settings);

// Builds the bank, both daughters and the reference tone from `settings`. The settings must have
// passed RefusalReason (Build throws std::length_error otherwise).
void PrepareSources(const CGenerationSettings& settings, CJobSources& sources);

// The left and right channel values of one frame, before rounding, stepping every source once:
// mother x S, plus the daughters' sum x S, and (reference x S) x 0.9, for a full scale S (32767,
// the 16-bit default; sample_format.h).
struct CFrameValues {
    double m_dLeft;
    double m_dRight;
};
CFrameValues NextFrameValues(CJobSources& sources, double fullScale = 32767.0);
