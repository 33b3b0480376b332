#include "module.h"

#include <gtest/gtest.h>

#include <set>

namespace bxa7sim {
namespace {

using namespace qvx3;

constexpr int64_t kMs = 1000000;

using Bytes = std::vector<uint8_t>;

TEST(Module, UptimeCountsSecondsAndFractionsSincePowerOn) {
    struct Case {
        int64_t sinceNs;
        Bytes raw;
    };
    const Case cases[] = {
        {0, {0, 0, 0, 0, 0, 0}},
        {976562, {0, 0, 0, 0, 0, 0}}, // just under 1/1024 s
        {976563, {0, 0, 0, 0, 1, 0}},
        {3600 * kNsPerSecond + 500 * kMs, {0x10, 0x0E, 0, 0, 0x00, 0x02}}, // 3600 + 512/1024
        {kNsPerSecond - 1, {0, 0, 0, 0, 0xFF, 0x03}},                      // fraction 1023
        {int64_t{0x12345678} * kNsPerSecond, {0x78, 0x56, 0x34, 0x12, 0, 0}},
        {-5 * kNsPerSecond, {0, 0, 0, 0, 0, 0}}, // a clock before power-on: 0
    };
    const int64_t powerOn = 7 * kNsPerSecond;
    SimState s = freshState("boot", powerOn);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sinceNs);
        EXPECT_EQ(readRegister(s, CMD_Uptime, powerOn + c.sinceNs), c.raw);
    }
}

TEST(Module, HousekeepingIsNoisyNearItsNominalValue) {
    struct Case {
        uint8_t code;
        int low, high;
    };
    SimState s = freshState("boot", 0);
    for (const Case c :
         {Case{CMD_5V, 5013, 5029}, Case{CMD_3V, 3292, 3302}, Case{CMD_Temp, 30840, 30870}}) {
        SCOPED_TRACE(static_cast<int>(c.code));
        std::set<int> seen;
        for (int64_t t = 0; t < 1000 * 20 * kMs; t += 20 * kMs) {
            const Bytes b = readRegister(s, c.code, t);
            ASSERT_EQ(b.size(), 2u);
            const int value = b[0] | b[1] << 8;
            ASSERT_GE(value, c.low);
            ASSERT_LE(value, c.high);
            seen.insert(value);
            // One conversion per 20 ms: every reader in that time sees the same value.
            ASSERT_EQ(readRegister(s, c.code, t + 19 * kMs), b);
        }
        EXPECT_GT(seen.size() * 2, static_cast<size_t>(c.high - c.low)); // not stuck
    }
}

TEST(Module, ForcedRegistersAnswerTheirBytesUntilReleased) {
    SimState s = freshState("boot", 0);
    s.forced[CMD_5V] = {0x00, 0x80};
    s.forced[CMD_Prod_ID] = {'X'};
    s.forced[CMD_Frequency_X] = {0xFF, 0xFF, 0xFF, 0xFF};
    s.forced[CMD_State] = {0x03};
    const int64_t t = 150 * kMs;
    EXPECT_EQ(readRegister(s, CMD_5V, t), (Bytes{0x00, 0x80}));
    EXPECT_EQ(readRegister(s, CMD_Prod_ID, t), Bytes{'X'});
    EXPECT_EQ(readRegister(s, CMD_State, t), Bytes{0x03});
    EXPECT_EQ(readRegister(s, CMD_Frequency_X, t), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    // Reading the forced frequency took the live result as read.
    EXPECT_EQ(stateByte(s, t), kStateValidX | kStateValidY | kStateNewY);

    s.forced.clear();
    EXPECT_EQ(readRegister(s, CMD_Prod_ID, t).size(), sizeof kProductId - 1);
    EXPECT_EQ(readRegister(s, CMD_Frequency_X, t), (Bytes{0x80, 0x96, 0x98, 0x00})); // 1 kHz
}

} // namespace
} // namespace bxa7sim
