// Windows console key events as the bytes the terminal layer's key decoder reads: a key
// that brings a character gives that character (Enter "\r", Esc 27, Ctrl+letter its control
// code); cursor, editing and function keys give the VT sequence a terminal sends for them,
// with xterm's modifier parameter for Shift, Ctrl and Alt, so that the decoder turns them
// into 0 and the second code the console's own key reading gives (Up 0 72, F1 0 59, ...).
#ifndef QVX3_CONSOLE_TERM_WINDOWS_KEYS_H
#define QVX3_CONSOLE_TERM_WINDOWS_KEYS_H

#include <windows.h>

#include <string>

namespace term {

// The bytes of one key event, repeated as often as the event says; empty for a release, a
// key alone (Shift, Ctrl, Alt, Caps Lock) and Alt with a character key, which the console's
// key reading gives as an extended code that no command uses.
std::string keyEventBytes(const KEY_EVENT_RECORD &key);

} // namespace term

#endif // QVX3_CONSOLE_TERM_WINDOWS_KEYS_H
