// A channel's frequency counter.
//
// The counter opens a gate for one measurement duration after another (state.h:
// CounterRun). At the end of each gate its result is the number of signal periods that ended
// inside the gate divided by the gate time, in units of 0.0001 Hz, rounded to nearest;
// qvx3::kFrequencyOverflow when that does not fit the 32-bit register. Periods follow each
// other from the start of the series, so a frequency that is no whole multiple of
// 1 / duration gives counts that alternate between two neighbours and average out exactly.
// A signal the discriminator does not count (signal_path.h) gives 0.
#ifndef BXA7SIM_MODEL_COUNTER_H
#define BXA7SIM_MODEL_COUNTER_H

#include "state.h"

#include <cstdint>

namespace bxa7sim {

// What the counter offers at one moment.
struct CounterReading {
    bool valid = false;  // a result exists
    bool unread = false; // ...and has not been read since it came
    uint32_t raw = 0;    // the result register
    uint64_t window = 0; // the gate it comes from in the current series; 0: carried over
};

// Periods counted in gate `window` (1-based) of a series with these settings and input.
uint64_t countedPeriods(const ChannelSettings &settings, const Signal &input, uint64_t window);

// The result register for `periods` counted in a gate of `durationMs` (> 0).
uint32_t resultRegister(uint64_t periods, uint16_t durationMs);

CounterReading counterReading(const CounterRun &run, const ChannelSettings &settings,
                              const Signal &input, int64_t now);

// Reading the result register: the result offered at `now` is no longer new.
void markRead(CounterRun &run, const CounterReading &reading);

// Starts a new series at `now`, keeping `latest` (the reading under the old settings and
// input) readable until the new series has a result.
void restartSeries(CounterRun &run, const CounterReading &latest, int64_t now);

} // namespace bxa7sim

#endif // BXA7SIM_MODEL_COUNTER_H
