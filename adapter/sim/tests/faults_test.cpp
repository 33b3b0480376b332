#include "session_fixture.h"

namespace bxa7sim {
namespace {

using namespace qvx3;

TEST(FaultRules, ParseTheGrammar) {
    std::vector<FaultRule> rules;
    std::string error;
    ASSERT_TRUE(parseFaultRules(" open,flush  SEND:3#2=-7,,receive:0x05\treceivestring:1#1 "
                                "setslot:255=2147483647 send=-2147483648",
                                rules, error))
        << error;
    ASSERT_EQ(rules.size(), 7u);
    EXPECT_EQ(rules[0].op, Operation::Open);
    EXPECT_FALSE(rules[0].filter || rules[0].occurrence || rules[0].status);
    EXPECT_EQ(rules[1].op, Operation::Flush);
    EXPECT_EQ(rules[2].op, Operation::Send);
    EXPECT_EQ(rules[2].filter, 3u);
    EXPECT_EQ(rules[2].occurrence, 2u);
    EXPECT_EQ(rules[2].status, -7);
    EXPECT_EQ(rules[3].op, Operation::Receive);
    EXPECT_EQ(rules[3].filter, 5u);
    EXPECT_EQ(rules[4].op, Operation::ReceiveString);
    EXPECT_EQ(rules[4].occurrence, 1u);
    EXPECT_EQ(rules[5].status, INT32_MAX);
    EXPECT_EQ(rules[6].status, INT32_MIN);

    const std::pair<const char *, const char *> bad[] = {
        {"sned", "rule 'sned': unknown operation 'sned'"},
        {"send#3,recieve", "rule 'recieve': unknown operation 'recieve'"},
        {"#3", "rule '#3': unknown operation ''"},
        {"open:1", "rule 'open:1': 'open' takes no :N filter"},
        {"check:0", "rule 'check:0': 'check' takes no :N filter"},
        {"send:256", "rule 'send:256': the filter must be a number from 0 to 255"},
        {"send:", "rule 'send:': the filter must be a number from 0 to 255"},
        {"send:-1", "rule 'send:-1': the filter must be a number from 0 to 255"},
        {"send#0", "rule 'send#0': the occurrence must be a number from 1"},
        {"send#x", "rule 'send#x': the occurrence must be a number from 1"},
        {"send=0", "rule 'send=0': the status must be a non-zero 32-bit number"},
        {"send=2147483648", "rule 'send=2147483648': the status must be a non-zero 32-bit number"},
        {"send=-2147483649",
         "rule 'send=-2147483649': the status must be a non-zero 32-bit number"},
        {"send#2:3", "rule 'send#2:3': unexpected ':3'"},
        {"send:3:4", "rule 'send:3:4': unexpected ':4'"},
        {"send;flush", "rule 'send;flush': unknown operation 'send;flush'"},
    };
    for (const auto &[text, message] : bad) {
        std::vector<FaultRule> kept = rules;
        EXPECT_FALSE(parseFaultRules(text, kept, error)) << text;
        EXPECT_EQ(error, message);
        EXPECT_EQ(kept.size(), rules.size()) << "a failed parse leaves the rules alone";
    }
}

class FaultTest : public SessionTest {
protected:
    Session &withRules(const std::string &rules) {
        fake.env["BXA7_SIM_FAIL"] = rules;
        return adapter();
    }
    void expectInjected(int32_t status, int32_t expected, const std::string &function) {
        expectFailure(status, expected, function + " failed: injected fault",
                      "simulated I/O error in " + function);
    }
};

TEST_F(FaultTest, EachOperationFailsWithItsOwnStatusAndTexts) {
    uint8_t byte = 0;
    char text[20];
    const uint8_t date = CMD_FW_Date;
    const uint8_t state = CMD_State;
    struct Case {
        const char *rule;
        const char *function;
        int32_t status;
        std::function<int32_t(Session &)> call;
    };
    const Case cases[] = {
        {"open", "BXA_7_Open", 10, [](Session &a) { return a.open(); }},
        {"flush", "BXA_7_Flush_LPT", 11, [](Session &a) { return a.flush(); }},
        {"getslot", "BXA_7_GetSlot", 12, [&](Session &a) { return a.getSlot(&byte, 1, 0); }},
        {"setslot", "BXA_7_SetSlot", 13, [](Session &a) { return a.setSlot(1, 1, 0); }},
        {"check", "BXA_7_Check", 14, [&](Session &a) { return a.check(1, &byte); }},
        {"send", "BXA_7_Send", 15, [&](Session &a) { return a.send(1, &state, 1, 0); }},
        {"receive", "BXA_7_Receive", 16,
         [&](Session &a) {
             EXPECT_EQ(a.send(1, &state, 1, 0), kOk);
             return a.receive(1, &byte, 1, 1);
         }},
        {"receivestring", "BXA_7_ReceiveString", 17,
         [&](Session &a) {
             EXPECT_EQ(a.send(1, &date, 1, 0), kOk);
             return a.receiveString(1, text, 16, 1);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rule);
        FakeHost host(statePath);
        host.env["BXA7_SIM_FAIL"] = c.rule;
        Session a(host.host());
        if (c.status != kInjectedOpen) {
            ASSERT_EQ(a.open(), kOk) << a.errorMessage();
        }
        const int32_t status = c.call(a);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(a.errorMessage(), std::string(c.function) + " failed: injected fault");
        EXPECT_EQ(a.ioErrorMessage(), "simulated I/O error in " + std::string(c.function));
    }
}

TEST_F(FaultTest, FiltersAndOccurrencesPickTheCallsThatFail) {
    Session &a = withRules("send#3 receive:7 receivestring:1#2 setslot:5=-42");
    ASSERT_EQ(a.open(), kOk);
    uint8_t data[6];
    char text[90];
    auto readText = [&](uint8_t code) {
        EXPECT_EQ(a.send(1, &code, 1, 0), kOk);
        return a.receiveString(1, text, 81, 1);
    };

    EXPECT_EQ(read(CMD_5V, data, 2), kOk);                     // send 1
    EXPECT_EQ(read(CMD_3V, data, 2), 16);                      // send 2; every read of code 7 fails
    expectInjected(read(CMD_Temp, data, 2), 15, "BXA_7_Send"); // send 3 fails...
    EXPECT_EQ(a.receive(1, data, 2, 1), kMisuse);              // ...and leaves no command
    EXPECT_EQ(read(CMD_Temp, data, 2), kOk);                   // send 4
    expectInjected(read(CMD_3V, data, 2), 16, "BXA_7_Receive");

    EXPECT_EQ(readText(CMD_Prod_ID), kOk);                            // code 1: first
    EXPECT_EQ(readText(CMD_FW_Date), kOk);                            // code 4 is not counted
    expectInjected(readText(CMD_Prod_ID), 17, "BXA_7_ReceiveString"); // code 1: second
    EXPECT_EQ(readText(CMD_Prod_ID), kOk);                            // code 1: third

    EXPECT_EQ(a.setSlot(4, 1, 0), kOk);
    expectInjected(a.setSlot(5, 1, 0), -42, "BXA_7_SetSlot");
    uint8_t slot = 0;
    ASSERT_EQ(a.getSlot(&slot, 1, 0), kOk);
    EXPECT_EQ(slot, 4) << "a failed slot selection selects nothing";
    ASSERT_EQ(a.setSlot(0, 1, 0), kOk);

    // Opening again with the same rules keeps counting; new rules start afresh.
    ASSERT_EQ(a.open(), kOk);
    EXPECT_EQ(read(CMD_Temp, data, 2), kOk); // the third send has been
    fake.env["BXA7_SIM_FAIL"] = "send#1";
    ASSERT_EQ(a.open(), kOk);
    EXPECT_EQ(read(CMD_Temp, data, 2), 15);
}

TEST_F(FaultTest, FailedReadsStoreNothing) {
    Session &a = withRules("receive receivestring");
    ASSERT_EQ(a.open(), kOk);
    uint8_t data[6] = {1, 2, 3, 4, 5, 6};
    char text[20] = "untouched";
    EXPECT_EQ(read(CMD_Uptime, data, 6), 16);
    EXPECT_EQ(data[0] + data[5], 7);
    const uint8_t code = CMD_FW_Date;
    ASSERT_EQ(a.send(1, &code, 1, 0), kOk);
    EXPECT_EQ(a.receiveString(1, text, 16, 1), 17);
    EXPECT_STREQ(text, "untouched");
}

TEST_F(SessionTest, TracesEveryCallOnOneLine) {
    const std::string trace = dir.file("trace");
    fake.env["BXA7_SIM_TRACE"] = trace;
    fake.env["BXA7_SIM_FAIL"] = "check";
    Session &a = adapter();
    a.version();
    ASSERT_EQ(a.open(), kOk);
    uint8_t slot = 0;
    a.getSlot(&slot, 1, 0);
    a.setSlot(3, 1, 0);
    a.setSlot(0, 1, 0);
    a.check(1, &slot);
    a.errorMessage();
    a.ioErrorMessage();
    uint8_t data[2] = {CMD_Polarity_X, 1};
    a.send(1, data, 2, 1);
    a.send(1, data, 1, 0);
    a.receive(1, data, 1, 1);
    a.receive(1, data, 1, 1);
    const uint8_t prodId = CMD_Prod_ID;
    char text[8];
    a.send(1, &prodId, 1, 0);
    a.receiveString(1, text, 5, 1);
    a.flush();
    EXPECT_EQ(fileText(trace),
              "BXA_7_Version -> 0x0100\n"
              "BXA_7_Open -> 0\n"
              "BXA_7_GetSlot a=1 b=0 -> 0 slot=0\n"
              "BXA_7_SetSlot slot=3 a=1 b=0 -> 0\n"
              "BXA_7_SetSlot slot=0 a=1 b=0 -> 0\n"
              "BXA_7_Check bus=1 -> 14 error=\"BXA_7_Check failed: injected fault\"\n"
              "BXA_7_ErrorMessage -> \"BXA_7_Check failed: injected fault\"\n"
              "BXA_7_IO_ErrorMessage -> \"simulated I/O error in BXA_7_Check\"\n"
              "BXA_7_Send bus=1 count=2 last=1 data=13 01 -> 0\n"
              "BXA_7_Send bus=1 count=1 last=0 data=13 -> 0\n"
              "BXA_7_Receive bus=1 count=1 last=1 -> 0 data=01\n"
              "BXA_7_Receive bus=1 count=1 last=1 -> 6 error=\"BXA_7_Receive: no command in "
              "progress (send the command byte with last flag 0 first)\"\n"
              "BXA_7_Send bus=1 count=1 last=0 data=01 -> 0\n"
              "BXA_7_ReceiveString bus=1 limit=5 last=1 -> 0 text=\"QVX-3\"\n"
              "BXA_7_Flush_LPT -> 0\n");
}

TEST(TraceLine, QuotesTextsAndBoundsBytes) {
    TraceLine line("f");
    line.text("t", "a\"b\\c\n\xf8").text("n", nullptr).bytes("d", nullptr, 3);
    EXPECT_EQ(line.str(), "f t=\"a\\\"b\\\\c\\x0a\\xf8\" n=(null) d=(null)");

    std::vector<uint8_t> many(100, 0xAB);
    TraceLine big("f");
    big.bytes("d", many.data(), 100);
    EXPECT_EQ(big.str().size(), std::string("f d=").size() + 64 * 3 - 1 + 4);
    EXPECT_EQ(big.str().substr(big.str().size() - 6), "ab ...");
}

} // namespace
} // namespace bxa7sim
