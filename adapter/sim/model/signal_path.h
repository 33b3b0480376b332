// A channel's signal path, from the input signal to the discriminator that feeds the counter.
//
// The input is a pulse train (state.h: Signal). The model follows its first harmonic, the
// simplest description that keeps each stage physically sensible:
//  1. AC coupling by the high-pass filter takes the mean away, so the pulse train swings
//     from +A(1 - duty) to -A * duty around zero.
//  2. Polarity: positive presents the upper swing A(1 - duty) to the discriminator, negative
//     inverts the signal and presents A * duty. (A square wave looks the same either way.)
//  3. Amplification multiplies by gain = register / 256.
//  4. The filters scale by their magnitude responses at the signal frequency f:
//     high-pass, first order, corner fH = K / 2^(Tau mod 32):  (f/fH) / sqrt(1 + (f/fH)^2);
//     low-pass, second order, corner f0 = K / sqrt(r), damping z = Alpha / (4 sqrt(r)),
//     r = 2^(Beta mod 32) - Alpha/2 - 1:  1 / sqrt((1 - u^2)^2 + (2 z u)^2), u = f/f0;
//     a low-pass filter with r <= 0 passes nothing. K = 100000 / (2 pi).
//  5. The discriminator counts one period for each crossing of the threshold, so a period
//     is counted exactly when the resulting swing exceeds the threshold.
#ifndef BXA7SIM_MODEL_SIGNAL_PATH_H
#define BXA7SIM_MODEL_SIGNAL_PATH_H

#include "state.h"

#include <cstdint>

namespace bxa7sim {

// The Alpha the module uses with `beta`: the one that gives its damping of sqrt(3)/2, by the
// same rule as the device library's QVX_3_GetLPF_Alpha.
uint16_t lowPassAlpha(uint8_t beta);

// Corner frequencies in Hz; the low-pass corner is 0 when its radicand is not positive.
double lowPassCorner(uint16_t alpha, uint8_t beta);
double highPassCorner(uint8_t tau);

// Magnitude responses at `hertz` (0 to 1 for the high-pass; the low-pass peaks above 1 only
// for dampings below 1/sqrt(2)).
double lowPassResponse(const ChannelSettings &settings, double hertz);
double highPassResponse(const ChannelSettings &settings, double hertz);

// The swing in volts that reaches the discriminator; 0 when the signal is off.
double discriminatorSwing(const ChannelSettings &settings, const Signal &input);

// Whether the discriminator counts the periods of `input`.
bool isCounted(const ChannelSettings &settings, const Signal &input);

} // namespace bxa7sim

#endif // BXA7SIM_MODEL_SIGNAL_PATH_H
