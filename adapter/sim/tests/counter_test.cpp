#include "counter.h"
#include "module.h"

#include <gtest/gtest.h>

namespace bxa7sim {
namespace {

using namespace qvx3;

constexpr int64_t kMs = 1000000;

uint32_t readFrequency(SimState &s, uint8_t code, int64_t now) {
    const std::vector<uint8_t> b = readRegister(s, code, now);
    return static_cast<uint32_t>(b.at(0) | b.at(1) << 8 | b.at(2) << 16 |
                                 static_cast<uint32_t>(b.at(3)) << 24);
}

void writeWord(SimState &s, uint8_t code, uint16_t value, int64_t now) {
    const uint8_t payload[] = {static_cast<uint8_t>(value & 0xFF),
                               static_cast<uint8_t>(value >> 8)};
    writeRegister(s, code, payload, now);
}

// The power-on counter, read by the clock: results every 100 ms, new-data bits until read.
TEST(Counter, OffersAResultEveryDurationWithNewDataBitsUntilRead) {
    SimState s = freshState("boot", 5 * kMs);
    struct Step {
        int64_t atMs;
        uint8_t readCode; // 0: only look at the state
        uint8_t stateAfter;
        uint32_t raw;
    };
    const Step steps[] = {
        {5, 0, 0x00, 0},                          // powered on: no result yet
        {104, 0, 0x00, 0},                        // first gate still open
        {105, 0, 0xF0, 0},                        // both channels: result, new
        {106, CMD_Frequency_X, 0xE0, 10000000},   // 1 kHz read: X no longer new
        {150, CMD_Frequency_X, 0xE0, 10000000},   // the same result again
        {160, CMD_Frequency_Y, 0xC0, 125000000},  // 12.5 kHz read
        {204, 0, 0xC0, 0},                        // valid, nothing new
        {205, 0, 0xF0, 0},                        // the second gate closed
        {5005, CMD_Frequency_Y, 0xD0, 125000000}, // many gates later
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.atMs);
        const int64_t now = step.atMs * kMs;
        if (step.readCode) {
            EXPECT_EQ(readFrequency(s, step.readCode, now), step.raw);
        }
        EXPECT_EQ(stateByte(s, now), step.stateAfter);
        EXPECT_EQ(readRegister(s, CMD_State, now), std::vector<uint8_t>{step.stateAfter});
    }
}

TEST(Counter, CountsPeriodsThatAverageToTheSignalFrequency) {
    ChannelSettings settings;
    Signal input;
    input.millihertz = 1234567; // 1234.567 Hz: 123.4567 periods per 100 ms gate
    uint64_t total = 0;
    for (uint64_t window = 1; window <= 10000; ++window) {
        const uint64_t n = countedPeriods(settings, input, window);
        ASSERT_TRUE(n == 123 || n == 124) << "gate " << window << ": " << n;
        total += n;
    }
    EXPECT_EQ(total, 1234567u);

    // Gates far into a long run, where window * periods per gate no longer fits 64 bits.
    input.millihertz = kMaxSignalMillihertz - 1;
    settings.durationMs = 65535;
    settings.gain = 0xFFFF;
    settings.thresholdMv = 0;
    for (const uint64_t window : {uint64_t{1} << 40, (uint64_t{1} << 40) + 1, ~uint64_t{0}}) {
        const uint64_t n = countedPeriods(settings, input, window); // 655349999.934465 a gate
        EXPECT_TRUE(n == 655349999 || n == 655350000) << "gate " << window << ": " << n;
    }
}

TEST(Counter, ResultRegisterRoundsAndOverflows) {
    struct Case {
        uint64_t periods;
        uint16_t durationMs;
        uint32_t raw;
    };
    const Case cases[] = {
        {100, 100, 10000000}, // 1000 Hz
        {0, 100, 0},
        {1, 3, 3333333},             // 333.33333 Hz
        {2, 3, 6666667},             // rounded up
        {429496, 1000, 4294960000u}, // 429496 Hz fits
        {429497, 1000, 0xFFFFFFFF},  // 429497 Hz does not
        {50000, 100, 0xFFFFFFFF},    // 500 kHz
        {655350000, 65535, 0xFFFFFFFF},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.periods << " in " << c.durationMs << " ms");
        EXPECT_EQ(resultRegister(c.periods, c.durationMs), c.raw);
    }
}

TEST(Counter, ReportsOverflowAndNothingCountedThroughTheRegister) {
    SimState s = freshState("boot", 0);
    Signal fast = s.inputs[0];
    fast.millihertz = 500000000; // 500 kHz, lifted over the low-pass roll-off by the gain
    setInput(s, 0, fast, 0);
    writeWord(s, CMD_Amplification_X, 0xFF00, 0); // gain 255
    writeWord(s, CMD_Threshold_X, 10, 0);
    Signal off = s.inputs[1];
    off.on = false;
    setInput(s, 1, off, 0);

    const int64_t t = 100 * kMs;
    EXPECT_EQ(stateByte(s, t), kStateValidX | kStateNewX | kStateValidY | kStateNewY);
    EXPECT_EQ(readFrequency(s, CMD_Frequency_X, t), kFrequencyOverflow);
    EXPECT_EQ(readFrequency(s, CMD_Frequency_Y, t), 0u);
}

TEST(Counter, ASettingsChangeRestartsTheGateAndKeepsTheLastResult) {
    SimState s = freshState("boot", 0);
    writeWord(s, CMD_Duration_X, 100, 150 * kMs); // the value it has: nothing restarts
    EXPECT_EQ(s.module.counters[0].seriesStart, 0);

    // Gate 1 closed at 100 ms with 1 kHz. Halve the input at 150 ms, result still unread.
    Signal half = s.inputs[0];
    half.millihertz = 500000;
    setInput(s, 0, half, 150 * kMs);
    EXPECT_EQ(stateByte(s, 249 * kMs) & 0x50, 0x50); // the carried result, new
    EXPECT_EQ(readFrequency(s, CMD_Frequency_X, 249 * kMs), 10000000u);
    EXPECT_EQ(stateByte(s, 249 * kMs) & 0x50, kStateValidX); // read
    EXPECT_EQ(stateByte(s, 250 * kMs) & 0x50, 0x50);         // the new series' first
    EXPECT_EQ(readFrequency(s, CMD_Frequency_X, 250 * kMs), 5000000u);

    // A longer gate: the old result stays until the new gate closes.
    writeWord(s, CMD_Duration_X, 1000, 300 * kMs);
    EXPECT_EQ(stateByte(s, 1299 * kMs) & 0x50, kStateValidX);
    EXPECT_EQ(readFrequency(s, CMD_Frequency_X, 1299 * kMs), 5000000u);
    EXPECT_EQ(stateByte(s, 1300 * kMs) & 0x50, 0x50);

    // Duration 0 stops the counter; what it had stays readable.
    writeWord(s, CMD_Duration_X, 0, 1400 * kMs);
    EXPECT_EQ(stateByte(s, 100000 * kMs) & 0x50, 0x50);
    EXPECT_EQ(readFrequency(s, CMD_Frequency_X, 100000 * kMs), 5000000u);
    EXPECT_EQ(stateByte(s, 200000 * kMs) & 0x50, kStateValidX);

    // Ch Y went on undisturbed.
    EXPECT_EQ(readFrequency(s, CMD_Frequency_Y, 200000 * kMs), 125000000u);
}

TEST(Counter, APowerCycleLeavesNoResult) {
    SimState s = freshState("boot", 0);
    EXPECT_EQ(stateByte(s, 500 * kMs), 0xF0);
    powerCycle(s, 600 * kMs);
    EXPECT_EQ(stateByte(s, 699 * kMs), 0);
    EXPECT_EQ(stateByte(s, 700 * kMs), 0xF0);
}

} // namespace
} // namespace bxa7sim
