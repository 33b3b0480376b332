#include "state_store.h"

#include "module.h"
#include "state_codec.h"

namespace bxa7sim {

StateStore::StateStore(std::string path, std::string bootId, Clock now, Notice notice)
    : file_(std::move(path)), bootId_(std::move(bootId)), now_(std::move(now)),
      notice_(std::move(notice)) {}

StateStore::Load StateStore::reload(FileError &error) {
    StateFile::Read read = StateFile::Read::Missing;
    std::string text;
    if (!file_.refresh(read, text, error)) return Load::Failed;
    if (read == StateFile::Read::Unchanged) {
        if (refused_) error = *refused_;
        return cached_ ? Load::Valid : refused_ ? Load::Failed : Load::Invalid;
    }
    cached_.reset();
    stale_.reset();
    refused_.reset();
    damaged_ = false;
    if (read == StateFile::Read::Missing || text.empty()) return Load::Invalid;
    std::optional<SimState> state = decodeState(text);
    // The file keeps the identifier it was written with, so every process of the boot
    // compares with one value.
    if (state && sameBoot(state->bootId, bootId_)) {
        cached_ = std::move(state);
        return Load::Valid;
    }
    if (state) {
        stale_ = std::move(state);
        return Load::Invalid;
    }
    switch (stateFormat(text)) {
    case StateFormat::Foreign:
        refused_ = FileError{"the file " + path() + " is not a state file and was left untouched",
                             "set BXA7_SIM_STATE to another path"};
        break;
    case StateFormat::Newer:
        refused_ = FileError{"the state file " + path() +
                                 " has a newer format version and was left untouched",
                             "written by a newer bxa7-sim"};
        break;
    case StateFormat::Current:
        damaged_ = true;
        return Load::Invalid;
    }
    error = *refused_;
    return Load::Failed;
}

// Called under the lock when the file holds no state of this boot.
bool StateStore::repair(FileError &error) {
    if (damaged_) {
        std::string kept;
        if (!file_.keepAside(kept, error)) return false;
        damaged_ = false;
        if (notice_)
            notice_("the state file " + path() + " was corrupt; kept as " + kept +
                    ", a freshly powered-on module takes its place");
    }
    const int64_t now = now_();
    SimState state = freshState(bootId_, now);
    if (stale_) {
        state = *stale_;
        state.bootId = bootId_;
        powerCycle(state, now);
    }
    if (!file_.replace(encodeState(state), error)) return false;
    cached_ = std::move(state);
    stale_.reset();
    return true;
}

const SimState *StateStore::current(FileError &error) {
    Load load = reload(error);
    if (load == Load::Invalid) {
        const auto lock = file_.lock(error);
        if (!lock) return nullptr;
        load = reload(error); // another process may have repaired it meanwhile
        if (load == Load::Invalid && repair(error)) load = Load::Valid;
    }
    return load == Load::Valid ? &*cached_ : nullptr;
}

bool StateStore::update(const std::function<void(SimState &, int64_t)> &change, FileError &error) {
    // A file that is not ours is refused before the lock file is created beside it.
    if (reload(error) == Load::Failed) return false;
    const auto lock = file_.lock(error);
    if (!lock) return false;
    const Load load = reload(error);
    if (load == Load::Failed || (load == Load::Invalid && !repair(error))) return false;
    SimState state = *cached_;
    change(state, now_());
    if (state == *cached_) return true;
    if (!file_.replace(encodeState(state), error)) return false;
    cached_ = std::move(state);
    return true;
}

} // namespace bxa7sim
