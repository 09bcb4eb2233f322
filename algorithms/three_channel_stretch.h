// The nonlinear stretch table of three-channel filtering, exposed for its tests.
#pragma once

#include <array>

namespace tcf_detail {

// The piecewise-linear table before smoothing: 0 below lo, lo..mn onto 0..BLOW,
// mn..mx onto BLOW..BHI, mx..hi onto BHI..255 (BHI alone when mx == hi), identity above hi.
void BuildStretchTable(int lo, int hi, int mn, int mx, int blow, int bhi, std::array<float, 256>& T);

// In-place running mean over 25 entries (fewer at the ends), ascending, each
// new value written back before the next is computed.
void SmoothTableInPlace(std::array<float, 256>& T);

}  // namespace tcf_detail
