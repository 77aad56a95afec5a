#pragma once

// The rendering engine: the frames of a job in blocks, with vector sines, on all cores, byte for
// byte the frames of the per-frame path.
//
// WHY THE BYTES ARE THE SAME
//
// The per-frame path (the reference) computes frame k by the description's rules: each
// oscillator's phase p stepped by StepPhase (add the increment, subtract TWO_PI once when above
// it), the standard library's sin, and, in this order,
//     mother = sum over harmonics n ascending of sin(p_n) x a_n            (a_n = A / n)
//     daught = sum over daughters d of (sin(p_md) x sin(p_cd)) x level_d   (modulator, carrier)
//     left   = daught x 32767 + mother x 32767,   right = (sin(p_ref) x 32767) x 0.9
// then LeftSample (clip to [-32768, 32767], round half away from zero), RightSample, and the peak
// of |left| over the file, which the clipping warning compares with 32767 and prints as "%6.0f".
// That is the 16-bit format; step 6 extends the argument to the others and to fades.
//
// 1. What is exact. A lane of a block starts from the phases that the serial stepping reached at
//    its first frame and steps them by the same operation, so every phase is the same double as
//    the reference's. Every product and sum is the same operation on the same operands in the same
//    order, and nothing is contracted into a fused multiply-add (-ffp-contract=off everywhere;
//    the wrapped sine's and the resonator's own fused steps are inside their error bounds). A
//    daughter at level 0 whose phases stay finite adds +-0 to a sum that starts at +0 and is left
//    out.
// 2. What is approximate: only the sines (with a resonator's, its product with the amplitude).
//    For oscillator o, |kernel sine - library sine| <= e_o, worked out per oscillator when the
//    plan is made:
//    - the vector sine: the kernel's bound (kVectorSineError, 2e-15, for the wrapped polynomial and
//      SLEEF's 3.5 ulp sine) plus 1.2e-16 for the library's own last bit, while |phase| stays within
//      kTrustedPhase over the file (|p0| + frames x (|increment| + TWO_PI) bounds it); beyond that
//      SLEEF promises only a value in [-1, 1], and e_o = 2;
//    - the resonator, for a harmonic (or the reference tone) whose phases stay in [0, TWO_PI]:
//      y(k + 1) = c y(k) - y(k - 1)
//      with c = fl(2 cos increment) turns by exactly theta = acos(c / 2) per frame. A harmonic's
//      resonator carries its amplitude a, so y is its term a sin p and needs no product per frame
//      (the reference tone's has a = 1). Each lane seeds it afresh from its exact start phase p:
//      y(0) = a sin p, y(1) = a (sin p cos theta + cos p sin theta) (sin and cos within 2e-15; the
//      seeds within |a| d0, d0 = 2e-15 + u, and |a| d1, d1 = 1.5 x 2e-15 + 6u). Over the m <= 127
//      later frames of a lane, an error d in the seeds or in one step's roundings (c y and the
//      difference, or one fused multiply-add: 3u x 1.01 |a| at most, plus 2^-1075 a rounding where
//      y is subnormal) grows by at most A = min(128, 1 / sin theta).
//      The true phase is the stepped one: it drifts from p + k x increment by half an ulp (8.9e-16)
//      per step and by 2 pi - TWO_PI (2.45e-16) per wrap, and theta differs from the increment
//      (computed in long double). So, relative to |a| (and 0 for the subnormal term where a = 0,
//      since every value is then exactly 0),
//          e_o = (d0 + d1 + m x 3.03u + (3m + 7) 2^-1074 / |a|) A + m |theta - increment|
//                + m 8.9e-16 + wraps 2.45e-16 + 1.2e-16.
//      An oscillator takes the resonator only where e_o <= kMaxResonatorError (1e-10): a tiny increment
//      or one near pi (c near +-2) keeps the vector sine. Where a block's phases are not wrapped the
//      kernel falls back to the vector sine, so e_o is the larger of the two bounds. The exact
//      recompute never uses the resonator.
// 3. How far left can move. With M bounding the magnitude of every partial sum in full-scale
//    units (M = sum |a_n| (1 + e_n) + sum |level_d| (1 + e_md)(1 + e_cd)), an operation on inputs
//    that differ by delta gives results that differ by delta times the other factor, plus one
//    rounding in each computation, at most u x 32767 M apart (u = 2^-53) after the scaling, 2u in
//    all. Left takes 2H + 9 roundings (H harmonics: a multiply and an add each; two daughters:
//    two multiplies and an add each; two scalings and the last add); a resonator's term has its
//    product inside e_o, so the kernels round less, and the count still bounds them. So
//        |left' - left| <= B_L = 32767 x (sum e_n |a_n| + sum |level_d| (e_md (1 + e_cd) + e_cd)
//                                        + (2H + 9) x 2u x M)
//    and likewise |right' - right| <= B_R = 32767 x (e_ref + 2 x 2u) (two roundings, x 0.9 < 1).
//    Terms of second order (u x e) are left out; they are below 1e-15 of the bound.
// 4. The margin. The kernels flag a frame whose |left'| lies within m_L = kSafetyFactor x B_L
//    (4 x, covering the terms left out many times over) of a half (every rounding edge) or of
//    32767 (the clip and the warning's threshold), or is not finite or beyond 4e15 (where only
//    whole units exist); likewise right with m_R. B_L is at least 9 x 2u x |left|, so the margin
//    is wider than any last-bit step of the rounding arithmetic itself. Flagged frames are
//    computed again with the library's sine (the exact kernel) from the lane's exact phases; where
//    only right is flagged, only the reference tone is (left is unflagged: step 5 holds for it).
// 5. Why an unflagged frame is exact. Its left' lies more than B_L from every edge and the exact
//    left lies within B_L of it, so both are on the same side of every edge: the same clip, the
//    same rounded sample (adding +-0.5 and truncating is monotone, and no edge lies between
//    them), the same answer to "above 32767?". The peak's printed digits are the rounded peak,
//    and rounding is monotone: max(round(|left'|)) over unflagged frames equals the exact one, so
//    "%6.0f" of the peak (and whether the warning appears) is the reference's.
// 6. Other formats and fades (sample_format.h holds their per-frame definitions). The steps above
//    hold with the format's full scale S in place of 32767: B_L and B_R scale with S, and the
//    24-bit format's edges are its halves and S = 8388607. A fade multiplies both channels by the
//    frame's gain, which both paths compute by the same expression from the same frame number:
//    one more rounding each, counted in B_L and B_R, and the gain (at most 1) only shrinks the
//    difference carried in. Float (S = 1) has no clip; its edges are the midpoints between
//    neighbouring floats, where rounding to float changes. The kernels flag a value within the
//    margin of a midpoint (read from the double's low 29 bits, counting the midpoint below a power
//    of two, where the gap halves), not finite, beyond 3e38 (near the largest float) or below
//    2^-126 (where floats are subnormal); 1.0, the warning's threshold, is a float, so "above 1.0"
//    changes only at a midpoint. Near 0 the gaps shrink below the margin and such frames are always
//    flagged, which only costs time. An unflagged value and the exact one round to the same float,
//    so the samples and the peak (the largest |left sample|) agree.
// The tests pin this: every harmonic's observed error stays within its e_o, by each method, on
// every kernel; every kernel's observed difference stays within B_L and B_R; a kernel with
// a deliberately worse sine (and a matching e) still gives the reference's bytes, and with the
// margin set to zero it does not.
//
// Everything below this header (kernels, the plan, the threads) refers to the steps above.

#include <cstddef>
#include <cstdint>

#include "generation/render/render_options.h"
#include "generation/render/render_plan.h"

namespace render {

// Receives the rendered frames in file order, each as the file holds it in the rendering's format
// (BytesPerFrame of it: left then right, little-endian).
class CFrameSink {
public:
    virtual ~CFrameSink() = default;
    // The next `frameCount` frames. Called on the thread that runs RenderFrames, once per
    // rendering round (up to 65536 frames). May throw to stop the rendering: the exception leaves
    // RenderFrames after every helper thread has stopped.
    virtual void Consume(const unsigned char* bytes, std::size_t frameCount) = 0;
};

// Renders `frameCount` frames of `sources` (set up, at the phases to start from) into `sink` in
// `format` (its sample format and fades; the fades count from the first of these frames), and
// returns the peak (sample_format.h: |left| before clipping for the integer formats, the largest
// |left sample| for float); the bytes, and the peak as the warnings print it, are those of the
// per-frame path (see above). Uses the kernel and thread count of `options` (its m_ePath is the
// caller's business). Helper threads that cannot start leave the work to those that did (the
// calling thread at least); an exception in any thread stops them all and leaves here. Throws
// std::invalid_argument for a kernel this CPU cannot run or that does not exist, and whatever the
// sink throws.
double RenderFrames(const CSources& sources, std::uint64_t frameCount, CFrameSink& sink,
                    const CRenderOptions& options, const CFrameFormat& format = {});

} // namespace render
