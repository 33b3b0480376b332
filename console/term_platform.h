// The seam between the terminal layer's shared code (term.cpp) and the operating system.
// term.cpp holds everything that does not depend on the system: the output buffer and cursor
// tracking, the key decoder, the reply line editor and the reply parsing. A platform file
// (term_posix.cpp, term_windows.cpp), chosen by CMake, implements this class and defines
// systemPlatform(); nothing else crosses. Tests drive term.cpp through a scripted Platform.
//
// Input reaches the shared code as bytes. On a terminal, keys other than plain characters
// are delivered as the escape sequences a VT terminal sends for them (a console that reports
// key events translates them, or is switched to VT input), Enter as "\r". Output leaves as
// bytes; cursor movement uses the ECMA-48 sequences CUU, CUD, CHA, EL and ED, which a
// platform without VT output translates or switches on.
#ifndef QVX3_CONSOLE_TERM_PLATFORM_H
#define QVX3_CONSOLE_TERM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace term {

class Platform {
public:
    virtual ~Platform() = default;

    // Facts fixed for the run.
    virtual bool inputIsTerminal() = 0;
    virtual bool outputIsTerminal() = 0;
    // True when replies are echoed through standard output (input and output are one
    // terminal); otherwise the echo goes to the input terminal through writeEcho().
    virtual bool echoOnOutput() = 0;
    // True when the input terminal sends Alt+key as ESC followed by the key's byte (a POSIX
    // terminal); false for input that is not a terminal and for a console that reports Alt
    // itself.
    virtual bool escapeIsAltPrefix() = 0;
    // Name of the character set the terminal shows ("UTF-8", "ISO-8859-1", "CP437"); empty
    // when unknown.
    virtual std::string codeset() = 0;

    // The line-editing keys of the input terminal; -1 for a key that is switched off.
    struct EditKeys {
        int erase = 0x7F;
        int kill = 0x15;
        int wordErase = 0x17;
        int endOfFile = 0x04;
    };
    virtual EditKeys editKeys() = 0;

    // Appends to `into` what standard input has, waiting at most timeoutMs for something
    // (0: only what is there now; negative: as long as it takes). Data when bytes were
    // appended, Timeout when none came in time, End when the input has ended (and will not
    // come back). On a terminal, puts it in key mode first: no echo, no line buffering,
    // no flow control, signals on.
    enum class Input { Data, Timeout, End };
    virtual Input read(std::string &into, int timeoutMs) = 0;

    // Waits, without using the processor, until read() would find something (bytes, or the
    // end of the input), a signal that the layer handles has arrived (a resize, a resumption
    // after a stop), or timeoutMs has passed (negative: no limit). It may return early for
    // other reasons; callers look again. Reads nothing that read() does not then return first.
    virtual void waitForInput(int timeoutMs) = 0;

    // Writes all of `bytes` to standard output, or as much as the output takes.
    virtual void write(const char *bytes, std::size_t size) = 0;
    // Writes the echo of a reply to the input terminal (used when echoOnOutput() is false).
    virtual void writeEcho(const char *bytes, std::size_t size) = 0;
    // The width of the output terminal in columns, following resizes; 0 when standard
    // output is not a terminal. Called for every piece of output: must be cheap.
    virtual int columns() = 0;

    // The events of term.h (kResized, kResumed) noted since the last call, then cleared.
    // Called once per monitor cycle: must be cheap.
    virtual unsigned takeEvents() = 0;

    // Milliseconds since the program started, wrapping around at 2^32.
    virtual uint32_t clockMs() = 0;
    virtual void sleepMs(uint32_t ms) = 0;

    // Gives the terminal back as it was found. Called once at exit, after the last output.
    virtual void finish() = 0;
};

// The platform of this build, one instance for the life of the process.
Platform &systemPlatform();

} // namespace term

#endif // QVX3_CONSOLE_TERM_PLATFORM_H
