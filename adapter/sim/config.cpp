#include "config.h"

namespace bxa7sim {

namespace {

std::string variable(const GetEnv &getenv, const char *name) {
    const char *value = getenv(name);
    return value ? value : "";
}

} // namespace

bool statePath(const GetEnv &getenv, std::string &path, std::string &problem) {
    path = variable(getenv, "BXA7_SIM_STATE");
    if (!path.empty()) return true;
    FileError error;
    if (defaultStatePath(getenv, path, error)) return true;
    problem = error.what + " (" + error.cause + ")";
    return false;
}

bool readConfig(const GetEnv &getenv, Config &config, std::string &problem) {
    Config c;
    if (!statePath(getenv, c.statePath, problem)) return false;

    const std::string hz = variable(getenv, "BXA7_SIM_BUS_HZ");
    uint64_t value = kDefaultBusHz;
    if (!hz.empty() && !parseNumber(hz, kMaxBusHz, value)) {
        problem = "BXA7_SIM_BUS_HZ: '" + hz + "' is not a bus clock in Hz from 0 to " +
                  std::to_string(kMaxBusHz);
        return false;
    }
    c.busHz = static_cast<uint32_t>(value);

    c.faultText = variable(getenv, "BXA7_SIM_FAIL");
    std::string error;
    if (!parseFaultRules(c.faultText, c.faultRules, error)) {
        problem = "BXA7_SIM_FAIL: " + error;
        return false;
    }

    c.tracePath = variable(getenv, "BXA7_SIM_TRACE");
    config = std::move(c);
    return true;
}

uint16_t versionWord(const GetEnv &getenv) {
    const std::string text = variable(getenv, "BXA7_SIM_VERSION");
    uint64_t value = kDefaultVersion;
    if (!text.empty() && !parseNumber(text, 0xFFFF, value))
        return 0; // no caller accepts version 0.00, so a typo cannot pass unnoticed
    return static_cast<uint16_t>(value);
}

} // namespace bxa7sim
