// The terminal layer on POSIX: termios key mode, the signals that must give the terminal
// back, poll/read/write on the standard descriptors, a self-pipe that wakes a wait for input
// when a handled signal arrives, and the monotonic clock.
#include "term.h"
#include "term_platform.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace term {
namespace {

constexpr int kIn = STDIN_FILENO;
constexpr int kOut = STDOUT_FILENO;

timespec monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

// Taken while the program loads, so clock() counts from the start of the run.
const timespec g_start = monotonicNow();

// State shared with the signal handlers; written before the handlers are installed.
termios g_found{};                         // the terminal as the program found it
termios g_keyMode{};                       // no echo, no line buffering, no flow control
volatile sig_atomic_t g_inKeyMode = 0;     // the terminal is in key mode now
volatile sig_atomic_t g_keyModeWanted = 0; // ... and should be while the program runs
volatile sig_atomic_t g_resized = 1;       // the width must be asked for again
volatile sig_atomic_t g_resizeNoted = 0;   // ... and takeEvents() has not told it yet
volatile sig_atomic_t g_resumeNoted = 0;   // the program went on after a stop
int g_wake[2] = {-1, -1}; // self-pipe: a handler writes a byte, waitForInput() wakes up
struct sigaction g_previous[NSIG];
struct sigaction g_stopAction;

// Async-signal-safe, like everything the handlers call.
void giveBack() {
    if (g_inKeyMode) {
        tcsetattr(kIn, TCSANOW, &g_found);
        g_inKeyMode = 0;
    }
}

// Async-signal-safe; a full pipe already holds a wake-up.
void wake() {
    if (g_wake[1] >= 0) {
        const ssize_t ignored = ::write(g_wake[1], "", 1);
        (void)ignored;
    }
}

void takeKeyMode() {
    if (!g_inKeyMode && tcsetattr(kIn, TCSANOW, &g_keyMode) == 0) g_inKeyMode = 1;
}

bool inForeground() {
    return tcgetpgrp(kIn) == getpgrp();
}

void unblock(int sig) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

bool isFault(int sig) {
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL;
}

// Terminating signals and crashes: give the terminal back, then let the signal do what it
// would have done without us, so the exit status is the usual one.
void onFatal(int sig, siginfo_t *info, void *) {
    const int savedErrno = errno;
    giveBack();
    sigaction(sig, &g_previous[sig], nullptr);
    // A fault from the processor returns to the faulting instruction, which then meets the
    // previous action with its own details; anything sent is sent again.
    if (!isFault(sig) || info == nullptr || info->si_code <= 0) {
        unblock(sig);
        raise(sig);
    }
    errno = savedErrno;
}

void onStop(int) {
    const int savedErrno = errno;
    giveBack();
    struct sigaction stop {};
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTSTP, &stop, nullptr);
    unblock(SIGTSTP);
    raise(SIGTSTP); // stopped here until SIGCONT
    sigaction(SIGTSTP, &g_stopAction, nullptr);
    g_resumeNoted = 1;
    // Without a job-control shell the stop is discarded and SIGCONT never comes.
    if (g_keyModeWanted && inForeground()) takeKeyMode();
    errno = savedErrno;
}

void onContinue(int) {
    const int savedErrno = errno;
    g_resumeNoted = 1;
    // In the background (bg) the terminal belongs to the shell; key mode comes back with fg.
    if (g_keyModeWanted && inForeground()) takeKeyMode();
    wake();
    errno = savedErrno;
}

void onResize(int) {
    const int savedErrno = errno;
    g_resized = 1;
    g_resizeNoted = 1;
    wake();
    errno = savedErrno;
}

bool makeWakePipe() {
    if (pipe(g_wake) != 0) {
        g_wake[0] = g_wake[1] = -1;
        return false;
    }
    for (int &fd : g_wake) {
        // A program started with standard input or output closed would otherwise get the
        // pipe as that descriptor, and wait for keys on it or write its text into it.
        if (fd <= STDERR_FILENO) {
            const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            close(fd);
            fd = moved;
        }
    }
    if (g_wake[0] < 0 || g_wake[1] < 0) {
        for (int fd : g_wake)
            if (fd >= 0) close(fd);
        g_wake[0] = g_wake[1] = -1;
        return false;
    }
    for (int fd : g_wake) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    return true;
}

// Installs `handler` for `sig` unless the program was started with the signal ignored
// (nohup, a shell's background job): that choice is the caller's and stays.
void install(int sig, void (*handler)(int, siginfo_t *, void *)) {
    struct sigaction action {};
    action.sa_sigaction = handler;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (sigaction(sig, nullptr, &g_previous[sig]) != 0) return;
    if (g_previous[sig].sa_handler == SIG_IGN) return;
    sigaction(sig, &action, nullptr);
}

void installSimple(int sig, void (*handler)(int), struct sigaction *store = nullptr) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    if (sigaction(sig, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) return;
    if (store != nullptr) *store = action;
    sigaction(sig, &action, nullptr);
}

void installTerminalHandlers() {
    // Terminating signals whose default we keep, after giving the terminal back.
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU,
                    SIGXFSZ, SIGVTALRM}) {
        struct sigaction current {};
        sigaction(sig, nullptr, &current);
        // A handler someone else installed keeps the signal; only the default dies here.
        if (current.sa_handler == SIG_DFL) install(sig, onFatal);
    }
    // Crashes chain to whatever handled them before (a sanitizer's report, or the core).
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS})
        install(sig, onFatal);
    installSimple(SIGTSTP, onStop, &g_stopAction);
    installSimple(SIGCONT, onContinue);
}

bool sameTerminal(int a, int b) {
    struct stat sa {
    }, sb{};
    return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode) &&
           sa.st_rdev == sb.st_rdev;
}

void writeAll(int fd, const char *bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n > 0) {
            bytes += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, -1);
        } else {
            return; // the reader is gone (SIGPIPE ignored) or the device failed
        }
    }
}

int elapsedMs(const timespec &from, const timespec &to) {
    return static_cast<int>((to.tv_sec - from.tv_sec) * 1000 +
                            (to.tv_nsec - from.tv_nsec) / 1000000);
}

class PosixPlatform final : public Platform {
public:
    PosixPlatform() {
        inputIsTerminal_ = isatty(kIn) && tcgetattr(kIn, &g_found) == 0;
        outputIsTerminal_ = isatty(kOut) != 0;
        echoOnOutput_ = inputIsTerminal_ && outputIsTerminal_ && sameTerminal(kIn, kOut);
        // Before any handler that writes to it.
        makeWakePipe();
        if (outputIsTerminal_) {
            installSimple(SIGWINCH, onResize);
            // Also when input is not a terminal: a stop still moves the screen on.
            installSimple(SIGCONT, onContinue);
        }
    }

    bool inputIsTerminal() override { return inputIsTerminal_; }
    bool outputIsTerminal() override { return outputIsTerminal_; }
    bool echoOnOutput() override { return echoOnOutput_; }
    bool escapeIsAltPrefix() override { return inputIsTerminal_; }

    std::string codeset() override {
        // Asked with the user's locale, then the program's locale is put back: the console
        // runs in the C locale (toupper, strtof) whatever the environment says.
        const char *current = std::setlocale(LC_CTYPE, nullptr);
        const std::string saved = current != nullptr ? current : "C";
        std::string name;
        if (std::setlocale(LC_CTYPE, "") != nullptr) name = nl_langinfo(CODESET);
        std::setlocale(LC_CTYPE, saved.c_str());
        return name;
    }

    EditKeys editKeys() override {
        EditKeys keys;
        if (!inputIsTerminal_) return keys;
        auto key = [](cc_t c) { return c == _POSIX_VDISABLE ? -1 : static_cast<int>(c); };
        keys.erase = key(g_found.c_cc[VERASE]);
        keys.kill = key(g_found.c_cc[VKILL]);
        keys.wordErase = key(g_found.c_cc[VWERASE]);
        keys.endOfFile = key(g_found.c_cc[VEOF]);
        return keys;
    }

    Input read(std::string &into, int timeoutMs) override {
        if (inputIsTerminal_) enterKeyMode();
        const timespec start = monotonicNow();
        for (;;) {
            int wait = timeoutMs;
            if (timeoutMs > 0) {
                wait = timeoutMs - elapsedMs(start, monotonicNow());
                if (wait < 0) wait = 0;
            }
            pollfd p{kIn, POLLIN, 0};
            const int ready = poll(&p, 1, wait);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) return Input::End;
            if (ready == 0) return Input::Timeout;
            char buffer[4096];
            const ssize_t n = ::read(kIn, buffer, sizeof buffer);
            if (n > 0) {
                into.append(buffer, static_cast<std::size_t>(n));
                return Input::Data;
            }
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            return Input::End; // end of file, or EIO once the terminal hung up
        }
    }

    void waitForInput(int timeoutMs) override {
        if (inputIsTerminal_) enterKeyMode();
        pollfd p[2] = {{kIn, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
        // A signal that came before the poll left its byte in the pipe, so none is missed.
        const int ready = poll(p, g_wake[0] >= 0 ? 2 : 1, timeoutMs);
        if (ready > 0 && (p[1].revents & POLLIN)) {
            char drain[64];
            while (::read(g_wake[0], drain, sizeof drain) > 0) {
            }
        }
    }

    void write(const char *bytes, std::size_t size) override { writeAll(kOut, bytes, size); }
    void writeEcho(const char *bytes, std::size_t size) override { writeAll(kIn, bytes, size); }

    int columns() override {
        if (!outputIsTerminal_) return 0;
        if (g_resized) {
            g_resized = 0;
            winsize size{};
            columns_ = ioctl(kOut, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        }
        return columns_;
    }

    unsigned takeEvents() override {
        unsigned events = 0;
        // A signal between a test and its reset is told now; one after it, next time.
        if (g_resizeNoted) {
            g_resizeNoted = 0;
            events |= kResized;
        }
        if (g_resumeNoted) {
            g_resumeNoted = 0;
            events |= kResumed;
        }
        return events;
    }

    uint32_t clockMs() override {
        const timespec now = monotonicNow();
        const uint64_t ms = static_cast<uint64_t>(now.tv_sec - g_start.tv_sec) * 1000u +
                            static_cast<uint64_t>(now.tv_nsec / 1000000) -
                            static_cast<uint64_t>(g_start.tv_nsec / 1000000);
        return static_cast<uint32_t>(ms);
    }

    void sleepMs(uint32_t ms) override {
        timespec until = monotonicNow();
        until.tv_sec += static_cast<time_t>(ms / 1000);
        until.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000L;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
    }

    void finish() override {
        g_keyModeWanted = 0;
        giveBack();
    }

private:
    void enterKeyMode() {
        if (!g_keyModeWanted) {
            g_keyMode = g_found;
            g_keyMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
            g_keyMode.c_lflag |= ISIG; // Ctrl-C, Ctrl-\ and Ctrl-Z keep working
            g_keyMode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
            g_keyMode.c_cc[VMIN] = 1;
            g_keyMode.c_cc[VTIME] = 0;
            installTerminalHandlers();
            g_keyModeWanted = 1;
        }
        takeKeyMode();
    }

    bool inputIsTerminal_ = false;
    bool outputIsTerminal_ = false;
    bool echoOnOutput_ = false;
    int columns_ = 80;
};

} // namespace

Platform &systemPlatform() {
    static PosixPlatform *const platform = new PosixPlatform;
    return *platform;
}

} // namespace term
