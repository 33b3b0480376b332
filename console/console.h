// What every part of the QVX-3-Test console shares: the run-wide modes and the one failure
// path of the commands.
#ifndef QVX3_CONSOLE_CONSOLE_H
#define QVX3_CONSOLE_CONSOLE_H

#include <cstddef>
#include <cstdint>
#include <string>

// Set from the command line, fixed for the rest of the run; debug mode clears quiet mode.
extern bool g_quietMode;
extern bool g_debugMode;

// Prints a command's heading line (ending with ":\n") in debug mode only.
void PrintHeading(const char *line);

// Ends the line of a prompt whose reply never came (abandoned, or the input ended), unless
// the terminal already ended it, so that what follows starts on a line of its own.
void EndPromptLine();

// Replies to prompts. Each reads the reply to the prompt just printed, one line, and takes it
// only when the whole line, blanks around it aside, is one number of its form; nothing of
// the line is left for later prompts or keys.
//   Number: `value` holds the number.
//   Wrong: the line is anything else, or longer than 255 characters; `value` is untouched
//     and the caller refuses the reply with its prompt's wrong-value message.
//   Abandoned: Esc, the terminal's end-of-file key on an empty line, or the end of the
//     input; the prompt's line has been ended and the command ends, sending nothing.
enum class Entry { Number, Wrong, Abandoned };
// An integer in decimal, hexadecimal with the suffix h or binary with the suffix b, as
// String2Long reads it ("20", "14h", "10100b").
Entry ReadInteger(int32_t &value);
// A real number as String2Float reads it ("2.5", "1e1").
Entry ReadReal(float &value);
// An integer in the forms of ReadInteger as String2ULong reads it, of at most `maxLength`
// characters; a longer reply is Wrong, not cut.
Entry ReadUnsigned(uint32_t &value, std::size_t maxLength);

// Prints "Error at <name>: <error text>, I/O Error Message: <I/O text>\n" with the adapter
// library's two texts on the most recent failure. Printed in every mode.
void PrintError(const char *name);

// Flushes the adapter's buffers; a failure is reported with PrintError, never returned.
void FlushAdapter();

// What Failed() does, as text: flushes the adapter and returns the lines Failed() would
// print for `name` (the error report line, then the flush's lines in the run's mode, each
// ending with "\n") instead of printing them. For callers that decide how to show them.
std::string FailureReport(const char *name);

// The failure path of the commands: when `status` is non-zero, prints the error report for
// `name`, flushes the adapter and returns true; returns false on success.
bool Failed(int32_t status, const char *name);

// The date the program was built, as the compiler writes it: "Jan  4 2016".
const char *BuildDate();

#endif // QVX3_CONSOLE_CONSOLE_H
