// The scripted BXA-7 adapter: a libBXA-7.so for tests that exports the eleven operations of
// bxa7.h, records every call with its arguments and answers from a script instead of a bus.
//
// It carries the adapter library's file name and soname, so a program or library linked
// against another adapter library loads this one instead, unrebuilt, when the scripted
// library's directory comes first in the library search path. Tests script and inspect it
// through the functions below, which the same library exports.
//
// The script is process-wide: one test at a time, and each test starts with reset().
#ifndef BXA7_SCRIPTED_ADAPTER_H
#define BXA7_SCRIPTED_ADAPTER_H

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#if defined(BXA_7_BUILDING)
#define SCRIPTED_API __declspec(dllexport)
#else
#define SCRIPTED_API __declspec(dllimport)
#endif
#else
#define SCRIPTED_API __attribute__((visibility("default")))
#endif

namespace scripted {

enum class Op {
    Version,
    Open,
    Flush_LPT,
    GetSlot,
    SetSlot,
    ErrorMessage,
    IO_ErrorMessage,
    Check,
    Send,
    Receive,
    ReceiveString,
};

// One adapter call and its arguments; what the operation does not take stays 0 or empty.
struct Call {
    Op op = Op::Version;
    int32_t bus = 0;           // Check, Send, Receive, ReceiveString: the bus constant
    std::vector<uint8_t> sent; // Send: the bytes sent
    int32_t count = 0;         // Send, Receive: the count; ReceiveString: the limit
    int32_t last = 0;          // Send, Receive, ReceiveString: the last flag
    uint8_t slot = 0;          // SetSlot: the slot number
    int32_t a = 0;             // GetSlot, SetSlot: the pair after the slot
    int32_t b = 0;
};

// The status of a call that the script has no answer for, or whose answer does not fit the
// call (a queued answer of another length than the count received).
constexpr int32_t kScriptError = -9999;

// Forgets every recorded call, queued answer and pending failure; the version goes back to
// 0x0100 and both error texts to "".
SCRIPTED_API void reset();

// Every call since reset(), in order.
SCRIPTED_API std::vector<Call> calls();

// What BXA_7_Version returns.
SCRIPTED_API void setVersion(uint16_t version);

// Answers for the following successful calls, each used once, in the order queued:
// BXA_7_Receive stores exactly `answer` (its count must equal the answer's length),
// BXA_7_ReceiveString stores `text` cut to the call's limit and a terminating zero,
// BXA_7_Check stores `found`, BXA_7_GetSlot stores `slot`. Send, Open, Flush_LPT and SetSlot
// succeed without an answer.
SCRIPTED_API void queueAnswer(std::vector<uint8_t> answer);
SCRIPTED_API void queueText(std::string text);
SCRIPTED_API void queueFound(uint8_t found);
SCRIPTED_API void queueSlot(uint8_t slot);

// The `nth` following call of `op` (1: the next one) fails: it returns `status`, stores no
// answer, and the two message operations return the texts from then on. A failing
// BXA_7_Receive first fills its `count` bytes with 0xEE, as a broken transfer may leave
// rubbish behind. Version and the message operations cannot fail.
SCRIPTED_API void failCall(Op op, int32_t status, std::string errorText, std::string ioErrorText,
                           int nth = 1);

// Calls as a correct caller of the bus operations makes them (bus constant 1, reads with last
// flag 1), for comparison with calls().
namespace call {
inline Call check() {
    Call c;
    c.op = Op::Check;
    c.bus = 1;
    return c;
}
inline Call send(std::vector<uint8_t> bytes, int32_t last) {
    Call c;
    c.op = Op::Send;
    c.bus = 1;
    c.count = static_cast<int32_t>(bytes.size());
    c.sent = std::move(bytes);
    c.last = last;
    return c;
}
inline Call receive(int32_t count) {
    Call c;
    c.op = Op::Receive;
    c.bus = 1;
    c.count = count;
    c.last = 1;
    return c;
}
inline Call receiveString(int32_t limit) {
    Call c = receive(limit);
    c.op = Op::ReceiveString;
    return c;
}
} // namespace call

inline bool operator==(const Call &x, const Call &y) {
    return x.op == y.op && x.bus == y.bus && x.sent == y.sent && x.count == y.count &&
           x.last == y.last && x.slot == y.slot && x.a == y.a && x.b == y.b;
}

inline const char *name(Op op) {
    static const char *const names[] = {"Version", "Open",         "Flush_LPT",       "GetSlot",
                                        "SetSlot", "ErrorMessage", "IO_ErrorMessage", "Check",
                                        "Send",    "Receive",      "ReceiveString"};
    return names[static_cast<int>(op)];
}

// Readable failures in test output: "Send(bus 1, [15 00], count 2, last 0)".
inline std::ostream &operator<<(std::ostream &out, const Call &c) {
    out << name(c.op) << "(bus " << c.bus;
    if (c.op == Op::Send) {
        out << ", [";
        const char *separator = "";
        for (const uint8_t byte : c.sent) {
            static const char digits[] = "0123456789abcdef";
            out << separator << digits[byte >> 4] << digits[byte & 15];
            separator = " ";
        }
        out << "]";
    }
    return out << ", count " << c.count << ", last " << c.last << ", slot " << int{c.slot} << ", "
               << c.a << ", " << c.b << ")";
}

} // namespace scripted

#endif // BXA7_SCRIPTED_ADAPTER_H
