#include "scripted_adapter.h"

#include "bxa7.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace scripted {

namespace {

struct Failure {
    Op op;
    int remaining; // calls of `op` until this one fails
    int32_t status;
    std::string errorText;
    std::string ioErrorText;
};

struct Script {
    std::vector<Call> calls;
    uint16_t version = 0x0100;
    std::deque<std::vector<uint8_t>> answers;
    std::deque<std::string> texts;
    std::deque<uint8_t> found;
    std::deque<uint8_t> slots;
    std::vector<Failure> failures;
    std::string errorText;
    std::string ioErrorText;
};

// Built on first use, so that no adapter call can come before its construction.
Script &script() {
    static Script instance;
    return instance;
}

Call &record(Op op) {
    script().calls.emplace_back();
    Call &call = script().calls.back();
    call.op = op;
    return call;
}

int32_t failWith(int32_t status, std::string errorText, std::string ioErrorText) {
    script().errorText = std::move(errorText);
    script().ioErrorText = std::move(ioErrorText);
    return status;
}

// Counts this call of `op` down on every pending failure of `op`; a failure that reaches its
// call sets the texts, and its status is returned. 0 when the call is not to fail.
int32_t scriptedFailure(Op op) {
    auto &failures = script().failures;
    for (Failure &failure : failures) {
        if (failure.op == op) --failure.remaining;
    }
    const auto due = std::find_if(failures.begin(), failures.end(), [op](const Failure &failure) {
        return failure.op == op && failure.remaining == 0;
    });
    if (due == failures.end()) return 0;
    const Failure failure = *due;
    failures.erase(due);
    return failWith(failure.status, failure.errorText, failure.ioErrorText);
}

int32_t scriptError(const std::string &what) {
    return failWith(kScriptError, "scripted adapter: " + what, "");
}

template <typename T> T takeFirst(std::deque<T> &queue) {
    T first = std::move(queue.front());
    queue.pop_front();
    return first;
}

} // namespace

void reset() {
    script() = Script{};
}

std::vector<Call> calls() {
    return script().calls;
}

void setVersion(uint16_t version) {
    script().version = version;
}

void queueAnswer(std::vector<uint8_t> answer) {
    script().answers.push_back(std::move(answer));
}

void queueText(std::string text) {
    script().texts.push_back(std::move(text));
}

void queueFound(uint8_t found) {
    script().found.push_back(found);
}

void queueSlot(uint8_t slot) {
    script().slots.push_back(slot);
}

void failCall(Op op, int32_t status, std::string errorText, std::string ioErrorText, int nth) {
    script().failures.push_back({op, nth, status, std::move(errorText), std::move(ioErrorText)});
}

} // namespace scripted

using namespace scripted;

uint16_t BXA_7_CALL BXA_7_Version(void) {
    record(Op::Version);
    return script().version;
}

int32_t BXA_7_CALL BXA_7_Open(void) {
    record(Op::Open);
    return scriptedFailure(Op::Open);
}

int32_t BXA_7_CALL BXA_7_Flush_LPT(void) {
    record(Op::Flush_LPT);
    return scriptedFailure(Op::Flush_LPT);
}

int32_t BXA_7_CALL BXA_7_GetSlot(uint8_t *slot, int32_t a, int32_t b) {
    Call &call = record(Op::GetSlot);
    call.a = a;
    call.b = b;
    if (const int32_t status = scriptedFailure(Op::GetSlot)) return status;
    if (script().slots.empty()) return scriptError("no slot queued for GetSlot");
    *slot = takeFirst(script().slots);
    return 0;
}

int32_t BXA_7_CALL BXA_7_SetSlot(uint8_t slot, int32_t a, int32_t b) {
    Call &call = record(Op::SetSlot);
    call.slot = slot;
    call.a = a;
    call.b = b;
    return scriptedFailure(Op::SetSlot);
}

const char *BXA_7_CALL BXA_7_ErrorMessage(void) {
    record(Op::ErrorMessage);
    return script().errorText.c_str();
}

const char *BXA_7_CALL BXA_7_IO_ErrorMessage(void) {
    record(Op::IO_ErrorMessage);
    return script().ioErrorText.c_str();
}

int32_t BXA_7_CALL BXA_7_Check(int32_t bus, uint8_t *found) {
    record(Op::Check).bus = bus;
    if (const int32_t status = scriptedFailure(Op::Check)) return status;
    if (script().found.empty()) return scriptError("no found flag queued for Check");
    *found = takeFirst(script().found);
    return 0;
}

int32_t BXA_7_CALL BXA_7_Send(int32_t bus, const uint8_t *data, int32_t count, int32_t last) {
    Call &call = record(Op::Send);
    call.bus = bus;
    if (count > 0) call.sent.assign(data, data + count);
    call.count = count;
    call.last = last;
    return scriptedFailure(Op::Send);
}

int32_t BXA_7_CALL BXA_7_Receive(int32_t bus, uint8_t *data, int32_t count, int32_t last) {
    Call &call = record(Op::Receive);
    call.bus = bus;
    call.count = count;
    call.last = last;
    if (const int32_t status = scriptedFailure(Op::Receive)) {
        if (count > 0) std::memset(data, 0xEE, static_cast<size_t>(count));
        return status;
    }
    if (script().answers.empty()) return scriptError("no answer queued for Receive");
    const std::vector<uint8_t> answer = takeFirst(script().answers);
    if (answer.size() != static_cast<size_t>(count)) {
        return scriptError("answer of " + std::to_string(answer.size()) +
                           " bytes queued for a Receive of " + std::to_string(count));
    }
    std::copy(answer.begin(), answer.end(), data);
    return 0;
}

int32_t BXA_7_CALL BXA_7_ReceiveString(int32_t bus, char *text, int32_t limit, int32_t last) {
    Call &call = record(Op::ReceiveString);
    call.bus = bus;
    call.count = limit;
    call.last = last;
    if (const int32_t status = scriptedFailure(Op::ReceiveString)) return status;
    if (script().texts.empty()) return scriptError("no text queued for ReceiveString");
    const std::string queued = takeFirst(script().texts);
    const size_t length = std::min(queued.size(), static_cast<size_t>(std::max(limit, 0)));
    std::memcpy(text, queued.data(), length);
    text[length] = '\0';
    return 0;
}
