// Conversions between the module's integer registers and the caller's numbers.
//
// Float-to-register steps are defined for every argument a caller can pass: the scaled value
// is truncated toward zero and its low 16 bits (two's complement) go to the register; NaN and
// infinities give 0. A plain cast would be undefined outside the register's range.
#ifndef QVX3_CONVERT_H
#define QVX3_CONVERT_H

#include "qvx3_protocol.h"

#include <cstdint>

namespace qvx3 {

inline uint16_t le16(const uint8_t *bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

inline uint32_t le32(const uint8_t *bytes) {
    return static_cast<uint32_t>(le16(bytes)) | static_cast<uint32_t>(le16(bytes + 2)) << 16;
}

// Amplification register: the gain in units of 1/256, truncated.
inline uint16_t gainToRegister(float gain) {
    return low16(static_cast<double>(gain) * 256.0);
}

// The amplification register's fixed point has 8 fractional bits; every value is exact.
inline float gainFromRegister(uint16_t reg) {
    return static_cast<float>(reg) * 0.00390625f;
}

// Threshold and duration registers: whole thousandths (mV, ms), halves rounded up for
// non-negative values.
inline uint16_t thousandthsToRegister(float value) {
    return low16(static_cast<double>(value) * 1000.0 + 0.5);
}

inline float thousandthsFromRegister(uint16_t reg) {
    return static_cast<float>(reg * 0.001);
}

} // namespace qvx3

#endif // QVX3_CONVERT_H
