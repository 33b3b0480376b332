#include "state_file.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace bxa7sim {

namespace {

constexpr DWORD kMaxStateBytes = 1 << 20; // far beyond any state; more is not ours
// Every handle on the state file lets others replace it (delete sharing) and read it.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string systemReason(DWORD code) {
    char *text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string reason = n > 0 && text != nullptr ? std::string(text, n) : std::string();
    if (text != nullptr) LocalFree(text);
    // The system's texts end in ".\r\n"; the adapter's texts are single lines without it.
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.'))
        reason.pop_back();
    if (reason.empty()) {
        char number[32];
        std::snprintf(number, sizeof number, "system error %lu", static_cast<unsigned long>(code));
        reason = number;
    }
    return reason;
}

FileError failure(const std::string &what, const std::string &path, DWORD code = GetLastError()) {
    return {what + " " + path, systemReason(code)};
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// Creates the directories above `path` that are missing. Both separators count; a drive
// ("C:") or a share ("\\server\share") at the start is taken as it is.
bool makeParents(const std::string &path, FileError &error) {
    size_t start = 0;
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        start = path.find_first_of("\\/", 2); // past the server
        if (start != std::string::npos) start = path.find_first_of("\\/", start + 1);
        if (start == std::string::npos) return true;
    } else if (path.size() >= 2 && path[1] == ':') {
        start = 2;
    }
    for (size_t slash = path.find_first_of("\\/", start + 1); slash != std::string::npos;
         slash = path.find_first_of("\\/", slash + 1)) {
        const std::string dir = path.substr(0, slash);
        if (dir.empty() || isSeparator(dir.back())) continue;
        if (CreateDirectoryA(dir.c_str(), nullptr)) continue;
        const DWORD code = GetLastError();
        const DWORD attributes = GetFileAttributesA(dir.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        error = failure("cannot create the directory", dir, code);
        return false;
    }
    return true;
}

// Another process may be replacing the file at this moment: for the instant of its rename
// an open can be refused. Such refusals are retried for a short while.
bool transient(DWORD code) {
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION ||
           code == ERROR_LOCK_VIOLATION;
}

template <typename Attempt> bool retried(Attempt attempt) {
    for (int i = 0;; ++i) {
        if (attempt()) return true;
        if (i >= 50 || !transient(GetLastError())) return false;
        Sleep(i < 10 ? 0 : 1);
    }
}

HANDLE openShared(const std::string &path, DWORD access) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    retried([&] {
        handle = CreateFileA(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        return handle != INVALID_HANDLE_VALUE;
    });
    return handle;
}

// Whether the last part of `path` names a device (NUL, CON, COM1, ...), which Windows finds
// in every directory, with any extension and trailing blanks or dots.
bool deviceName(const std::string &path) {
    const size_t start = path.find_last_of("\\/:");
    std::string name = path.substr(start == std::string::npos ? 0 : start + 1);
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    for (char &c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL" || name == "CONIN$" ||
        name == "CONOUT$")
        return true;
    return name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) &&
           name[3] >= '1' && name[3] <= '9';
}

// Refuses what is no regular file before it is opened: a device would be read from or
// replaced, a directory cannot be.
bool regularPath(const std::string &path, FileError &error) {
    const char *kind = nullptr;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (deviceName(path))
        kind = "Is a device";
    else if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        kind = "Is a directory";
    if (!kind) return true;
    error = {"the state file " + path + " is not a regular file", kind};
    return false;
}

bool writeAll(HANDLE file, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1 << 20));
        if (!WriteFile(file, text.data() + done, chunk, &n, nullptr) || n == 0) return false;
        done += n;
    }
    return true;
}

bool readAll(HANDLE file, std::string &text) {
    text.clear();
    char buffer[4096];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) return false;
        if (n == 0 || text.size() > kMaxStateBytes) return true;
        text.append(buffer, n);
    }
}

// What tells one version of the file from another: the file's identity on its volume (a
// replacement is another file) and, for a write in place, its size and last write time.
struct Identity {
    DWORD volume = 0;
    DWORD indexHigh = 0, indexLow = 0;
    DWORD sizeHigh = 0, sizeLow = 0;
    FILETIME written{};

    static bool of(HANDLE file, Identity &id) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(file, &info)) return false;
        id.volume = info.dwVolumeSerialNumber;
        id.indexHigh = info.nFileIndexHigh;
        id.indexLow = info.nFileIndexLow;
        id.sizeHigh = info.nFileSizeHigh;
        id.sizeLow = info.nFileSizeLow;
        id.written = info.ftLastWriteTime;
        return true;
    }
    bool operator==(const Identity &o) const {
        return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow &&
               sizeHigh == o.sizeHigh && sizeLow == o.sizeLow &&
               written.dwLowDateTime == o.written.dwLowDateTime &&
               written.dwHighDateTime == o.written.dwHighDateTime;
    }
};

} // namespace

bool defaultStatePath(const GetEnv &getenv, std::string &path, FileError &error) {
    std::string base;
    if (const char *local = getenv("LOCALAPPDATA"); local && local[0]) {
        base = local;
    } else if (const char *profile = getenv("USERPROFILE"); profile && profile[0]) {
        base = std::string(profile) + "\\AppData\\Local";
    }
    if (base.empty()) {
        error = {"no home directory for the state file", "set BXA7_SIM_STATE to a file path"};
        return false;
    }
    if (!isSeparator(base.back())) base += '\\';
    path = base + "bxa7-sim\\state";
    return true;
}

// Windows has no boot identifier: the boot's start, wall-clock time less the time since
// boot, names it, in milliseconds. Two readings in one boot differ by the clocks' ticks and
// by adjustments of the wall clock since, so sameBoot() allows a minute either way; two
// boots' starts lie further apart than that unless the first lasted under a minute.
std::string currentBootId() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG wall =
        (static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime) / 10000; // ms
    char id[32];
    std::snprintf(id, sizeof id, "boot-%llu", wall - GetTickCount64());
    return id;
}

bool sameBoot(const std::string &stored, const std::string &current) {
    unsigned long long a = 0;
    unsigned long long b = 0;
    char tail = 0;
    if (std::sscanf(stored.c_str(), "boot-%llu%c", &a, &tail) != 1 ||
        std::sscanf(current.c_str(), "boot-%llu%c", &b, &tail) != 1) {
        return false;
    }
    constexpr unsigned long long kToleranceMs = 60000;
    return (a > b ? a - b : b - a) <= kToleranceMs;
}

// The file version last read or written.
struct StateFile::Current {
    bool known = false;
    Identity seen;
};

StateFile::StateFile(std::string path) : path_(std::move(path)), current_(new Current) {}

StateFile::~StateFile() = default;

bool StateFile::refresh(Read &result, std::string &text, FileError &error) {
    if (!regularPath(path_, error)) return false;
    HANDLE file = openShared(path_, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            current_->known = false;
            result = Read::Missing;
            return true;
        }
        error = failure("cannot read the state file", path_, code);
        return false;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) { // a pipe or a device by another name
        CloseHandle(file);
        error = {"the state file " + path_ + " is not a regular file", "Is a device"};
        return false;
    }
    Identity id;
    bool ok = Identity::of(file, id);
    if (ok && current_->known && id == current_->seen) {
        CloseHandle(file);
        result = Read::Unchanged;
        return true;
    }
    ok = ok && readAll(file, text);
    const DWORD code = GetLastError();
    CloseHandle(file);
    if (!ok) {
        error = failure("cannot read the state file", path_, code);
        return false;
    }
    current_->known = true;
    current_->seen = id;
    result = Read::Changed;
    return true;
}

StateFile::Lock::~Lock() {
    CloseHandle(reinterpret_cast<HANDLE>(handle_)); // releases the lock
}

std::unique_ptr<StateFile::Lock> StateFile::lock(FileError &error) {
    const std::string lockPath = path_ + ".lock";
    if (!makeParents(lockPath, error)) return nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    retried([&] {
        file = CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    if (file == INVALID_HANDLE_VALUE) {
        error = failure("cannot open the lock file", lockPath);
        return nullptr;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        error = failure("cannot lock", lockPath);
        CloseHandle(file);
        return nullptr;
    }
    return std::unique_ptr<Lock>(new Lock(reinterpret_cast<std::intptr_t>(file)));
}

bool StateFile::replace(const std::string &text, FileError &error) {
    const std::string temporary = path_ + ".tmp";
    if (!makeParents(path_, error)) return false;
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = failure("cannot write", temporary);
        return false;
    }
    if (!writeAll(file, text)) {
        error = failure("cannot write", temporary);
        CloseHandle(file);
        DeleteFileA(temporary.c_str());
        return false;
    }
    // On the disk before the rename, or a power loss could leave the new name on an empty
    // file. Closed before the rename: a file open without delete sharing cannot be renamed.
    if (!FlushFileBuffers(file)) {
        error = failure("cannot write", temporary);
        CloseHandle(file);
        DeleteFileA(temporary.c_str());
        return false;
    }
    CloseHandle(file);
    const bool moved = retried([&] {
        return MoveFileExA(temporary.c_str(), path_.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    });
    if (!moved) {
        error = failure("cannot replace the state file", path_);
        DeleteFileA(temporary.c_str());
        return false;
    }
    // The version now at the path is ours; nobody else writes while we hold the lock.
    HANDLE written = openShared(path_, FILE_READ_ATTRIBUTES);
    current_->known = written != INVALID_HANDLE_VALUE && Identity::of(written, current_->seen);
    if (written != INVALID_HANDLE_VALUE) CloseHandle(written);
    return true;
}

bool StateFile::keepAside(std::string &kept, FileError &error) {
    for (unsigned n = 0; n < 100000; ++n) {
        kept = path_ + ".corrupt" + (n == 0 ? "" : "." + std::to_string(n));
        // Without MOVEFILE_REPLACE_EXISTING the move never replaces an earlier file.
        const bool moved = retried([&] {
            return MoveFileExA(path_.c_str(), kept.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
        });
        if (moved) return true;
        const DWORD code = GetLastError();
        if (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) break;
    }
    error = failure("cannot keep the corrupt state file as", kept);
    return false;
}

} // namespace bxa7sim
