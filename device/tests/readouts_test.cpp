// Conversions of the readouts from the module's registers, and their no-reading values.
#include "device_test.h"

namespace {

TEST_F(DeviceTest, FrequencyCountsTenThousandthsOfAHertzOrOverflows) {
    const std::vector<Reading> frequencies = {
        {{0xFF, 0xFF, 0xFF, 0xFF}, -1.0},   {{0xFE, 0xFF, 0xFF, 0xFF}, 429496.7294},
        {{0x00, 0x00, 0x00, 0x00}, 0.0},    {{0x80, 0x96, 0x98, 0x00}, 1000.0}, // 10000000
        {{0x01, 0x00, 0x00, 0x00}, 0.0001},
    };
    for (const uint8_t channel : {0, 1}) {
        expectReadings<double>(
            [channel](double *hertz) { return QVX_3_GetFrequency(channel, hertz); }, frequencies);
    }
}

TEST_F(DeviceTest, SuppliesAreMillivoltsWith0x8000AsNoReading) {
    const std::vector<Reading> supplies =
        {
            {{0x00, 0x80}, -1.0},   {{0xFF, 0x7F}, 32.767},
            {{0x01, 0x80}, 32.769}, // above the no-reading value: ordinary readings
            {{0xFF, 0xFF}, 65.535}, {{0x88, 0x13}, 5.0},
            {{0xE4, 0x0C}, 3.3},    {{0x00, 0x00}, 0.0},
        };
    expectReadings<float>(QVX_3_Get5V, supplies);
    expectReadings<float>(QVX_3_Get3V, supplies);
}

TEST_F(DeviceTest, TemperatureIsHundredthsOfAKelvinWith0xFFFFAsNoReading) {
    expectReadings<float>(QVX_3_GetTemp, {
                                             {{0xFF, 0xFF}, -1.0},
                                             {{0x83, 0x72}, 293.15}, // 29315
                                             {{0x00, 0x80}, 327.68}, // 0x8000 is a reading here
                                             {{0xFE, 0xFF}, 655.34},
                                             {{0x00, 0x00}, 0.0},
                                         });
}

TEST_F(DeviceTest, ClocksAreHertzRoundedToTheNearestFloat) {
    const std::vector<Reading> clocks = {
        {{0x00, 0xA2, 0x4A, 0x04}, 72000000.0},   {{0x00, 0x00, 0x00, 0x01}, 16777216.0},
        {{0x01, 0x00, 0x00, 0x01}, 16777216.0}, // 16777217 rounds to even
        {{0x03, 0x00, 0x00, 0x01}, 16777220.0}, // 16777219 rounds to even, upward
        {{0xFF, 0xFF, 0xFF, 0xFF}, 4294967296.0},
    };
    for (auto *clock : {QVX_3_GetClkCPU, QVX_3_GetClkPer, QVX_3_GetClkADC, QVX_3_GetClkDAC}) {
        expectReadings<float>(clock, clocks);
    }
}

TEST_F(DeviceTest, UptimeIsSecondsAndUnmaskedFractionsOf1024) {
    expectReadings<double>(
        QVX_3_GetUptime, {
                             {{0x10, 0x0E, 0x00, 0x00, 0x00, 0x02}, 3600.5},
                             {{0x10, 0x0E, 0x00, 0x00, 0x00, 0x00}, 3600.0},
                             {{0x10, 0x0E, 0x00, 0x00, 0x01, 0x00}, 3600.0009765625},
                             {{0x0A, 0x00, 0x00, 0x00, 0x00, 0x08}, 12.0}, // 2048/1024 s
                             {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0 + 65535.0 / 1024},
                         });
}

TEST_F(DeviceTest, StateByteIsPassedOnUnchanged) {
    expectReadings<uint8_t>(QVX_3_GetState,
                            {{{0x00}, 0x00}, {{0x10}, 0x10}, {{0xA5}, 0xA5}, {{0xFF}, 0xFF}});
}

} // namespace
