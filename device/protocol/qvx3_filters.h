// What the QVX-3's filter registers mean: the low-pass filter set by Alpha and Beta, the
// high-pass filter by Tau. Shared by the device library, which turns them into corner
// frequencies and damping for its callers, and the simulated module, whose signal path and
// Beta register follow the same rules.
#ifndef QVX3_FILTERS_H
#define QVX3_FILTERS_H

#include "qvx3_protocol.h"

#include <cmath>
#include <cstdint>

namespace qvx3 {

// 100000 / (2 pi): the corner frequency, in Hz, of a radicand or divisor of 1.
constexpr double kCornerK = 15915.494309189535;

// The damping the module chooses Alpha for when Beta is written: sqrt(3)/2 as a float.
constexpr float kModuleDamping = 0.8660254f;

// 2^(exponent mod 32), exact.
inline double powerOfTwo(uint8_t exponent) {
    return static_cast<double>(uint32_t{1} << exponent % 32);
}

// The low-pass radicand r = N - Alpha/2 - 1 with N = 2^(Beta mod 32). Exact in double (both
// terms below 2^32, in steps of 1/2), then rounded to float once; filters need r > 0.
inline float lowPassRadicand(uint16_t alpha, uint8_t beta) {
    return static_cast<float>(powerOfTwo(beta) - alpha * 0.5 - 1.0);
}

// The Alpha that gives `damping` with `beta`: Damping = Alpha / (4 sqrt(N - Alpha/2 - 1))
// solved for Alpha, rounded, as the low 16 bits of the truncated result. 0 when the radicand
// N + damping^2 - 1 is not positive or the result is not finite (NaN or infinite damping).
inline uint16_t alphaForDamping(uint8_t beta, float damping) {
    const double d = damping;
    // N - 1 and d * d are exact in double, so only their sum is rounded before the float.
    const float r = static_cast<float>(powerOfTwo(beta) - 1.0 + d * d);
    if (!(r > 0)) return 0;
    return low16((std::sqrt(static_cast<double>(r)) - d) * (4.0 * d) + 0.5);
}

} // namespace qvx3

#endif // QVX3_FILTERS_H
