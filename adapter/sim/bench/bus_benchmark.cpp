// Transactions per second through the simulated adapter library, at an instant bus
// (BXA7_SIM_BUS_HZ=0) and at 100 kHz, beside the bound that the bits on the wire allow.
// Each run uses its own state file in a fresh temporary directory. Counters: tx/s measured,
// bound_tx/s from the bits of one transaction (bits) at the bus clock.
#include "bxa7.h"
#include "qvx3_protocol.h"
#include "wire_time.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace qvx3;
using namespace bxa7sim;

class Workspace {
public:
    Workspace() {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && base[0] ? base : "/tmp") + "/bxa7-bench-XXXXXX";
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~Workspace() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string state() const { return path_ + "/state"; }

private:
    std::string path_;
};

// Opens the adapter on a fresh state file at the bus clock of the benchmark's argument.
bool openAt(benchmark::State &state, const Workspace &workspace) {
    setenv("BXA7_SIM_STATE", workspace.state().c_str(), 1);
    setenv("BXA7_SIM_BUS_HZ", std::to_string(state.range(0)).c_str(), 1);
    unsetenv("BXA7_SIM_FAIL");
    unsetenv("BXA7_SIM_TRACE");
    if (BXA_7_Open() != 0) {
        state.SkipWithError(BXA_7_ErrorMessage());
        return false;
    }
    return true;
}

void report(benchmark::State &state, int64_t bitsPerTransaction) {
    state.counters["tx/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    // An instant bus has no bound from the wire.
    if (const auto hz = static_cast<uint32_t>(state.range(0)))
        state.counters["bound_tx/s"] =
            1e9 / static_cast<double>(wireNanoseconds(bitsPerTransaction, hz));
    state.counters["bits"] = static_cast<double>(bitsPerTransaction);
}

// The read shape, as the device library makes it.
void Read(benchmark::State &state, uint8_t code) {
    Workspace workspace;
    if (!openAt(state, workspace)) return;
    const auto length = readShape(code).length;
    uint8_t data[8];
    for (auto _ : state) {
        if (BXA_7_Send(1, &code, 1, 0) != 0 || BXA_7_Receive(1, data, length, 1) != 0) {
            state.SkipWithError(BXA_7_ErrorMessage());
            return;
        }
        benchmark::DoNotOptimize(data);
    }
    report(state, writeBits(1, false) + readBits(length));
}

// The write shape. Writing the value the register holds changes nothing and leaves the
// state file alone; a new value each time replaces the file each time.
void Write(benchmark::State &state, bool changing) {
    Workspace workspace;
    if (!openAt(state, workspace)) return;
    uint16_t value = 100;
    for (auto _ : state) {
        if (changing) value = value == 100 ? 200 : 100;
        const uint8_t bytes[] = {CMD_Threshold_X, static_cast<uint8_t>(value & 0xFF),
                                 static_cast<uint8_t>(value >> 8)};
        if (BXA_7_Send(1, bytes, 3, 1) != 0) {
            state.SkipWithError(BXA_7_ErrorMessage());
            return;
        }
    }
    report(state, writeBits(3, true)); // the command byte and two bytes of payload
}

BENCHMARK_CAPTURE(Read, uptime, CMD_Uptime)->ArgName("bus_hz")->Arg(0)->Arg(100000)->UseRealTime();
BENCHMARK_CAPTURE(Read, state, CMD_State)->ArgName("bus_hz")->Arg(0)->Arg(100000)->UseRealTime();
BENCHMARK_CAPTURE(Read, frequency, CMD_Frequency_X)
    ->ArgName("bus_hz")
    ->Arg(0)
    ->Arg(100000)
    ->UseRealTime();
BENCHMARK_CAPTURE(Write, same_value, false)->ArgName("bus_hz")->Arg(0)->Arg(100000)->UseRealTime();
BENCHMARK_CAPTURE(Write, new_value, true)->ArgName("bus_hz")->Arg(0)->Arg(100000)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
