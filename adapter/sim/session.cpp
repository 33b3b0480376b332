#include "session.h"

#include "status.h"
#include "wire_time.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace bxa7sim {

namespace {

const char kIoNoPort[] = "no port open";
const char kIoRefused[] = "nothing sent: the call was refused";
const char kIoAddressNack[] = "I2C: address not acknowledged";
const char kIoDataNack[] = "I2C: data byte not acknowledged";

std::string number(int64_t value) {
    return std::to_string(value);
}

} // namespace

Host systemHost() {
    Host host;
    host.getenv = [](const char *name) -> const char * { return std::getenv(name); };
    host.now = [] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
    };
    // Sleeps wake up late by a fairly steady amount (about 0.1 ms on Linux), as much as a
    // short transfer lasts. Aim that much early and yield away the rest, so that transfers
    // take their wire time rather than wire time plus wake-up latency.
    host.sleepUntil = [now = host.now, late = std::make_shared<int64_t>(50000)](int64_t deadline) {
        const int64_t target = deadline - *late;
        if (target > now()) {
            std::this_thread::sleep_until(
                std::chrono::steady_clock::time_point(std::chrono::nanoseconds(target)));
            // A rare long delay (the machine was busy) must not spoil the estimate.
            const int64_t observed =
                std::min<int64_t>(std::max<int64_t>(now() - target, 0), 250000);
            *late = (7 * *late + observed) / 8;
        } else {
            *late -= *late / 8; // too short to sleep: perhaps the estimate is too high
        }
        while (now() < deadline)
            std::this_thread::yield();
    };
    host.bootId = currentBootId();
    // The library has no other way to tell the user where a damaged state file went.
    host.notice = [](const std::string &message) {
        std::fprintf(stderr, "bxa7-sim: %s\n", message.c_str());
    };
    return host;
}

Session::Session(Host host) : host_(std::move(host)) {
    // Calls before BXA_7_Open (the version query) are traced and counted already.
    std::string ignored;
    configure(ignored);
}

bool Session::configure(std::string &problem) {
    Config config;
    if (!readConfig(host_.getenv, config, problem)) return false;
    std::string cause;
    if (!trace_.open(config.tracePath, cause)) {
        problem = "BXA7_SIM_TRACE: cannot open " + config.tracePath + " (" + cause + ")";
        return false;
    }
    // Rules keep counting their calls while they stay the same.
    if (config.faultText != config_.faultText) faults_ = FaultInjector(config.faultRules);
    config_ = std::move(config);
    return true;
}

// ---- Failure texts ------------------------------------------------------------------------

int32_t Session::fail(Operation op, int32_t status, const std::string &what,
                      const std::string &io) {
    error_ = std::string(functionName(op)) + ": " + what;
    ioError_ = io;
    bus_.abort();
    return status;
}

int32_t Session::notOpenOrBadBus(Operation op, int32_t bus) {
    if (!open_) return fail(op, kNotOpen, "adapter not open (call BXA_7_Open first)", kIoNoPort);
    if (bus != 1)
        return fail(op, kBadBus, "bad bus constant " + number(bus) + " (must be 1)", kIoRefused);
    return kOk;
}

int32_t Session::injected(Operation op, std::optional<uint32_t> filter) {
    const std::optional<int32_t> status = faults_.check(op, filter);
    if (!status) return kOk;
    const std::string name = functionName(op);
    error_ = name + " failed: injected fault";
    ioError_ = "simulated I/O error in " + name;
    bus_.abort();
    return *status;
}

int32_t Session::stateFailure(Operation op, const FileError &error) {
    return fail(op, kStateFile, error.what, error.cause);
}

// ---- The bus on the shared state ---------------------------------------------------------

int32_t Session::runOnBus(Operation op, const BusWork &work, Transfer &transfer) {
    const int64_t start = host_.now();
    FileError error;
    const SimState *shared = store_->current(error);
    if (!shared) return stateFailure(op, error);
    SimState state = *shared;
    Bus bus = bus_;
    transfer = work(state, bus, host_.now());
    if (state != *shared) {
        // The transfer changes what every process sees: run it again on the latest state,
        // under the lock, and store the result.
        const bool stored = store_->update(
            [&](SimState &latest, int64_t now) {
                bus = bus_;
                transfer = work(latest, bus, now);
            },
            error);
        if (!stored) return stateFailure(op, error);
    }
    bus_ = bus;
    if (config_.busHz != 0 && transfer.wireBits != 0)
        host_.sleepUntil(start + wireNanoseconds(transfer.wireBits, config_.busHz));

    switch (transfer.outcome) {
    case Outcome::Done:
        return kOk;
    case Outcome::NoAcknowledge:
        return fail(op, kNoAcknowledge, transfer.detail, kIoAddressNack);
    case Outcome::Refused:
        return fail(op, kRefused, transfer.detail, kIoDataNack);
    case Outcome::Misuse:
        break;
    }
    return fail(op, kMisuse, transfer.detail, kIoRefused);
}

int32_t Session::finish(TraceLine &line, int32_t status) {
    if (status != kOk) line.text("error", error_.c_str());
    trace_.write(line);
    return status;
}

// ---- The eleven operations ---------------------------------------------------------------

uint16_t Session::version() {
    const uint16_t word = versionWord(host_.getenv);
    TraceLine line("BXA_7_Version");
    char formatted[8];
    std::snprintf(formatted, sizeof formatted, "0x%04X", word);
    trace_.write(line.result(formatted));
    return word;
}

int32_t Session::open() {
    const int32_t status = doOpen();
    TraceLine line("BXA_7_Open");
    line.result(status);
    return finish(line, status);
}

int32_t Session::doOpen() {
    open_ = false;
    std::string problem;
    if (!configure(problem)) return fail(Operation::Open, kConfiguration, problem, kIoNoPort);
    if (const int32_t status = injected(Operation::Open, std::nullopt)) return status;
    if (!store_ || store_->path() != config_.statePath)
        store_ = std::make_unique<StateStore>(config_.statePath, host_.bootId, host_.now,
                                              host_.notice);
    FileError error;
    if (!store_->current(error)) return stateFailure(Operation::Open, error);
    bus_.abort();
    open_ = true;
    return kOk;
}

int32_t Session::flush() {
    const Operation op = Operation::Flush;
    int32_t status =
        open_ ? injected(op, std::nullopt)
              : fail(op, kNotOpen, "adapter not open (call BXA_7_Open first)", kIoNoPort);
    if (status == kOk) bus_.abort();
    TraceLine line("BXA_7_Flush_LPT");
    line.result(status);
    return finish(line, status);
}

int32_t Session::getSlot(uint8_t *slot, int32_t a, int32_t b) {
    const int32_t status = doGetSlot(slot, a, b);
    TraceLine line("BXA_7_GetSlot");
    line.arg("a", a).arg("b", b).result(status);
    if (status == kOk) line.arg("slot", *slot);
    return finish(line, status);
}

int32_t Session::doGetSlot(uint8_t *slot, int32_t a, int32_t b) {
    const Operation op = Operation::GetSlot;
    if (const int32_t status = notOpenOrBadBus(op, a)) return status;
    if (b != 0)
        return fail(op, kBadArgument, "third argument " + number(b) + " (must be 0)", kIoRefused);
    if (!slot) return fail(op, kBadArgument, "slot pointer is null", kIoRefused);
    if (const int32_t status = injected(op, std::nullopt)) return status;
    FileError error;
    const SimState *state = store_->current(error);
    if (!state) return stateFailure(op, error);
    *slot = state->bus.selectedSlot;
    return kOk;
}

int32_t Session::setSlot(uint8_t slot, int32_t a, int32_t b) {
    const int32_t status = doSetSlot(slot, a, b);
    TraceLine line("BXA_7_SetSlot");
    line.arg("slot", slot).arg("a", a).arg("b", b).result(status);
    return finish(line, status);
}

int32_t Session::doSetSlot(uint8_t slot, int32_t a, int32_t b) {
    const Operation op = Operation::SetSlot;
    if (const int32_t status = notOpenOrBadBus(op, a)) return status;
    if (b != 0)
        return fail(op, kBadArgument, "third argument " + number(b) + " (must be 0)", kIoRefused);
    if (const int32_t status = injected(op, slot)) return status;
    bus_.abort(); // another slot: the transaction in progress is gone
    FileError error;
    if (!store_->update([slot](SimState &s, int64_t) { s.bus.selectedSlot = slot; }, error))
        return stateFailure(op, error);
    return kOk;
}

const char *Session::errorMessage() {
    TraceLine line("BXA_7_ErrorMessage");
    trace_.write(line.result(quoted(error_.c_str())));
    return error_.c_str();
}

const char *Session::ioErrorMessage() {
    TraceLine line("BXA_7_IO_ErrorMessage");
    trace_.write(line.result(quoted(ioError_.c_str())));
    return ioError_.c_str();
}

int32_t Session::check(int32_t bus, uint8_t *found) {
    const int32_t status = doCheck(bus, found);
    TraceLine line("BXA_7_Check");
    line.arg("bus", bus).result(status);
    if (status == kOk) line.arg("found", *found);
    return finish(line, status);
}

int32_t Session::doCheck(int32_t bus, uint8_t *found) {
    const Operation op = Operation::Check;
    if (const int32_t status = notOpenOrBadBus(op, bus)) return status;
    if (!found) return fail(op, kBadArgument, "result pointer is null", kIoRefused);
    if (const int32_t status = injected(op, std::nullopt)) return status;
    bool answered = false;
    Transfer transfer;
    const int32_t status = runOnBus(
        op, [&](SimState &s, Bus &b, int64_t) { return b.probe(s, answered); }, transfer);
    if (status == kOk) *found = answered ? 1 : 0;
    return status;
}

int32_t Session::send(int32_t bus, const uint8_t *data, int32_t count, int32_t last) {
    const int32_t status = doSend(bus, data, count, last);
    TraceLine line("BXA_7_Send");
    line.arg("bus", bus).arg("count", count).arg("last", last).bytes("data", data, count);
    return finish(line.result(status), status);
}

int32_t Session::doSend(int32_t bus, const uint8_t *data, int32_t count, int32_t last) {
    const Operation op = Operation::Send;
    if (const int32_t status = notOpenOrBadBus(op, bus)) return status;
    if (!data) return fail(op, kBadArgument, "data pointer is null", kIoRefused);
    if (count <= 0)
        return fail(op, kBadArgument, "count " + number(count) + " (the command byte at least)",
                    kIoRefused);
    if (const int32_t status = injected(op, data[0])) return status;
    Transfer transfer;
    return runOnBus(
        op,
        [&](SimState &s, Bus &b, int64_t now) {
            return b.send(s, data, static_cast<std::size_t>(count), last != 0, now);
        },
        transfer);
}

int32_t Session::receive(int32_t bus, uint8_t *data, int32_t count, int32_t last) {
    const int32_t status = doRead(Operation::Receive, bus, data, count, last);
    TraceLine line("BXA_7_Receive");
    line.arg("bus", bus).arg("count", count).arg("last", last).result(status);
    if (status == kOk) line.bytes("data", data, count);
    return finish(line, status);
}

int32_t Session::receiveString(int32_t bus, char *text, int32_t limit, int32_t last) {
    const int32_t status =
        doRead(Operation::ReceiveString, bus, reinterpret_cast<uint8_t *>(text), limit, last);
    TraceLine line("BXA_7_ReceiveString");
    line.arg("bus", bus).arg("limit", limit).arg("last", last).result(status);
    if (status == kOk) line.text("text", text);
    return finish(line, status);
}

// Both reads: `size` is the count of bytes for BXA_7_Receive, the text limit for
// BXA_7_ReceiveString.
int32_t Session::doRead(Operation op, int32_t bus, uint8_t *target, int32_t size, int32_t last) {
    const bool text = op == Operation::ReceiveString;
    if (const int32_t status = notOpenOrBadBus(op, bus)) return status;
    if (!target)
        return fail(op, kBadArgument, text ? "text pointer is null" : "data pointer is null",
                    kIoRefused);
    if (size < 0)
        return fail(op, kBadArgument, (text ? "limit " : "count ") + number(size) + " is negative",
                    kIoRefused);
    if (const int32_t status = injected(op, bus_.pendingCommand())) return status;
    const auto n = static_cast<std::size_t>(size);
    Transfer transfer;
    const int32_t status = runOnBus(
        op,
        [&](SimState &s, Bus &b, int64_t now) {
            return text ? b.receiveText(s, n, last != 0, now) : b.receive(s, n, last != 0, now);
        },
        transfer);
    if (status != kOk) return status;
    // Never more than the caller's count, or limit characters and the terminator.
    const std::size_t stored = std::min(transfer.answer.size(), n);
    std::copy_n(transfer.answer.begin(), stored, target);
    if (text) target[stored] = '\0';
    return kOk;
}

} // namespace bxa7sim
