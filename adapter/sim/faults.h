// Fault injection: rules that make chosen adapter calls fail as a broken adapter or bus
// would.
//
// Grammar (BXA7_SIM_FAIL): rules separated by commas or blanks,
//     rule  = operation [":" number] ["#" number] ["=" status]
//     operation = open | flush | getslot | setslot | check | send | receive | receivestring
// ":N" filters by the command code (send: the command byte sent; receive, receivestring:
// the code of the command in progress) or, for setslot, by the slot; the other operations
// take no filter. "#N" fails only the N-th call that matches the operation and the filter
// (1-based, counted from the first call in the process); without it every matching call
// fails. "=S" gives the status, any non-zero 32-bit value; without it each operation fails
// with its own status (status.h). Numbers are decimal or 0x-prefixed hexadecimal; operation
// names ignore case.
#ifndef BXA7SIM_FAULTS_H
#define BXA7SIM_FAULTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bxa7sim {

enum class Operation { Open, Flush, GetSlot, SetSlot, Check, Send, Receive, ReceiveString };

// The exported function's name, "BXA_7_Send" for Operation::Send.
const char *functionName(Operation op);

struct FaultRule {
    Operation op = Operation::Open;
    std::optional<uint32_t> filter;
    std::optional<uint64_t> occurrence;
    std::optional<int32_t> status;
};

// Parses BXA7_SIM_FAIL; on a mistake returns false with `error` naming the rule and what is
// wrong with it.
bool parseFaultRules(std::string_view text, std::vector<FaultRule> &rules, std::string &error);

// The rules with their counts of matching calls.
class FaultInjector {
public:
    FaultInjector() = default;
    explicit FaultInjector(std::vector<FaultRule> rules);

    // Counts the call against every rule it matches and returns the status of the first
    // rule that fires, if any. `filter` is the call's code or slot, when it has one.
    std::optional<int32_t> check(Operation op, std::optional<uint32_t> filter);

private:
    std::vector<FaultRule> rules_;
    std::vector<uint64_t> matched_;
};

// A number as the environment variables write it: decimal or 0x-prefixed hexadecimal, no
// sign, nothing around it. False when `text` is not one or exceeds `max`.
bool parseNumber(std::string_view text, uint64_t max, uint64_t &value);

} // namespace bxa7sim

#endif // BXA7SIM_FAULTS_H
