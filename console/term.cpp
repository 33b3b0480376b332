// The platform-neutral half of the terminal layer: output buffer and cursor, key decoder,
// reply editing and parsing. The system calls live behind Platform (term_platform.h).
#include "term_core.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace term {

// ---- Keys ----------------------------------------------------------------------------------

namespace {

enum Named {
    kUp,
    kDown,
    kRight,
    kLeft,
    kHome,
    kEnd,
    kPgUp,
    kPgDn,
    kIns,
    kDel,
    kCenter,
    kBackTab,
    kF1,
    kF2,
    kF3,
    kF4,
    kF5,
    kF6,
    kF7,
    kF8,
    kF9,
    kF10,
    kF11,
    kF12,
    kNoKey,
};
enum Modifier { kPlain, kShift, kCtrl, kAlt };

// Second codes of the Windows console: plain, Shift, Ctrl, Alt.
constexpr unsigned char kCodes[kNoKey][4] = {
    {72, 72, 141, 152}, {80, 80, 145, 160}, {77, 77, 116, 157},   {75, 75, 115, 155},
    {71, 71, 119, 151}, {79, 79, 117, 159}, {73, 73, 132, 153},   {81, 81, 118, 161},
    {82, 82, 146, 162}, {83, 83, 147, 163}, {76, 76, 143, 76},    {15, 15, 148, 15},
    {59, 84, 94, 104},  {60, 85, 95, 105},  {61, 86, 96, 106},    {62, 87, 97, 107},
    {63, 88, 98, 108},  {64, 89, 99, 109},  {65, 90, 100, 110},   {66, 91, 101, 111},
    {67, 92, 102, 112}, {68, 93, 103, 113}, {133, 135, 137, 139}, {134, 136, 138, 140},
};

// xterm's modifier parameter: 1 plus the bits Shift 1, Alt 2, Ctrl 4, Meta 8.
Modifier modifierOf(int parameter) {
    const int bits = parameter > 1 ? parameter - 1 : 0;
    if (bits & (2 | 8)) return kAlt;
    if (bits & 4) return kCtrl;
    if (bits & 1) return kShift;
    return kPlain;
}

Named letterKey(char final) {
    switch (final) {
    case 'A':
        return kUp;
    case 'B':
        return kDown;
    case 'C':
        return kRight;
    case 'D':
        return kLeft;
    case 'H':
        return kHome;
    case 'F':
        return kEnd;
    case 'E':
        return kCenter;
    case 'P':
        return kF1;
    case 'Q':
        return kF2;
    case 'R':
        return kF3;
    case 'S':
        return kF4;
    default:
        return kNoKey;
    }
}

// The number in "ESC [ n ~".
Named tildeKey(int n) {
    switch (n) {
    case 1:
    case 7:
        return kHome;
    case 2:
        return kIns;
    case 3:
        return kDel;
    case 4:
    case 8:
        return kEnd;
    case 5:
        return kPgUp;
    case 6:
        return kPgDn;
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
        return Named(kF1 + n - 11);
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
        return Named(kF6 + n - 17);
    case 23:
        return kF11;
    case 24:
        return kF12;
    default:
        return kNoKey;
    }
}

int extended(Named key, Modifier modifier) {
    return key == kNoKey ? -1 : kExtended | kCodes[key][modifier];
}

// The application keypad ("ESC O p" is the 0 key): the characters the keys are labelled with.
int keypadKey(char final) {
    if (final >= 'p' && final <= 'y') return '0' + (final - 'p');
    switch (final) {
    case 'M':
        return '\r';
    case 'X':
        return '=';
    case 'j':
        return '*';
    case 'k':
        return '+';
    case 'l':
        return ',';
    case 'm':
        return '-';
    case 'n':
        return '.';
    case 'o':
        return '/';
    default:
        return -1;
    }
}

// A sequence after ESC: '[' or 'O', parameters, a final byte.
struct Sequence {
    enum State { Complete, Incomplete, Broken } state;
    std::size_t used; // Complete: bytes of the sequence; Broken: bytes to drop
    int key;          // Complete: the key, -1 for an unknown sequence
};

bool isFinal(unsigned char c) {
    return c >= 0x40 && c <= 0x7E;
}

// `bytes` starts with '[' or 'O'. `alt` forces the Alt variant (ESC ESC prefix).
Sequence parseSequence(const unsigned char *bytes, std::size_t size, bool alt) {
    const bool csi = bytes[0] == '[';
    std::size_t i = 1;
    // The Linux console's F1-F5: "ESC [ [ A" to "ESC [ [ E".
    if (csi && size > 1 && bytes[1] == '[') {
        if (size < 3) return {Sequence::Incomplete, 0, -1};
        if (!isFinal(bytes[2])) return {Sequence::Broken, 2, -1};
        const bool known = bytes[2] >= 'A' && bytes[2] <= 'E';
        return {Sequence::Complete, 3,
                known ? extended(Named(kF1 + bytes[2] - 'A'), alt ? kAlt : kPlain) : -1};
    }
    int params[2] = {0, 0};
    int count = 0;
    bool odd = false; // parameters that no key sends: private markers, a third number
    bool digits = false;
    for (;; ++i) {
        if (i >= size) return {Sequence::Incomplete, 0, -1};
        const unsigned char c = bytes[i];
        if (c >= '0' && c <= '9') {
            if (count < 2 && params[count] < 1000) params[count] = params[count] * 10 + (c - '0');
            digits = true;
        } else if (c == ';' && csi) {
            if (++count >= 2) odd = true;
            digits = false;
        } else if (c >= 0x3A && c <= 0x3F && csi) {
            odd = true;
        } else {
            break;
        }
    }
    if (digits || count > 0) ++count;
    // Intermediate bytes; rxvt ends modified keys with '$' (Shift), so '$' is final here.
    while (i < size && csi && bytes[i] >= 0x20 && bytes[i] <= 0x2F && bytes[i] != '$') {
        odd = true;
        ++i;
    }
    if (i >= size) return {Sequence::Incomplete, 0, -1};
    const unsigned char final = bytes[i];
    if (!isFinal(final) && final != '$') return {Sequence::Broken, i, -1};
    const std::size_t used = i + 1;
    if (odd) return {Sequence::Complete, used, -1};

    Named key = kNoKey;
    Modifier modifier = kPlain;
    if (csi) {
        // "ESC [ A", "ESC [ 1 ; m A"
        const bool letterForm = count == 0 || (params[0] == 1 && count <= 2);
        if (final == '~' || final == '^' || final == '$' || final == '@') {
            key = count >= 1 ? tildeKey(params[0]) : kNoKey;
            if (final == '~')
                modifier = modifierOf(count == 2 ? params[1] : 1);
            else if (final == '$')
                modifier = kShift;
            else
                modifier = kCtrl; // '^' Ctrl, '@' Ctrl+Shift
        } else if (final == 'Z' && count == 0) {
            key = kBackTab;
            modifier = kShift;
        } else if (final >= 'a' && final <= 'd' && count == 0) {
            key = letterKey(char(final - 'a' + 'A')); // rxvt: Shift with a cursor key
            modifier = kShift;
        } else if (letterForm) {
            key = final == 'G' ? kCenter : letterKey(char(final));
            modifier = modifierOf(count == 2 ? params[1] : 1);
        }
    } else {
        if (count > 1) return {Sequence::Complete, used, -1};
        if (final >= 'a' && final <= 'd') {
            key = letterKey(char(final - 'a' + 'A')); // rxvt: Ctrl with a cursor key
            modifier = kCtrl;
        } else {
            key = letterKey(char(final));
            modifier = modifierOf(count == 1 ? params[0] : 1);
            if (key == kNoKey && count == 0)
                return {Sequence::Complete, used, keypadKey(char(final))};
        }
    }
    return {Sequence::Complete, used, extended(key, alt ? kAlt : modifier)};
}

} // namespace

DecodedKey decodeKey(const unsigned char *bytes, std::size_t size, bool final, bool altPrefix) {
    const DecodedKey esc{DecodedKey::Key, kEsc, 1};
    const DecodedKey needMore{DecodedKey::NeedMore, -1, 0};
    // Ctrl-@ (NUL) is 0, 3 on the Windows console; a plain 0 would swallow the next key.
    if (bytes[0] == 0) return {DecodedKey::Key, kExtended | 3, 1};
    if (bytes[0] != kEsc) return {DecodedKey::Key, bytes[0], 1};
    if (size == 1) return final ? esc : needMore;

    std::size_t at = 1;
    bool alt = false;
    if (bytes[1] == kEsc) {
        if (size == 2) return final ? esc : needMore;
        if (bytes[2] != '[' && bytes[2] != 'O') return esc;
        at = 2;
        alt = true;
    } else if (bytes[1] != '[' && bytes[1] != 'O') {
        // Alt+key: dropped whole, so that it neither ends a monitor nor runs the key's command.
        return altPrefix ? DecodedKey{DecodedKey::Nothing, -1, 2} : esc;
    }
    const Sequence s = parseSequence(bytes + at, size - at, alt);
    switch (s.state) {
    case Sequence::Incomplete:
        if (!final) return needMore;
        return alt ? esc : DecodedKey{DecodedKey::Nothing, -1, size};
    case Sequence::Broken:
        return alt ? esc : DecodedKey{DecodedKey::Nothing, -1, at + s.used};
    case Sequence::Complete:
    default:
        if (s.key < 0) return {DecodedKey::Nothing, -1, at + s.used};
        return {DecodedKey::Key, s.key, at + s.used};
    }
}

// ---- Output --------------------------------------------------------------------------------

namespace {

std::string normalized(const std::string &name) {
    std::string out;
    for (char c : name) {
        if (c == '-' || c == '_' || c == ' ') continue;
        out.push_back(char(std::toupper(static_cast<unsigned char>(c))));
    }
    if (out.compare(0, 7, "WINDOWS") == 0) out = "CP" + out.substr(7);
    if (out.compare(0, 3, "IBM") == 0) out = "CP" + out.substr(3);
    return out;
}

} // namespace

Charset charsetFor(const std::string &codeset) {
    static const char *const kLatin[] = {
        "ISO88591",  "ISO88592",  "ISO88593",  "ISO88594", "ISO88599", "ISO885910",
        "ISO885913", "ISO885915", "ISO885916", "LATIN1",   "LATIN2",   "LATIN3",
        "LATIN4",    "LATIN5",    "LATIN6",    "LATIN7",   "LATIN9",   "LATIN10",
        "CP1250",    "CP1252",    "CP1254",    "CP1257",
    };
    static const char *const kPc[] = {"CP437", "CP850", "CP852", "CP858"};
    const std::string name = normalized(codeset);
    for (const char *latin : kLatin)
        if (name == latin) return {"\xB0", false};
    for (const char *pc : kPc)
        if (name == pc) return {"\xF8", false};
    return {"\xC2\xB0", true};
}

void Cursor::advance(const char *text, std::size_t size, int columns, bool utf8) {
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '\n':
            ++y;
            x = 1;
            wrapPending = false;
            break;
        case '\r':
            x = 1;
            wrapPending = false;
            break;
        case '\t':
            x = ((x - 1) / 8 + 1) * 8 + 1;
            if (columns > 0 && x > columns) x = columns;
            wrapPending = false;
            break;
        case '\b':
            if (!wrapPending && x > 1) --x;
            wrapPending = false;
            break;
        default:
            if (c < 0x20 || c == 0x7F) break;
            if (utf8 && (c & 0xC0) == 0x80) break;
            if (wrapPending) {
                ++y;
                x = 1;
                wrapPending = false;
            }
            if (columns > 0 && x >= columns) {
                x = columns;
                wrapPending = true;
            } else {
                ++x;
            }
        }
    }
}

void Cursor::moveTo(int column, int row, int columns) {
    x = columns > 0 && column > columns ? columns : column;
    y = row;
    wrapPending = false;
}

// ---- Replies -------------------------------------------------------------------------------

namespace {

// The blanks around a reply: space, tab, line ends, vertical tab, form feed.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// `line` without the blanks around it.
void trimBlanks(std::string &line) {
    std::size_t end = line.size();
    while (end > 0 && isBlank(line[end - 1]))
        --end;
    std::size_t begin = 0;
    while (begin < end && isBlank(line[begin]))
        ++begin;
    line = line.substr(begin, end - begin);
}

} // namespace

PipedReply takePipedReply(const unsigned char *bytes, std::size_t size, bool final) {
    const auto *lineEnd = static_cast<const unsigned char *>(std::memchr(bytes, '\n', size));
    if (lineEnd == nullptr && !final) return {PipedReply::NeedMore, std::string(), 0};
    const std::size_t length = lineEnd != nullptr ? static_cast<std::size_t>(lineEnd - bytes) : size;
    if (length == 0 && lineEnd == nullptr) return {PipedReply::End, std::string(), 0};
    std::string text;
    for (std::size_t at = 0; at < length;) {
        // Only the line's own bytes: a sequence never runs on past the line end.
        const DecodedKey d = decodeKey(bytes + at, length - at, true, false);
        at += d.used > 0 ? d.used : 1;
        if (d.kind != DecodedKey::Key || (d.key & kExtended)) continue;
        if (d.key == kEsc) return {PipedReply::Abandoned, std::string(), at};
        const char c = static_cast<char>(d.key);
        if (!isBlank(c) && (d.key < 0x20 || d.key == 0x7F)) continue;
        text.push_back(c);
    }
    const std::size_t used = lineEnd != nullptr ? length + 1 : length;
    trimBlanks(text);
    if (text.empty()) return {PipedReply::Blank, std::string(), used};
    return {PipedReply::Line, text, used};
}

// ---- The layer -----------------------------------------------------------------------------

namespace {
// Output is written out at least this often, so a program that never waits stays bounded.
constexpr std::size_t kFlushAt = 64 * 1024;
} // namespace

Session::Session(Platform &platform)
    : platform_(platform), inputIsTerminal_(platform.inputIsTerminal()),
      outputIsTerminal_(platform.outputIsTerminal()), echoOnOutput_(platform.echoOnOutput()),
      altPrefix_(inputIsTerminal_ && platform.escapeIsAltPrefix()),
      charset_(charsetFor(platform.codeset())) {}

void Session::Bytes::take(std::size_t count) {
    pos += count;
    if (pos >= data.size()) {
        data.clear();
        pos = 0;
    } else if (pos > 4096 && pos > data.size() / 2) {
        data.erase(0, pos);
        pos = 0;
    }
}

void Session::emit(const char *bytes, std::size_t size) {
    out_.append(bytes, size);
    cursor_.advance(bytes, size, platform_.columns(), charset_.utf8);
    if (echoOnOutput_) noteRow(bytes, size);
    if (out_.size() >= kFlushAt) flush();
}

void Session::noteRow(const char *bytes, std::size_t size) {
    // Longer than any prompt: a row that long is not worth keeping.
    constexpr std::size_t kLongestRow = 1024;
    std::size_t from = size;
    while (from > 0 && bytes[from - 1] != '\n')
        --from;
    if (from > 0) {
        row_.clear();
        rowKnown_ = true;
    }
    if (!rowKnown_) return;
    const bool movesBack = std::memchr(bytes + from, '\r', size - from) != nullptr ||
                           std::memchr(bytes + from, '\b', size - from) != nullptr;
    if (movesBack || row_.size() + (size - from) > kLongestRow) {
        row_.clear();
        rowKnown_ = false;
        return;
    }
    row_.append(bytes + from, size - from);
}

void Session::control(const char *sequence) {
    if (outputIsTerminal_) out_.append(sequence);
}

void Session::flush() {
    if (out_.empty()) return;
    platform_.write(out_.data(), out_.size());
    out_.clear();
}

void Session::finish() {
    // Otherwise the shell's prompt would follow "Program finished" on its row.
    if (outputIsTerminal_ && cursor_.x != 1) emit("\n", 1);
    flush();
    platform_.finish();
}

int Session::print(const char *format, va_list args) {
    char small[512];
    std::string big;
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    const char *text = small;
    if (n >= 0 && static_cast<std::size_t>(n) >= sizeof small) {
        big.assign(static_cast<std::size_t>(n) + 1, '\0');
        std::vsnprintf(&big[0], big.size(), format, again);
        text = big.data();
    }
    va_end(again);
    if (n <= 0) return n;
    const auto size = static_cast<std::size_t>(n);
    emit(text, size);
    // Line buffered on a terminal, as standard output is: progress lines show before a
    // slow call, while a monitor cycle (no line end) still goes out in one write.
    if (outputIsTerminal_ && std::memchr(text, '\n', size) != nullptr) flush();
    return n;
}

void Session::gotoxy(int x, int y) {
    if (x < 1 || y < 1) return;
    const int columns = platform_.columns();
    if (columns > 0 && x > columns) x = columns;
    // Where the cursor is already: nothing, and a deferred wrap stays deferred.
    if (x == cursor_.x && y == cursor_.y) return;
    row_.clear();
    rowKnown_ = false;
    if (outputIsTerminal_) {
        char sequence[48];
        if (y != cursor_.y) {
            // Rows only relative: the row the program started on is not known.
            std::snprintf(sequence, sizeof sequence, "\x1b[%d%c",
                          y < cursor_.y ? cursor_.y - y : y - cursor_.y, y < cursor_.y ? 'A' : 'B');
            out_.append(sequence);
        }
        std::snprintf(sequence, sizeof sequence, "\x1b[%dG", x);
        out_.append(sequence);
    }
    cursor_.moveTo(x, y, columns);
}

void Session::clreol() {
    control("\x1b[K");
}

void Session::clreos() {
    control("\x1b[J");
}

bool Session::peekKey(bool wait) {
    if (peeked_ >= 0) return true;
    for (;;) {
        Bytes &source = keySource();
        int timeout = wait ? -1 : 0;
        undecidedMs_ = -1;
        if (!source.empty()) {
            const auto *bytes = reinterpret_cast<const unsigned char *>(source.begin());
            DecodedKey d = decodeKey(bytes, source.size(), ended_, altPrefix_);
            if (d.kind == DecodedKey::NeedMore) {
                const bool loneEsc = source.size() == 1 || (source.size() == 2 && bytes[1] == kEsc);
                const uint32_t limit = loneEsc ? kLoneEscWaitMs : kSequenceWaitMs;
                const uint32_t waited = platform_.clockMs() - lastArrival_;
                if (waited >= limit) {
                    d = decodeKey(bytes, source.size(), true, altPrefix_);
                } else {
                    undecidedMs_ = static_cast<int>(limit - waited);
                    if (wait) timeout = undecidedMs_;
                }
            }
            if (d.kind == DecodedKey::Key) {
                peeked_ = d.key;
                peekedUsed_ = d.used;
                return true;
            }
            if (d.kind == DecodedKey::Nothing) {
                source.take(d.used);
                continue;
            }
        } else if (ended_) {
            return false;
        }
        switch (platform_.read(source.data, timeout)) {
        case Platform::Input::Data:
            lastArrival_ = platform_.clockMs();
            break;
        case Platform::Input::End:
            ended_ = true;
            break;
        case Platform::Input::Timeout:
            if (!wait) return false;
            break;
        }
    }
}

bool Session::takeKey(int &key, bool wait) {
    if (!peekKey(wait)) return false;
    key = peeked_;
    keySource().take(peekedUsed_);
    peeked_ = -1;
    return true;
}

int Session::kbhit() {
    flush();
    if (second_ >= 0 || peekKey(false)) return 1;
    return ended_ ? 1 : 0;
}

void Session::waitKey() {
    if (kbhit()) return;
    // An Esc that may still begin a sequence becomes a key when its wait is over, without
    // new input: wake up then.
    platform_.waitForInput(undecidedMs_);
}

int Session::getch() {
    flush();
    if (second_ >= 0) {
        const int code = second_;
        second_ = -1;
        return code;
    }
    int key;
    if (!takeKey(key, true)) return kEndOfInput;
    if (key & kExtended) {
        second_ = key & 0xFF;
        return 0;
    }
    return key;
}

void Session::echo(const char *bytes, std::size_t size) {
    if (echoOnOutput_) {
        emit(bytes, size);
        flush();
    } else {
        platform_.writeEcho(bytes, size);
    }
}

// Takes back the echo from `from` on, `characters` characters.
void Session::unecho(const Cursor &from, std::size_t characters) {
    if (echoOnOutput_) {
        // A character typed while the wrap was pending appeared at the next row's start.
        if (from.wrapPending)
            gotoxy(1, from.y + 1);
        else
            gotoxy(from.x, from.y);
        control("\x1b[J");
        flush();
    } else {
        for (std::size_t i = 0; i < characters; ++i)
            platform_.writeEcho("\b \b", 3);
    }
}

// The rows the reply stood on no longer show it: the shell wrote below them while the
// program was stopped, or a resize rewrapped them. The prompt's row and the reply so far are
// drawn afresh on a row of their own, so that what shows is what Enter takes, and erasing
// goes back to where each character stands now.
void Session::showReplyAgain(unsigned events, const std::string &prompt, const std::string &line,
                             std::vector<Mark> &marks) {
    if (!echoOnOutput_) {
        // The input terminal's rows are not followed, and "\b \b" never leaves a row: only
        // a stop moves the reply away from the cursor.
        if (events & kResumed) {
            platform_.writeEcho("\r", 1);
            platform_.writeEcho(line.data(), line.size());
        }
        return;
    }
    if (events & kResumed)
        emit("\r", 1); // the shell left the cursor at the start of a row below its lines
    else if (cursor_.x != 1 || cursor_.wrapPending)
        emit("\n", 1);
    control("\x1b[J"); // what a rewrap moved below the cursor
    emit(prompt.data(), prompt.size());
    for (std::size_t i = 0; i < marks.size(); ++i) {
        const std::size_t end = i + 1 < marks.size() ? marks[i + 1].byte : line.size();
        marks[i].at = cursor_;
        emit(line.data() + marks[i].byte, end - marks[i].byte);
    }
    flush();
}

Session::Line Session::editLine(std::string &line, const std::string &prompt) {
    flush();
    const Platform::EditKeys keys = platform_.editKeys();
    line.clear();
    std::vector<Mark> marks;
    auto eraseFrom = [&](std::size_t first) {
        if (first >= marks.size()) return;
        unecho(marks[first].at, marks.size() - first);
        line.resize(marks[first].byte);
        marks.resize(first);
    };
    for (;;) {
        int key = 0;
        // The wait for a key is woken by a stop's resumption or a resize too, so the reply is
        // shown again at once, not only at the next key.
        for (;;) {
            const bool got = takeKey(key, false);
            if (const unsigned events = platform_.takeEvents())
                showReplyAgain(events, prompt, line, marks);
            if (got) break;
            if (ended_) return Line::Ended;
            platform_.waitForInput(undecidedMs_);
        }
        if (key & kExtended) continue;
        if (key == '\r' || key == '\n') {
            echo("\n", 1);
            return Line::Typed;
        }
        // Esc abandons whatever has been typed; the end-of-file key only an empty line.
        if (key == kEsc || (key == keys.endOfFile && line.empty())) {
            echo("\n", 1);
            return Line::Cancelled;
        }
        if (key == keys.endOfFile) continue;
        if (key == 0x7F || key == '\b' || key == keys.erase) {
            if (!marks.empty()) eraseFrom(marks.size() - 1);
            continue;
        }
        if (key == keys.kill) {
            eraseFrom(0);
            continue;
        }
        if (key == keys.wordErase) {
            std::size_t first = marks.size();
            while (first > 0 && line[marks[first - 1].byte] == ' ')
                --first;
            while (first > 0 && line[marks[first - 1].byte] != ' ')
                --first;
            eraseFrom(first);
            continue;
        }
        if (key == '\t') key = ' ';
        if (key < 0x20 || key == 0x7F) continue;
        const char c = static_cast<char>(key);
        if (!(charset_.utf8 && (key & 0xC0) == 0x80 && !marks.empty()))
            marks.push_back({line.size(), cursor_});
        line.push_back(c);
        echo(&c, 1);
    }
}

Reply Session::pipedLine(std::string &line) {
    // The stream is shared with keys: a key that kbhit() decoded is still in it.
    peeked_ = -1;
    for (;;) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(text_.begin());
        PipedReply r = takePipedReply(bytes, text_.size(), ended_);
        switch (r.kind) {
        case PipedReply::NeedMore:
            if (platform_.read(text_.data, -1) == Platform::Input::End) ended_ = true;
            continue;
        case PipedReply::Blank:
            text_.take(r.used);
            continue;
        case PipedReply::Line:
            text_.take(r.used);
            line.swap(r.text);
            return Reply::Line;
        case PipedReply::Abandoned:
            text_.take(r.used);
            return Reply::Abandoned;
        case PipedReply::End:
        default:
            return Reply::Abandoned;
        }
    }
}

// The reply line without the blanks around it, or Reply::Abandoned.
Reply Session::readLine(std::string &line) {
    if (!inputIsTerminal_) {
        flush();
        return pipedLine(line);
    }
    // A resize or resume before the prompt reaches the terminal leaves it whole.
    platform_.takeEvents();
    flush();
    const std::string prompt = rowKnown_ ? row_ : std::string();
    // A line of blanks answers nothing: the prompt waits for the next line.
    for (;;) {
        if (editLine(line, prompt) != Line::Typed) return Reply::Abandoned;
        trimBlanks(line);
        if (!line.empty()) return Reply::Line;
    }
}

Reply Session::readReply(char *buffer, std::size_t size) {
    std::string line;
    const Reply r = readLine(line);
    if (size > 0) buffer[0] = '\0';
    if (r != Reply::Line) return r;
    if (line.size() >= size) return Reply::TooLong;
    std::memcpy(buffer, line.c_str(), line.size() + 1);
    return Reply::Line;
}

void Session::sleep(uint32_t ms) {
    flush();
    platform_.sleepMs(ms);
}

// ---- term.h --------------------------------------------------------------------------------

namespace {

// Never destroyed: the layer must outlive everything that may still print at exit.
Session *g_session = nullptr;

void finishAtExit() {
    g_session->finish();
}

Session &session() {
    if (g_session == nullptr) {
        g_session = new Session(systemPlatform());
        std::atexit(finishAtExit);
    }
    return *g_session;
}

} // namespace

int printf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int n = session().print(format, args);
    va_end(args);
    return n;
}

int cprintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int n = session().print(format, args);
    va_end(args);
    return n;
}

void gotoxy(int x, int y) {
    session().gotoxy(x, y);
}
int wherex() {
    return session().wherex();
}
int wherey() {
    return session().wherey();
}
void clreol() {
    session().clreol();
}
void clreos() {
    session().clreos();
}
bool outputIsTerminal() {
    return session().outputIsTerminal();
}
unsigned events() {
    return session().events();
}
void flush() {
    session().flush();
}
int kbhit() {
    return session().kbhit();
}
int getch() {
    return session().getch();
}
void waitKey() {
    session().waitKey();
}
Reply readReply(char *buffer, std::size_t size) {
    return session().readReply(buffer, size);
}
void Sleep(uint32_t ms) {
    session().sleep(ms);
}
uint32_t clock() {
    return session().clock();
}
const char *degreeSign() {
    return session().degreeSign();
}

} // namespace term
