// Console key events through the key decoder: what getch() then gives for each key.
#include "term_core.h"
#include "term_windows_keys.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr DWORD kShift = SHIFT_PRESSED;
constexpr DWORD kCtrl = LEFT_CTRL_PRESSED;
constexpr DWORD kAlt = LEFT_ALT_PRESSED;
constexpr DWORD kAltGr = RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED;

KEY_EVENT_RECORD event(WORD virtualKey, char character, DWORD state = 0, WORD repeat = 1,
                       BOOL down = TRUE) {
    KEY_EVENT_RECORD key{};
    key.bKeyDown = down;
    key.wRepeatCount = repeat;
    key.wVirtualKeyCode = virtualKey;
    key.uChar.AsciiChar = character;
    key.dwControlKeyState = state;
    return key;
}

// The codes getch() gives, an extended key as 0 and its second code.
std::vector<int> codes(const KEY_EVENT_RECORD &key) {
    const std::string bytes = term::keyEventBytes(key);
    std::vector<int> out;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto *p = reinterpret_cast<const unsigned char *>(bytes.data()) + at;
        const term::DecodedKey d = term::decodeKey(p, bytes.size() - at, true, false);
        EXPECT_EQ(d.kind, term::DecodedKey::Key) << "bytes of key " << key.wVirtualKeyCode;
        if (d.kind != term::DecodedKey::Key || d.used == 0) break;
        if (d.key & term::kExtended) {
            out.push_back(0);
            out.push_back(d.key & 0xFF);
        } else {
            out.push_back(d.key);
        }
        at += d.used;
    }
    return out;
}

struct Case {
    const char *name;
    KEY_EVENT_RECORD key;
    std::vector<int> expected;
};

TEST(WindowsKeys, EachKeyReachesGetchAsTheConsoleGivesIt) {
    const Case cases[] = {
        {"letter", event('A', 'a'), {'a'}},
        {"Enter", event(VK_RETURN, '\r'), {13}},
        {"Esc", event(VK_ESCAPE, 27), {27}},
        {"Backspace", event(VK_BACK, '\b'), {8}},
        {"Ctrl+C", event('C', 3, kCtrl), {3}},
        {"AltGr character", event('Q', '@', kAltGr), {'@'}},
        {"Up", event(VK_UP, 0), {0, 72}},
        {"Down", event(VK_DOWN, 0), {0, 80}},
        {"Left", event(VK_LEFT, 0), {0, 75}},
        {"Right", event(VK_RIGHT, 0), {0, 77}},
        {"Home", event(VK_HOME, 0), {0, 71}},
        {"End", event(VK_END, 0), {0, 79}},
        {"PgUp", event(VK_PRIOR, 0), {0, 73}},
        {"PgDn", event(VK_NEXT, 0), {0, 81}},
        {"Ins", event(VK_INSERT, 0), {0, 82}},
        {"Del", event(VK_DELETE, 0), {0, 83}},
        {"F1", event(VK_F1, 0), {0, 59}},
        {"F5", event(VK_F5, 0), {0, 63}},
        {"F10", event(VK_F10, 0), {0, 68}},
        {"F11", event(VK_F11, 0), {0, 133}},
        {"F12", event(VK_F12, 0), {0, 134}},
        {"Ctrl+Up", event(VK_UP, 0, kCtrl), {0, 141}},
        {"Alt+Left", event(VK_LEFT, 0, kAlt), {0, 155}},
        {"Shift+F1", event(VK_F1, 0, kShift), {0, 84}},
        {"Ctrl+F12", event(VK_F12, 0, kCtrl), {0, 138}},
        {"Ctrl+Del", event(VK_DELETE, 0, kCtrl), {0, 147}},
        {"Shift+Tab", event(VK_TAB, '\t', kShift), {0, 15}},
        {"Ctrl+@", event('2', 0, kCtrl), {0, 3}},
        {"held key repeats", event(VK_RIGHT, 0, 0, 3), {0, 77, 0, 77, 0, 77}},
        {"held letter repeats", event('X', 'x', 0, 2), {'x', 'x'}},
        {"held Esc repeats", event(VK_ESCAPE, 27, 0, 2), {27, 27}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(codes(c.key), c.expected) << c.name;
}

TEST(WindowsKeys, EventsThatAreNoKeyPressBringNothing) {
    const Case cases[] = {
        {"release", event('A', 'a', 0, 1, FALSE), {}},
        {"Shift alone", event(VK_SHIFT, 0, kShift), {}},
        {"Ctrl alone", event(VK_CONTROL, 0, kCtrl), {}},
        {"Caps Lock", event(VK_CAPITAL, 0), {}},
        {"Alt+letter", event('F', 'f', kAlt), {}},
    };
    for (const Case &c : cases)
        EXPECT_TRUE(term::keyEventBytes(c.key).empty()) << c.name;
}

} // namespace
