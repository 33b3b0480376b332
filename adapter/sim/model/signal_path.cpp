#include "signal_path.h"

#include "qvx3_filters.h"

#include <cmath>

namespace bxa7sim {

namespace {

using qvx3::kCornerK;
using qvx3::lowPassRadicand;
using qvx3::powerOfTwo;

} // namespace

uint16_t lowPassAlpha(uint8_t beta) {
    return qvx3::alphaForDamping(beta, qvx3::kModuleDamping);
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
