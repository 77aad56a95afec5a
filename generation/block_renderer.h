#pragma once

#include <cstdint>

#include "generation/generate_job.h"
#include "generation/job_sources.h"
#include "platform/output_file.h"

// Renders `frameCount` frames of `sources` (set up, at their current phases) into `file` in
// large writes, with the kernel and thread count of `options`, and returns the peak |left|
// before clipping. The bytes and the peak are those of stepping the sources one frame at a time:
// the phases are the same doubles, the arithmetic the same operations in the same order, and any
// frame whose value lies so close to a rounding or clipping edge that the vector sine's last-bit
// error could matter is computed again with the standard library's sine. Throws
// platform::CFileException on a failed write and std::invalid_argument for an unknown kernel.
double WriteFramesBlocked(const CJobSources& sources, std::uint32_t frameCount, platform::COutputFile& file,
                          const CRenderOptions& options);
