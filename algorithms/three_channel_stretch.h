// The nonlinear stretch table of three-channel filtering, exposed for its tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tcf_detail {

// The piecewise-linear table before smoothing: 0 below lo, lo..mn onto 0..BLOW,
// mn..mx onto BLOW..BHI, mx..hi onto BHI..255 (BHI alone when mx == hi), identity above hi.
void BuildStretchTable(int lo, int hi, int mn, int mx, int blow, int bhi, std::array<float, 256>& T);

// In-place running mean over 25 entries (fewer at the ends), ascending, each
// new value written back before the next is computed.
void SmoothTableInPlace(std::array<float, 256>& T);

// The channel mix of count pixels in place: ClampToByte(float(((p*K + a*K2) + b*K1) / S))
// with b the 7 x 7 and a the 25 x 25 mean.
void MixChannels(std::uint8_t* pixels, const std::uint8_t* mean7, const std::uint8_t* mean25, std::size_t count,
                 double K, double K1, double K2, double S);

// The same mix by a multiplication where it provably gives the same levels
// (AVX-512); returns false, doing nothing, when the processor lacks the
// instructions or S has no finite inverse.
bool MixChannelsVector(std::uint8_t* pixels, const std::uint8_t* mean7, const std::uint8_t* mean25, std::size_t count,
                       double K, double K1, double K2, double S);

}  // namespace tcf_detail
