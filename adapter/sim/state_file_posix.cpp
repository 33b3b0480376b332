#include "state_file.h"

#include <cerrno>
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
    if (stat(path_.c_str(), &st) == 0 && current_->is(st)) {
        result = Read::Unchanged;
        return true;
    }
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        current_->forget();
        result = Read::Missing;
        return true;
    }
    if (fd < 0 || fstat(fd, &st) != 0 || !readAll(fd, text)) {
        error = failure("cannot read the state file", path_);
        if (fd >= 0) close(fd);
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
    const std::string lockPath = path_ + ".lock";
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
    const std::string temporary = path_ + ".tmp";
    if (!makeParents(path_, error)) return false;
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = failure("cannot write", temporary);
        return false;
    }
    if (!writeAll(fd, text)) {
        error = failure("cannot write", temporary);
        close(fd);
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), path_.c_str()) != 0) {
        error = failure("cannot replace the state file", path_);
        close(fd);
        unlink(temporary.c_str());
        return false;
    }
    // After the rename, which may touch the times; nobody else writes while we hold the lock.
    struct stat st {};
    if (fstat(fd, &st) != 0) st = {};
    current_->hold(fd, st);
    return true;
}

} // namespace bxa7sim
