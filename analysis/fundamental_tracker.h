#pragma once

#include <complex>
#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/segment_spectrum.h"

namespace analysis {

// Where the tone nearest `nominalBin` lies in `spectrum`, in bins, searching `tolerance` (a
// fraction, 0.02 = 2 %) either side: the largest bin there, interpolated on the log magnitudes of
// it and its neighbours (the Kaiser window's main lobe is close to a Gaussian). nullopt when that bin
// is not a peak, or stands less than 30 dB above the segment's median bin: no tone is there.
std::optional<double> FindTonePeak(const CSegmentSpectrum& spectrum, double nominalBin, double tolerance);

// The exact frequency of a tone from its phases at the centres of segments. A tone at `bin`
// advances by 2 pi bin per segment of M frames. Measured at a nearby bin c, each step from one
// segment to another g segments on, less 2 pi c g, is 2 pi (bin - c) g, which unwraps as long as
// |bin - c| g < 1/2; the line through the unwrapped phases (weighted by the tone's amplitude in each
// segment) has the slope 2 pi (bin - c) per segment. Segments where the tone is more than 60 dB
// below its median amplitude (a dropout) are left out.
class CPhaseTrack {
public:
    explicit CPhaseTrack(double bin) : m_dBin(bin) {}
    // The tone in segment `segment` (ascending), as CSegmentSpectrum::ToneAtFrequency measures it at
    // the bin given to the constructor.
    void Add(std::uint64_t segment, std::complex<double> tone) { m_aPoints.push_back({segment, tone}); }
    // The tone's bin; the one given with fewer than two usable segments.
    double Bin() const;

private:
    struct CPoint {
        std::uint64_t m_nSegment;
        std::complex<double> m_tone;
    };
    double m_dBin;
    std::vector<CPoint> m_aPoints;
};

} // namespace analysis
