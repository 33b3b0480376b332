// Running a program in a pseudo-terminal for tests, two ways:
//
// - PtyProcess: the program alone in a pty of its own (forkpty). The test sees the exact
//   bytes the program writes, sends exact bytes as if typed, reads the terminal's settings
//   (termios) at any moment and gets the wait status. For promptness, terminal settings,
//   signals and exact output.
// - TmuxScreen: the program on the screen of a fresh tmux server (own socket in its own
//   temporary directory, so tests run in parallel), of a given size and environment. The
//   test sends keys by name or literal text and reads the screen as a user sees it, with the
//   cursor. For what the screen shows (echo, editing, fields rewritten in place), and for a
//   shell with job control around the program.
//
// Every wait takes a deadline and returns false when it passes, so a broken program fails a
// test instead of hanging it. Both tear down in their destructors: the program and the
// tmux server are killed, the temporary directory removed. Neither needs a terminal of its
// own, so they run under CTest and in CI.
#ifndef QVX3_CONSOLE_TESTS_PTY_HARNESS_H
#define QVX3_CONSOLE_TESTS_PTY_HARNESS_H

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>
#include <termios.h>

namespace ptytest {

using Deadline = std::chrono::milliseconds;
// How long a wait for something that should happen at once may take before it counts as
// never: far above need, so that a loaded machine never fails a test that is right.
constexpr Deadline kPatience{60000};

// A program alone in a pseudo-terminal.
class PtyProcess {
public:
    struct Options {
        int columns = 80;
        int rows = 24;
        std::vector<std::string> env;      // "NAME=value", added to the test's environment
        const termios *settings = nullptr; // the terminal as the program finds it
    };

    // Starts argv[0] (searched in PATH) with stdin, stdout and stderr on the pty's slave
    // side, as the leader of a new session with the pty as its controlling terminal. A
    // crash leaves no core file.
    explicit PtyProcess(const std::vector<std::string> &argv);
    PtyProcess(const std::vector<std::string> &argv, const Options &options);
    ~PtyProcess();
    PtyProcess(const PtyProcess &) = delete;
    PtyProcess &operator=(const PtyProcess &) = delete;

    pid_t pid() const { return pid_; }

    // Changes the window size; the program gets SIGWINCH.
    void resize(int columns, int rows);

    // Writes bytes to the terminal as if typed (Ctrl-C as "\x03" raises SIGINT, and so on).
    void send(const std::string &bytes);

    // Reads the program's output until `text` has appeared in it since `from` (an offset
    // into output()); true when it has.
    bool waitFor(const std::string &text, std::size_t from = 0, Deadline deadline = kPatience);

    // Everything the program has written so far, as the terminal passed it on (line ends
    // as "\r\n" while output processing is on).
    const std::string &output() const { return output_; }

    // The terminal's settings now (those the program set, or left behind once it ended).
    termios settings() const;

    // Waits for the program to end; false when it is still running at the deadline.
    bool waitExit(Deadline deadline = kPatience);
    // The wait status (see waitpid) once waitExit() returned true.
    int status() const { return status_; }

private:
    void readAvailable(int timeoutMs);

    pid_t pid_ = -1;
    int master_ = -1;
    bool exited_ = false;
    int status_ = 0;
    std::string output_;
};

// A terminal as a user might have set it up, with a few settings away from the defaults so
// that a program giving back "something sane" instead of what it found is caught.
termios userSettings();

// True when both hold the same settings: modes, control characters and speeds.
bool sameSettings(const termios &a, const termios &b);
// The settings in a form for failure messages.
std::string describe(const termios &t);

// A program on the screen of its own tmux server.
class TmuxScreen {
public:
    struct Options {
        int columns = 80;
        int rows = 24;
        std::vector<std::string> env; // "NAME=value", set in the program's environment
    };

    // Starts argv in a new session, in directory(); the pane stays after the program ends,
    // so its screen and exit status can still be read.
    explicit TmuxScreen(const std::vector<std::string> &argv);
    TmuxScreen(const std::vector<std::string> &argv, const Options &options);
    ~TmuxScreen();
    TmuxScreen(const TmuxScreen &) = delete;
    TmuxScreen &operator=(const TmuxScreen &) = delete;

    // A fresh directory for the test's own files; removed at teardown.
    const std::string &directory() const { return directory_; }

    // Presses keys by tmux's names: "Escape", "Enter", "Up", "F1", "C-c", "C-Right", "BSpace".
    void keys(const std::vector<std::string> &names);
    // Types text literally, character by character.
    void type(const std::string &text);
    // Changes the window's size, as a user dragging its edge would: the program gets
    // SIGWINCH, and tmux rewraps what the screen shows. Returns once the pane's terminal has
    // the new size, so the signal is sent before any key typed afterwards.
    void resize(int columns, int rows);

    // The visible rows, each without trailing blanks, joined by "\n".
    std::string screen();
    // The scrollback and the visible rows: all the program showed, also after it ended.
    std::string transcript();
    // One visible row, 1-based.
    std::string row(int y);
    // The cursor, 1-based column and row of the visible screen.
    std::pair<int, int> cursor();
    // The pane's terminal settings now: tells, for one, when the program has taken key mode,
    // so that keys sent from then on are not echoed by the terminal.
    termios settings();
    // Waits until the program has read everything typed into its terminal so far.
    bool waitInputRead(Deadline deadline = kPatience);
    // The name of the program in the foreground of the pane's terminal: the shell again once
    // a program started from it has ended.
    std::string foreground();

    // Polls the screen until `text` is on it; true when it appeared before the deadline.
    bool waitFor(const std::string &text, Deadline deadline = kPatience);
    // Polls until the program has ended; true when it has.
    bool waitExit(Deadline deadline = kPatience);
    // Once ended: the exit status, or 128 + the signal that killed it.
    int exitStatus();

private:
    std::string tmux(const std::vector<std::string> &args);
    std::string display(const std::string &format);
    std::string capturePane(bool history);

    std::string directory_;
    std::string socket_;
};

} // namespace ptytest

#endif // QVX3_CONSOLE_TESTS_PTY_HARNESS_H
