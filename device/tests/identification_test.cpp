// Library version, module presence and identity, and the identification registers.
#include "device_test.h"

#include <cstring>
#include <string>

namespace {

using scripted::Op;
using scripted::call::check;

TEST_F(DeviceTest, VersionIsOneZeroAndTouchesNoAdapter) {
    EXPECT_EQ(QVX_3_Version(), 0x0100);
    EXPECT_EQ(QVX_3_Version(), QVX_3_VERSION);
    EXPECT_TRUE(scripted::calls().empty());
}

struct CheckCase {
    const char *name;
    uint8_t presence;              // what the adapter's presence check stores
    std::vector<uint8_t> identity; // answer to the identity query; empty: none expected
    uint8_t found;
};

void PrintTo(const CheckCase &c, std::ostream *out) {
    *out << c.name;
}

class CheckTest : public DeviceTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckTest, ReportsAQvx3OnlyForItsIdentity) {
    const CheckCase &c = GetParam();
    scripted::queueFound(c.presence);
    if (!c.identity.empty()) scripted::queueAnswer(c.identity);

    uint8_t found = 0xCC;
    EXPECT_EQ(QVX_3_Check(&found), 0);
    EXPECT_EQ(found, c.found);

    Calls expected = {check()};
    if (!c.identity.empty()) {
        const Calls query = readShape(0, 2);
        expected.insert(expected.end(), query.begin(), query.end());
    }
    EXPECT_EQ(scripted::calls(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, CheckTest,
    ::testing::Values(CheckCase{"NoModuleAnswersSoNoCommandIsSent", 0, {}, 0},
                      CheckCase{"Identity9648", 1, {0x48, 0x96}, 1},
                      CheckCase{"AnyNonZeroPresenceValue", 0x80, {0x48, 0x96}, 1},
                      CheckCase{"SwappedIdentity4896", 1, {0x96, 0x48}, 0},
                      CheckCase{"AnotherDevice", 1, {0x48, 0x97}, 0}),
    [](const ::testing::TestParamInfo<CheckCase> &info) { return std::string(info.param.name); });

TEST_F(DeviceTest, CheckReturnsAFailingPresenceCheckAndSendsNothing) {
    for (const int32_t status : failureStatuses()) {
        scripted::reset();
        scripted::failCall(Op::Check, status, "no adapter", "port closed");
        uint8_t found = 0;
        EXPECT_EQ(QVX_3_Check(&found), status);
        EXPECT_EQ(scripted::calls(), Calls{check()});
    }
}

// When something answered but its identity could not be read, the flag keeps the adapter's
// presence value.
TEST_F(DeviceTest, CheckFailingIdentityQueryKeepsThePresenceValue) {
    for (const Op failing : {Op::Send, Op::Receive}) {
        for (const int32_t status : failureStatuses()) {
            scripted::reset();
            scripted::queueFound(7);
            scripted::failCall(failing, status, "transfer failed", "no acknowledge");
            uint8_t found = 0;
            EXPECT_EQ(QVX_3_Check(&found), status);
            EXPECT_EQ(found, 7);
            Calls expected = {check(), scripted::call::send({0}, 0)};
            if (failing == Op::Receive) expected.push_back(scripted::call::receive(2));
            EXPECT_EQ(scripted::calls(), expected);
        }
    }
}

// Wider registers arrive least significant byte first.
TEST_F(DeviceTest, IdentificationRegistersAreReadLeastSignificantByteFirst) {
    scripted::queueAnswer({0x05, 0x01});
    uint16_t version = 0;
    ASSERT_EQ(QVX_3_FW_Ver(&version), 0);
    EXPECT_EQ(version, 0x0105);

    scripted::queueAnswer({0x78, 0x56, 0x34, 0xF2});
    uint32_t number = 0;
    ASSERT_EQ(QVX_3_Prod_No(&number), 0);
    EXPECT_EQ(number, 0xF2345678u);
}

TEST_F(DeviceTest, IdentificationTextsArriveInTheCallersBuffer) {
    const std::string date = "2024-02-29 17:05"; // 16 characters, the whole limit
    const std::string product(81, 'P');
    scripted::queueText(date);
    scripted::queueText(product);

    char dateText[17];
    char productText[82];
    std::memset(dateText, 'x', sizeof dateText);
    std::memset(productText, 'x', sizeof productText);
    ASSERT_EQ(QVX_3_FW_Date(dateText), 0);
    ASSERT_EQ(QVX_3_Prod_ID(productText), 0);
    EXPECT_EQ(std::string(dateText), date);
    EXPECT_EQ(std::string(productText), product);
}

} // namespace
