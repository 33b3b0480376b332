// The platform's part of the state file: finding it, noticing when another process replaced
// it, locking it between processes and replacing it atomically. One implementation file
// per platform.
#ifndef BXA7SIM_STATE_FILE_H
#define BXA7SIM_STATE_FILE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace bxa7sim {

// What failed, for the adapter's two error texts: `what` names the action and the path,
// `cause` is the system's reason.
struct FileError {
    std::string what;
    std::string cause;
};

using GetEnv = std::function<const char *(const char *)>;

// The per-user default path: $XDG_STATE_HOME/bxa7-sim/state, else
// ~/.local/state/bxa7-sim/state. False when the user has no home directory.
bool defaultStatePath(const GetEnv &getenv, std::string &path, FileError &error);

// An identifier of the machine's current boot: the monotonic clock's times belong to it.
std::string currentBootId();

// Whether a state file's boot identifier names the current boot `current`.
bool sameBoot(const std::string &stored, const std::string &current);

class StateFile {
public:
    enum class Read { Unchanged, Changed, Missing };

    explicit StateFile(std::string path);
    ~StateFile();
    StateFile(const StateFile &) = delete;
    StateFile &operator=(const StateFile &) = delete;

    const std::string &path() const { return path_; }

    // Whether the file was replaced since this object last read or wrote it; when it was,
    // `text` receives the new contents. Cheap while nothing changed (no read).
    bool refresh(Read &result, std::string &text, FileError &error);

    // The lock every process takes before it replaces the file; held until the returned
    // object is destroyed. Null on failure.
    class Lock;
    std::unique_ptr<Lock> lock(FileError &error);

    // Replaces the whole file with `text` at once: other processes see the old or the new
    // contents, never a mix. Creates missing directories.
    bool replace(const std::string &text, FileError &error);

private:
    struct Current; // the platform's handle on the version last read or written

    std::string path_;
    std::unique_ptr<Current> current_;
};

class StateFile::Lock {
public:
    ~Lock();
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    friend class StateFile;
    explicit Lock(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

} // namespace bxa7sim

#endif // BXA7SIM_STATE_FILE_H
