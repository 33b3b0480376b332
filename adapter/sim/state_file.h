// The platform's part of the state file: finding it, noticing when another process replaced
// it, locking it between processes and replacing it atomically. One implementation file
// per platform.
//
// The path may be a symbolic link: it is followed, and the lock file (`<target>.lock`), the
// temporary file (`<target>.tmp`) and the replacement all happen beside its target, so the
// link stays a link. Only a regular file is ever read or replaced: anything else at the path
// (a directory, FIFO, socket or device; on Windows also a device name such as NUL or CON) is
// refused before anything is opened for reading or created.
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
    // `text` receives the new contents. Cheap while nothing changed (no read). False with
    // `error` set when the file cannot be read or is not a regular file; never blocks.
    bool refresh(Read &result, std::string &text, FileError &error);

    // The lock every process takes before it replaces the file; held until the returned
    // object is destroyed. Null on failure.
    class Lock;
    std::unique_ptr<Lock> lock(FileError &error);

    // Replaces the whole file with `text` at once: other processes see the old or the new
    // contents, never a mix. Creates missing directories. The new contents reach the disk
    // before the rename, and the rename before this returns, so a power loss leaves the old
    // or the new file, never an empty one.
    bool replace(const std::string &text, FileError &error);

    // Keeps the file now at the path under a name beside it that no file has yet
    // (`<target>.corrupt`, else `<target>.corrupt.1`, `.corrupt.2`, ...), which `kept`
    // receives. The path may still show the same file until the next replace(). Call it
    // under the lock.
    bool keepAside(std::string &kept, FileError &error);

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
