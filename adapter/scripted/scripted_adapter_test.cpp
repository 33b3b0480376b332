// The scripted adapter's own promises that the device tests do not exercise.
#include "scripted_adapter.h"

#include "bxa7.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using scripted::Op;

TEST(ScriptedAdapter, FailsTheChosenCallWithItsStatusAndTexts) {
    scripted::reset();
    scripted::failCall(Op::SetSlot, -42, "slot refused", "no acknowledge", 2);
    EXPECT_EQ(BXA_7_SetSlot(3, 1, 0), 0);
    EXPECT_EQ(BXA_7_SetSlot(4, 1, 0), -42);
    EXPECT_EQ(BXA_7_SetSlot(5, 1, 0), 0);
    EXPECT_EQ(std::string(BXA_7_ErrorMessage()), "slot refused");
    EXPECT_EQ(std::string(BXA_7_IO_ErrorMessage()), "no acknowledge");

    const std::vector<scripted::Call> calls = scripted::calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[1].op, Op::SetSlot);
    EXPECT_EQ(calls[1].slot, 4);
    EXPECT_EQ(calls[1].a, 1);
    EXPECT_EQ(calls[1].b, 0);
    EXPECT_EQ(calls[4].op, Op::IO_ErrorMessage);
}

TEST(ScriptedAdapter, RefusesCallsTheScriptDoesNotFit) {
    scripted::reset();
    uint8_t bytes[2] = {};
    EXPECT_EQ(BXA_7_Receive(1, bytes, 2, 1), scripted::kScriptError); // nothing queued
    scripted::queueAnswer({1, 2, 3});
    EXPECT_EQ(BXA_7_Receive(1, bytes, 2, 1), scripted::kScriptError); // wrong length

    char text[6];
    scripted::queueText("longer than the limit");
    EXPECT_EQ(BXA_7_ReceiveString(1, text, 5, 1), 0);
    EXPECT_EQ(std::string(text), "longe");
}

} // namespace
