// Filter maths, compared bit for bit: which value is rounded to float, and when, decides the
// last place of every result.
#include "qvx3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr float kRootThreeHalves = 0.8660254f; // the damping the test console passes

::testing::AssertionResult SameFloat(float actual, float expected) {
    uint32_t a, e;
    std::memcpy(&a, &actual, sizeof a);
    std::memcpy(&e, &expected, sizeof e);
    if (a == e) return ::testing::AssertionSuccess();
    char text[160];
    std::snprintf(text, sizeof text, "got %.9g (%a, 0x%08x), expected %.9g (%a, 0x%08x)", actual,
                  actual, a, expected, expected, e);
    return ::testing::AssertionFailure() << text;
}

struct LowPassCase {
    uint16_t alpha;
    uint8_t beta;
    float frequency; // QVX_3_GetLPF_Frequency
    float damping;   // QVX_3_GetLPF_Damping
};

TEST(Filters, LowPassFrequencyAndDamping) {
    const LowPassCase cases[] = {
        {4, 2, 15915.494140625f, 1.0f},          // r = 1: K itself
        {11, 4, 5163.66796875f, 0x1.c8d0c6p-1f}, // 0.892217815
        {14186, 24, 3.8864405f, 0x1.bb68p-1f},   // 0.866027832
        {0, 1, 15915.494140625f, 0.0f},
        {0, 31, 0x1.5fafa2p-2f, 0.0f},               // 0.343443424; r = 2^31 - 1 rounds to 2^31
        {65535, 16, 0x1.5fb052p+6f, 0x1.6a0932p+6f}, // 87.9221878, 90.5089798; r = 32767.5
        {6, 2, 0.0f, 0.0f},                          // r = 0
        {8, 2, 0.0f, 0.0f},                          // r = -1
        {65535, 15, 0.0f, 0.0f},                     // r = -0.5
        {65535, 0, 0.0f, 0.0f},
    };
    for (const LowPassCase &c : cases) {
        SCOPED_TRACE("Alpha " + std::to_string(c.alpha) + ", Beta " + std::to_string(c.beta));
        EXPECT_TRUE(SameFloat(QVX_3_GetLPF_Frequency(c.alpha, c.beta), c.frequency));
        EXPECT_TRUE(SameFloat(QVX_3_GetLPF_Damping(c.alpha, c.beta), c.damping));
    }
}

// The pair function rounds sqrt(r) to float first, so its results may differ in the last
// place from the single functions'.
TEST(Filters, LowPassParametersRoundTheRootFirst) {
    const LowPassCase cases[] = {
        {11, 4, 5163.66845703125f, 0x1.c8d0c6p-1f},
        {14186, 24, 0x1.f176ep+1f, 0x1.bb68p-1f},  // 3.88644028, 0.866027832
        {65535, 16, 0x1.5fb05p+6f, 0x1.6a093p+6f}, // 87.9221802, 90.5089722
        {4, 2, 15915.494140625f, 1.0f},
    };
    for (const LowPassCase &c : cases) {
        float frequency = -1.0f;
        float damping = -1.0f;
        QVX_3_GetLPF_Parameters(c.alpha, c.beta, &frequency, &damping);
        EXPECT_TRUE(SameFloat(frequency, c.frequency)) << "Alpha " << c.alpha;
        EXPECT_TRUE(SameFloat(damping, c.damping)) << "Alpha " << c.alpha;
    }
}

// Each of these results lies within 3e-11 of the tie between two floats, so only a K right to
// about twelve digits rounds it the right way (a K of 15915.4943 does not).
TEST(Filters, ResultsNextToAFloatTieNeedKToTwelveDigits) {
    EXPECT_TRUE(SameFloat(QVX_3_GetLPF_Frequency(25929, 18), 0x1.fe2278p+4f)); // 31.8834152
    EXPECT_TRUE(SameFloat(QVX_3_GetLPF_Frequency(4633, 22), 0x1.f17f24p+2f));  // 7.77338505
    float frequency = 0;
    float damping = 0;
    QVX_3_GetLPF_Parameters(9141, 16, &frequency, &damping);
    EXPECT_TRUE(SameFloat(frequency, 0x1.01d5bap+6f)); // 64.4587173
    QVX_3_GetLPF_Parameters(7241, 17, &frequency, &damping);
    EXPECT_TRUE(SameFloat(frequency, 0x1.64a5ccp+5f)); // 44.5809555
}

TEST(Filters, LowPassParametersStoreNothingWithoutAPositiveRadicand) {
    const LowPassCase cases[] = {{6, 2, 0, 0}, {8, 2, 0, 0}, {65535, 15, 0, 0}, {2, 0, 0, 0}};
    for (const LowPassCase &c : cases) {
        float frequency = 123.0f;
        float damping = 456.0f;
        QVX_3_GetLPF_Parameters(c.alpha, c.beta, &frequency, &damping);
        EXPECT_EQ(frequency, 123.0f) << "Alpha " << c.alpha;
        EXPECT_EQ(damping, 456.0f) << "Alpha " << c.alpha;
    }
}

TEST(Filters, BetaAndTauCountModulo32) {
    for (int beta = 0; beta + 32 <= 255; ++beta) {
        for (const uint16_t alpha : {0, 3, 11, 1000, 65535}) {
            const auto b = static_cast<uint8_t>(beta);
            const auto same = static_cast<uint8_t>(beta + 32);
            EXPECT_TRUE(
                SameFloat(QVX_3_GetLPF_Frequency(alpha, same), QVX_3_GetLPF_Frequency(alpha, b)));
            EXPECT_TRUE(
                SameFloat(QVX_3_GetLPF_Damping(alpha, same), QVX_3_GetLPF_Damping(alpha, b)));
        }
        EXPECT_EQ(QVX_3_GetLPF_Alpha(static_cast<uint8_t>(beta + 32), kRootThreeHalves),
                  QVX_3_GetLPF_Alpha(static_cast<uint8_t>(beta), kRootThreeHalves));
    }
}

// K / 2^n is exact in double, so each frequency is float(K) halved n times.
TEST(Filters, HighPassFrequencyHalvesWithEveryTau) {
    EXPECT_TRUE(SameFloat(QVX_3_GetHPF_Frequency(0), 15915.494140625f));
    EXPECT_TRUE(SameFloat(QVX_3_GetHPF_Frequency(1), 7957.747f));
    EXPECT_TRUE(SameFloat(QVX_3_GetHPF_Frequency(20), 0x1.f15bf4p-7f)); // 0.0151782
    for (int tau = 0; tau <= 255; ++tau) {
        EXPECT_TRUE(SameFloat(QVX_3_GetHPF_Frequency(static_cast<uint8_t>(tau)),
                              std::ldexp(15915.494140625f, -(tau % 32))))
            << "Tau " << tau;
    }
}

struct AlphaCase {
    uint8_t beta;
    float damping;
    uint16_t alpha;
};

TEST(Filters, AlphaForADamping) {
    const AlphaCase cases[] = {
        {2, kRootThreeHalves, 4},
        {10, kRootThreeHalves, 108},
        {24, kRootThreeHalves, 14186},
        {0, kRootThreeHalves, 0},       // r' = d^2: sqrt(r') - d is 0
        {31, 1.0f, 54288},              // 185360 keeps its low 16 bits
        {10, -kRootThreeHalves, 65423}, // -113
        {0, 0.0f, 0},                   // r' = 0
    };
    for (const AlphaCase &c : cases) {
        EXPECT_EQ(QVX_3_GetLPF_Alpha(c.beta, c.damping), c.alpha)
            << "Beta " << int{c.beta} << ", damping " << c.damping;
    }
}

TEST(Filters, AlphaIsZeroForZeroNanInfiniteAndOverflowingDamping) {
    const float dampings[] = {0.0f,
                              -0.0f,
                              std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              1e20f, // d^2 overflows the float radicand
                              -1e20f,
                              std::numeric_limits<float>::max()};
    for (const float damping : dampings) {
        for (int beta = 0; beta <= 255; ++beta) {
            EXPECT_EQ(QVX_3_GetLPF_Alpha(static_cast<uint8_t>(beta), damping), 0)
                << "Beta " << beta << ", damping " << damping;
        }
    }
}

// The Alpha found for a damping gives that damping back, up to the rounding of Alpha.
TEST(Filters, AlphaInvertsTheDamping) {
    int checked = 0;
    for (int beta = 4; beta <= 24; ++beta) {
        const auto b = static_cast<uint8_t>(beta);
        for (const float damping : {0.1f, 0.5f, kRootThreeHalves, 1.0f, 2.0f, 5.0f}) {
            // Beyond the damping of the largest Alpha, Alpha wraps to 16 bits.
            const float largest = QVX_3_GetLPF_Damping(65535, b);
            if (largest != 0 && damping >= largest) continue;
            const uint16_t alpha = QVX_3_GetLPF_Alpha(b, damping);
            if (alpha == 0 || QVX_3_GetLPF_Damping(alpha + 1, b) == 0) continue;
            EXPECT_LE(QVX_3_GetLPF_Damping(alpha - 1, b), damping)
                << "Beta " << beta << ", Alpha " << alpha;
            EXPECT_GE(QVX_3_GetLPF_Damping(alpha + 1, b), damping)
                << "Beta " << beta << ", Alpha " << alpha;
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);
}

} // namespace
