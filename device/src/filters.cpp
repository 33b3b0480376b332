// Filter corner frequencies and damping from the filter registers, and Alpha from a damping.
#include "qvx3.h"

#include "qvx3_filters.h"

#include <cmath>

using qvx3::kCornerK;
using qvx3::lowPassRadicand;
using qvx3::powerOfTwo;

float QVX_3_CALL QVX_3_GetLPF_Frequency(uint16_t alpha, uint8_t beta) {
    const float r = lowPassRadicand(alpha, beta);
    return r > 0 ? static_cast<float>(kCornerK / std::sqrt(static_cast<double>(r))) : 0.0f;
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
    *frequency = static_cast<float>(kCornerK / root);
    *damping = static_cast<float>(alpha * 0.25 / root);
}

uint16_t QVX_3_CALL QVX_3_GetLPF_Alpha(uint8_t beta, float damping) {
    return qvx3::alphaForDamping(beta, damping);
}

float QVX_3_CALL QVX_3_GetHPF_Frequency(uint8_t tau) {
    return static_cast<float>(kCornerK / powerOfTwo(tau));
}
