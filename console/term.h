// The console's terminal layer: keys, replies, text at the cursor and time, the same on a
// POSIX terminal and in a Windows console window. One implementation file per platform.
//
// Output. Everything the console shows goes through printf() (standard output) or cprintf()
// (the console window at the cursor); both reach the screen in program order. The layer
// follows what it has written, so wherex(), wherey() and gotoxy() agree with the screen
// without asking the terminal. When standard output is not a terminal, text is written as
// it is and cursor movement and clearing write nothing.
//
// Input. Keys (kbhit, getch) are read one at a time, without echo and without Enter. A key
// that sends an escape sequence or an extended code (cursor, function and editing keys)
// arrives as 0 followed by a second code. Replies to prompts (readInt, readFloat, readWord)
// are typed with echo and line editing and end with Enter; they follow the rules of
// scanf's "%d", "%f" and "%Ns": leading white space and line ends are skipped, and
// characters a conversion did not consume stay ahead of later replies. When standard input
// is not a terminal, keys and replies are read in order from it. The end of the input is
// reported as kEndOfInput by getch and as a failed reply.
//
// The terminal is given back as it was found on every way out of the program.
#ifndef QVX3_CONSOLE_TERM_H
#define QVX3_CONSOLE_TERM_H

#include <cstddef>
#include <cstdint>

namespace term {

// getch() after the input has ended; kbhit() reports it as waiting so that callers see it.
constexpr int kEndOfInput = -1;

// Formatted text on standard output. Returns the count of characters, as printf does.
int printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Formatted text in the console window at the cursor.
int cprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Cursor position, 1-based column x and row y.
void gotoxy(int x, int y);
int wherex();
int wherey();

// Clears from the cursor to the end of its row; the cursor stays.
void clreol();

// Non-zero when a key (or the end of the input) is waiting; never blocks.
int kbhit();

// The next key code 0 to 255, waiting for one if need be; kEndOfInput once input has ended.
int getch();

// Replies to prompts. On Reply::Value the variable holds the converted value; otherwise it
// is untouched: NoValue when the input holds no number there (the characters stay, as with
// scanf), End when the input ended first.
enum class Reply { Value, NoValue, End };
Reply readInt(int &value);     // "%d"
Reply readFloat(float &value); // "%f"
// "%Ns" with N = size - 1: one blank-delimited word of at most size - 1 characters, the rest
// of the word stays for the next read. Never NoValue.
Reply readWord(char *buffer, std::size_t size);

// Pauses the program for about `ms` milliseconds (Sleep(1) is about one millisecond).
void Sleep(uint32_t ms);

// Wall-clock milliseconds since the program started; wraps around after 2^32 ms.
uint32_t clock();

// The degree sign in the terminal's own encoding.
const char *degreeSign();

} // namespace term

#endif // QVX3_CONSOLE_TERM_H
