// Conversions of the readouts from the module's registers, and their no-reading values.
#include "device_test.h"

namespace {

struct Case {
    std::vector<uint8_t> answer;
    double expected; // exact for the float results: the float nearest to the decimal value
};

TEST_F(DeviceTest, FrequencyCountsTenThousandthsOfAHertzOrOverflows) {
    const Case cases[] = {
        {{0xFF, 0xFF, 0xFF, 0xFF}, -1.0},   {{0xFE, 0xFF, 0xFF, 0xFF}, 429496.7294},
        {{0x00, 0x00, 0x00, 0x00}, 0.0},    {{0x80, 0x96, 0x98, 0x00}, 1000.0}, // 10000000
        {{0x01, 0x00, 0x00, 0x00}, 0.0001},
    };
    for (const Case &c : cases) {
        scripted::queueAnswer(c.answer);
        double hertz = 0;
        ASSERT_EQ(QVX_3_GetFrequency(0, &hertz), 0);
        EXPECT_DOUBLE_EQ(hertz, c.expected);
    }
}

TEST_F(DeviceTest, SuppliesAreMillivoltsWith0x8000AsNoReading) {
    const Case cases[] =
        {
            {{0x00, 0x80}, -1.0},   {{0xFF, 0x7F}, 32.767},
            {{0x01, 0x80}, 32.769}, // above the no-reading value: ordinary readings
            {{0xFF, 0xFF}, 65.535}, {{0x88, 0x13}, 5.0},
            {{0xE4, 0x0C}, 3.3},    {{0x00, 0x00}, 0.0},
        };
    for (auto *function : {QVX_3_Get5V, QVX_3_Get3V}) {
        for (const Case &c : cases) {
            scripted::queueAnswer(c.answer);
            float volts = 0;
            ASSERT_EQ(function(&volts), 0);
            EXPECT_EQ(volts, static_cast<float>(c.expected))
                << "raw " << int{c.answer[1]} * 256 + c.answer[0];
        }
    }
}

TEST_F(DeviceTest, TemperatureIsHundredthsOfAKelvinWith0xFFFFAsNoReading) {
    const Case cases[] = {
        {{0xFF, 0xFF}, -1.0},   {{0x83, 0x72}, 293.15}, // 29315
        {{0x00, 0x80}, 327.68},                         // 0x8000 is an ordinary reading here
        {{0xFE, 0xFF}, 655.34}, {{0x00, 0x00}, 0.0},
    };
    for (const Case &c : cases) {
        scripted::queueAnswer(c.answer);
        float kelvin = 0;
        ASSERT_EQ(QVX_3_GetTemp(&kelvin), 0);
        EXPECT_EQ(kelvin, static_cast<float>(c.expected));
    }
}

TEST_F(DeviceTest, ClocksAreHertzRoundedToTheNearestFloat) {
    const Case cases[] = {
        {{0x00, 0xA2, 0x4A, 0x04}, 72000000.0},   {{0x00, 0x00, 0x00, 0x01}, 16777216.0},
        {{0x01, 0x00, 0x00, 0x01}, 16777216.0}, // 16777217 rounds to even
        {{0x03, 0x00, 0x00, 0x01}, 16777220.0}, // 16777219 rounds to even, upward
        {{0xFF, 0xFF, 0xFF, 0xFF}, 4294967296.0},
    };
    for (auto *function : {QVX_3_GetClkCPU, QVX_3_GetClkPer, QVX_3_GetClkADC, QVX_3_GetClkDAC}) {
        for (const Case &c : cases) {
            scripted::queueAnswer(c.answer);
            float hertz = 0;
            ASSERT_EQ(function(&hertz), 0);
            EXPECT_EQ(hertz, static_cast<float>(c.expected));
        }
    }
}

TEST_F(DeviceTest, UptimeIsSecondsAndUnmaskedFractionsOf1024) {
    const Case cases[] = {
        {{0x10, 0x0E, 0x00, 0x00, 0x00, 0x02}, 3600.5},
        {{0x10, 0x0E, 0x00, 0x00, 0x00, 0x00}, 3600.0},
        {{0x10, 0x0E, 0x00, 0x00, 0x01, 0x00}, 3600.0009765625},
        {{0x0A, 0x00, 0x00, 0x00, 0x00, 0x08}, 12.0}, // a fraction of 2048 adds two seconds
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0 + 65535.0 / 1024},
    };
    for (const Case &c : cases) {
        scripted::queueAnswer(c.answer);
        double seconds = 0;
        ASSERT_EQ(QVX_3_GetUptime(&seconds), 0);
        EXPECT_EQ(seconds, c.expected);
    }
}

TEST_F(DeviceTest, StateByteIsPassedOnUnchanged) {
    for (const uint8_t state : {0x00, 0x10, 0xA5, 0xFF}) {
        scripted::queueAnswer({state});
        uint8_t read = static_cast<uint8_t>(~state);
        ASSERT_EQ(QVX_3_GetState(&read), 0);
        EXPECT_EQ(read, state);
    }
}

} // namespace
