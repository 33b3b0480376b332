// Inside the terminal layer: the platform-neutral parts behind term.h, shared by every
// platform file and by the tests. Nothing here is for the console's own code.
#ifndef QVX3_CONSOLE_TERM_CORE_H
#define QVX3_CONSOLE_TERM_CORE_H

#include "term.h"
#include "term_platform.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace term {

// ---- Keys ----------------------------------------------------------------------------------

// A decoded key: 0 to 255 for a plain key, kExtended | code for a key that getch() delivers
// as 0 followed by `code`.
constexpr int kExtended = 0x100;

// How long a lone ESC waits for the rest of a sequence, and how long a sequence that has
// begun ("ESC [" or "ESC O") waits for its end before it is dropped.
constexpr uint32_t kLoneEscWaitMs = 25;
constexpr uint32_t kSequenceWaitMs = 250;

struct DecodedKey {
    enum Kind {
        Key,      // `key` is the next key; `used` bytes make it
        Nothing,  // `used` bytes are an unknown or broken sequence, to be dropped
        NeedMore, // the bytes may be the start of a sequence: wait for more
    };
    Kind kind;
    int key;
    std::size_t used;
};

// Decodes the first key of `bytes` (size at least 1). `final` says that no more bytes will
// come soon, so that an unfinished sequence must be settled now: a lone ESC is Esc, a
// sequence that has begun is dropped. ESC ESC '[' and ESC ESC 'O' are Alt with a sequence.
// ESC followed by anything else but '[' or 'O' depends on `altPrefix`: where Alt+key comes
// as ESC and the key's byte (a POSIX terminal), the two bytes are that Alt+key, which no
// command uses, and are dropped (Nothing); elsewhere (piped input, a console that reports
// Alt itself) it is Esc alone, the other byte being the next key. A second ESC is never
// taken as an Alt key's byte: ESC ESC is Esc, then the second ESC.
// Modifiers: the strongest wins, Alt (or Meta), then Ctrl, then Shift.
DecodedKey decodeKey(const unsigned char *bytes, std::size_t size, bool final, bool altPrefix);

// ---- Output --------------------------------------------------------------------------------

// The character set of the terminal, from its name: the degree sign and whether text is
// UTF-8 (continuation bytes take no column). Unknown names mean UTF-8.
struct Charset {
    const char *degreeSign;
    bool utf8;
};
Charset charsetFor(const std::string &codeset);

// Where the terminal's cursor is after the text written so far, as terminals move it:
// printable characters advance and wrap at `columns` (0: no wrap) with the wrap deferred
// until the next character, "\n" starts the next row, "\r" goes to column 1, "\t" to the
// next multiple of 8 (not past the last column), "\b" one column back; other control
// bytes do not move.
struct Cursor {
    int x = 1;
    int y = 1;
    bool wrapPending = false;

    void advance(const char *text, std::size_t size, int columns, bool utf8);
    void moveTo(int column, int row, int columns);
};

// ---- Replies -------------------------------------------------------------------------------

// One reply line of piped input, taken from the stream where keys stopped. Its bytes are
// decoded as keys are (decodeKey without Alt): the printable ones and blanks make the line,
// a tab counts as a blank, control and extended keys are dropped, and Esc abandons the
// reply there, the bytes after the Esc staying in the stream as keys.
struct PipedReply {
    enum Kind {
        Line,      // `text` is the line without the blanks around it; `used` ends with its "\n"
        Blank,     // the `used` bytes up to and with the next "\n" hold no reply: skip them
        Abandoned, // Esc: `used` bytes, up to and with the Esc, are consumed
        NeedMore,  // no line end yet: wait for more (`final` false)
        End,       // nothing left and `final`: the input has ended
    };
    Kind kind;
    std::string text;
    std::size_t used;
};
// `final` says that no more bytes will come: the last line needs no line end.
PipedReply takePipedReply(const unsigned char *bytes, std::size_t size, bool final);

// ---- The layer -----------------------------------------------------------------------------

// The state behind term.h for one platform: one instance for the process, or one per test.
class Session {
public:
    explicit Session(Platform &platform);
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    int print(const char *format, va_list args);
    void gotoxy(int x, int y);
    int wherex() const { return cursor_.x; }
    int wherey() const { return cursor_.y; }
    void clreol();
    void clreos();
    bool outputIsTerminal() const { return outputIsTerminal_; }
    unsigned events() { return outputIsTerminal_ ? platform_.takeEvents() : 0; }
    int kbhit();
    int getch();
    void waitKey();
    Reply readReply(char *buffer, std::size_t size); // as term::readReply
    void sleep(uint32_t ms);
    uint32_t clock() { return platform_.clockMs(); }
    const char *degreeSign() const { return charset_.degreeSign; }

    void flush();
    // Ends an unfinished last line on a terminal, flushes and gives the terminal back: the
    // end of the run.
    void finish();

private:
    // Bytes read but not used yet.
    struct Bytes {
        std::string data;
        std::size_t pos = 0;
        bool empty() const { return pos == data.size(); }
        std::size_t size() const { return data.size() - pos; }
        const char *begin() const { return data.data() + pos; }
        void take(std::size_t count);
    };
    enum class Line { Typed, Cancelled, Ended };
    // A character of a reply being typed: where it starts in the line, where its echo began.
    struct Mark {
        std::size_t byte;
        Cursor at;
    };

    void emit(const char *bytes, std::size_t size); // text: buffered and followed
    void noteRow(const char *bytes, std::size_t size);
    void control(const char *sequence);             // terminal control: buffered only
    Bytes &keySource() { return inputIsTerminal_ ? raw_ : text_; }
    bool takeKey(int &key, bool wait);
    bool peekKey(bool wait);
    Reply readLine(std::string &line);
    Line editLine(std::string &line, const std::string &prompt);
    void showReplyAgain(unsigned events, const std::string &prompt, const std::string &line,
                        std::vector<Mark> &marks);
    Reply pipedLine(std::string &line);
    void echo(const char *bytes, std::size_t size);
    void unecho(const Cursor &from, std::size_t columns);

    Platform &platform_;
    const bool inputIsTerminal_;
    const bool outputIsTerminal_;
    const bool echoOnOutput_;
    const bool altPrefix_; // ESC before a key's byte is Alt (decodeKey)
    const Charset charset_;

    std::string out_;
    Cursor cursor_;
    // The text of the cursor's row, when it is known: from a line end on, only text that
    // moves the cursor forward. A reply shows it again as its prompt.
    std::string row_;
    bool rowKnown_ = true;

    Bytes raw_;  // terminal: keys typed but not read yet
    Bytes text_; // input that is not a terminal: one stream for keys and replies
    bool ended_ = false;
    uint32_t lastArrival_ = 0; // clock of the last bytes read, for sequences
    int undecidedMs_ = -1;     // how long peekKey() still waits for the rest of a sequence
    int peeked_ = -1;          // a key decoded by kbhit(), its bytes still in keySource()
    std::size_t peekedUsed_ = 0;
    int second_ = -1; // the second code of an extended key after getch() gave the 0
};

} // namespace term

#endif // QVX3_CONSOLE_TERM_CORE_H
