// The terminal layer's input side: the key decoder on arbitrary bytes, then keys and replies
// read from those bytes as they arrive in random pieces at random times, on a terminal or
// from a pipe. The decoder must settle every byte and agree with itself on a shorter input;
// the readers must give keys and replies within their ranges, and the end of the input for
// good once it came.
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
    uint32_t now = 0;

    bool inputIsTerminal() override { return terminal; }
    bool outputIsTerminal() override { return terminal; }
    bool echoOnOutput() override { return true; }
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
    void write(const char *, std::size_t) override {}
    void writeEcho(const char *, std::size_t) override {}
    int columns() override { return terminal ? 80 : 0; }
    uint32_t clockMs() override { return now; }
    void sleepMs(uint32_t ms) override { now += ms; }
    void finish() override {}
};

bool InKeyRange(int key) {
    return (key >= 0 && key <= 0xFF) || (key > term::kExtended && key <= (term::kExtended | 0xFF));
}

// Every byte of `bytes` is settled by the decoder, and a key decoded from more bytes is the
// same key when only its own bytes are there and no more will come.
void DecodeAll(const std::string &text) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t size = text.size() - at;
        const term::DecodedKey open = term::decodeKey(bytes + at, size, false);
        const term::DecodedKey settled = term::decodeKey(bytes + at, size, true);
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
            const term::DecodedKey alone = term::decodeKey(bytes + at, open.used, true);
            FUZZ_CHECK(alone.kind == term::DecodedKey::Key && alone.key == open.key &&
                           alone.used == open.used,
                       "key %#x of %zu bytes at %zu is %#x of %zu alone", open.key, open.used, at,
                       alone.key, alone.used);
        }
        at += settled.used;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    ScriptedPlatform platform;
    platform.terminal = in.ConsumeBool();
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
    DecodeAll(all);

    term::Session session(platform);
    bool ended = false;
    for (unsigned char op : operationCodes) {
        int key = 0;
        term::Reply reply = term::Reply::Value;
        switch (op % 5) {
        case 0:
        case 1:
            key = session.getch();
            FUZZ_CHECK(key == term::kEndOfInput || (key >= 0 && key <= 0xFF), "getch gave %d", key);
            FUZZ_CHECK(!ended || key == term::kEndOfInput, "getch gave %d after the end", key);
            ended = ended || key == term::kEndOfInput;
            if (key == 0) {
                // A key of two codes: the second follows at once.
                const int second = session.getch();
                FUZZ_CHECK(second >= 1 && second <= 0xFF, "0 followed by %d", second);
            }
            break;
        case 2: {
            int value = 0;
            reply = session.readInt(value);
            break;
        }
        case 3: {
            float value = 0;
            reply = session.readFloat(value);
            break;
        }
        default: {
            const std::size_t room = op / 5 % 8;
            char word[8];
            std::memset(word, '#', sizeof word);
            reply = session.readWord(word, room);
            if (room < 2) {
                FUZZ_CHECK(reply == term::Reply::NoValue, "a word of %zu bytes", room);
            } else if (reply == term::Reply::Value) {
                const std::size_t length = strnlen(word, room);
                // A NUL byte from a pipe is a character of the word, as scanf takes it.
                FUZZ_CHECK(length < room, "a word of %zu characters in %zu", length, room);
                FUZZ_CHECK(std::strcspn(word, " \t\n\v\f\r") == length,
                           "a blank in the word \"%s\"", word);
            }
            break;
        }
        }
        // On a terminal the end-of-file key also ends a reply, and keys may follow it.
        if (reply == term::Reply::End && !platform.terminal) {
            FUZZ_CHECK(session.getch() == term::kEndOfInput, "a key after the replies ended");
            ended = true;
        }
        if (ended) FUZZ_CHECK(session.kbhit(), "the end of the input not reported as waiting");
    }
    return 0;
}
