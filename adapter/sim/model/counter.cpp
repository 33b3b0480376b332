#include "counter.h"

#include "signal_path.h"

namespace bxa7sim {

namespace {
constexpr uint64_t kMillion = 1000000;
}

uint64_t countedPeriods(const ChannelSettings &settings, const Signal &input, uint64_t window) {
    if (window == 0 || !isCounted(settings, input)) return 0;
    // Periods ended by the end of gate k: floor(k * P / 10^6) with P = f[mHz] * D[ms]. The
    // difference of two neighbours is computed without forming k * P, which would overflow.
    const uint64_t p = input.millihertz * settings.durationMs;
    const uint64_t whole = p / kMillion;
    const uint64_t part = p % kMillion;
    const uint64_t before = ((window - 1) % kMillion) * part % kMillion;
    return whole + (before + part >= kMillion ? 1 : 0);
}

uint32_t resultRegister(uint64_t periods, uint16_t durationMs) {
    // periods / (D / 1000 s) in 0.0001 Hz = periods * 10^7 / D[ms]
    const uint64_t raw = (periods * 20000000 + durationMs) / (2 * uint64_t{durationMs});
    return raw >= qvx3::kFrequencyOverflow ? qvx3::kFrequencyOverflow : static_cast<uint32_t>(raw);
}

CounterReading counterReading(const CounterRun &run, const ChannelSettings &settings,
                              const Signal &input, int64_t now) {
    CounterReading reading;
    const int64_t duration = int64_t{settings.durationMs} * 1000000;
    const uint64_t window = duration > 0 && now > run.seriesStart
                                ? static_cast<uint64_t>((now - run.seriesStart) / duration)
                                : 0;
    if (window == 0) {
        reading.valid = run.carriedValid;
        reading.unread = run.carriedValid && run.carriedUnread;
        reading.raw = run.carriedRaw;
        return reading;
    }
    reading.valid = true;
    reading.unread = window != run.readWindow;
    reading.raw = resultRegister(countedPeriods(settings, input, window), settings.durationMs);
    reading.window = window;
    return reading;
}

void markRead(CounterRun &run, const CounterReading &reading) {
    if (reading.window == 0)
        run.carriedUnread = false;
    else
        run.readWindow = reading.window;
}

void restartSeries(CounterRun &run, const CounterReading &latest, int64_t now) {
    run.seriesStart = now;
    run.readWindow = 0;
    run.carriedValid = latest.valid;
    run.carriedUnread = latest.unread;
    run.carriedRaw = latest.raw;
}

} // namespace bxa7sim
