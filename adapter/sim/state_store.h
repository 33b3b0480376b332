// The simulation state as every process on the machine shares it, through one state file.
//
// Reading is cheap: the file is read and parsed again only when another process replaced
// it. Changes are made under the file lock on the latest state and written with an atomic
// replace, and only when they changed something, so processes never lose each other's
// updates and a query never rewrites the file.
//
// A missing or empty file is a freshly powered-on module. A file that begins as a state file
// but is damaged is kept aside (StateFile::keepAside) and replaced by a freshly powered-on
// module; the notice says where it went. Anything else - a file that is no state file, a
// state file of a newer format version, something that is no regular file - is left
// untouched and refused, before anything (not even the lock file) is created. A file
// written during an earlier boot of the machine keeps its slots, inputs and forced
// registers, but its module is powered on afresh: its times belong to a clock that no
// longer runs.
#ifndef BXA7SIM_STATE_STORE_H
#define BXA7SIM_STATE_STORE_H

#include "state.h"
#include "state_file.h"

#include <functional>
#include <optional>
#include <string>

namespace bxa7sim {

using Clock = std::function<int64_t()>;
// Receives a one-line message for the user (without a line end) that is no failure.
using Notice = std::function<void(const std::string &)>;

class StateStore {
public:
    StateStore(std::string path, std::string bootId, Clock now, Notice notice = {});

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
    Notice notice_;
    std::optional<SimState> cached_;   // the file's state, when it is valid
    std::optional<SimState> stale_;    // a well-formed state from another boot
    std::optional<FileError> refused_; // why the file is not ours to use or replace
    bool damaged_ = false;             // the file begins as a state file but is corrupt
};

} // namespace bxa7sim

#endif // BXA7SIM_STATE_STORE_H
