// The console's terminal layer: keys, replies, text at the cursor and time, the same on a
// POSIX terminal and in a Windows console window. The console calls nothing else for its
// screen and keyboard: all its output goes through printf()/cprintf(), all its input through
// kbhit()/getch() and readReply(), so the layer sees everything and follows the cursor.
// One thread; none of these functions may be called from a signal handler.
//
// Output. printf() and cprintf() write into one buffer, so both reach the screen in program
// order. The buffer goes out in one write before the program waits or polls (kbhit, getch,
// Sleep, readReply), at exit, and, when standard output is a terminal, after every
// call whose text holds a line end. A monitor cycle that ends with kbhit() thus reaches the
// terminal in one write. The layer follows what it has written (tabs to the next multiple of
// 8, line ends, carriage returns, wrap at the terminal's width, followed through resizes), so
// wherex(), wherey() and gotoxy() agree with the screen without asking the terminal. When
// standard output is not a terminal, text is written as it is, cursor movement and clearing
// write nothing, and lines never wrap.
//
// Keys. kbhit() and getch() read keys one at a time, without echo and without Enter. A key
// that sends an escape sequence (cursor, editing and function keys, with Shift, Ctrl or Alt)
// arrives as 0 followed by the second code a Windows console gives for it (Up 72, Down 80,
// Left 75, Right 77, Home 71, End 79, PgUp 73, PgDn 81, Ins 82, Del 83, F1-F10 59-68,
// F11 133, F12 134, and the usual Shift, Ctrl and Alt variants); an unknown sequence is
// skipped whole. A lone Esc arrives as 27 within a few tens of milliseconds. On a POSIX
// terminal, Alt with a key (ESC and the key's byte, together or within that wait) brings
// nothing, as it does on the Windows console. Enter is 13 on a terminal (a line end in piped
// input is 10).
//
// Replies. readReply() reads the reply to a prompt: one line, handed over whole without the
// blanks around it; nothing of it is left for later replies or keys. A line of blanks
// answers nothing and the next line is read. Esc abandons the reply wherever it is typed.
// On a terminal a reply is typed with echo and line editing (Backspace, and the terminal's
// erase, kill-line and erase-word keys) and ends with Enter; keys the program has not read
// yet are used first and shown, and what is typed after Enter stays keys. When the window
// was resized or the program resumed after a stop while a reply is typed, the layer at once
// draws the prompt's row (its text since the last line end, when only text was
// written there) and the reply so far afresh on a new row, so that the screen shows what
// Enter takes and erasing works there; with the echo on another terminal than the output,
// only a resume does so, with the reply alone.
//
// Standard input that is not a terminal (a script, a pipe, a file) is one stream: keys and
// replies consume it in order. A reply is the rest of the line the stream stands on (for the
// first prompt of a command, the line of its key) or, when that rest is blank, the next line
// that is not; the bytes after that line are keys again.
// Escape sequences in the stream are decoded as on a terminal, except that it has no Alt
// key: ESC followed by a key is Esc, then that key. An Esc in a reply's line abandons the
// reply; the bytes after the Esc are keys.
//
// The end of the input. Once standard input has ended (end of file, or the terminal hung up)
// getch() returns kEndOfInput on every call and kbhit() reports it as waiting, so polling
// loops see it at once and never spin. Callers treat kEndOfInput as Esc; a loop that drains
// the keyboard must stop at it: while (term::kbhit() && term::getch() != term::kEndOfInput).
//
// At exit, on a terminal, a last line the program left unfinished is ended, so that the
// shell's prompt starts on a row of its own; output to a pipe or file keeps its bytes.
//
// The terminal is given back as it was found on every way out of the program: normal exit,
// Ctrl-C and the other terminating signals, and crashes (the program then dies of the same
// signal). Ctrl-Z gives it back while the program is stopped and takes key mode again on
// resumption. Ctrl-S does not freeze the program.
#ifndef QVX3_CONSOLE_TERM_H
#define QVX3_CONSOLE_TERM_H

#include <cstddef>
#include <cstdint>

namespace term {

// getch() after the input has ended; kbhit() reports it as waiting so that callers see it.
constexpr int kEndOfInput = -1;

// The key code of Esc.
constexpr int kEsc = 27;

// Formatted text on standard output. Returns the count of characters (bytes) formatted, as
// printf does, or a negative value for a format the C library refuses.
int printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Formatted text in the console window at the cursor. On POSIX this is standard output too.
int cprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Cursor position, 1-based column x and row y. Rows count from the row the cursor was on
// when the program started and may exceed the window's height; only the difference between
// rows reaches the terminal, so gotoxy(x, wherey()) is always right. gotoxy() ignores a
// column or row below 1 and stops at the last column of the window.
void gotoxy(int x, int y);
int wherex();
int wherey();

// Clears from the cursor to the end of its row; the cursor stays.
void clreol();

// Clears from the cursor to the end of the screen; the cursor stays.
void clreos();

// True when standard output is a terminal: cursor movement and clearing reach a screen.
bool outputIsTerminal();

// What happened to the output terminal that the layer cannot follow, as bits:
// - kResized: the window changed its size. The terminal may have rewrapped what stands on
//   it, so rows and columns written before no longer hold what they held.
// - kResumed: the program went on after a stop (Ctrl-Z, then fg or bg). Whatever the shell
//   wrote in between stands where the layer thinks its cursor is; the cursor is usually at
//   the start of a row below what the program wrote.
// A signal handler (or, on Windows, the look at the window's size that the layer takes when
// it needs the width anyway) only notes the event in a flag; nothing is written then.
// events() returns the events noted since its last call and clears them; code that draws in
// place asks for them once per cycle and draws afresh. Nothing is noted while standard
// output is not a terminal.
constexpr unsigned kResized = 1;
constexpr unsigned kResumed = 2;
unsigned events();

// Writes out at once what printf() and cprintf() have buffered (the layer does so itself
// before it waits or polls, at line ends on a terminal, and at exit). For code that hands
// standard output on, e.g. to a child process or a test that captures it.
void flush();

// Non-zero when a key (or the end of the input) is waiting; never blocks.
int kbhit();

// The next key code 0 to 255, waiting for one if need be; kEndOfInput once input has ended.
int getch();

// Writes out the buffer, then waits, without using the processor, until kbhit() may report
// a key (or the end of the input) or a signal the layer handles (a resize, a resumption) has
// arrived; returns at once when kbhit() would be non-zero. Reads no key: the caller asks
// kbhit() again. For loops that have nothing to do until a key comes; loops with work of
// their own poll with kbhit().
void waitKey();

// The reply to the prompt just printed (see "Replies" above), into `buffer` of `size` bytes
// as a zero-terminated text. Line: the buffer holds the line, without the blanks around it,
// never empty. TooLong: the line does not fit the buffer; it is consumed all the same and
// the buffer holds "". Abandoned: Esc, on a terminal the end-of-file key (Ctrl-D) on an
// empty line, or the end of the input; the buffer holds "" and, on a terminal, the prompt's
// line has been ended. The end of the input is then reported by getch() as usual.
enum class Reply { Line, TooLong, Abandoned };
Reply readReply(char *buffer, std::size_t size);

// Pauses the program for about `ms` milliseconds (Sleep(1) is about one millisecond).
void Sleep(uint32_t ms);

// Wall-clock milliseconds since the program started; wraps around after 2^32 ms.
uint32_t clock();

// The degree sign in the terminal's own encoding: "\xC2\xB0" (UTF-8) on POSIX unless the
// locale's character set is a single-byte Latin set that has it ("\xB0"); the byte 0xF8 on
// the Windows console.
const char *degreeSign();

} // namespace term

#endif // QVX3_CONSOLE_TERM_H
