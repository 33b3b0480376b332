#include "faults.h"

#include "status.h"

#include <cctype>
#include <charconv>

namespace bxa7sim {

namespace {

struct Named {
    const char *rule;
    const char *function;
};
constexpr Named kNames[] = {
    {"open", "BXA_7_Open"},       {"flush", "BXA_7_Flush_LPT"},
    {"getslot", "BXA_7_GetSlot"}, {"setslot", "BXA_7_SetSlot"},
    {"check", "BXA_7_Check"},     {"send", "BXA_7_Send"},
    {"receive", "BXA_7_Receive"}, {"receivestring", "BXA_7_ReceiveString"},
};

bool takesFilter(Operation op) {
    return op == Operation::Send || op == Operation::Receive || op == Operation::ReceiveString ||
           op == Operation::SetSlot;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    }
    return true;
}

bool parseRule(std::string_view text, FaultRule &rule, std::string &problem) {
    const size_t nameEnd = std::min(text.find_first_of(":#="), text.size());
    const std::string_view name = text.substr(0, nameEnd);
    bool known = false;
    for (size_t i = 0; i < std::size(kNames); ++i) {
        if (equalsIgnoringCase(name, kNames[i].rule)) {
            rule.op = static_cast<Operation>(i);
            known = true;
        }
    }
    if (!known) {
        problem = "unknown operation '" + std::string(name) + "'";
        return false;
    }
    text.remove_prefix(nameEnd);
    // The parts follow in the order ":", "#", "=", each at most once.
    for (const char mark : {':', '#', '='}) {
        if (text.empty() || text[0] != mark) continue;
        text.remove_prefix(1);
        const size_t end = std::min(text.find_first_of(":#="), text.size());
        std::string_view number = text.substr(0, end);
        text.remove_prefix(end);
        uint64_t value = 0;
        if (mark == ':') {
            if (!takesFilter(rule.op)) {
                problem = "'" + std::string(kNames[static_cast<int>(rule.op)].rule) +
                          "' takes no :N filter";
                return false;
            }
            if (!parseNumber(number, 255, value)) {
                problem = "the filter must be a number from 0 to 255";
                return false;
            }
            rule.filter = static_cast<uint32_t>(value);
        } else if (mark == '#') {
            if (!parseNumber(number, UINT64_MAX, value) || value == 0) {
                problem = "the occurrence must be a number from 1";
                return false;
            }
            rule.occurrence = value;
        } else {
            const bool negative = !number.empty() && number[0] == '-';
            if (negative) number.remove_prefix(1);
            if (!parseNumber(number, negative ? 0x80000000u : 0x7FFFFFFFu, value) || value == 0) {
                problem = "the status must be a non-zero 32-bit number";
                return false;
            }
            rule.status = static_cast<int32_t>(negative ? -static_cast<int64_t>(value)
                                                        : static_cast<int64_t>(value));
        }
    }
    if (!text.empty()) {
        problem = "unexpected '" + std::string(text) + "'";
        return false;
    }
    return true;
}

} // namespace

const char *functionName(Operation op) {
    return kNames[static_cast<int>(op)].function;
}

bool parseNumber(std::string_view text, uint64_t max, uint64_t &value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || !std::isxdigit(static_cast<unsigned char>(text[0]))) return false;
    uint64_t v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (error != std::errc() || end != text.data() + text.size() || v > max) return false;
    value = v;
    return true;
}

bool parseFaultRules(std::string_view text, std::vector<FaultRule> &rules, std::string &error) {
    std::vector<FaultRule> parsed;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find_first_of(", \t\n", start), text.size());
        const std::string_view item = text.substr(start, end - start);
        start = end + 1;
        if (item.empty()) continue;
        FaultRule rule;
        std::string problem;
        if (!parseRule(item, rule, problem)) {
            error = "rule '" + std::string(item) + "': " + problem;
            return false;
        }
        parsed.push_back(rule);
    }
    rules = std::move(parsed);
    return true;
}

FaultInjector::FaultInjector(std::vector<FaultRule> rules)
    : rules_(std::move(rules)), matched_(rules_.size(), 0) {}

std::optional<int32_t> FaultInjector::check(Operation op, std::optional<uint32_t> filter) {
    std::optional<int32_t> status;
    for (size_t i = 0; i < rules_.size(); ++i) {
        const FaultRule &rule = rules_[i];
        if (rule.op != op || (rule.filter && rule.filter != filter)) continue;
        ++matched_[i];
        if (!status && (!rule.occurrence || *rule.occurrence == matched_[i]))
            status = rule.status.value_or(injectedStatus(op));
    }
    return status;
}

} // namespace bxa7sim
