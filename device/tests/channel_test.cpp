// Register scaling of the channel settings, in both directions, for every value a caller can
// pass: within the registers' ranges, beyond them, negative, NaN and infinite.
#include "device_test.h"

#include <limits>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kMax = std::numeric_limits<float>::max();

struct SetCase {
    float value;
    uint16_t reg; // what the 16-bit register receives
};

// The register a set function sent, least significant byte first after the code.
uint16_t sentRegister() {
    const Calls calls = scripted::calls();
    EXPECT_EQ(calls.size(), 1u);
    if (calls.size() != 1 || calls[0].sent.size() != 3) {
        ADD_FAILURE() << "not one three-byte write";
        return 0;
    }
    return static_cast<uint16_t>(calls[0].sent[1] | calls[0].sent[2] << 8);
}

TEST_F(DeviceTest, GainIsTruncatedToUnitsOf1Over256AndWrapsToSixteenBits) {
    const SetCase cases[] = {
        {1.0f, 0x0100},
        {2.3f, 588}, // truncated: reads back as 2.296875
        {0.001f, 0},
        {255.99609375f, 0xFFFF},
        {256.0f, 0},
        {300.0f, 11264}, // 76800 - 65536
        {-0.5f, 0xFF80}, // -128
        {-1.0f, 0xFF00},
        {-0.001f, 0},          // truncated toward zero
        {16777215.0f, 0xFF00}, // 0xFFFFFF00
        {-16777215.0f, 0x0100},
        {kMax, 0},
        {-kMax, 0},
        {std::numeric_limits<float>::denorm_min(), 0},
        {kNaN, 0},
        {kInf, 0},
        {-kInf, 0},
    };
    for (const SetCase &c : cases) {
        scripted::reset();
        ASSERT_EQ(QVX_3_SetAmplification(0, c.value), 0);
        EXPECT_EQ(sentRegister(), c.reg) << "gain " << c.value;
    }
}

TEST_F(DeviceTest, ThresholdAndDurationRoundToThousandthsAndWrapToSixteenBits) {
    const SetCase cases[] = {
        {5.0f, 5000},       {10.0f, 10000},  {0.01f, 10},
        {0.001f, 1},        {0.0015f, 2}, // halves go up
        {0.0004f, 0},       {1.2344f, 1234}, {65.535f, 65535},
        {65.536f, 0},       {100.0f, 34464}, // 100000 - 65536
        {1e6f, 51712},                       // 1000000000 mod 65536
        {-0.0004f, 0},                       // -0.4 + 0.5 truncates to 0
        {-0.0016f, 0xFFFF},                  // -1.1 truncates to -1
        {-1.0f, 64537},                      // -999.5 truncates to -999
        {kMax, 0},          {-kMax, 0},      {kNaN, 0},
        {kInf, 0},          {-kInf, 0},
    };
    for (auto *function : {QVX_3_SetThreshold, QVX_3_SetDuration}) {
        for (const SetCase &c : cases) {
            scripted::reset();
            ASSERT_EQ(function(1, c.value), 0);
            EXPECT_EQ(sentRegister(), c.reg) << "value " << c.value;
        }
    }
}

TEST_F(DeviceTest, GainReadsBackExactly) {
    for (const uint8_t channel : {0, 255}) {
        expectReadings<float>(
            [channel](float *gain) { return QVX_3_GetAmplification(channel, gain); },
            {
                {{0x00, 0x80}, 128.0},
                {{0x00, 0x01}, 1.0},
                {{0x4C, 0x02}, 2.296875}, // 588
                {{0x01, 0x00}, 0.00390625},
                {{0xFF, 0xFF}, 255.99609375},
                {{0x00, 0x00}, 0.0},
            });
    }
}

TEST_F(DeviceTest, ThresholdAndDurationReadBackInVoltsAndSeconds) {
    const std::vector<Reading> thousandths = {
        {{0xD2, 0x04}, 1.234}, // 1234
        {{0x01, 0x00}, 0.001}, {{0x88, 0x13}, 5.0}, {{0xFF, 0xFF}, 65.535}, {{0x00, 0x00}, 0.0},
    };
    for (auto *get : {QVX_3_GetThreshold, QVX_3_GetDuration}) {
        expectReadings<float>([get](float *value) { return get(1, value); }, thousandths);
    }
}

TEST_F(DeviceTest, LowPassFilterReadsAlphaThenBeta) {
    scripted::queueAnswer({0x34, 0x12, 0x05});
    uint16_t alpha = 0;
    uint8_t beta = 0;
    ASSERT_EQ(QVX_3_GetLPF(1, &alpha, &beta), 0);
    EXPECT_EQ(alpha, 0x1234);
    EXPECT_EQ(beta, 5);
}

TEST_F(DeviceTest, PolarityAndTauBytesPassUnchanged) {
    for (const uint8_t value : {0x00, 0x01, 0x80, 0xFF}) {
        scripted::reset();
        ASSERT_EQ(QVX_3_SetPolarity(0, value), 0);
        ASSERT_EQ(QVX_3_SetHPF_Tau(0, value), 0);
        EXPECT_EQ(scripted::calls(), (Calls{scripted::call::send({19, value}, 1),
                                            scripted::call::send({15, value}, 1)}));

        scripted::queueAnswer({value});
        scripted::queueAnswer({value});
        uint8_t polarity = static_cast<uint8_t>(~value);
        uint8_t tau = static_cast<uint8_t>(~value);
        ASSERT_EQ(QVX_3_GetPolarity(0, &polarity), 0);
        ASSERT_EQ(QVX_3_GetHPF_Tau(0, &tau), 0);
        EXPECT_EQ(polarity, value);
        EXPECT_EQ(tau, value);
    }
}

} // namespace
