// The terminal layer's input side: the key decoder and the piped reply splitter on arbitrary
// bytes, then keys and replies read from those bytes as they arrive in random pieces at
// random times, on a terminal (with or without ESC as the Alt prefix) or from a pipe. The
// decoders must settle every byte and agree with themselves on a shorter input; the readers
// must give keys and replies within their ranges, and the end of the input for good once it
// came.
#include "check.h"
#include "term_core.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <deque>
#include <string>

namespace {

// Input in pieces that arrive at given times, then its end; no real clock or terminal.
class ScriptedPlatform : public term::Platform {
public:
    struct Piece {
        uint32_t at;
        std::string bytes;
    };
    std::deque<Piece> pieces;
    bool terminal = true;
    bool altPrefix = true;
    uint32_t now = 0;

    bool inputIsTerminal() override { return terminal; }
    bool outputIsTerminal() override { return terminal; }
    bool echoOnOutput() override { return true; }
    bool escapeIsAltPrefix() override { return altPrefix; }
    std::string codeset() override { return "UTF-8"; }
    EditKeys editKeys() override { return {}; }
    Input read(std::string &into, int timeoutMs) override {
        if (pieces.empty()) return Input::End;
        const uint32_t next = pieces.front().at;
        if (next > now && timeoutMs >= 0 && next - now > static_cast<uint32_t>(timeoutMs)) {
            now += static_cast<uint32_t>(timeoutMs);
            return Input::Timeout;
        }
        if (next > now) now = next;
        into += pieces.front().bytes;
        pieces.pop_front();
        return Input::Data;
    }
    // Time moves on to the next piece, or by the timeout when none comes sooner.
    void waitForInput(int timeoutMs) override {
        if (pieces.empty() || pieces.front().at <= now) return;
        const uint32_t next = pieces.front().at;
        if (timeoutMs >= 0 && next - now > static_cast<uint32_t>(timeoutMs))
            now += static_cast<uint32_t>(timeoutMs);
        else
            now = next;
    }
    void write(const char *, std::size_t) override {}
    void writeEcho(const char *, std::size_t) override {}
    int columns() override { return terminal ? 80 : 0; }
    unsigned takeEvents() override { return 0; }
    uint32_t clockMs() override { return now; }
    void sleepMs(uint32_t ms) override { now += ms; }
    void finish() override {}
};

bool InKeyRange(int key) {
    return (key >= 0 && key <= 0xFF) || (key > term::kExtended && key <= (term::kExtended | 0xFF));
}

bool IsBlank(char c) {
    return std::strchr(" \t\n\v\f\r", c) != nullptr && c != '\0';
}

// A reply as handed over: not empty, no blanks around it, no control characters but blanks.
bool IsReplyText(const std::string &text) {
    if (text.empty() || IsBlank(text.front()) || IsBlank(text.back())) return false;
    for (unsigned char c : text)
        if ((c < 0x20 && !IsBlank(static_cast<char>(c))) || c == 0x7F) return false;
    return true;
}

// Every byte of `text` is settled by the decoder, and a key decoded from more bytes is the
// same key when only its own bytes are there and no more will come.
void DecodeAll(const std::string &text, bool altPrefix) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t size = text.size() - at;
        const term::DecodedKey open = term::decodeKey(bytes + at, size, false, altPrefix);
        const term::DecodedKey settled = term::decodeKey(bytes + at, size, true, altPrefix);
        FUZZ_CHECK(settled.kind != term::DecodedKey::NeedMore, "final input at %zu not settled",
                   at);
        for (const term::DecodedKey &d : {open, settled}) {
            if (d.kind == term::DecodedKey::NeedMore) continue;
            FUZZ_CHECK(d.used >= 1 && d.used <= size, "%zu of %zu bytes used at %zu", d.used, size,
                       at);
            FUZZ_CHECK(d.kind != term::DecodedKey::Key || InKeyRange(d.key), "key %#x at %zu",
                       d.key, at);
        }
        if (open.kind == term::DecodedKey::Key) {
            const term::DecodedKey alone = term::decodeKey(bytes + at, open.used, true, altPrefix);
            FUZZ_CHECK(alone.kind == term::DecodedKey::Key && alone.key == open.key &&
                           alone.used == open.used,
                       "key %#x of %zu bytes at %zu is %#x of %zu alone", open.key, open.used, at,
                       alone.key, alone.used);
        }
        at += settled.used;
    }
}

// Piped input splits into replies, blank lines and abandoned replies that use it all up; a
// line that has its line end is the same line whether or not more input may follow.
void SplitReplies(const std::string &text) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
    std::size_t at = 0;
    for (;;) {
        const std::size_t size = text.size() - at;
        const term::PipedReply r = term::takePipedReply(bytes + at, size, true);
        FUZZ_CHECK(r.kind != term::PipedReply::NeedMore, "final input at %zu not settled", at);
        if (r.kind == term::PipedReply::End) {
            FUZZ_CHECK(size == 0, "the end with %zu bytes left", size);
            return;
        }
        FUZZ_CHECK(r.used >= 1 && r.used <= size, "%zu of %zu bytes used at %zu", r.used, size, at);
        if (r.kind == term::PipedReply::Line)
            FUZZ_CHECK(IsReplyText(r.text), "reply \"%s\" at %zu", r.text.c_str(), at);
        else
            FUZZ_CHECK(r.text.empty(), "text \"%s\" of no reply at %zu", r.text.c_str(), at);
        if (r.kind == term::PipedReply::Abandoned)
            FUZZ_CHECK(bytes[at + r.used - 1] == term::kEsc, "abandoned at %zu without Esc", at);
        const term::PipedReply open = term::takePipedReply(bytes + at, size, false);
        if (std::memchr(bytes + at, '\n', size) != nullptr) {
            FUZZ_CHECK(open.kind == r.kind && open.used == r.used && open.text == r.text,
                       "a line at %zu read differently while more may come", at);
        } else {
            FUZZ_CHECK(open.kind == term::PipedReply::NeedMore, "no line end at %zu", at);
        }
        at += r.used;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    ScriptedPlatform platform;
    platform.terminal = in.ConsumeBool();
    platform.altPrefix = in.ConsumeBool();
    const int operations = in.ConsumeIntegralInRange(1, 48);
    std::string operationCodes = in.ConsumeBytesAsString(static_cast<std::size_t>(operations));
    uint32_t at = 0;
    std::string all;
    while (in.remaining_bytes() > 0) {
        at += in.ConsumeIntegralInRange<uint32_t>(0, 300);
        const std::string piece = in.ConsumeRandomLengthString(16);
        platform.pieces.push_back({at, piece});
        all += piece;
    }
    DecodeAll(all, platform.terminal && platform.altPrefix);
    if (!platform.terminal) SplitReplies(all);

    term::Session session(platform);
    bool ended = false;
    for (unsigned char op : operationCodes) {
        if (op % 3 != 0) {
            const int key = session.getch();
            FUZZ_CHECK(key == term::kEndOfInput || (key >= 0 && key <= 0xFF), "getch gave %d", key);
            FUZZ_CHECK(!ended || key == term::kEndOfInput, "getch gave %d after the end", key);
            ended = ended || key == term::kEndOfInput;
            if (key == 0) {
                // A key of two codes: the second follows at once.
                const int second = session.getch();
                FUZZ_CHECK(second >= 1 && second <= 0xFF, "0 followed by %d", second);
            }
        } else {
            const std::size_t room = 1 + op / 3 % 16;
            char reply[16];
            std::memset(reply, '#', sizeof reply);
            const term::Reply r = session.readReply(reply, room);
            const std::size_t length = strnlen(reply, room);
            FUZZ_CHECK(length < room, "no terminator in %zu bytes", room);
            if (r == term::Reply::Line)
                FUZZ_CHECK(IsReplyText(reply), "reply \"%s\"", reply);
            else
                FUZZ_CHECK(length == 0, "\"%s\" with no reply", reply);
            FUZZ_CHECK(!ended || r == term::Reply::Abandoned, "a reply after the end");
        }
        if (ended) FUZZ_CHECK(session.kbhit(), "the end of the input not reported as waiting");
    }
    return 0;
}
