// The text form of the simulation state in its state file.
//
// Line-based and readable, integers only (no locale can change how it reads back):
//   bxa7-sim-state 1
//   boot <boot id>
//   selected-slot <0-255>
//   module-slot <0-255 | none>
//   foreign <slot> <identity>                       (any number of lines)
//   input <X|Y> <on|off> <millihertz> <microvolts> <duty ppm>
//   force <code> <hex bytes | ->                    (any number of lines)
//   power-on <ns>
//   settings <X|Y> <polarity> <gain> <beta> <tau> <threshold mV> <duration ms>
//   counter <X|Y> <series start ns> <read window> <carried raw> <valid 0|1> <unread 0|1>
//   end
#ifndef BXA7SIM_STATE_CODEC_H
#define BXA7SIM_STATE_CODEC_H

#include "state.h"

#include <optional>
#include <string>
#include <string_view>

namespace bxa7sim {

std::string encodeState(const SimState &state);

// The state `text` describes; nothing when it is not exactly a state written by encodeState
// with values in range (empty, truncated, another format version, anything out of place).
std::optional<SimState> decodeState(std::string_view text);

// What a text begins as: no state file at all, a state file of a format version newer than
// this one, or one of this version (which decodeState may still refuse as damaged). A text
// that begins with the format's first word and a blank counts as a state file; its version
// is newer when it is a decimal number above this one's.
enum class StateFormat { Foreign, Newer, Current };
StateFormat stateFormat(std::string_view text);

} // namespace bxa7sim

#endif // BXA7SIM_STATE_CODEC_H
