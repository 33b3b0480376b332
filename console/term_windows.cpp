// The terminal layer on Windows: the console's key events turned into the byte sequences the
// shared key decoder reads, the cursor sequences the shared code writes carried out on the
// console screen buffer, pipes and files read in order, and a 1 ms timer.
#include "term.h"
#include "term_platform.h"
#include "term_windows_keys.h"

#include <windows.h>

#include <mmsystem.h>

#include <string>

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
            const DWORD mode =
                (g_foundOutMode | ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
            if (mode != g_foundOutMode && SetConsoleMode(out_, mode)) g_outModeChanged = 1;
            SetConsoleCtrlHandler(onControl, TRUE);
        }
    }

    bool inputIsTerminal() override { return inputIsTerminal_; }
    bool outputIsTerminal() override { return outputIsTerminal_; }
    bool echoOnOutput() override { return inputIsTerminal_ && outputIsTerminal_; }
    // Alt with a character key brings no bytes at all (keyEventBytes): an ESC is the Esc key.
    bool escapeIsAltPrefix() override { return false; }

    std::string codeset() override {
        // A UTF-8 console shows the UTF-8 degree sign; any other, the PC's 0xF8.
        if (outputIsTerminal_ && GetConsoleOutputCP() == CP_UTF8) return "UTF-8";
        return "CP437";
    }

    EditKeys editKeys() override {
        EditKeys keys;
        if (!inputIsTerminal_) return keys;
        keys.erase = '\b'; // Backspace
        keys.kill = -1;    // Esc abandons the reply, as it does everywhere in the program
        keys.wordErase = 0x17; // Ctrl-W
        keys.endOfFile = 0x1A; // Ctrl-Z
        return keys;
    }

    Input read(std::string &into, int timeoutMs) override {
        if (!readAhead_.empty()) {
            into += readAhead_;
            readAhead_.clear();
            return Input::Data;
        }
        if (ended_) return Input::End;
        if (inputIsTerminal_) return readConsole(into, timeoutMs);
        if (inputType_ == FILE_TYPE_PIPE) return readPipe(into, timeoutMs);
        return readFile(into); // a file or a device: never waits long
    }

    void waitForInput(int timeoutMs) override {
        if (ended_ || !readAhead_.empty()) return;
        if (inputIsTerminal_) {
            // Signalled by any console event; read() skips those that are no key.
            WaitForSingleObject(in_, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        } else if (inputType_ == FILE_TYPE_PIPE) {
            // An anonymous pipe cannot be waited on: read ahead, blocking when there is no
            // limit; read() hands the bytes out first.
            readPipe(readAhead_, timeoutMs);
        }
        // A file or a device has its bytes (or its end) at once.
    }

    void write(const char *bytes, std::size_t size) override {
        if (outputIsTerminal_)
            writeConsole(bytes, size);
        else
            writeText(out_, bytes, size);
    }

    void writeEcho(const char *bytes, std::size_t size) override {
        if (echo_ == INVALID_HANDLE_VALUE)
            echo_ =
                CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
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
            const int width =
                GetConsoleScreenBufferInfo(out_, &info) && info.dwSize.X > 0 ? info.dwSize.X : 80;
            // The console reports no resize by itself unless asked to in its input mode;
            // a changed width is what the layer has to follow anyway.
            if (columns_ != 0 && width != columns_) resizeNoted_ = true;
            columns_ = width;
            columnsAt_ = now;
        }
        return columns_;
    }

    // There is no stop and resume on Windows; a resize is noticed within a tenth of a second.
    unsigned takeEvents() override {
        columns();
        const unsigned events = resizeNoted_ ? kResized : 0;
        resizeNoted_ = false;
        return events;
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
                           ? 0
                           : static_cast<DWORD>(timeoutMs - waited);
            }
            const DWORD ready = WaitForSingleObject(in_, wait);
            if (ready == WAIT_TIMEOUT) return Input::Timeout;
            if (ready != WAIT_OBJECT_0) return end();
            INPUT_RECORD records[64];
            DWORD count = 0;
            if (!ReadConsoleInputA(in_, records, 64, &count)) return end();
            const std::size_t before = into.size();
            for (DWORD i = 0; i < count; ++i)
                if (records[i].EventType == KEY_EVENT)
                    into += keyEventBytes(records[i].Event.KeyEvent);
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
            while (text < size && bytes[text] != '\x1b')
                ++text;
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
    std::string readAhead_; // what waitForInput() read from a pipe, not handed out yet
    bool timerRaised_ = false;
    LARGE_INTEGER frequency_{};
    int columns_ = 0;
    bool resizeNoted_ = false;
    ULONGLONG columnsAt_ = 0;
};

} // namespace

Platform &systemPlatform() {
    static WindowsPlatform *const platform = new WindowsPlatform;
    return *platform;
}

} // namespace term
