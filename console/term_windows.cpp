// The terminal layer on Windows: the console's key events turned into the byte sequences the
// shared key decoder reads, the cursor sequences the shared code writes carried out on the
// console screen buffer, pipes and files read in order, and a 1 ms timer.
#include "term_platform.h"

#include <windows.h>

#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>

namespace term {
namespace {

LARGE_INTEGER counterNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

// Taken while the program loads, so clock() counts from the start of the run.
const LARGE_INTEGER g_start = counterNow();

// The console as the program found it, for the control handler (another thread).
HANDLE g_consoleOut = INVALID_HANDLE_VALUE;
DWORD g_foundOutMode = 0;
volatile LONG g_outModeChanged = 0;

void giveBack() {
    if (InterlockedExchange(&g_outModeChanged, 0)) SetConsoleMode(g_consoleOut, g_foundOutMode);
}

// Ctrl-C, Ctrl-Break, closing the window, logoff: give the console back, then let the
// default handler end the process as it would have.
BOOL WINAPI onControl(DWORD) {
    giveBack();
    return FALSE;
}

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

// xterm's modifier parameter: 1 plus Shift 1, Alt 2, Ctrl 4.
int modifierParameter(DWORD state) {
    int bits = 0;
    if (state & SHIFT_PRESSED) bits |= 1;
    if (state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) bits |= 2;
    if (state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) bits |= 4;
    return 1 + bits;
}

// The VT sequence of a key that brings no character; empty for a key the console program
// does not know (Shift, Ctrl and Alt alone, Caps Lock, ...).
std::string sequenceFor(WORD key, DWORD state) {
    const int m = modifierParameter(state);
    char out[24];
    auto letter = [&](char final) {
        if (m == 1) std::snprintf(out, sizeof out, "\x1b[%c", final);
        else std::snprintf(out, sizeof out, "\x1b[1;%d%c", m, final);
        return std::string(out);
    };
    auto function = [&](char final) { // F1-F4: SS3 plain, CSI with modifiers
        if (m == 1) std::snprintf(out, sizeof out, "\x1bO%c", final);
        else std::snprintf(out, sizeof out, "\x1b[1;%d%c", m, final);
        return std::string(out);
    };
    auto tilde = [&](int n) {
        if (m == 1) std::snprintf(out, sizeof out, "\x1b[%d~", n);
        else std::snprintf(out, sizeof out, "\x1b[%d;%d~", n, m);
        return std::string(out);
    };
    switch (key) {
    case VK_UP: return letter('A');
    case VK_DOWN: return letter('B');
    case VK_RIGHT: return letter('C');
    case VK_LEFT: return letter('D');
    case VK_HOME: return letter('H');
    case VK_END: return letter('F');
    case VK_CLEAR: return letter('E');
    case VK_INSERT: return tilde(2);
    case VK_DELETE: return tilde(3);
    case VK_PRIOR: return tilde(5);
    case VK_NEXT: return tilde(6);
    case VK_F1: return function('P');
    case VK_F2: return function('Q');
    case VK_F3: return function('R');
    case VK_F4: return function('S');
    case VK_F5: return tilde(15);
    case VK_F6: return tilde(17);
    case VK_F7: return tilde(18);
    case VK_F8: return tilde(19);
    case VK_F9: return tilde(20);
    case VK_F10: return tilde(21);
    case VK_F11: return tilde(23);
    case VK_F12: return tilde(24);
    default: return std::string();
    }
}

// The bytes one key event brings, repeats included.
void translateKey(const KEY_EVENT_RECORD &key, std::string &into) {
    if (!key.bKeyDown) return;
    const unsigned char c = static_cast<unsigned char>(key.uChar.AsciiChar);
    std::string bytes;
    if (key.wVirtualKeyCode == VK_TAB && (key.dwControlKeyState & SHIFT_PRESSED))
        bytes = "\x1b[Z";
    else if (c != 0)
        bytes.assign(1, static_cast<char>(c));
    else if (key.wVirtualKeyCode == '2' && (key.dwControlKeyState &
                                            (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)))
        bytes.assign(1, '\0'); // Ctrl-@
    else
        bytes = sequenceFor(key.wVirtualKeyCode, key.dwControlKeyState);
    for (WORD i = 0; i < (key.wRepeatCount > 0 ? key.wRepeatCount : 1); ++i) into += bytes;
}

class WindowsPlatform final : public Platform {
public:
    WindowsPlatform() {
        in_ = GetStdHandle(STD_INPUT_HANDLE);
        out_ = GetStdHandle(STD_OUTPUT_HANDLE);
        inputIsTerminal_ = isConsole(in_);
        outputIsTerminal_ = isConsole(out_);
        inputType_ = inputIsTerminal_ ? FILE_TYPE_CHAR : GetFileType(in_);
        QueryPerformanceFrequency(&frequency_);
        // Sleep(1) sleeps one timer tick: 1 ms only once the timer runs at 1 ms.
        timerRaised_ = timeBeginPeriod(1) == TIMERR_NOERROR;
        if (outputIsTerminal_) {
            g_consoleOut = out_;
            GetConsoleMode(out_, &g_foundOutMode);
            // Text as it is written: line ends and wrapping by the console, and no VT
            // interpretation of our own cursor sequences, which are carried out below.
            const DWORD mode = (g_foundOutMode | ENABLE_PROCESSED_OUTPUT |
                                ENABLE_WRAP_AT_EOL_OUTPUT);
            if (mode != g_foundOutMode && SetConsoleMode(out_, mode)) g_outModeChanged = 1;
            SetConsoleCtrlHandler(onControl, TRUE);
        }
    }

    bool inputIsTerminal() override { return inputIsTerminal_; }
    bool outputIsTerminal() override { return outputIsTerminal_; }
    bool echoOnOutput() override { return inputIsTerminal_ && outputIsTerminal_; }

    std::string codeset() override {
        // A UTF-8 console shows the UTF-8 degree sign; any other, the PC's 0xF8.
        if (outputIsTerminal_ && GetConsoleOutputCP() == CP_UTF8) return "UTF-8";
        return "CP437";
    }

    EditKeys editKeys() override {
        EditKeys keys;
        if (!inputIsTerminal_) return keys;
        keys.erase = '\b';        // Backspace
        keys.kill = 0x1B;         // Esc clears the line, as in the system's own prompts
        keys.wordErase = 0x17;    // Ctrl-W
        keys.endOfFile = 0x1A;    // Ctrl-Z
        return keys;
    }

    Input read(std::string &into, int timeoutMs) override {
        if (ended_) return Input::End;
        if (inputIsTerminal_) return readConsole(into, timeoutMs);
        if (inputType_ == FILE_TYPE_PIPE) return readPipe(into, timeoutMs);
        return readFile(into); // a file or a device: never waits long
    }

    void write(const char *bytes, std::size_t size) override {
        if (outputIsTerminal_) writeConsole(bytes, size);
        else writeText(out_, bytes, size);
    }

    void writeEcho(const char *bytes, std::size_t size) override {
        if (echo_ == INVALID_HANDLE_VALUE)
            echo_ = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
        if (echo_ == INVALID_HANDLE_VALUE) return;
        DWORD n = 0;
        WriteConsoleA(echo_, bytes, static_cast<DWORD>(size), &n, nullptr);
    }

    int columns() override {
        if (!outputIsTerminal_) return 0;
        // A resize is noticed within a tenth of a second; asking the console for every
        // piece of output would cost a call into the console host each time.
        const ULONGLONG now = GetTickCount64();
        if (columns_ == 0 || now - columnsAt_ >= 100) {
            CONSOLE_SCREEN_BUFFER_INFO info;
            columns_ = GetConsoleScreenBufferInfo(out_, &info) && info.dwSize.X > 0
                           ? info.dwSize.X : 80;
            columnsAt_ = now;
        }
        return columns_;
    }

    uint32_t clockMs() override {
        const LARGE_INTEGER now = counterNow();
        const uint64_t ticks = static_cast<uint64_t>(now.QuadPart - g_start.QuadPart);
        const uint64_t f = static_cast<uint64_t>(frequency_.QuadPart);
        return static_cast<uint32_t>(ticks / f * 1000 + ticks % f * 1000 / f);
    }

    void sleepMs(uint32_t ms) override { ::Sleep(ms); }

    void finish() override {
        giveBack();
        if (timerRaised_) {
            timeEndPeriod(1);
            timerRaised_ = false;
        }
    }

private:
    Input readConsole(std::string &into, int timeoutMs) {
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            DWORD wait = INFINITE;
            if (timeoutMs >= 0) {
                const ULONGLONG waited = GetTickCount64() - start;
                wait = waited >= static_cast<ULONGLONG>(timeoutMs)
                           ? 0 : static_cast<DWORD>(timeoutMs - waited);
            }
            const DWORD ready = WaitForSingleObject(in_, wait);
            if (ready == WAIT_TIMEOUT) return Input::Timeout;
            if (ready != WAIT_OBJECT_0) return end();
            INPUT_RECORD records[64];
            DWORD count = 0;
            if (!ReadConsoleInputA(in_, records, 64, &count)) return end();
            const std::size_t before = into.size();
            for (DWORD i = 0; i < count; ++i)
                if (records[i].EventType == KEY_EVENT) translateKey(records[i].Event.KeyEvent, into);
            // Mouse, focus and size events bring nothing: wait on for a key.
            if (into.size() > before) return Input::Data;
        }
    }

    Input readPipe(std::string &into, int timeoutMs) {
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            DWORD available = 0;
            if (!PeekNamedPipe(in_, nullptr, 0, nullptr, &available, nullptr)) {
                if (GetLastError() == ERROR_BROKEN_PIPE) return end();
                return readFile(into); // not a pipe that can be peeked at: read and wait
            }
            if (available > 0 || timeoutMs < 0) return readFile(into);
            if (GetTickCount64() - start >= static_cast<ULONGLONG>(timeoutMs))
                return Input::Timeout;
            ::Sleep(1);
        }
    }

    Input readFile(std::string &into) {
        char buffer[4096];
        DWORD n = 0;
        if (!ReadFile(in_, buffer, sizeof buffer, &n, nullptr) || n == 0) return end();
        into.append(buffer, n);
        return Input::Data;
    }

    Input end() {
        ended_ = true;
        return Input::End;
    }

    // A program's standard output in text mode: every line end is CR LF.
    static void writeText(HANDLE handle, const char *bytes, std::size_t size) {
        std::string text;
        text.reserve(size + size / 16);
        for (std::size_t i = 0; i < size; ++i) {
            if (bytes[i] == '\n') text.push_back('\r');
            text.push_back(bytes[i]);
        }
        writeAll(handle, text.data(), text.size());
    }

    static void writeAll(HANDLE handle, const char *bytes, std::size_t size) {
        while (size > 0) {
            DWORD n = 0;
            if (!WriteFile(handle, bytes, static_cast<DWORD>(size), &n, nullptr) || n == 0)
                return; // the reader is gone or the device failed
            bytes += n;
            size -= n;
        }
    }

    // Text goes to the console as it is; the shared code's cursor sequences (ESC [ n A,
    // ESC [ n B, ESC [ n G, ESC [ K, ESC [ J) are carried out on the screen buffer.
    void writeConsole(const char *bytes, std::size_t size) {
        std::size_t i = 0;
        while (i < size) {
            std::size_t text = i;
            while (text < size && bytes[text] != '\x1b') ++text;
            if (text > i) {
                DWORD n = 0;
                WriteConsoleA(out_, bytes + i, static_cast<DWORD>(text - i), &n, nullptr);
                i = text;
                continue;
            }
            // ESC [ digits final
            std::size_t j = i + 1;
            if (j >= size || bytes[j] != '[') {
                i = j;
                continue;
            }
            int n = 0;
            bool digits = false;
            for (++j; j < size && bytes[j] >= '0' && bytes[j] <= '9'; ++j) {
                if (n < 100000) n = n * 10 + (bytes[j] - '0');
                digits = true;
            }
            if (j >= size) break;
            control(bytes[j], digits ? n : -1);
            i = j + 1;
        }
    }

    void control(char final, int n) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (!GetConsoleScreenBufferInfo(out_, &info)) return;
        COORD at = info.dwCursorPosition;
        const int count = n < 1 ? 1 : n;
        switch (final) {
        case 'A':
            at.Y = static_cast<SHORT>(at.Y - count < 0 ? 0 : at.Y - count);
            SetConsoleCursorPosition(out_, at);
            break;
        case 'B':
            at.Y = static_cast<SHORT>(at.Y + count >= info.dwSize.Y ? info.dwSize.Y - 1
                                                                      : at.Y + count);
            SetConsoleCursorPosition(out_, at);
            break;
        case 'G':
            at.X = static_cast<SHORT>(count > info.dwSize.X ? info.dwSize.X - 1 : count - 1);
            SetConsoleCursorPosition(out_, at);
            break;
        case 'K':
            clear(at, static_cast<DWORD>(info.dwSize.X - at.X), info.wAttributes);
            break;
        case 'J':
            clear(at,
                  static_cast<DWORD>(info.dwSize.X - at.X) +
                      static_cast<DWORD>(info.dwSize.Y - at.Y - 1) * info.dwSize.X,
                  info.wAttributes);
            break;
        default:
            break; // nothing else is ever written
        }
    }

    // Blanks `length` cells from `at` on; the cursor stays.
    void clear(COORD at, DWORD length, WORD attributes) {
        DWORD n = 0;
        FillConsoleOutputCharacterA(out_, ' ', length, at, &n);
        FillConsoleOutputAttribute(out_, attributes, length, at, &n);
    }

    HANDLE in_ = INVALID_HANDLE_VALUE;
    HANDLE out_ = INVALID_HANDLE_VALUE;
    HANDLE echo_ = INVALID_HANDLE_VALUE;
    bool inputIsTerminal_ = false;
    bool outputIsTerminal_ = false;
    DWORD inputType_ = FILE_TYPE_UNKNOWN;
    bool ended_ = false;
    bool timerRaised_ = false;
    LARGE_INTEGER frequency_{};
    int columns_ = 0;
    ULONGLONG columnsAt_ = 0;
};

} // namespace

Platform &systemPlatform() {
    static WindowsPlatform *const platform = new WindowsPlatform;
    return *platform;
}

} // namespace term
