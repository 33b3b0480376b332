// The status codes of the simulated adapter library. 0 is success; every failure sets the
// two error texts (see the README section "The simulated module" for the exact texts).
#ifndef BXA7SIM_STATUS_H
#define BXA7SIM_STATUS_H

#include "faults.h"

#include <cstdint>

namespace bxa7sim {

enum Status : int32_t {
    kOk = 0,
    kNotOpen = 1,       // a call that needs BXA_7_Open came before it
    kBadBus = 2,        // the bus constant (first argument, or the slot calls' first) is not 1
    kBadArgument = 3,   // a null pointer, a negative or zero count, a non-zero reserved argument
    kNoAcknowledge = 4, // nothing answers in the selected slot
    kRefused = 5,       // the device did not acknowledge a byte: unknown code, read-only, length
    kMisuse = 6,        // the call breaks the protocol; nothing was sent
    kStateFile = 7,     // the state file can be neither read nor written
    kConfiguration = 8, // an environment variable is malformed (reported by BXA_7_Open)
    // Injected faults, one status per operation unless the rule gives its own.
    kInjectedOpen = 10,
    kInjectedFlush = 11,
    kInjectedGetSlot = 12,
    kInjectedSetSlot = 13,
    kInjectedCheck = 14,
    kInjectedSend = 15,
    kInjectedReceive = 16,
    kInjectedReceiveString = 17,
};

constexpr int32_t injectedStatus(Operation op) {
    return kInjectedOpen + static_cast<int32_t>(op);
}

} // namespace bxa7sim

#endif // BXA7SIM_STATUS_H
