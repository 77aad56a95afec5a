#pragma once

#include <string>

#include "analysis/analyzer.h"
#include "analysis/recording.h"
#include "generation/settings.h"
#include "instrument/outcome.h"
#include "platform/progress.h"

// The use cases every shell offers: analyse a recording, measure live (measure_live.h). The shells
// (vorlanx-analyze, the dialog, the Python module) parse, call these and phrase what comes back;
// none of them builds a plan or words a refusal itself.
namespace instrument {

// Measures the recording at `path` against the stimulus `settings` describe (their duration and
// file name play no part; their fades are left out of the analysed span), over the part and channels
// `options` choose. The stimulus is taken to be at the recording's rate unless `rateGiven` says the
// settings' rate is the stimulus's (then a recording at another rate is analysed against it, with a
// warning). `path` "-" is standard input; a pipe or other stream is read into a temporary file first.
// A file that cannot be opened or read as sound is EProblem::Unreadable; one the analysis refuses is
// EProblem::Refused. Throws std::invalid_argument for options out of range, a platform::CCancelled
// when `progress` (may be null) cancels, and platform::CReadException when the file fails while it
// is read. Any thread.
COutcome AnalyseFile(const CGenerationSettings& settings, const std::string& path,
                     const analysis::CAnalysisOptions& options, platform::CProgress* progress,
                     bool rateGiven = false);

// The same for a recording already open (an array in memory, a file opened by the caller); the
// subject is the recording's name.
COutcome AnalyseRecording(const CGenerationSettings& settings, analysis::CRecording& recording,
                          const analysis::CAnalysisOptions& options, platform::CProgress* progress,
                          bool rateGiven = false);

} // namespace instrument
