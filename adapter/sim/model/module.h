// The virtual QVX-3 module: its registers as the command protocol reads and writes them.
//
// Power-on values:
//   identity 0x9648; product identification kProductId; product number kProductNumber;
//   firmware version 1-02 (0x0102) of kFirmwareDate;
//   5 V supply 5.021 V +- 8 mV, 3.3 V supply 3.297 V +- 5 mV, temperature 35.40 degrees
//   Celsius +- 0.15 K (308.55 K), the noise changing every 20 ms;
//   clocks: CPU 48 MHz, peripheral 24 MHz, ADC 12 MHz, DAC 250 kHz;
//   channel settings as in state.h (gain 1, positive, Beta 2, Tau 8, 100 mV, 100 ms).
// Uptime counts whole seconds and 1/1024 s since power-on. A forced register answers its
// forced bytes instead; reading a forced frequency still counts as reading the result.
#ifndef BXA7SIM_MODEL_MODULE_H
#define BXA7SIM_MODEL_MODULE_H

#include "counter.h"
#include "state.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bxa7sim {

inline constexpr const char kProductId[] = "QVX-3 two-channel frequency counter (simulated)";
inline constexpr uint32_t kProductNumber = 300147;
inline constexpr uint16_t kFirmwareVersion = 0x0102;
inline constexpr const char kFirmwareDate[] = "2021-03-15";

// The answer to a read of `code` (below qvx3::kCommandCount) at `now`: the register's bytes,
// least significant first, or a text's characters without the terminator. A frequency read
// marks the channel's result as read.
std::vector<uint8_t> readRegister(SimState &state, uint8_t code, int64_t now);

// Writes a settings register (qvx3::writePayload(code) > 0) with its payload of that
// length. A value that differs from the register's restarts the channel's measurement;
// the same value changes nothing.
void writeRegister(SimState &state, uint8_t code, const uint8_t *payload, int64_t now);

// The counter state byte at `now` (qvx3::kStateNewX and the other bits).
uint8_t stateByte(const SimState &state, int64_t now);

// The counter of channel 0 (X) or 1 (Y) as it stands at `now`.
CounterReading channelReading(const SimState &state, int channel, int64_t now);

// Changes a channel's input signal, restarting its measurement when it differs.
void setInput(SimState &state, int channel, const Signal &input, int64_t now);

// Powers the module off and on at `now`: settings to their defaults, uptime from 0, counters
// without results. Slots, inputs and forced registers stay.
void powerCycle(SimState &state, int64_t now);

} // namespace bxa7sim

#endif // BXA7SIM_MODEL_MODULE_H
