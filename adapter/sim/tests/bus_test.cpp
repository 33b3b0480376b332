#include "bus.h"
#include "module.h"
#include "wire_time.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

namespace bxa7sim {
namespace {

using namespace qvx3;
using Bytes = std::vector<uint8_t>;

constexpr int64_t kNow = 2500000000; // 2.5 s after power-on

Bytes textBytes(const char *s) {
    return Bytes(s, s + std::char_traits<char>::length(s));
}

class BusTest : public testing::Test {
protected:
    Transfer send(Bytes bytes, bool last = true) {
        return bus.send(state, bytes.data(), bytes.size(), last, kNow);
    }
    // The read shape: the command byte, then the register or the text.
    Transfer read(uint8_t code) {
        const Transfer command = send({code}, false);
        EXPECT_EQ(command.outcome, Outcome::Done) << command.detail;
        const ReadShape shape = readShape(code);
        return shape.text ? bus.receiveText(state, static_cast<size_t>(shape.length), true, kNow)
                          : bus.receive(state, static_cast<size_t>(shape.length), true, kNow);
    }

    SimState state = freshState("boot", 0);
    Bus bus;
};

TEST_F(BusTest, EveryCodeReadsItsPowerOnValue) {
    struct Case {
        uint8_t code;
        Bytes answer; // empty: noisy, only the length is known
    };
    const Case cases[] = {
        {CMD_Check, {0x48, 0x96}},
        {CMD_Prod_ID, textBytes(kProductId)},
        {CMD_Prod_No, {0x73, 0x94, 0x04, 0x00}},
        {CMD_FW_Ver, {0x02, 0x01}},
        {CMD_FW_Date, textBytes(kFirmwareDate)},
        {CMD_Uptime, {2, 0, 0, 0, 0x00, 0x02}},
        {CMD_5V, {}},
        {CMD_3V, {}},
        {CMD_Temp, {}},
        {CMD_ClkCPU, {0x00, 0x6C, 0xDC, 0x02}},
        {CMD_ClkPer, {0x00, 0x36, 0x6E, 0x01}},
        {CMD_ClkADC, {0x00, 0x1B, 0xB7, 0x00}},
        {CMD_ClkDAC, {0x90, 0xD0, 0x03, 0x00}},
        {CMD_LPF_X, {4, 0, 2}},
        {CMD_LPF_Y, {4, 0, 2}},
        {CMD_HPF_Tau_X, {8}},
        {CMD_HPF_Tau_Y, {8}},
        {CMD_Amplification_X, {0x00, 0x01}},
        {CMD_Amplification_Y, {0x00, 0x01}},
        {CMD_Polarity_X, {0}},
        {CMD_Polarity_Y, {0}},
        {CMD_Threshold_X, {100, 0}},
        {CMD_Threshold_Y, {100, 0}},
        {CMD_Duration_X, {100, 0}},
        {CMD_Duration_Y, {100, 0}},
        {CMD_Frequency_X, {0x80, 0x96, 0x98, 0x00}},
        {CMD_Frequency_Y, {0x40, 0x59, 0x73, 0x07}},
        {CMD_State, {kStateValidX | kStateValidY}}, // both results read just before
    };
    static_assert(std::size(cases) == kCommandCount);
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        const Transfer t = read(c.code);
        ASSERT_EQ(t.outcome, Outcome::Done) << t.detail;
        if (c.answer.empty())
            EXPECT_EQ(t.answer.size(), 2u);
        else
            EXPECT_EQ(t.answer, c.answer);
        EXPECT_FALSE(bus.pendingCommand());
    }
}

TEST_F(BusTest, SettingsReadBackAsWritten) {
    struct Case {
        Bytes write;
        Bytes readBack;
    };
    const Case cases[] = {
        {{CMD_LPF_X, 10}, {108, 0, 10}}, // the module pairs Beta 10 with Alpha 108
        {{CMD_LPF_Y, 24}, {0x6A, 0x37, 24}},
        {{CMD_HPF_Tau_X, 20}, {20}},
        {{CMD_HPF_Tau_Y, 255}, {255}},
        {{CMD_Amplification_X, 0x4C, 0x02}, {0x4C, 0x02}},
        {{CMD_Amplification_Y, 0xFF, 0xFF}, {0xFF, 0xFF}},
        {{CMD_Polarity_X, 1}, {1}},
        {{CMD_Polarity_Y, 0xA5}, {0xA5}}, // any non-zero byte stays as written
        {{CMD_Threshold_X, 0x88, 0x13}, {0x88, 0x13}},
        {{CMD_Threshold_Y, 0, 0}, {0, 0}},
        {{CMD_Duration_X, 0x10, 0x27}, {0x10, 0x27}},
        {{CMD_Duration_Y, 0xFF, 0xFF}, {0xFF, 0xFF}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.write[0]));
        const Transfer w = send(c.write);
        ASSERT_EQ(w.outcome, Outcome::Done) << w.detail;
        EXPECT_EQ(read(c.write[0]).answer, c.readBack);
    }
    // Every register kept its own value.
    for (const Case &c : cases)
        EXPECT_EQ(read(c.write[0]).answer, c.readBack) << static_cast<int>(c.write[0]);
}

// One step of a transaction: a send, a register read of a length, a text read, or a probe.
struct Send {
    Bytes bytes;
    bool last;
};
struct Receive {
    size_t count;
    bool last = true;
};
struct ReceiveText {
    size_t limit;
};
struct Probe {};
using Step = std::variant<Send, Receive, ReceiveText, Probe>;

struct MisuseCase {
    std::vector<Step> steps;
    Outcome outcome;
    const char *detail;
};

TEST_F(BusTest, MisuseIsRefusedWithATextThatSaysWhatWasWrong) {
    const MisuseCase cases[] = {
        {{Receive{2}},
         Outcome::Misuse,
         "no command in progress (send the command byte with last flag 0 first)"},
        {{Send{{5}, false}, Receive{4}}, Outcome::Misuse, "command 5 answers 6 bytes, not 4"},
        {{Send{{1}, false}, Receive{81}},
         Outcome::Misuse,
         "command 1 answers a text (read it with BXA_7_ReceiveString)"},
        {{Send{{5}, false}, ReceiveText{81}},
         Outcome::Misuse,
         "command 5 answers 6 bytes, not a text (read it with BXA_7_Receive)"},
        {{Send{{5}, false}, Receive{6, false}},
         Outcome::Misuse,
         "a read must end the transaction (last flag 1)"},
        {{Send{{5, 0}, false}},
         Outcome::Misuse,
         "a read command is the command byte alone, not 2 bytes (last flag 0)"},
        {{Send{{28}, false}}, Outcome::Refused, "unknown command code 28"},
        {{Send{{255, 1}, true}}, Outcome::Refused, "unknown command code 255"},
        {{Send{{5, 1, 2}, true}}, Outcome::Refused, "register 5 is read-only"},
        {{Send{{CMD_Frequency_X, 0, 0, 0, 0}, true}}, Outcome::Refused, "register 25 is read-only"},
        {{Send{{17, 1}, true}}, Outcome::Refused, "command 17 takes 2 payload bytes, not 1"},
        {{Send{{19, 1, 2}, true}}, Outcome::Refused, "command 19 takes 1 payload byte, not 2"},
        {{Send{{19}, true}}, Outcome::Refused, "command 19 takes 1 payload byte, not 0"},
        // What ends a command in progress: a failed read, a probe, another send.
        {{Send{{5}, false}, Receive{4}, Receive{6}}, Outcome::Misuse, "no command in progress"},
        {{Send{{5}, false}, Probe{}, Receive{6}}, Outcome::Misuse, "no command in progress"},
        {{Send{{5}, false}, Send{{17, 0, 1}, true}, Receive{6}},
         Outcome::Misuse,
         "no command in progress"},
    };
    for (const MisuseCase &c : cases) {
        SimState fresh = freshState("boot", 0);
        const SimState before = fresh;
        Bus b;
        Transfer t;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step &step = c.steps[i];
            if (auto *s = std::get_if<Send>(&step)) {
                t = b.send(fresh, s->bytes.data(), s->bytes.size(), s->last, kNow);
            } else if (auto *r = std::get_if<Receive>(&step)) {
                t = b.receive(fresh, r->count, r->last, kNow);
            } else if (auto *x = std::get_if<ReceiveText>(&step)) {
                t = b.receiveText(fresh, x->limit, true, kNow);
            } else {
                bool found = false;
                t = b.probe(fresh, found);
            }
            // Earlier sends and probes set the scene; earlier reads may fail on purpose.
            if (i + 1 < c.steps.size() && !std::holds_alternative<Receive>(step)) {
                ASSERT_EQ(t.outcome, Outcome::Done) << c.detail << ": step " << i;
            }
        }
        SCOPED_TRACE(c.detail);
        EXPECT_EQ(t.outcome, c.outcome);
        EXPECT_NE(t.detail.find(c.detail), std::string::npos) << t.detail;
        EXPECT_TRUE(t.answer.empty());
        EXPECT_FALSE(b.pendingCommand());
        if (c.steps.size() == 1) {
            EXPECT_TRUE(fresh == before) << "a refused transfer changed the module";
        }
    }
}

TEST_F(BusTest, TextsStopAtTheReadersLimit) {
    struct Case {
        size_t limit;
        std::string text;
        int64_t bytesOnWire;
    };
    const std::string full = kFirmwareDate; // 10 characters
    const Case cases[] = {
        {16, full, 11}, // the characters and the terminator
        {11, full, 11},
        {10, full, 10}, // the reader stops before the terminator
        {4, full.substr(0, 4), 4},
        {0, "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.limit);
        send({CMD_FW_Date}, false);
        const Transfer t = bus.receiveText(state, c.limit, true, kNow);
        ASSERT_EQ(t.outcome, Outcome::Done);
        EXPECT_EQ(std::string(t.answer.begin(), t.answer.end()), c.text);
        EXPECT_EQ(t.wireBits, readBits(c.bytesOnWire));
    }
}

TEST_F(BusTest, EmptySlotsDoNotAnswerAndForeignDevicesOnlyTellTheirIdentity) {
    bool found = true;
    state.bus.selectedSlot = 9;
    bus.probe(state, found);
    EXPECT_FALSE(found);
    Transfer t = send({CMD_Check}, false);
    EXPECT_EQ(t.outcome, Outcome::NoAcknowledge);
    EXPECT_EQ(t.detail, "no acknowledge from RVL slot 9");
    EXPECT_EQ(send({CMD_Polarity_X, 1}).outcome, Outcome::NoAcknowledge);

    state.bus.foreign[9] = 0x4896;
    bus.probe(state, found);
    EXPECT_TRUE(found);
    EXPECT_EQ(read(CMD_Check).answer, (Bytes{0x96, 0x48}));
    t = send({CMD_Uptime}, false);
    EXPECT_EQ(t.outcome, Outcome::Refused);
    EXPECT_EQ(t.detail, "command 5 not acknowledged by the device in RVL slot 9");
    EXPECT_EQ(send({CMD_Polarity_X, 1}).outcome, Outcome::Refused);

    // The module moves away between the command and the read.
    state.bus.selectedSlot = 0;
    send({CMD_Check}, false);
    state.bus.moduleSlot = 3;
    EXPECT_EQ(bus.receive(state, 2, true, kNow).outcome, Outcome::NoAcknowledge);
    state.bus.selectedSlot = 3;
    EXPECT_EQ(read(CMD_Check).answer, (Bytes{0x48, 0x96}));
}

TEST_F(BusTest, TransfersCountTheirBitsOnTheWire) {
    bool found = false;
    EXPECT_EQ(send({CMD_Uptime}, false).wireBits, 19);         // start, address, command
    EXPECT_EQ(bus.receive(state, 6, true, kNow).wireBits, 65); // start, address, 6 bytes, stop
    EXPECT_EQ(send({CMD_Amplification_X, 0, 1}).wireBits, 38);
    EXPECT_EQ(bus.probe(state, found).wireBits, 11);
    EXPECT_EQ(send({40}).wireBits, 20);                       // refused at the command byte
    EXPECT_EQ(bus.receive(state, 6, true, kNow).wireBits, 0); // refused by the adapter
    state.bus.selectedSlot = 1;
    EXPECT_EQ(send({CMD_Uptime}, false).wireBits, 11); // address not acknowledged

    EXPECT_EQ(wireNanoseconds(84, 100000), 840000);
    EXPECT_EQ(wireNanoseconds(84, 40000), 2100000);
    EXPECT_EQ(wireNanoseconds(1, 3), 333333334); // rounded up
    EXPECT_EQ(wireNanoseconds(84, 0), 0);
    // A caller's absurd count: the largest Send at 100 kHz is exact, and nothing overflows.
    const int64_t largestSend = writeBits(INT32_MAX, true);
    EXPECT_EQ(wireNanoseconds(largestSend, 100000), largestSend * 10000);
    EXPECT_EQ(wireNanoseconds(largestSend, 1), kMaxWireNanoseconds);
    EXPECT_EQ(wireNanoseconds(INT64_MAX, 1000), kMaxWireNanoseconds);
}

} // namespace
} // namespace bxa7sim
