#include "session_fixture.h"

#include <array>

namespace bxa7sim {
namespace {

using namespace qvx3;

TEST_F(SessionTest, EverythingButTheVersionWaitsForOpen) {
    Session &a = adapter();
    EXPECT_STREQ(a.errorMessage(), "No error");
    EXPECT_EQ(a.version(), 0x0100);
    uint8_t byte = 0;
    char text[4] = {};
    const std::pair<const char *, std::function<int32_t()>> calls[] = {
        {"BXA_7_Flush_LPT", [&] { return a.flush(); }},
        {"BXA_7_GetSlot", [&] { return a.getSlot(&byte, 1, 0); }},
        {"BXA_7_SetSlot", [&] { return a.setSlot(1, 1, 0); }},
        {"BXA_7_Check", [&] { return a.check(1, &byte); }},
        {"BXA_7_Send", [&] { return a.send(1, &byte, 1, 0); }},
        {"BXA_7_Receive", [&] { return a.receive(1, &byte, 1, 1); }},
        {"BXA_7_ReceiveString", [&] { return a.receiveString(1, text, 3, 1); }},
    };
    for (const auto &[name, call] : calls) {
        SCOPED_TRACE(name);
        expectFailure(call(), kNotOpen,
                      std::string(name) + ": adapter not open (call BXA_7_Open first)",
                      "no port open");
    }
    EXPECT_EQ(fileText(statePath), ""); // nothing touched the state before Open
    EXPECT_EQ(a.open(), kOk);
    EXPECT_EQ(a.flush(), kOk);
    EXPECT_STREQ(a.errorMessage(), "BXA_7_ReceiveString: adapter not open (call BXA_7_Open first)")
        << "the texts describe the last failure until the next one";
    EXPECT_NE(fileText(statePath), "");
}

TEST_F(SessionTest, VersionWordComesFromTheEnvironment) {
    const std::pair<const char *, uint16_t> cases[] = {
        {"", 0x0100},       {"0x0105", 0x0105}, {"261", 0x0105}, {"0X1ff", 0x01FF},
        {"0xFFFF", 0xFFFF}, {"0x10000", 0},     {"65536", 0},    {"-1", 0},
        {"1.0", 0},         {" 256", 0},        {"0x", 0},       {"abc", 0},
    };
    for (const auto &[text, word] : cases) {
        fake.env["BXA7_SIM_VERSION"] = text;
        EXPECT_EQ(adapter().version(), word) << "'" << text << "'";
    }
}

TEST_F(SessionTest, RefusesBadArgumentsWithoutTouchingTheCallersMemory) {
    Session &a = opened();
    std::array<uint8_t, 8> buffer;
    buffer.fill(0xAA);
    char text[8] = "canary";
    const uint8_t code = CMD_Uptime;
    const std::string refused = "nothing sent: the call was refused";
    struct Case {
        std::function<int32_t()> call;
        int32_t status;
        const char *error;
    };
    const Case cases[] = {
        {[&] { return a.check(0, buffer.data()); }, kBadBus,
         "BXA_7_Check: bad bus constant 0 (must be 1)"},
        {[&] { return a.send(2, &code, 1, 0); }, kBadBus,
         "BXA_7_Send: bad bus constant 2 (must be 1)"},
        {[&] { return a.receive(-1, buffer.data(), 6, 1); }, kBadBus,
         "BXA_7_Receive: bad bus constant -1 (must be 1)"},
        {[&] { return a.receiveString(0, text, 7, 1); }, kBadBus,
         "BXA_7_ReceiveString: bad bus constant 0 (must be 1)"},
        {[&] { return a.getSlot(buffer.data(), 0, 0); }, kBadBus,
         "BXA_7_GetSlot: bad bus constant 0 (must be 1)"},
        {[&] { return a.setSlot(3, 1, 1); }, kBadArgument,
         "BXA_7_SetSlot: third argument 1 (must be 0)"},
        {[&] { return a.getSlot(nullptr, 1, 0); }, kBadArgument,
         "BXA_7_GetSlot: slot pointer is null"},
        {[&] { return a.check(1, nullptr); }, kBadArgument, "BXA_7_Check: result pointer is null"},
        {[&] { return a.send(1, nullptr, 1, 1); }, kBadArgument,
         "BXA_7_Send: data pointer is null"},
        {[&] { return a.send(1, &code, 0, 1); }, kBadArgument,
         "BXA_7_Send: count 0 (the command byte at least)"},
        {[&] { return a.send(1, &code, -3, 1); }, kBadArgument,
         "BXA_7_Send: count -3 (the command byte at least)"},
        {[&] { return a.receive(1, nullptr, 6, 1); }, kBadArgument,
         "BXA_7_Receive: data pointer is null"},
        {[&] { return a.receive(1, buffer.data(), -6, 1); }, kBadArgument,
         "BXA_7_Receive: count -6 is negative"},
        {[&] { return a.receiveString(1, nullptr, 7, 1); }, kBadArgument,
         "BXA_7_ReceiveString: text pointer is null"},
        {[&] { return a.receiveString(1, text, -1, 1); }, kBadArgument,
         "BXA_7_ReceiveString: limit -1 is negative"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error);
        // Each refused call also ends a command in progress.
        ASSERT_EQ(a.send(1, &code, 1, 0), kOk);
        expectFailure(c.call(), c.status, c.error, refused);
        expectFailure(a.receive(1, buffer.data(), 6, 1), kMisuse,
                      "BXA_7_Receive: no command in progress (send the command byte with last "
                      "flag 0 first)",
                      refused);
        for (uint8_t b : buffer)
            ASSERT_EQ(b, 0xAA);
        ASSERT_STREQ(text, "canary");
    }
}

TEST_F(SessionTest, ProtocolFailuresHaveTheirStatusAndTexts) {
    Session &a = opened();
    uint8_t data[8] = {};
    struct Case {
        std::function<int32_t()> call;
        int32_t status;
        const char *error;
        const char *io;
    };
    const Case cases[] = {
        {[&] { return read(CMD_Uptime, data, 4); }, kMisuse,
         "BXA_7_Receive: command 5 answers 6 bytes, not 4", "nothing sent: the call was refused"},
        {[&] {
             return write({CMD_Uptime, 0, 0});
         },
         kRefused, "BXA_7_Send: register 5 is read-only", "I2C: data byte not acknowledged"},
        {[&] { return write({99}); }, kRefused, "BXA_7_Send: unknown command code 99",
         "I2C: data byte not acknowledged"},
        {[&] {
             return write({CMD_Threshold_Y, 1});
         },
         kRefused, "BXA_7_Send: command 22 takes 2 payload bytes, not 1",
         "I2C: data byte not acknowledged"},
        {[&] {
             a.setSlot(7, 1, 0);
             return read(CMD_Check, data, 2);
         },
         kNoAcknowledge, "BXA_7_Send: no acknowledge from RVL slot 7",
         "I2C: address not acknowledged"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error);
        expectFailure(c.call(), c.status, c.error, c.io);
    }
}

TEST_F(SessionTest, ReadsRegistersAndTextsWithinTheCallersCountAndLimit) {
    Session &a = opened();
    std::array<uint8_t, 8> data;
    data.fill(0xAA);
    fake.now += 3 * kNsPerSecond + kNsPerSecond / 4; // 3.25 s after power-on
    ASSERT_EQ(read(CMD_Uptime, data.data(), 6), kOk);
    EXPECT_EQ(data, (std::array<uint8_t, 8>{3, 0, 0, 0, 0, 1, 0xAA, 0xAA}));

    struct Case {
        int32_t limit;
        const char *text;
    };
    for (const Case c :
         {Case{16, "2021-03-15"}, Case{10, "2021-03-15"}, Case{4, "2021"}, Case{0, ""}}) {
        SCOPED_TRACE(c.limit);
        char buffer[24];
        std::fill(std::begin(buffer), std::end(buffer), '#');
        const uint8_t code = CMD_FW_Date;
        ASSERT_EQ(a.send(1, &code, 1, 0), kOk);
        ASSERT_EQ(a.receiveString(1, buffer, c.limit, 1), kOk);
        EXPECT_STREQ(buffer, c.text);
        // limit + 1 bytes at most, the terminator included.
        for (size_t i = static_cast<size_t>(c.limit) + 1; i < sizeof buffer; ++i)
            ASSERT_EQ(buffer[i], '#') << i;
    }
}

TEST_F(SessionTest, SlotsAreSharedAndPersist) {
    Session &a = opened();
    uint8_t slot = 99;
    uint8_t found = 99;
    ASSERT_EQ(a.getSlot(&slot, 1, 0), kOk);
    EXPECT_EQ(slot, 0); // the module answers in the slot selected at power-on
    ASSERT_EQ(a.check(1, &found), kOk);
    EXPECT_EQ(found, 1);

    ASSERT_EQ(a.setSlot(200, 1, 0), kOk);
    ASSERT_EQ(a.check(1, &found), kOk);
    EXPECT_EQ(found, 0);

    Session later(fake.host()); // the next program
    ASSERT_EQ(later.open(), kOk);
    ASSERT_EQ(later.getSlot(&slot, 1, 0), kOk);
    EXPECT_EQ(slot, 200);

    elsewhere([](SimState &s) { s.bus.foreign[200] = 0x4896; });
    ASSERT_EQ(a.check(1, &found), kOk);
    EXPECT_EQ(found, 1);
    uint8_t identity[2] = {};
    ASSERT_EQ(read(CMD_Check, identity, 2), kOk);
    EXPECT_EQ(identity[0], 0x96);
    EXPECT_EQ(identity[1], 0x48);
}

TEST_F(SessionTest, WritesReachOtherProcessesAndQueriesLeaveTheFileAlone) {
    opened();
    ASSERT_EQ(write({CMD_Amplification_Y, 0x4C, 0x02}), kOk);
    Session other(fake.host());
    ASSERT_EQ(other.open(), kOk);
    uint8_t code = CMD_Amplification_Y;
    uint8_t gain[2] = {};
    ASSERT_EQ(other.send(1, &code, 1, 0), kOk);
    ASSERT_EQ(other.receive(1, gain, 2, 1), kOk);
    EXPECT_EQ(gain[0] | gain[1] << 8, 0x024C);

    const std::string before = fileText(statePath);
    uint8_t data[6];
    for (uint8_t c : {CMD_Uptime, CMD_State, CMD_5V, CMD_Amplification_Y})
        ASSERT_EQ(read(c, data, readShape(c).length), kOk);
    ASSERT_EQ(write({CMD_Amplification_Y, 0x4C, 0x02}), kOk); // the value it has
    EXPECT_EQ(fileText(statePath), before);
}

TEST_F(SessionTest, TransfersTakeTheirTimeOnTheWire) {
    fake.env["BXA7_SIM_BUS_HZ"] = "100000"; // 10 us a bit
    Session &a = opened();
    uint8_t data[6];
    uint8_t found;
    const uint8_t uptime = CMD_Uptime;
    const uint8_t unknown = 77;
    ASSERT_EQ(a.send(1, &uptime, 1, 0), kOk);
    ASSERT_EQ(a.receive(1, data, 6, 1), kOk);
    ASSERT_EQ(write({CMD_Duration_X, 0x10, 0x27}), kOk);
    ASSERT_EQ(a.check(1, &found), kOk);
    EXPECT_NE(a.send(1, &unknown, 1, 0), kOk);
    EXPECT_NE(a.receive(1, data, 6, 1), kOk); // refused before the wire: no time
    EXPECT_EQ(a.flush(), kOk);
    ASSERT_EQ(a.setSlot(5, 1, 0), kOk);
    EXPECT_NE(a.send(1, &uptime, 1, 0), kOk); // address not acknowledged
    EXPECT_EQ(fake.sleeps, (std::vector<int64_t>{190000, 650000, 380000, 110000, 200000, 110000}));

    fake.env["BXA7_SIM_BUS_HZ"] = "0";
    fake.sleeps.clear();
    ASSERT_EQ(a.open(), kOk);
    ASSERT_EQ(a.check(1, &found), kOk);
    EXPECT_TRUE(fake.sleeps.empty());
}

TEST_F(SessionTest, OpenReportsAMalformedEnvironment) {
    const std::string plain = dir.file("plain");
    std::ofstream(plain) << "";
    struct Case {
        const char *variable;
        std::string value;
        int32_t status;
        std::string error;
    };
    const Case cases[] = {
        {"BXA7_SIM_BUS_HZ", "fast", kConfiguration,
         "BXA_7_Open: BXA7_SIM_BUS_HZ: 'fast' is not a bus clock in Hz from 0 to 100000000"},
        {"BXA7_SIM_BUS_HZ", "100000001", kConfiguration,
         "BXA_7_Open: BXA7_SIM_BUS_HZ: '100000001' is not a bus clock in Hz from 0 to 100000000"},
        {"BXA7_SIM_FAIL", "send#0", kConfiguration,
         "BXA_7_Open: BXA7_SIM_FAIL: rule 'send#0': the occurrence must be a number from 1"},
        {"BXA7_SIM_TRACE", plain + "/trace", kConfiguration,
         "BXA_7_Open: BXA7_SIM_TRACE: cannot open " + plain + "/trace (Not a directory)"},
        {"BXA7_SIM_STATE", plain + "/state", kStateFile,
         "BXA_7_Open: cannot read the state file " + plain + "/state"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error);
        FakeHost host(statePath);
        host.env[c.variable] = c.value;
        Session s(host.host());
        EXPECT_EQ(s.open(), c.status);
        EXPECT_EQ(s.errorMessage(), c.error);
        uint8_t found;
        EXPECT_EQ(s.check(1, &found), kNotOpen);
    }
}

TEST_F(SessionTest, TheDefaultStateFileIsPerUser) {
    fake.env.erase("BXA7_SIM_STATE");
    fake.env["HOME"] = dir.file("home");
    fake.env["XDG_STATE_HOME"] = "relative/is/ignored";
    ASSERT_EQ(adapter().open(), kOk);
    EXPECT_NE(fileText(dir.file("home/.local/state/bxa7-sim/state")), "");

    fake.env["XDG_STATE_HOME"] = dir.file("xdg");
    ASSERT_EQ(adapter().open(), kOk);
    EXPECT_NE(fileText(dir.file("xdg/bxa7-sim/state")), "");
}

} // namespace
} // namespace bxa7sim
