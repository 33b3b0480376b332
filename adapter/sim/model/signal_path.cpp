#include "signal_path.h"

#include <cmath>

namespace bxa7sim {

namespace {

constexpr double kCornerK = 15915.494309189535; // 100000 / (2 pi)

double powerOfTwo(uint8_t exponent) {
    return static_cast<double>(uint32_t{1} << (exponent % 32));
}

// r = N - Alpha/2 - 1, rounded to single precision as the filter maths do.
float lowPassRadicand(uint16_t alpha, uint8_t beta) {
    return static_cast<float>(powerOfTwo(beta) - alpha * 0.5 - 1.0);
}

} // namespace

uint16_t lowPassAlpha(uint8_t beta) {
    const double d = kLowPassDamping;
    const float radicand = static_cast<float>(powerOfTwo(beta) + d * d - 1.0);
    if (!(radicand > 0.0f)) return 0;
    const double v = (std::sqrt(static_cast<double>(radicand)) - d) * (4.0 * d) + 0.5;
    // v lies between 0.5 and 4 * 2^16 here, so the conversion is defined.
    return static_cast<uint16_t>(static_cast<uint32_t>(v) & 0xFFFF);
}

double lowPassCorner(uint16_t alpha, uint8_t beta) {
    const float r = lowPassRadicand(alpha, beta);
    return r > 0.0f ? kCornerK / std::sqrt(static_cast<double>(r)) : 0.0;
}

double highPassCorner(uint8_t tau) {
    return kCornerK / powerOfTwo(tau);
}

double lowPassResponse(const ChannelSettings &settings, double hertz) {
    const uint16_t alpha = lowPassAlpha(settings.beta);
    const float r = lowPassRadicand(alpha, settings.beta);
    if (!(r > 0.0f)) return 0.0;
    const double root = std::sqrt(static_cast<double>(r));
    const double damping = alpha / (4.0 * root);
    const double u = hertz / (kCornerK / root);
    const double a = 1.0 - u * u;
    const double b = 2.0 * damping * u;
    return 1.0 / std::sqrt(a * a + b * b);
}

double highPassResponse(const ChannelSettings &settings, double hertz) {
    const double u = hertz / highPassCorner(settings.tau);
    return u / std::sqrt(1.0 + u * u);
}

double discriminatorSwing(const ChannelSettings &settings, const Signal &input) {
    if (!input.on) return 0.0;
    const double hertz = static_cast<double>(input.millihertz) * 1e-3;
    const double duty = input.dutyPpm * 1e-6;
    const double presented = input.microvolts * 1e-6 * (settings.polarity ? duty : 1.0 - duty);
    const double gain = settings.gain / 256.0;
    return presented * gain * highPassResponse(settings, hertz) * lowPassResponse(settings, hertz);
}

bool isCounted(const ChannelSettings &settings, const Signal &input) {
    return discriminatorSwing(settings, input) > settings.thresholdMv * 1e-3;
}

} // namespace bxa7sim
