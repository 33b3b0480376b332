// The stand-in's configuration from the environment. Only the simulated adapter reads these
// variables; BXA_7_Open reads them again on every call.
//
//   BXA7_SIM_STATE    the state file; default: defaultStatePath()
//   BXA7_SIM_VERSION  the version word BXA_7_Version returns, decimal or 0x-prefixed
//                     hexadecimal; default 0x0100; a malformed value gives 0
//   BXA7_SIM_BUS_HZ   the I2C clock of the timing model in Hz, 0 (instant) to 100000000;
//                     default 40000, a typical bit-banged parallel-port adapter
//   BXA7_SIM_FAIL     fault rules (faults.h)
//   BXA7_SIM_TRACE    a file that receives one line per adapter call (trace.h)
// An empty variable counts as unset.
#ifndef BXA7SIM_CONFIG_H
#define BXA7SIM_CONFIG_H

#include "faults.h"
#include "state_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bxa7sim {

constexpr uint16_t kDefaultVersion = 0x0100;
constexpr uint32_t kDefaultBusHz = 40000;
constexpr uint32_t kMaxBusHz = 100000000;

struct Config {
    std::string statePath;
    uint32_t busHz = kDefaultBusHz;
    std::string faultText;
    std::vector<FaultRule> faultRules;
    std::string tracePath;
};

// The state file's path: BXA7_SIM_STATE, else the per-user default. False with `problem`
// when there is neither.
bool statePath(const GetEnv &getenv, std::string &path, std::string &problem);

// False with `problem` naming the variable and what is wrong with its value.
bool readConfig(const GetEnv &getenv, Config &config, std::string &problem);

uint16_t versionWord(const GetEnv &getenv);

} // namespace bxa7sim

#endif // BXA7SIM_CONFIG_H
