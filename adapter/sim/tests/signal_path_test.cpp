#include "signal_path.h"

#include <gtest/gtest.h>

#include <cmath>

namespace bxa7sim {
namespace {

TEST(LowPassAlpha, GivesTheDampingOfSqrt3Over2) {
    struct Case {
        uint8_t beta;
        uint16_t alpha;
    };
    // Beta 33 is Beta 1 (the exponent is taken mod 32).
    for (const Case c : {Case{2, 4}, Case{10, 108}, Case{24, 14186}, Case{1, 2}, Case{33, 2}}) {
        SCOPED_TRACE(static_cast<int>(c.beta));
        EXPECT_EQ(lowPassAlpha(c.beta), c.alpha);
    }
    EXPECT_NEAR(lowPassCorner(14186, 24), 3.8864405, 1e-6);
    EXPECT_EQ(lowPassCorner(6, 2), 0.0); // radicand 0
}

TEST(FilterResponse, MatchesFirstAndSecondOrderFiltersAtTheirCorners) {
    ChannelSettings s;
    s.tau = 10;
    s.beta = 10;
    const double hpCorner = highPassCorner(s.tau);
    EXPECT_NEAR(highPassResponse(s, hpCorner), 1.0 / std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(highPassResponse(s, hpCorner * 1000), 1.0, 1e-6);
    EXPECT_NEAR(highPassResponse(s, hpCorner / 1000), 0.001, 1e-6);

    const double lpCorner = lowPassCorner(lowPassAlpha(s.beta), s.beta);
    // A second-order low-pass passes 1 / (2 z) at its corner; Alpha 108 with Beta 10 gives
    // z = 108 / (4 sqrt(969)).
    EXPECT_NEAR(lowPassResponse(s, lpCorner), 2.0 * std::sqrt(969.0) / 108.0, 1e-12);
    EXPECT_NEAR(lowPassResponse(s, lpCorner / 1000), 1.0, 1e-5);
    EXPECT_NEAR(lowPassResponse(s, lpCorner * 100), 1e-4, 1e-6);
}

TEST(SignalPath, DecidesWhatTheDiscriminatorCounts) {
    struct Case {
        const char *what;
        ChannelSettings settings;
        Signal input;
        bool counted;
    };
    const ChannelSettings defaults;
    const Signal x = defaultInputs()[0];
    const Signal y = defaultInputs()[1];
    auto with = [](auto base, auto change) {
        change(base);
        return base;
    };
    const Signal narrowPulses = with(x, [](Signal &s) { s.dutyPpm = 100000; });
    const Case cases[] = {
        {"default Ch X", defaults, x, true},
        {"default Ch Y", defaults, y, true},
        {"signal off", defaults, with(x, [](Signal &s) { s.on = false; }), false},
        {"no amplitude", defaults, with(x, [](Signal &s) { s.microvolts = 0; }), false},
        {"gain 0", with(defaults, [](ChannelSettings &s) { s.gain = 0; }), x, false},
        // Ch X's swing: 0.5 V x 0.998 (high-pass) x 0.996 (low-pass) = 0.497 V.
        {"threshold just below the swing",
         with(defaults, [](ChannelSettings &s) { s.thresholdMv = 497; }), x, true},
        {"threshold just above the swing",
         with(defaults, [](ChannelSettings &s) { s.thresholdMv = 498; }), x, false},
        {"gain 2 lifts it over",
         with(defaults, [](ChannelSettings &s) { s.thresholdMv = 600, s.gain = 512; }), x, true},
        {"gain 1/256", with(defaults, [](ChannelSettings &s) { s.gain = 1; }), x, false},
        {"narrow pulses, positive", with(defaults, [](ChannelSettings &s) { s.thresholdMv = 500; }),
         narrowPulses, true},
        {"narrow pulses, negative",
         with(defaults, [](ChannelSettings &s) { s.thresholdMv = 500, s.polarity = 1; }),
         narrowPulses, false},
        {"far above the low-pass corner", defaults,
         with(x, [](Signal &s) { s.millihertz = 2000000000; }), false},
        {"far below the high-pass corner", defaults,
         with(x, [](Signal &s) { s.millihertz = 1000; }), false},
        {"DC", defaults, with(x, [](Signal &s) { s.millihertz = 0; }), false},
        {"low-pass without a corner (Beta 1, Alpha 2: r = 0)",
         with(defaults, [](ChannelSettings &s) { s.beta = 1; }), x, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(isCounted(c.settings, c.input), c.counted)
            << "swing " << discriminatorSwing(c.settings, c.input);
    }
}

} // namespace
} // namespace bxa7sim
