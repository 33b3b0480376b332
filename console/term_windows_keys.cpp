#include "term_windows_keys.h"

#include <cstdio>

namespace term {
namespace {

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
        if (m == 1)
            std::snprintf(out, sizeof out, "\x1b[%c", final);
        else
            std::snprintf(out, sizeof out, "\x1b[1;%d%c", m, final);
        return std::string(out);
    };
    auto function = [&](char final) { // F1-F4: SS3 plain, CSI with modifiers
        if (m == 1)
            std::snprintf(out, sizeof out, "\x1bO%c", final);
        else
            std::snprintf(out, sizeof out, "\x1b[1;%d%c", m, final);
        return std::string(out);
    };
    auto tilde = [&](int n) {
        if (m == 1)
            std::snprintf(out, sizeof out, "\x1b[%d~", n);
        else
            std::snprintf(out, sizeof out, "\x1b[%d;%d~", n, m);
        return std::string(out);
    };
    switch (key) {
    case VK_UP:
        return letter('A');
    case VK_DOWN:
        return letter('B');
    case VK_RIGHT:
        return letter('C');
    case VK_LEFT:
        return letter('D');
    case VK_HOME:
        return letter('H');
    case VK_END:
        return letter('F');
    case VK_CLEAR:
        return letter('E');
    case VK_INSERT:
        return tilde(2);
    case VK_DELETE:
        return tilde(3);
    case VK_PRIOR:
        return tilde(5);
    case VK_NEXT:
        return tilde(6);
    case VK_F1:
        return function('P');
    case VK_F2:
        return function('Q');
    case VK_F3:
        return function('R');
    case VK_F4:
        return function('S');
    case VK_F5:
        return tilde(15);
    case VK_F6:
        return tilde(17);
    case VK_F7:
        return tilde(18);
    case VK_F8:
        return tilde(19);
    case VK_F9:
        return tilde(20);
    case VK_F10:
        return tilde(21);
    case VK_F11:
        return tilde(23);
    case VK_F12:
        return tilde(24);
    default:
        return std::string();
    }
}

} // namespace

std::string keyEventBytes(const KEY_EVENT_RECORD &key) {
    if (!key.bKeyDown) return std::string();
    const DWORD state = key.dwControlKeyState;
    const bool ctrl = state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED);
    // AltGr reports Right Alt with Left Ctrl: its characters are plain characters.
    const bool alt = (state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) && !ctrl;
    const unsigned char c = static_cast<unsigned char>(key.uChar.AsciiChar);
    std::string bytes;
    if (key.wVirtualKeyCode == VK_TAB && (state & SHIFT_PRESSED))
        bytes = "\x1b[Z";
    else if (c != 0 && alt)
        return std::string();
    else if (c != 0)
        bytes.assign(1, static_cast<char>(c));
    else if (key.wVirtualKeyCode == '2' && ctrl)
        bytes.assign(1, '\0'); // Ctrl-@
    else
        bytes = sequenceFor(key.wVirtualKeyCode, state);
    std::string all;
    for (WORD i = 0; i < (key.wRepeatCount > 0 ? key.wRepeatCount : 1); ++i)
        all += bytes;
    return all;
}

} // namespace term
