// The simulated adapter behind the eleven exported functions: the open state, the error
// texts, fault injection, the call trace, the timing model, and the shared state on which
// the model of the bus runs.
//
// Each method does what its exported namesake does (bxa7.h). Per call, in this order: a
// call that needs the adapter open fails with kNotOpen before BXA_7_Open succeeded; the
// arguments are checked (kBadBus, kBadArgument); the fault rules may fail the call; then the
// bus does its work on the current shared state, and the call returns when the transfer's
// bits would have passed the wire. A failed call sets both error texts and ends a command
// in progress; the texts stay until the next failure.
#ifndef BXA7SIM_SESSION_H
#define BXA7SIM_SESSION_H

#include "bus.h"
#include "config.h"
#include "faults.h"
#include "state_store.h"
#include "trace.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace bxa7sim {

// What the adapter takes from its host; tests supply their own.
struct Host {
    GetEnv getenv;
    Clock now;                               // monotonic ns, one clock for all processes
    std::function<void(int64_t)> sleepUntil; // returns at that time on `now`
    std::string bootId;
    Notice notice; // messages for the user that are no failure; may be empty
};

// The real environment, clock and sleep.
Host systemHost();

class Session {
public:
    explicit Session(Host host);

    uint16_t version();
    int32_t open();
    int32_t flush();
    int32_t getSlot(uint8_t *slot, int32_t a, int32_t b);
    int32_t setSlot(uint8_t slot, int32_t a, int32_t b);
    const char *errorMessage();
    const char *ioErrorMessage();
    int32_t check(int32_t bus, uint8_t *found);
    int32_t send(int32_t bus, const uint8_t *data, int32_t count, int32_t last);
    int32_t receive(int32_t bus, uint8_t *data, int32_t count, int32_t last);
    int32_t receiveString(int32_t bus, char *text, int32_t limit, int32_t last);

private:
    using BusWork = std::function<Transfer(SimState &, Bus &, int64_t now)>;

    bool configure(std::string &problem);
    int32_t doOpen();
    int32_t doGetSlot(uint8_t *slot, int32_t a, int32_t b);
    int32_t doSetSlot(uint8_t slot, int32_t a, int32_t b);
    int32_t doCheck(int32_t bus, uint8_t *found);
    int32_t doSend(int32_t bus, const uint8_t *data, int32_t count, int32_t last);
    int32_t doRead(Operation op, int32_t bus, uint8_t *target, int32_t size, int32_t last);

    int32_t fail(Operation op, int32_t status, const std::string &what, const std::string &io);
    int32_t notOpenOrBadBus(Operation op, int32_t bus);
    int32_t injected(Operation op, std::optional<uint32_t> filter);
    int32_t stateFailure(Operation op, const FileError &error);
    int32_t runOnBus(Operation op, const BusWork &work, Transfer &transfer);
    int32_t finish(TraceLine &line, int32_t status);

    Host host_;
    Config config_;
    FaultInjector faults_;
    TraceFile trace_;
    std::unique_ptr<StateStore> store_;
    Bus bus_;
    bool open_ = false;
    std::string error_ = "No error";
    std::string ioError_ = "No error";
};

} // namespace bxa7sim

#endif // BXA7SIM_SESSION_H
