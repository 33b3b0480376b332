#include "state_file.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <vector>

namespace bxa7sim {

namespace {

constexpr size_t kMaxStateBytes = 1 << 20; // far beyond any state; more is not ours

FileError failure(const std::string &what, const std::string &path) {
    return {what + " " + path, std::strerror(errno)};
}

// Creates the directories above `path` that are missing.
bool makeParents(const std::string &path, FileError &error) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string dir = path.substr(0, slash);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
            error = failure("cannot create the directory", dir);
            return false;
        }
    }
    return true;
}

// The file `path` leads to: symbolic links followed, the last one even when its target does
// not exist yet. A loop of links ends after 40 steps; opening the result then reports it.
std::string linkTarget(const std::string &path) {
    std::string current = path;
    for (int step = 0; step < 40; ++step) {
        char buffer[PATH_MAX];
        const ssize_t n = readlink(current.c_str(), buffer, sizeof buffer);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) break; // not a link (or absurd)
        const std::string link(buffer, static_cast<size_t>(n));
        const size_t slash = current.rfind('/');
        current = link[0] == '/' || slash == std::string::npos
                      ? link
                      : current.substr(0, slash + 1) + link;
    }
    return current;
}

std::string directoryOf(const std::string &path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes a rename in the directory of `path` durable. Some file systems cannot sync a
// directory; the rename stands all the same, so a failure here is no failure of the write.
void syncDirectory(const std::string &path) {
    const int dir = open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    while (fsync(dir) != 0 && errno == EINTR) {
    }
    close(dir);
}

// Refuses what is no regular file: reading a FIFO or a device would block or consume
// someone else's data, and replacing it would destroy it.
bool regular(const struct stat &st, const std::string &path, FileError &error) {
    if (S_ISREG(st.st_mode)) return true;
    const char *kind = S_ISDIR(st.st_mode)    ? "Is a directory"
                       : S_ISFIFO(st.st_mode) ? "Is a FIFO"
                       : S_ISSOCK(st.st_mode) ? "Is a socket"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "Is a device"
                                                                    : "Is no regular file";
    error = {"the state file " + path + " is not a regular file", kind};
    return false;
}

bool writeAll(int fd, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool readAll(int fd, std::string &text) {
    text.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0 || text.size() > kMaxStateBytes) return true;
        text.append(buffer, static_cast<size_t>(n));
    }
}

} // namespace

bool defaultStatePath(const GetEnv &getenv, std::string &path, FileError &error) {
    const char *state = getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') {
        path = std::string(state) + "/bxa7-sim/state";
        return true;
    }
    std::string home;
    if (const char *h = getenv("HOME"); h && h[0]) {
        home = h;
    } else {
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd *found = nullptr;
        if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
            found->pw_dir && found->pw_dir[0])
            home = found->pw_dir;
    }
    if (home.empty()) {
        error = {"no home directory for the state file", "set BXA7_SIM_STATE to a file path"};
        return false;
    }
    path = home + "/.local/state/bxa7-sim/state";
    return true;
}

std::string currentBootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    if (!std::getline(in, id) || id.empty()) return "unknown";
    return id;
}

bool sameBoot(const std::string &stored, const std::string &current) {
    return stored == current;
}

// The file version last read or written, held open: while it is open its inode cannot be
// reused, so a file at the path with the same inode is this very version - unless someone
// wrote into it in place, which its size and times tell.
struct StateFile::Current {
    int fd = -1;
    struct stat seen {};

    ~Current() {
        if (fd >= 0) close(fd);
    }
    bool is(const struct stat &st) const {
        return fd >= 0 && st.st_dev == seen.st_dev && st.st_ino == seen.st_ino &&
               st.st_size == seen.st_size && sameTime(st.st_mtim, seen.st_mtim) &&
               sameTime(st.st_ctim, seen.st_ctim);
    }
    void hold(int newFd, const struct stat &st) {
        if (fd >= 0) close(fd);
        fd = newFd;
        seen = st;
    }
    void forget() { hold(-1, {}); }

    static bool sameTime(const timespec &a, const timespec &b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    }
};

StateFile::StateFile(std::string path) : path_(std::move(path)), current_(new Current) {}

StateFile::~StateFile() = default;

bool StateFile::refresh(Read &result, std::string &text, FileError &error) {
    struct stat st {};
    if (stat(path_.c_str(), &st) == 0) {
        if (current_->is(st)) {
            result = Read::Unchanged;
            return true;
        }
        if (!regular(st, path_, error)) return false;
    }
    // Non-blocking: something else may take the file's place between the stat and the open.
    const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        current_->forget();
        result = Read::Missing;
        return true;
    }
    if (fd < 0 || fstat(fd, &st) != 0) {
        error = failure("cannot read the state file", path_);
        if (fd >= 0) close(fd);
        return false;
    }
    if (!regular(st, path_, error)) {
        close(fd);
        return false;
    }
    if (!readAll(fd, text)) {
        error = failure("cannot read the state file", path_);
        close(fd);
        return false;
    }
    current_->hold(fd, st);
    result = Read::Changed;
    return true;
}

StateFile::Lock::~Lock() {
    close(static_cast<int>(handle_));
}

std::unique_ptr<StateFile::Lock> StateFile::lock(FileError &error) {
    const std::string lockPath = linkTarget(path_) + ".lock";
    if (!makeParents(lockPath, error)) return nullptr;
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = failure("cannot open the lock file", lockPath);
        return nullptr;
    }
    int rc = 0;
    while ((rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        error = failure("cannot lock", lockPath);
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<Lock>(new Lock(fd));
}

bool StateFile::replace(const std::string &text, FileError &error) {
    const std::string target = linkTarget(path_);
    const std::string temporary = target + ".tmp";
    if (!makeParents(target, error)) return false;
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = failure("cannot write", temporary);
        return false;
    }
    // The contents on the disk before the rename, or a power loss could leave the new name
    // on an empty file.
    if (!writeAll(fd, text) || fsync(fd) != 0) {
        error = failure("cannot write", temporary);
        close(fd);
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), target.c_str()) != 0) {
        error = failure("cannot replace the state file", target);
        close(fd);
        unlink(temporary.c_str());
        return false;
    }
    syncDirectory(target);
    // After the rename, which may touch the times; nobody else writes while we hold the lock.
    struct stat st {};
    if (fstat(fd, &st) != 0) st = {};
    current_->hold(fd, st);
    return true;
}

bool StateFile::keepAside(std::string &kept, FileError &error) {
    const std::string target = linkTarget(path_);
    for (unsigned n = 0; n < 100000; ++n) {
        kept = target + ".corrupt" + (n == 0 ? "" : "." + std::to_string(n));
        // A hard link never replaces an existing name, and the path keeps a file meanwhile.
        if (link(target.c_str(), kept.c_str()) == 0) {
            syncDirectory(target);
            return true;
        }
        if (errno == EEXIST) continue;
        if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) break;
        // A file system without hard links: a rename to a name that is free (under the
        // lock, no cooperating process takes it meanwhile).
        struct stat st {};
        if (lstat(kept.c_str(), &st) == 0) continue;
        if (errno == ENOENT && rename(target.c_str(), kept.c_str()) == 0) {
            syncDirectory(target);
            return true;
        }
        break;
    }
    error = failure("cannot keep the corrupt state file as", kept);
    return false;
}

} // namespace bxa7sim
