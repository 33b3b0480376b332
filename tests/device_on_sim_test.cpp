// The device library on the simulated adapter: every function reaches the virtual module
// through the real protocol, settings read back as written, and the counter counts a signal
// that bxa7-sim feeds it. Each test process has its own state file.
#include "bxa7.h"
#include "qvx3.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

TempDir *g_dir = nullptr;

// Runs bxa7-sim on this process's state file.
int control(const std::string &args) {
    const std::string command =
        "BXA7_SIM_STATE='" + g_dir->file("state") + "' '" BXA7_SIM "' " + args + " > /dev/null";
    return std::system(command.c_str());
}

class DeviceOnSim : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(BXA_7_Open(), 0) << BXA_7_ErrorMessage(); }
};

TEST_F(DeviceOnSim, FindsTheModuleAndReadsItsIdentification) {
    EXPECT_EQ(QVX_3_Version(), 0x0100);
    uint8_t found = 0;
    ASSERT_EQ(QVX_3_Check(&found), 0);
    EXPECT_EQ(found, 1);

    uint16_t version = 0;
    ASSERT_EQ(QVX_3_FW_Ver(&version), 0);
    EXPECT_EQ(version, 0x0102);

    char date[17] = "";
    ASSERT_EQ(QVX_3_FW_Date(date), 0);
    EXPECT_GT(std::string(date).size(), 0u);

    char id[82] = "";
    ASSERT_EQ(QVX_3_Prod_ID(id), 0);
    EXPECT_GT(std::string(id).size(), 0u);

    uint32_t number = 0;
    EXPECT_EQ(QVX_3_Prod_No(&number), 0);
}

TEST_F(DeviceOnSim, ReadoutsArePlausible) {
    float v5 = 0, v3 = 0, kelvin = 0;
    ASSERT_EQ(QVX_3_Get5V(&v5), 0);
    ASSERT_EQ(QVX_3_Get3V(&v3), 0);
    ASSERT_EQ(QVX_3_GetTemp(&kelvin), 0);
    EXPECT_NEAR(v5, 5.0, 0.25);
    EXPECT_NEAR(v3, 3.3, 0.2);
    EXPECT_NEAR(kelvin - 273.15, 35.0, 5.0);
    for (auto get : {QVX_3_GetClkCPU, QVX_3_GetClkPer, QVX_3_GetClkADC, QVX_3_GetClkDAC}) {
        float hz = 0;
        ASSERT_EQ(get(&hz), 0);
        EXPECT_GT(hz, 0.0f);
    }

    double first = -1, second = -1;
    ASSERT_EQ(QVX_3_GetUptime(&first), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(QVX_3_GetUptime(&second), 0);
    EXPECT_GE(first, 0.0);
    EXPECT_GT(second, first);
}

// Every setting of one channel reads back as written, and the other channel keeps its own.
TEST_F(DeviceOnSim, SettingsReadBackAsWrittenPerChannel) {
    for (uint8_t channel : {0, 1}) {
        SCOPED_TRACE(channel);
        const uint8_t other = channel ? 0 : 1;
        float otherGain = 0;
        ASSERT_EQ(QVX_3_GetAmplification(other, &otherGain), 0);

        ASSERT_EQ(QVX_3_SetPolarity(channel, 1), 0);
        ASSERT_EQ(QVX_3_SetAmplification(channel, 2.3f), 0);
        ASSERT_EQ(QVX_3_SetLPF(channel, 10), 0);
        ASSERT_EQ(QVX_3_SetHPF_Tau(channel, 5), 0);
        ASSERT_EQ(QVX_3_SetThreshold(channel, 1.234f), 0);
        ASSERT_EQ(QVX_3_SetDuration(channel, 0.25f), 0);

        uint8_t polarity = 0, beta = 0, tau = 0;
        uint16_t alpha = 0;
        float gain = 0, volts = 0, seconds = 0;
        ASSERT_EQ(QVX_3_GetPolarity(channel, &polarity), 0);
        ASSERT_EQ(QVX_3_GetAmplification(channel, &gain), 0);
        ASSERT_EQ(QVX_3_GetLPF(channel, &alpha, &beta), 0);
        ASSERT_EQ(QVX_3_GetHPF_Tau(channel, &tau), 0);
        ASSERT_EQ(QVX_3_GetThreshold(channel, &volts), 0);
        ASSERT_EQ(QVX_3_GetDuration(channel, &seconds), 0);
        EXPECT_EQ(polarity, 1);
        EXPECT_EQ(gain, 2.296875f); // 588 / 256: the register truncates
        EXPECT_EQ(beta, 10);
        EXPECT_EQ(alpha, QVX_3_GetLPF_Alpha(10, static_cast<float>(std::sqrt(3.0) / 2)));
        EXPECT_EQ(alpha, 108);
        EXPECT_EQ(tau, 5);
        EXPECT_EQ(volts, 1.234f);
        EXPECT_EQ(seconds, 0.25f);

        float otherAfter = 0;
        ASSERT_EQ(QVX_3_GetAmplification(other, &otherAfter), 0);
        EXPECT_EQ(otherAfter, otherGain);
    }
}

// A program that polls the state and the frequency sees new-data bits and the signal's
// frequency, as a person watching the counter monitor would.
TEST_F(DeviceOnSim, PollingSeesNewResultsOfTheSignal) {
    ASSERT_EQ(control("signal X 1000"), 0);
    ASSERT_EQ(QVX_3_SetDuration(0, 0.1f), 0);

    int newResults = 0;
    double hz = -2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (newResults < 3 && std::chrono::steady_clock::now() < deadline) {
        uint8_t state = 0;
        ASSERT_EQ(QVX_3_GetState(&state), 0);
        if ((state & 0x10) && (state & 0x40)) {
            ASSERT_EQ(QVX_3_GetFrequency(0, &hz), 0);
            ++newResults;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(newResults, 3);
    EXPECT_NEAR(hz, 1000.0, 10.0); // one period in 0.1 s is 10 Hz

    ASSERT_EQ(control("signal X off"), 0);
}

} // namespace

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    TempDir dir;
    g_dir = &dir;
    // Before the first adapter call: the simulated adapter reads its environment then.
    setenv("BXA7_SIM_STATE", dir.file("state").c_str(), 1);
    setenv("BXA7_SIM_BUS_HZ", "0", 1);
    unsetenv("BXA7_SIM_FAIL");
    return RUN_ALL_TESTS();
}
