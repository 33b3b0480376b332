#include "pty_harness.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ptytest {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<char *> argvOf(const std::vector<std::string> &args) {
    std::vector<char *> out;
    for (const std::string &a : args)
        out.push_back(const_cast<char *>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

// True while a process of session `session` lives (zombies aside): the program of a pane and
// whatever it started.
bool sessionAlive(pid_t session) {
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 1));
        char state = 0;
        long parent = 0, group = 0, sid = 0;
        if (fields >> state >> parent >> group >> sid && sid == session && state != 'Z')
            return true;
    }
    return false;
}

// Runs a program to its end and returns what it printed on standard output.
std::string capture(const std::vector<std::string> &args, int *status = nullptr) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, STDIN_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char *> argv = argvOf(args);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n > 0)
            out.append(buffer, static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    close(pipeFds[0]);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    if (status != nullptr) *status = st;
    return out;
}

std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n'))
        s.pop_back();
    return s;
}

} // namespace

// ---- PtyProcess ----------------------------------------------------------------------------

PtyProcess::PtyProcess(const std::vector<std::string> &argv) : PtyProcess(argv, Options{}) {}

PtyProcess::PtyProcess(const std::vector<std::string> &argv, const Options &options) {
    winsize size{};
    size.ws_col = static_cast<unsigned short>(options.columns);
    size.ws_row = static_cast<unsigned short>(options.rows);
    termios settings{};
    if (options.settings != nullptr) settings = *options.settings;
    pid_ = forkpty(&master_, nullptr, options.settings != nullptr ? &settings : nullptr, &size);
    if (pid_ < 0) throw std::runtime_error("forkpty failed");
    if (pid_ == 0) {
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        for (const std::string &e : options.env)
            putenv(const_cast<char *>(e.c_str()));
        std::vector<char *> args = argvOf(argv);
        execvp(args[0], args.data());
        _exit(127);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyProcess::~PtyProcess() {
    if (!exited_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
}

void PtyProcess::send(const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            throw std::runtime_error("pty write");
        else
            readAvailable(1); // let the program read while its input is full
    }
}

void PtyProcess::readAvailable(int timeoutMs) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0)
            output_.append(buffer, static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // EAGAIN: nothing more now; EIO: the slave side is closed
    }
}

bool PtyProcess::waitFor(const std::string &text, std::size_t from, Deadline deadline) {
    const auto end = Clock::now() + deadline;
    for (;;) {
        if (output_.size() > from && output_.find(text, from) != std::string::npos) return true;
        if (Clock::now() >= end) return false;
        readAvailable(5);
    }
}

void PtyProcess::resize(int columns, int rows) {
    winsize size{};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = static_cast<unsigned short>(rows);
    ioctl(master_, TIOCSWINSZ, &size);
}

termios PtyProcess::settings() const {
    termios t{};
    if (tcgetattr(master_, &t) != 0) throw std::runtime_error("tcgetattr on the pty failed");
    return t;
}

bool PtyProcess::waitExit(Deadline deadline) {
    const auto end = Clock::now() + deadline;
    while (!exited_) {
        const pid_t r = waitpid(pid_, &status_, WNOHANG);
        if (r == pid_) {
            exited_ = true;
            break;
        }
        if (Clock::now() >= end) return false;
        readAvailable(5); // keep reading, so a program writing at its end never blocks
    }
    readAvailable(0);
    return true;
}

bool sameSettings(const termios &a, const termios &b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

termios userSettings() {
    int master = -1, slave = -1;
    termios t{};
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
        tcgetattr(slave, &t);
        close(master);
        close(slave);
    }
    t.c_cc[VERASE] = 0x08;
    t.c_iflag |= IXANY;
    t.c_lflag &= ~static_cast<tcflag_t>(ECHOCTL);
    return t;
}

std::string describe(const termios &t) {
    char text[160];
    std::snprintf(text, sizeof text, "iflag=%#o oflag=%#o cflag=%#o lflag=%#o", t.c_iflag,
                  t.c_oflag, t.c_cflag, t.c_lflag);
    std::string out = text;
    out += " cc=";
    for (unsigned i = 0; i < NCCS; ++i) {
        std::snprintf(text, sizeof text, "%s%02x", i ? ":" : "", t.c_cc[i]);
        out += text;
    }
    return out;
}

// ---- TmuxScreen ----------------------------------------------------------------------------

TmuxScreen::TmuxScreen(const std::vector<std::string> &argv) : TmuxScreen(argv, Options{}) {}

TmuxScreen::TmuxScreen(const std::vector<std::string> &argv, const Options &options) {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/qvx3-pty-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
    directory_ = pattern;
    socket_ = directory_ + "/tmux.sock";
    {
        std::ofstream conf(directory_ + "/tmux.conf");
        // The pane stays after the program ends; no status line takes a row.
        conf << "set -g remain-on-exit on\nset -g status off\nset -g history-limit 5000\n";
    }
    std::vector<std::string> args = {"new-session", "-d",
                                     "-c",          directory_,
                                     "-x",          std::to_string(options.columns),
                                     "-y",          std::to_string(options.rows)};
    for (const std::string &e : options.env) {
        args.push_back("-e");
        args.push_back(e);
    }
    args.push_back("--");
    args.insert(args.end(), argv.begin(), argv.end());
    std::vector<std::string> full = {"tmux", "-S", socket_, "-f", directory_ + "/tmux.conf"};
    full.insert(full.end(), args.begin(), args.end());
    int status = 0;
    capture(full, &status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::filesystem::remove_all(directory_);
        throw std::runtime_error("tmux new-session failed");
    }
}

TmuxScreen::~TmuxScreen() {
    // The pane's program leads a session of its own. It may still be on its way out after the
    // server has gone (writing its last state file, which would make its folder anew): wait
    // until its session is empty, so that the test's files can be removed for good.
    const std::string pane = display("#{pane_pid}");
    capture({"tmux", "-S", socket_, "kill-server"});
    const pid_t session = static_cast<pid_t>(std::atol(pane.c_str()));
    const auto end = Clock::now() + kPatience;
    while (session > 1 && sessionAlive(session) && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::string TmuxScreen::tmux(const std::vector<std::string> &args) {
    std::vector<std::string> full = {"tmux", "-S", socket_};
    full.insert(full.end(), args.begin(), args.end());
    return capture(full);
}

std::string TmuxScreen::display(const std::string &format) {
    return trimRight(tmux({"display-message", "-p", format}));
}

void TmuxScreen::keys(const std::vector<std::string> &names) {
    std::vector<std::string> args = {"send-keys"};
    args.insert(args.end(), names.begin(), names.end());
    tmux(args);
}

void TmuxScreen::type(const std::string &text) {
    tmux({"send-keys", "-l", "--", text});
}

void TmuxScreen::resize(int columns, int rows) {
    tmux({"resize-window", "-x", std::to_string(columns), "-y", std::to_string(rows)});
    // tmux sets the pane's size a little later; the program is signalled when it does.
    const auto end = Clock::now() + kPatience;
    for (;;) {
        winsize size{};
        const int fd = open(display("#{pane_tty}").c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        const bool read = fd >= 0 && ioctl(fd, TIOCGWINSZ, &size) == 0;
        if (fd >= 0) close(fd);
        if (read && size.ws_col == columns && size.ws_row == rows) return;
        if (Clock::now() >= end) throw std::runtime_error("the pane's terminal was not resized");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string TmuxScreen::capturePane(bool history) {
    std::vector<std::string> args = {"capture-pane", "-p"};
    if (history) args.insert(args.end(), {"-S", "-"});
    std::istringstream in(tmux(args));
    std::string line, out;
    while (std::getline(in, line))
        out += trimRight(line) + "\n";
    return trimRight(out);
}

std::string TmuxScreen::screen() {
    return capturePane(false);
}
std::string TmuxScreen::transcript() {
    return capturePane(true);
}

std::string TmuxScreen::row(int y) {
    std::istringstream in(screen());
    std::string line;
    for (int i = 1; std::getline(in, line); ++i)
        if (i == y) return line;
    return "";
}

std::pair<int, int> TmuxScreen::cursor() {
    int x = 0, y = 0;
    std::sscanf(display("#{cursor_x} #{cursor_y}").c_str(), "%d %d", &x, &y);
    return {x + 1, y + 1};
}

termios TmuxScreen::settings() {
    termios t{};
    const int fd = open(display("#{pane_tty}").c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    const bool read = fd >= 0 && tcgetattr(fd, &t) == 0;
    if (fd >= 0) close(fd);
    if (!read) throw std::runtime_error("tcgetattr on the pane's terminal failed");
    return t;
}

bool TmuxScreen::waitInputRead(Deadline deadline) {
    const auto end = Clock::now() + deadline;
    for (;;) {
        // A program that has ended leaves nothing to wait for.
        if (display("#{pane_dead}") == "1") return true;
        const int fd = open(display("#{pane_tty}").c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        int unread = -1;
        if (fd >= 0) {
            if (ioctl(fd, FIONREAD, &unread) != 0) unread = -1;
            close(fd);
        }
        if (unread == 0) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string TmuxScreen::foreground() {
    return display("#{pane_current_command}");
}

bool TmuxScreen::waitFor(const std::string &text, Deadline deadline) {
    const auto end = Clock::now() + deadline;
    for (;;) {
        if (screen().find(text) != std::string::npos) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool TmuxScreen::waitExit(Deadline deadline) {
    const auto end = Clock::now() + deadline;
    for (;;) {
        if (display("#{pane_dead}") == "1") return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int TmuxScreen::exitStatus() {
    const std::string signal = display("#{pane_dead_signal}");
    if (!signal.empty()) return 128 + std::atoi(signal.c_str());
    return std::atoi(display("#{pane_dead_status}").c_str());
}

} // namespace ptytest
