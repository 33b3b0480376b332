// Filter corner frequencies and damping from the filter registers, and Alpha from a damping.
#include "qvx3.h"

#include "convert.h"

#include <cmath>

namespace {

// 100000 / (2 pi): the corner frequency, in Hz, of a radicand or divisor of 1.
constexpr double kK = 15915.494309189535;

// 2^(exponent mod 32), exact.
double powerOfTwo(uint8_t exponent) {
    return static_cast<double>(uint32_t{1} << exponent % 32);
}

// The low-pass radicand r = N - Alpha/2 - 1 with N = 2^(Beta mod 32). Exact in double (both
// terms below 2^32, in steps of 1/2), then rounded to float once.
float lowPassRadicand(uint16_t alpha, uint8_t beta) {
    return static_cast<float>(powerOfTwo(beta) - alpha * 0.5 - 1.0);
}

} // namespace

float QVX_3_CALL QVX_3_GetLPF_Frequency(uint16_t alpha, uint8_t beta) {
    const float r = lowPassRadicand(alpha, beta);
    return r > 0 ? static_cast<float>(kK / std::sqrt(static_cast<double>(r))) : 0.0f;
}

float QVX_3_CALL QVX_3_GetLPF_Damping(uint16_t alpha, uint8_t beta) {
    const float r = lowPassRadicand(alpha, beta);
    return r > 0 ? static_cast<float>(alpha / (4.0 * std::sqrt(static_cast<double>(r)))) : 0.0f;
}

void QVX_3_CALL QVX_3_GetLPF_Parameters(uint16_t alpha, uint8_t beta, float *frequency,
                                        float *damping) {
    const float r = lowPassRadicand(alpha, beta);
    if (!(r > 0)) return;
    const double root = static_cast<float>(std::sqrt(static_cast<double>(r)));
    *frequency = static_cast<float>(kK / root);
    *damping = static_cast<float>(alpha * 0.25 / root);
}

uint16_t QVX_3_CALL QVX_3_GetLPF_Alpha(uint8_t beta, float damping) {
    const double d = damping;
    // N - 1 and d * d are exact in double, so only their sum is rounded before the float.
    const float r = static_cast<float>(powerOfTwo(beta) - 1.0 + d * d);
    if (!(r > 0)) return 0; // also a NaN damping
    // An infinite damping, or one so large that r overflows float, makes this NaN or
    // infinite, which low16 turns into 0.
    return qvx3::low16((std::sqrt(static_cast<double>(r)) - d) * (4.0 * d) + 0.5);
}

float QVX_3_CALL QVX_3_GetHPF_Frequency(uint8_t tau) {
    return static_cast<float>(kK / powerOfTwo(tau));
}
