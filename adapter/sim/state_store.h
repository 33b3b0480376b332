// The simulation state as every process on the machine shares it, through one state file.
//
// Reading is cheap: the file is read and parsed again only when another process replaced
// it. Changes are made under the file lock on the latest state and written with an atomic
// replace, and only when they changed something, so processes never lose each other's
// updates and a query never rewrites the file.
//
// A missing, empty or corrupt file is a freshly powered-on module. A file written during an
// earlier boot of the machine keeps its slots, inputs and forced registers, but its module
// is powered on afresh: its times belong to a clock that no longer runs.
#ifndef BXA7SIM_STATE_STORE_H
#define BXA7SIM_STATE_STORE_H

#include "state.h"
#include "state_file.h"

#include <functional>
#include <optional>
#include <string>

namespace bxa7sim {

using Clock = std::function<int64_t()>;

class StateStore {
public:
    StateStore(std::string path, std::string bootId, Clock now);

    const std::string &path() const { return file_.path(); }

    // The current state; null with `error` set when the file can be neither read nor
    // created. Valid until the next call.
    const SimState *current(FileError &error);

    // Runs `change` on the latest state at the current time, under the lock, and stores the
    // result when it differs.
    bool update(const std::function<void(SimState &, int64_t now)> &change, FileError &error);

private:
    enum class Load { Valid, Invalid, Failed };
    Load reload(FileError &error);
    bool repair(FileError &error);

    StateFile file_;
    std::string bootId_;
    Clock now_;
    std::optional<SimState> cached_; // the file's state, when it is valid
    std::optional<SimState> stale_;  // a well-formed state from another boot
};

} // namespace bxa7sim

#endif // BXA7SIM_STATE_STORE_H
