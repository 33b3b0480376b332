// The terminal layer's shared code: key decoding, cursor following, piped reply lines, and
// the whole of it driven through a scripted platform with its own clock.
#include "term_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace term {
namespace {

constexpr int X(int code) {
    return kExtended | code;
}

// ---- Key decoding --------------------------------------------------------------------------

// Decodes everything in `bytes` as one read that nothing follows; `altPrefix` as a POSIX
// terminal has it.
std::vector<int> decodeAll(const std::string &bytes, bool altPrefix) {
    std::vector<int> keys;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto *b = reinterpret_cast<const unsigned char *>(bytes.data()) + at;
        const DecodedKey d = decodeKey(b, bytes.size() - at, true, altPrefix);
        EXPECT_NE(d.kind, DecodedKey::NeedMore) << "final decode must settle";
        if (d.kind == DecodedKey::NeedMore || d.used == 0) break;
        if (d.kind == DecodedKey::Key) keys.push_back(d.key);
        at += d.used;
    }
    return keys;
}

struct KeyCase {
    const char *what;
    std::string bytes;
    std::vector<int> keys;
};

const KeyCase kKeyCases[] = {
    {"plain letter", "a", {'a'}},
    {"lone Esc", "\x1b", {kEsc}},
    {"two Escs", "\x1b\x1b", {kEsc, kEsc}},
    {"Ctrl-@ (NUL)", std::string(1, '\0'), {X(3)}},
    {"Up", "\x1b[A", {X(72)}},
    {"Down", "\x1b[B", {X(80)}},
    {"Right", "\x1b[C", {X(77)}},
    {"Left", "\x1b[D", {X(75)}},
    {"Up, application mode", "\x1bOA", {X(72)}},
    {"Left, application mode", "\x1bOD", {X(75)}},
    {"Home", "\x1b[H", {X(71)}},
    {"End", "\x1b[F", {X(79)}},
    {"Home, application mode", "\x1bOH", {X(71)}},
    {"Home as 1~", "\x1b[1~", {X(71)}},
    {"End as 4~", "\x1b[4~", {X(79)}},
    {"Home as 7~ (rxvt)", "\x1b[7~", {X(71)}},
    {"End as 8~ (rxvt)", "\x1b[8~", {X(79)}},
    {"Insert", "\x1b[2~", {X(82)}},
    {"Delete", "\x1b[3~", {X(83)}},
    {"PgUp", "\x1b[5~", {X(73)}},
    {"PgDn", "\x1b[6~", {X(81)}},
    {"keypad 5", "\x1b[E", {X(76)}},
    {"F1 (SS3)", "\x1bOP", {X(59)}},
    {"F4 (SS3)", "\x1bOS", {X(62)}},
    {"F1 (11~)", "\x1b[11~", {X(59)}},
    {"F1 (Linux console)", "\x1b[[A", {X(59)}},
    {"F5 (Linux console)", "\x1b[[E", {X(63)}},
    {"F5", "\x1b[15~", {X(63)}},
    {"F6", "\x1b[17~", {X(64)}},
    {"F10", "\x1b[21~", {X(68)}},
    {"F11", "\x1b[23~", {X(133)}},
    {"F12", "\x1b[24~", {X(134)}},
    {"Shift-F1", "\x1b[1;2P", {X(84)}},
    {"Shift-F1 (old SS3)", "\x1bO2P", {X(84)}},
    {"Shift-F5", "\x1b[15;2~", {X(88)}},
    {"Shift-F12", "\x1b[24;2~", {X(136)}},
    {"Shift-Up", "\x1b[1;2A", {X(72)}},
    {"Shift-Up (rxvt)", "\x1b[a", {X(72)}},
    {"Shift-Delete (rxvt)", "\x1b[3$", {X(83)}},
    {"Shift-Tab", "\x1b[Z", {X(15)}},
    {"Ctrl-Up", "\x1b[1;5A", {X(141)}},
    {"Ctrl-Down", "\x1b[1;5B", {X(145)}},
    {"Ctrl-Right", "\x1b[1;5C", {X(116)}},
    {"Ctrl-Left", "\x1b[1;5D", {X(115)}},
    {"Ctrl-Home", "\x1b[1;5H", {X(119)}},
    {"Ctrl-End", "\x1b[1;5F", {X(117)}},
    {"Ctrl-PgUp", "\x1b[5;5~", {X(132)}},
    {"Ctrl-PgDn", "\x1b[6;5~", {X(118)}},
    {"Ctrl-Insert", "\x1b[2;5~", {X(146)}},
    {"Ctrl-Delete", "\x1b[3;5~", {X(147)}},
    {"Ctrl-F1", "\x1b[1;5P", {X(94)}},
    {"Ctrl-F10", "\x1b[21;5~", {X(103)}},
    {"Ctrl-F12", "\x1b[24;5~", {X(138)}},
    {"Ctrl-Up (rxvt)", "\x1bOa", {X(141)}},
    {"Ctrl-PgUp (rxvt)", "\x1b[5^", {X(132)}},
    {"Alt-Up", "\x1b[1;3A", {X(152)}},
    {"Alt-Left", "\x1b[1;3D", {X(155)}},
    {"Alt-Delete", "\x1b[3;3~", {X(163)}},
    {"Alt-F1", "\x1b[1;3P", {X(104)}},
    {"Alt-F12", "\x1b[24;3~", {X(140)}},
    {"Alt-Up (rxvt: ESC before the sequence)", "\x1b\x1b[A", {X(152)}},
    {"Ctrl-Alt-Up counts as Alt", "\x1b[1;7A", {X(152)}},
    {"Meta-Up counts as Alt", "\x1b[1;9A", {X(152)}},
    {"keypad 0, application mode", "\x1bOp", {'0'}},
    {"keypad Enter, application mode", "\x1bOM", {'\r'}},
    {"keys arriving together", "\x1b[A\x1bOPx\x1b[24~\x1b", {X(72), X(59), 'x', X(134), kEsc}},
    {"focus report is skipped", "\x1b[Iq", {'q'}},
    {"unknown number is skipped", "\x1b[99~q", {'q'}},
    {"device attributes reply is skipped", "\x1b[?1;2cq", {'q'}},
    {"paste bracket is skipped", "\x1b[200~ab\x1b[201~", {'a', 'b'}},
    {"three parameters are skipped", "\x1b[1;2;3Aq", {'q'}},
    {"unknown SS3 is skipped", "\x1bOzq", {'q'}},
    {"sequence cut by a new one", "\x1b[1\x1b[A", {X(72)}},
    {"sequence cut by a control key", "\x1b[\x03", {3}},
    {"unfinished sequence at the end", "\x1b[1;5", {}},
    {"overlong sequence is dropped", "\x1b[" + std::string(40, '1') + "~q", {'q'}},
    {"Esc before an unfinished Alt sequence", "\x1b\x1b[", {kEsc}},
};

// The same with and without Alt as an ESC prefix: none of these is ESC before a plain key.
TEST(DecodeKey, MapsSequencesToTheSecondCodesOfTheWindowsConsole) {
    for (const KeyCase &c : kKeyCases) {
        EXPECT_EQ(decodeAll(c.bytes, false), c.keys) << c.what;
        EXPECT_EQ(decodeAll(c.bytes, true), c.keys) << c.what << " (Alt prefix)";
    }
}

// ESC before a plain key: Alt with that key on a POSIX terminal (dropped, so that Alt+v
// does not end the run and Alt+q does not leave a monitor and scan), Esc and then the key
// in piped input.
TEST(DecodeKey, EscBeforeAKeyIsAltOnATerminalOnly) {
    const struct {
        const char *what;
        std::string bytes;
        std::vector<int> piped;
        std::vector<int> terminal;
    } cases[] = {
        {"Alt+v", "\x1bv", {kEsc, 'v'}, {}},
        {"Alt+q then q", "\x1bqq", {kEsc, 'q', 'q'}, {'q'}},
        {"Alt+Enter", "\x1b\r", {kEsc, '\r'}, {}},
        {"Alt+Backspace", "\x1b\x7f", {kEsc, 0x7F}, {}},
        {"Alt+digit at a prompt", "1\x1b" "52\r", {'1', kEsc, '5', '2', '\r'}, {'1', '2', '\r'}},
        {"Alt+Ctrl-@", std::string("\x1b\0", 2), {kEsc, X(3)}, {}},
        {"Alt with a byte above 127", "\x1b\xe9", {kEsc, 0xE9}, {}},
        {"Esc, Esc, Alt+x", "\x1b\x1b\x1bx", {kEsc, kEsc, kEsc, 'x'}, {kEsc, kEsc}},
        {"Esc then Alt+Up", "\x1b\x1b\x1b[A", {kEsc, X(152)}, {kEsc, X(152)}},
        {"Alt+[ is an unfinished sequence", "\x1b[", {}, {}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(decodeAll(c.bytes, false), c.piped) << c.what;
        EXPECT_EQ(decodeAll(c.bytes, true), c.terminal) << c.what << " (Alt prefix)";
    }
}

// A sequence may arrive over several reads: until its last byte, no prefix may be taken
// for a key (least of all for Esc).
TEST(DecodeKey, WaitsForTheRestOfEverySplitSequence) {
    for (const KeyCase &c : kKeyCases) {
        const auto *b = reinterpret_cast<const unsigned char *>(c.bytes.data());
        const DecodedKey whole = decodeKey(b, c.bytes.size(), false, true);
        if (c.bytes[0] != '\x1b' || c.keys.size() != 1 || c.keys[0] == kEsc ||
            whole.used != c.bytes.size())
            continue; // not one sequence
        for (std::size_t n = 1; n < c.bytes.size(); ++n)
            EXPECT_EQ(decodeKey(b, n, false, true).kind, DecodedKey::NeedMore)
                << c.what << " cut at " << n;
        EXPECT_EQ(whole.kind, DecodedKey::Key) << c.what;
        EXPECT_EQ(whole.key, c.keys[0]) << c.what;
    }
}

TEST(DecodeKey, EscFollowedByAnotherKeyNeverWaits) {
    const auto *b = reinterpret_cast<const unsigned char *>("\x1bq");
    const DecodedKey piped = decodeKey(b, 2, false, false);
    EXPECT_EQ(piped.kind, DecodedKey::Key);
    EXPECT_EQ(piped.key, kEsc);
    EXPECT_EQ(piped.used, 1u);
    const DecodedKey alt = decodeKey(b, 2, false, true);
    EXPECT_EQ(alt.kind, DecodedKey::Nothing);
    EXPECT_EQ(alt.used, 2u);
}

// ---- Character sets ------------------------------------------------------------------------

TEST(Charset, DegreeSignFollowsTheCodeset) {
    struct Case {
        const char *codeset;
        const char *sign;
        bool utf8;
    } cases[] = {
        {"UTF-8", "\xC2\xB0", true},
        {"utf8", "\xC2\xB0", true},
        {"ISO-8859-1", "\xB0", false},
        {"ISO8859-15", "\xB0", false},
        {"iso_8859_2", "\xB0", false},
        {"latin1", "\xB0", false},
        {"CP1252", "\xB0", false},
        {"WINDOWS-1250", "\xB0", false},
        {"CP437", "\xF8", false},
        {"IBM850", "\xF8", false},
        {"ANSI_X3.4-1968", "\xC2\xB0", true}, // the C locale: terminals are UTF-8 today
        {"", "\xC2\xB0", true},
        {"KOI8-R", "\xC2\xB0", true},
        {"ISO-8859-5", "\xC2\xB0", true}, // Cyrillic: no degree sign of its own
    };
    for (const Case &c : cases) {
        const Charset set = charsetFor(c.codeset);
        EXPECT_STREQ(set.degreeSign, c.sign) << c.codeset;
        EXPECT_EQ(set.utf8, c.utf8) << c.codeset;
    }
}

// ---- Cursor --------------------------------------------------------------------------------

TEST(Cursor, FollowsTextAsATerminalMovesIt) {
    struct Case {
        const char *what;
        std::string text;
        int columns;
        bool utf8;
        int x, y;
        bool wrapPending;
    } cases[] = {
        {"plain text", "abc", 80, true, 4, 1, false},
        {"line end", "abc\n", 80, true, 1, 2, false},
        {"carriage return", "abc\rX", 80, true, 2, 1, false},
        {"tab after text", "ab\tc", 80, true, 10, 1, false},
        {"tab on a tab stop", "12345678\t", 80, true, 17, 1, false},
        {"two tabs", "\t\t", 80, true, 17, 1, false},
        {"tab stops at the last column", "123456789012345678\t", 20, true, 20, 1, false},
        {"backspace", "abc\b", 80, true, 3, 1, false},
        {"bell does not move", "ab\a", 80, true, 3, 1, false},
        {"last column: wrap deferred", std::string(20, 'x'), 20, true, 20, 1, true},
        {"wrap on the next character", std::string(21, 'x'), 20, true, 2, 2, false},
        {"full row then line end is one row", std::string(20, 'x') + "\n", 20, true, 1, 2, false},
        {"two rows and a half", std::string(50, 'x'), 20, true, 11, 3, false},
        {"no wrap without a width", std::string(100, 'x'), 0, true, 101, 1, false},
        {"UTF-8 degree sign is one column",
         "+21.50\xC2\xB0"
         "C",
         80, true, 9, 1, false},
        {"Latin-1 degree sign is one column",
         "+21.50\xB0"
         "C",
         80, false, 9, 1, false},
        {"UTF-8 bytes on a single-byte terminal", "\xC2\xB0", 80, false, 3, 1, false},
    };
    for (const Case &c : cases) {
        Cursor cursor;
        cursor.advance(c.text.data(), c.text.size(), c.columns, c.utf8);
        EXPECT_EQ(cursor.x, c.x) << c.what;
        EXPECT_EQ(cursor.y, c.y) << c.what;
        EXPECT_EQ(cursor.wrapPending, c.wrapPending) << c.what;
    }
}

// ---- Piped replies -------------------------------------------------------------------------

// Takes replies from `stream` as the reader does, each from where the last one stopped,
// until the input is used up: "[text]" for a line, "Esc" for an abandoned reply, "end".
// The bytes left as keys after an abandoned reply are shown as "keys:<bytes>" and skipped
// up to the next line end, as a key reader would take them.
std::vector<std::string> pipedReplies(const std::string &stream) {
    std::vector<std::string> out;
    std::size_t at = 0;
    for (int guard = 0; guard < 100; ++guard) {
        const auto *b = reinterpret_cast<const unsigned char *>(stream.data()) + at;
        const PipedReply r = takePipedReply(b, stream.size() - at, true);
        EXPECT_NE(r.kind, PipedReply::NeedMore);
        if (r.kind == PipedReply::End || r.kind == PipedReply::NeedMore) {
            out.push_back("end");
            return out;
        }
        at += r.used;
        if (r.kind == PipedReply::Line) out.push_back("[" + r.text + "]");
        if (r.kind == PipedReply::Abandoned) {
            out.push_back("Esc");
            const std::size_t lineEnd = std::min(stream.find('\n', at), stream.size());
            out.push_back("keys:" + stream.substr(at, lineEnd - at));
            at = std::min(lineEnd + 1, stream.size());
        }
    }
    ADD_FAILURE() << "no end";
    return out;
}

TEST(PipedReply, IsOneWholeLineAndEscAbandonsIt) {
    const struct {
        const char *what;
        std::string stream;
        std::vector<std::string> replies;
    } cases[] = {
        {"lines, blanks around them removed", "0\n  14h \t\n7 9\n",
         {"[0]", "[14h]", "[7 9]", "end"}},
        {"blank lines are skipped", "\n \t\r\n\n5\n", {"[5]", "end"}},
        {"the last line needs no line end", "1\n2", {"[1]", "[2]", "end"}},
        {"CR LF line ends", "2.5\r\n3\r\n", {"[2.5]", "[3]", "end"}},
        {"Esc alone", "\x1b\n4\n", {"Esc", "keys:", "[4]", "end"}},
        {"Esc after typing, keys after it", "12\x1bv\n4\n", {"Esc", "keys:v", "[4]", "end"}},
        {"Esc on a line after a blank one", " \n\x1b", {"Esc", "keys:", "end"}},
        {"cursor and function keys are dropped", "1\x1b[D2\x1bOP\n", {"[12]", "end"}},
        {"control bytes are dropped, blanks kept", std::string("1\x01\0 2\x7f\n", 7),
         {"[1 2]", "end"}},
        {"an unfinished sequence ends at the line end", "\x1b[1\n7\n", {"[7]", "end"}},
        {"bytes above 127 are kept", "\xc2\xb5\n", {"[\xc2\xb5]", "end"}},
        {"nothing", "", {"end"}},
        {"only blanks", "  \n\n", {"end"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(pipedReplies(c.stream), c.replies) << c.what;
}

TEST(PipedReply, WaitsForTheLineEndUnlessTheInputHasEnded) {
    const auto *b = reinterpret_cast<const unsigned char *>("  12");
    EXPECT_EQ(takePipedReply(b, 4, false).kind, PipedReply::NeedMore);
    const PipedReply last = takePipedReply(b, 4, true);
    EXPECT_EQ(last.kind, PipedReply::Line);
    EXPECT_EQ(last.text, "12");
    EXPECT_EQ(last.used, 4u);
    // The line is taken whole or not at all, an Esc in it too: nothing is decided on a part.
    const auto *e = reinterpret_cast<const unsigned char *>("1\x1b");
    EXPECT_EQ(takePipedReply(e, 2, false).kind, PipedReply::NeedMore);
}

// ---- The layer through a scripted platform -------------------------------------------------

// Input arrives in chunks at given clock times; time passes only when the layer waits or
// sleeps, so timing is exact and tests never sleep.
class ScriptedPlatform : public Platform {
public:
    struct Chunk {
        uint32_t at;
        std::string bytes;
        unsigned events = 0; // noted just before the bytes arrive
        int width = 0;       // the window's new width, 0: unchanged
    };

    bool inputTerminal = true;
    bool outputTerminal = true;
    bool echoShared = true;
    bool altPrefix = true; // a POSIX terminal; false: the Windows console
    std::string codesetName = "UTF-8";
    int width = 80;
    std::deque<Chunk> input;
    bool endAfterInput = false;

    uint32_t now = 0;
    std::string written;
    int writes = 0;
    std::string echoed;
    bool finished = false;
    unsigned events = 0; // noted as the system would, taken by the layer

    void type(const std::string &bytes, uint32_t at = 0) { input.push_back({at, bytes}); }
    // A resize or resume while the layer waits for keys, then `bytes` typed.
    void resize(int columns, const std::string &bytes, uint32_t at) {
        input.push_back({at, bytes, kResized, columns});
    }
    void resume(const std::string &bytes, uint32_t at) {
        input.push_back({at, bytes, kResumed, 0});
    }

    bool inputIsTerminal() override { return inputTerminal; }
    bool outputIsTerminal() override { return outputTerminal; }
    bool echoOnOutput() override { return echoShared; }
    bool escapeIsAltPrefix() override { return altPrefix; }
    std::string codeset() override { return codesetName; }
    EditKeys editKeys() override { return {}; }

    Input read(std::string &into, int timeoutMs) override {
        if (!input.empty() && input.front().at <= now) return deliver(into);
        if (input.empty()) {
            if (endAfterInput) return Input::End;
            if (timeoutMs < 0) {
                ADD_FAILURE() << "the layer would wait for input that never comes";
                return Input::End;
            }
            now += static_cast<uint32_t>(timeoutMs);
            return Input::Timeout;
        }
        const uint32_t next = input.front().at;
        if (timeoutMs >= 0 && next > now + static_cast<uint32_t>(timeoutMs)) {
            now += static_cast<uint32_t>(timeoutMs);
            return Input::Timeout;
        }
        now = next;
        return deliver(into);
    }

    // The waits asked for, and how they ended: time moves on to the next chunk, or by the
    // timeout when none comes sooner.
    std::vector<int> waits;
    void waitForInput(int timeoutMs) override {
        waits.push_back(timeoutMs);
        if (!input.empty() && input.front().at <= now) return;
        if (input.empty()) {
            if (endAfterInput) return;
            if (timeoutMs < 0) {
                ADD_FAILURE() << "the layer would wait for input that never comes";
                return;
            }
            now += static_cast<uint32_t>(timeoutMs);
            return;
        }
        const uint32_t next = input.front().at;
        now = timeoutMs >= 0 && next > now + static_cast<uint32_t>(timeoutMs)
                  ? now + static_cast<uint32_t>(timeoutMs)
                  : next;
    }

    void write(const char *bytes, std::size_t size) override {
        written.append(bytes, size);
        ++writes;
    }
    void writeEcho(const char *bytes, std::size_t size) override { echoed.append(bytes, size); }
    int columns() override { return outputTerminal ? width : 0; }
    unsigned takeEvents() override {
        const unsigned taken = events;
        events = 0;
        return taken;
    }
    uint32_t clockMs() override { return now; }
    void sleepMs(uint32_t ms) override { now += ms; }
    void finish() override { finished = true; }

private:
    Input deliver(std::string &into) {
        events |= input.front().events;
        if (input.front().width > 0) width = input.front().width;
        into += input.front().bytes;
        input.pop_front();
        return Input::Data;
    }
};

int print(Session &s, const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int n = s.print(format, args);
    va_end(args);
    return n;
}

class Layer : public ::testing::Test {
protected:
    ScriptedPlatform platform;
    Session &session() {
        if (!session_) session_.reset(new Session(platform));
        return *session_;
    }
    // The reply readReply() gives into a buffer of `size` bytes: "[text]", "too long" or
    // "abandoned".
    std::string reply(std::size_t size = 64) {
        std::vector<char> buffer(size, 'z');
        switch (session().readReply(buffer.data(), size)) {
        case Reply::Line:
            return "[" + std::string(buffer.data()) + "]";
        case Reply::TooLong:
            EXPECT_STREQ(buffer.data(), "");
            return "too long";
        case Reply::Abandoned:
        default:
            EXPECT_STREQ(buffer.data(), "");
            return "abandoned";
        }
    }
    // Which keys getch() gives, 0-prefixed pairs included, until none is waiting.
    std::vector<int> drainKeys() {
        std::vector<int> keys;
        while (session().kbhit()) {
            const int key = session().getch();
            keys.push_back(key);
            if (key == kEndOfInput) break;
        }
        return keys;
    }

private:
    std::unique_ptr<Session> session_;
};

TEST_F(Layer, LoneEscArrivesAfterTheShortWaitOnly) {
    platform.type("\x1b");
    EXPECT_EQ(session().getch(), kEsc);
    EXPECT_EQ(platform.now, kLoneEscWaitMs);
}

// On a terminal a key's byte within the lone-Esc wait makes Alt with that key, which brings
// nothing, also to a monitor's polling; after the wait the key is a key of its own.
TEST_F(Layer, AltKeyBringsNothingOnATerminal) {
    platform.type("\x1b", 0);
    platform.type("v", kLoneEscWaitMs - 1);
    platform.type("\x1b", 100);
    platform.type("q", 100 + kLoneEscWaitMs + 5);
    EXPECT_EQ(session().getch(), kEsc);
    EXPECT_EQ(platform.now, 100 + kLoneEscWaitMs) << "the second Esc, after its wait";
    EXPECT_EQ(session().getch(), 'q');

    platform.type("\x1bq", platform.now);
    EXPECT_EQ(session().kbhit(), 0);
    EXPECT_TRUE(platform.input.empty());

    // Where the console reports Alt itself, ESC is always the Esc key.
    ScriptedPlatform console;
    console.altPrefix = false;
    console.type("\x1bq");
    Session s(console);
    EXPECT_EQ(s.getch(), kEsc);
    EXPECT_EQ(s.getch(), 'q');
    EXPECT_EQ(console.now, 0u) << "Esc with a key behind it must not wait";
}

TEST_F(Layer, KbhitNeverBlocksOnAnUnsettledEsc) {
    platform.type("\x1b");
    EXPECT_EQ(session().kbhit(), 0);
    EXPECT_EQ(platform.now, 0u);
    session().sleep(kLoneEscWaitMs);
    EXPECT_EQ(session().kbhit(), 1);
    EXPECT_EQ(session().getch(), kEsc);
}

// The idle loop: `while (!kbhit()) waitKey();` then getch().
TEST_F(Layer, WaitKeyBlocksUntilAKeyAndWakesForAnUnsettledEsc) {
    // Nothing typed: one wait without a limit, ended by the key.
    platform.type("v", 5000);
    session().waitKey();
    EXPECT_EQ(platform.waits, (std::vector<int>{-1}));
    EXPECT_EQ(session().kbhit(), 1);
    EXPECT_EQ(session().getch(), 'v');

    // A key already waiting: no wait at all.
    platform.waits.clear();
    platform.type("w", platform.now);
    session().waitKey();
    EXPECT_TRUE(platform.waits.empty());
    EXPECT_EQ(session().getch(), 'w');

    // A lone Esc: the wait ends when the Esc becomes a key, without further input.
    platform.waits.clear();
    const uint32_t typed = platform.now + 100;
    platform.type("\x1b", typed);
    while (!session().kbhit())
        session().waitKey();
    EXPECT_EQ(session().getch(), kEsc);
    EXPECT_EQ(platform.now, typed + kLoneEscWaitMs) << "Esc must act as soon as it is settled";
    EXPECT_EQ(platform.waits, (std::vector<int>{-1, static_cast<int>(kLoneEscWaitMs)}));
}

TEST_F(Layer, SequenceSplitAcrossReadsIsOneKey) {
    platform.type("\x1b[1;", 0);
    platform.type("5A", 100); // a slow link: well past the lone-Esc wait
    EXPECT_EQ(session().getch(), 0);
    EXPECT_EQ(session().getch(), 141);
}

TEST_F(Layer, UnfinishedSequenceIsDroppedWithoutEsc) {
    platform.type("\x1b[1;", 0);
    platform.type("x", 1000);
    EXPECT_EQ(session().getch(), 'x');
}

TEST_F(Layer, ExtendedKeyComesAsZeroThenItsCode) {
    platform.type("\x1b[A\x1b[24~");
    EXPECT_EQ(drainKeys(), (std::vector<int>{0, 72, 0, 134}));
}

TEST_F(Layer, EndOfInputIsReportedOnEveryCall) {
    platform.inputTerminal = false;
    platform.type("k");
    platform.endAfterInput = true;
    EXPECT_EQ(session().getch(), 'k');
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(session().kbhit(), 1);
        EXPECT_EQ(session().getch(), kEndOfInput);
    }
    EXPECT_EQ(reply(), "abandoned");
}

TEST_F(Layer, PipedInputIsOneStreamForKeysAndReplies) {
    platform.inputTerminal = false;
    platform.outputTerminal = false;
    platform.type("T7Bh\nx\x1b[A\x1bvH\n 2 \nA\x1bt");
    platform.endAfterInput = true;
    EXPECT_EQ(session().getch(), 'T');
    EXPECT_EQ(reply(), "[7Bh]");
    // No Alt key in a stream: ESC before a key is Esc, then the key.
    for (int key : std::vector<int>{'x', 0, 72, kEsc, 'v', 'H'})
        EXPECT_EQ(session().getch(), key);
    EXPECT_EQ(reply(), "[2]") << "a blank rest of the key's line: the next line";
    EXPECT_EQ(session().getch(), 'A');
    EXPECT_EQ(reply(), "abandoned");
    EXPECT_EQ(drainKeys(), (std::vector<int>{'t', kEndOfInput}));
}

TEST_F(Layer, PipedReplyReadsOnUntilTheLineIsWhole) {
    platform.inputTerminal = false;
    platform.type("  1", 0);
    platform.type("23", 5);
    platform.type("\n4", 9);
    platform.endAfterInput = true;
    EXPECT_EQ(reply(), "[123]");
    EXPECT_EQ(reply(), "[4]") << "the last line needs no line end";
}

TEST_F(Layer, PipedReplyAfterKbhitStillSeesThePeekedByte) {
    platform.inputTerminal = false;
    platform.type("5\nk");
    platform.endAfterInput = true;
    ASSERT_EQ(session().kbhit(), 1);
    EXPECT_EQ(reply(), "[5]");
    EXPECT_EQ(session().getch(), 'k') << "the reply took the byte kbhit() saw";
}

// On a terminal a reply is the whole line: nothing of it reaches a later reply or getch().
TEST_F(Layer, TerminalReplyTakesTheWholeLine) {
    platform.type("Y 7Bh \r", 0);
    platform.type("x", 10);
    platform.type("5\r", 20);
    EXPECT_EQ(reply(), "[Y 7Bh]");
    EXPECT_EQ(session().getch(), 'x');
    EXPECT_EQ(reply(), "[5]");
}

TEST_F(Layer, ReplyUsesKeysTypedAheadAndShowsThem) {
    platform.type("k42\r9");
    EXPECT_EQ(session().getch(), 'k');
    EXPECT_EQ(reply(), "[42]");
    EXPECT_EQ(platform.written, "42\n");
    EXPECT_EQ(session().getch(), '9') << "a key typed after Enter stays a key";
}

TEST_F(Layer, BlankLinesWaitForTheNextLine) {
    platform.type("\r", 0);
    platform.type("   \r", 10);
    platform.type(" -3\r", 20);
    EXPECT_EQ(reply(), "[-3]");
    EXPECT_EQ(platform.now, 20u);
}

// A line that does not fit the buffer is refused whole, never cut.
TEST_F(Layer, LineLongerThanTheBufferIsRefusedWhole) {
    platform.type("0000000025x\r", 0);
    platform.type(" 0000000025 \r", 10);
    EXPECT_EQ(reply(11), "too long");
    EXPECT_EQ(reply(11), "[0000000025]") << "the blanks around it do not count";
}

TEST_F(Layer, LineEditingKeysChangeTheReplyAndTheScreen) {
    struct Case {
        const char *what;
        std::string typed;
        const char *line;
    } cases[] = {
        {"backspace", "12\x7f" "3\r", "13"},
        {"Ctrl-H", "12\b3\r", "13"},
        {"backspace on an empty line", "\x7f\x7f" "4\r", "4"},
        {"kill line", "99\x15" "5\r", "5"},
        {"erase word", "9 88\x17" "6\r", "9 6"},
        {"tab is a blank", "7\t8\r", "7 8"},
        {"cursor keys do nothing", "1\x1b[D2\r", "12"},
        {"Alt with a key does nothing", "1\x1b" "52\r", "12"},
        {"control keys do nothing", "\x01" "7\r", "7"},
        {"end-of-file key on a typed line does nothing", "3\x04" "1\r", "31"},
    };
    for (const Case &c : cases) {
        ScriptedPlatform p;
        p.type(c.typed);
        Session s(p);
        print(s, "Tau? ");
        char line[16];
        EXPECT_EQ(s.readReply(line, sizeof line), Reply::Line) << c.what;
        EXPECT_STREQ(line, c.line) << c.what;
        EXPECT_EQ(s.wherex(), 1) << c.what;
        EXPECT_EQ(s.wherey(), 2) << c.what;
    }
}

TEST_F(Layer, BackspaceMovesBackToTheErasedCharacterAndClears) {
    platform.width = 10;
    print(session(), "Enter: ");     // 7 columns
    platform.type("abcd\x7f\x7f\r"); // "abc" reaches the last column, "d" wraps
    EXPECT_EQ(reply(), "[ab]");
    // "d" sat at row 2 column 1: back there, clear; "c" at row 1 column 10: up, clear.
    EXPECT_NE(platform.written.find("d\x1b[1G\x1b[J"), std::string::npos) << platform.written;
    EXPECT_NE(platform.written.find("\x1b[1A\x1b[10G\x1b[J"), std::string::npos)
        << platform.written;
    EXPECT_EQ(session().wherey(), 2);
}

// After a stop the reply typed so far stands above the shell's lines: the next key shows the
// prompt's row and the reply again where the shell left the cursor, at the start of a row.
// The prompt is the text of its row, when only text was written there.
TEST_F(Layer, ReplyIsShownAgainAfterAResume) {
    const struct {
        const char *what;
        std::function<void(Session &)> prompt;
        const char *shownAgain;
    } cases[] = {
        {"prompt after a line end", [](Session &s) { print(s, "Heading\nTau? "); }, "Tau? "},
        {"prompt on a row written over", [](Session &s) { print(s, "Tau? 12\rTau? "); }, ""},
        {"prompt after a cursor movement",
         [](Session &s) {
             print(s, "Tau? ");
             s.gotoxy(1, 1);
             s.gotoxy(6, 1);
         },
         ""},
    };
    for (const auto &c : cases) {
        ScriptedPlatform p;
        Session s(p);
        c.prompt(s);
        s.flush();
        const std::size_t before = p.written.size();
        p.type("1", 0);
        p.resume("1h\r", 10);
        char line[16];
        EXPECT_EQ(s.readReply(line, sizeof line), Reply::Line) << c.what;
        EXPECT_STREQ(line, "11h") << c.what;
        EXPECT_EQ(p.written.substr(before), std::string("1\r\x1b[J") + c.shownAgain + "11h\n")
            << c.what;
    }
}

// A resize or resume before the prompt reaches the terminal leaves the prompt as it is.
TEST_F(Layer, EventsBeforeTheReplyDrawNothingAgain) {
    print(session(), "Tau? ");
    platform.events = kResized | kResumed;
    platform.type("5\r");
    EXPECT_EQ(reply(), "[5]");
    EXPECT_EQ(platform.written, "Tau? 5\n");
}

// A resize may rewrap the reply: it is drawn afresh on the row below, and Backspace goes back
// to where each character stands in the new drawing, not where the old one had it.
TEST_F(Layer, BackspaceAfterAResizeErasesWhereTheReplyNowStands) {
    platform.width = 10;
    print(session(), "Enter: ");           // 7 columns
    platform.type("abcd", 0);              // "d" wraps onto the second row
    platform.resize(20, "\x7f\x7f\r", 10); // the whole of "Enter: abcd" fits a row
    EXPECT_EQ(reply(), "[ab]");
    EXPECT_EQ(platform.written, "Enter: abcd"
                                "\n\x1b[JEnter: abcd"
                                "\x1b[11G\x1b[J"
                                "\x1b[10G\x1b[J\n");
    EXPECT_EQ(session().wherey(), 4);
}

// With the echo on the input terminal, a stop moves the reply to a row of its own there;
// a resize of the output changes nothing on it.
TEST_F(Layer, EchoElsewhereIsShownAgainAfterAResumeOnly) {
    platform.outputTerminal = false;
    platform.echoShared = false;
    print(session(), "Tau? ");
    platform.type("1", 0);
    platform.resize(40, "2", 10);
    platform.resume("\x7f"
                    "3\r",
                    20);
    EXPECT_EQ(reply(), "[13]");
    EXPECT_EQ(platform.echoed, "12\r12\b \b3\n");
    EXPECT_EQ(platform.written, "Tau? ");
}

TEST_F(Layer, EndOfFileKeyOnAnEmptyReplyEndsOnlyThatReply) {
    platform.type("\x04", 0);
    platform.type("5\r", 10);
    EXPECT_EQ(reply(), "abandoned");
    EXPECT_EQ(reply(), "[5]");
}

// Esc abandons a reply, typed or not, and ends its line; what is typed after it is keys.
TEST_F(Layer, EscAbandonsTheReplyAndEndsItsLine) {
    print(session(), "Tau? ");
    platform.type("12", 0);
    platform.type("\x1b", 10);
    platform.type("h", 100);
    EXPECT_EQ(reply(), "abandoned");
    EXPECT_EQ(platform.written, "Tau? 12\n");
    EXPECT_EQ(session().wherex(), 1);
    EXPECT_EQ(platform.now, 10 + kLoneEscWaitMs) << "a lone Esc keeps its short wait";
    EXPECT_EQ(session().getch(), 'h');

    // The Windows console: Esc and a key typed ahead together are Esc, then the key.
    ScriptedPlatform console;
    console.altPrefix = false;
    console.type("3\x1bh");
    Session s(console);
    char line[8];
    EXPECT_EQ(s.readReply(line, sizeof line), Reply::Abandoned);
    EXPECT_EQ(s.getch(), 'h');
}

TEST_F(Layer, EchoGoesToTheInputTerminalWhenOutputIsElsewhere) {
    platform.outputTerminal = false;
    platform.echoShared = false;
    platform.type("12\x7f"
                  "3\r");
    print(session(), "Tau? ");
    EXPECT_EQ(reply(), "[13]");
    EXPECT_EQ(platform.echoed, "12\b \b3\n");
    EXPECT_EQ(platform.written, "Tau? ");
}

TEST_F(Layer, MonitorCycleGoesOutInOneWrite) {
    print(session(), "Measured data: Ch X: ");
    const int column = session().wherex();
    EXPECT_EQ(column, 22);
    print(session(), "%13s", "");
    session().kbhit();
    const int writesBefore = platform.writes;
    platform.written.clear();
    for (double f : {1.0, 12345.5}) {
        session().gotoxy(column, session().wherey());
        print(session(), "%10.4lfHz", f);
        session().gotoxy(column - 1, session().wherey());
    }
    EXPECT_EQ(platform.writes, writesBefore);
    session().kbhit();
    EXPECT_EQ(platform.writes, writesBefore + 1);
    EXPECT_EQ(platform.written, "\x1b[22G    1.0000Hz\x1b[21G\x1b[22G12345.5000Hz\x1b[21G");
}

TEST_F(Layer, LineEndFlushesOnATerminalOnly) {
    print(session(), "Scanning:%s", "\n");
    EXPECT_EQ(platform.written, "Scanning:\n");

    ScriptedPlatform file;
    file.outputTerminal = false;
    Session s(file);
    print(s, "Scanning:\n");
    EXPECT_EQ(file.written, "");
    s.finish();
    EXPECT_EQ(file.written, "Scanning:\n");
    EXPECT_TRUE(file.finished);
}

TEST_F(Layer, GotoxyMovesRowsRelativelyAndColumnsAbsolutely) {
    print(session(), "one\ntwo\nthree");
    session().gotoxy(2, 1);
    session().clreol();
    session().gotoxy(2, 1); // already there: nothing
    session().gotoxy(4, 3);
    session().gotoxy(0, 3); // refused
    session().gotoxy(500, 3);
    session().flush();
    EXPECT_EQ(platform.written, "one\ntwo\nthree\x1b[2A\x1b[2G\x1b[K\x1b[2B\x1b[4G\x1b[80G");
    EXPECT_EQ(session().wherex(), 80);
    EXPECT_EQ(session().wherey(), 3);
}

TEST_F(Layer, NoControlSequencesWhenOutputIsNotATerminal) {
    platform.outputTerminal = false;
    print(session(), "Device uptime: ");
    session().gotoxy(5, session().wherey());
    session().clreol();
    print(session(), "1.00s");
    session().flush();
    EXPECT_EQ(platform.written, "Device uptime: 1.00s");
    EXPECT_EQ(session().wherex(), 10) << "the program's own view still follows gotoxy";
}

TEST_F(Layer, PrintReturnsTheCharacterCountEvenForLongText) {
    const std::string longText(2000, 'y');
    EXPECT_EQ(print(session(), "%s", longText.c_str()), 2000);
    EXPECT_EQ(print(session(), "%c", 0), 1);
    session().flush();
    EXPECT_EQ(platform.written.size(), 2001u);
}

// At the end of the run a terminal gets the unfinished last line ended, so that the shell's
// prompt starts a row of its own; a pipe or file gets exactly the bytes written.
TEST_F(Layer, FinishEndsAnUnfinishedLineOnATerminalOnly) {
    struct Case {
        const char *what;
        bool terminal;
        const char *text;
        const char *written;
    };
    const Case cases[] = {
        {"terminal, unfinished", true, "Program finished", "Program finished\n"},
        {"terminal, line ended", true, "done\n", "done\n"},
        {"terminal, nothing written", true, "", ""},
        {"file, unfinished", false, "Program finished", "Program finished"},
    };
    for (const Case &c : cases) {
        ScriptedPlatform p;
        p.outputTerminal = c.terminal;
        Session s(p);
        print(s, "%s", c.text);
        s.finish();
        EXPECT_EQ(p.written, c.written) << c.what;
        EXPECT_TRUE(p.finished) << c.what;
    }
}

// Events noted by the platform are told once; to a pipe or file there are none to tell.
TEST_F(Layer, EventsAreToldOnceAndOnlyForATerminal) {
    platform.events = kResized | kResumed;
    EXPECT_EQ(session().events(), kResized | kResumed);
    EXPECT_EQ(session().events(), 0u);

    ScriptedPlatform file;
    file.outputTerminal = false;
    file.events = kResized;
    Session s(file);
    EXPECT_EQ(s.events(), 0u);
}

TEST_F(Layer, DegreeSignComesFromTheCodeset) {
    platform.codesetName = "ISO-8859-15";
    EXPECT_STREQ(session().degreeSign(), "\xB0");
}

} // namespace
} // namespace term
