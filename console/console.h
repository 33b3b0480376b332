// What every part of the QVX-3-Test console shares: the run-wide modes and the one failure
// path of the commands.
#ifndef QVX3_CONSOLE_CONSOLE_H
#define QVX3_CONSOLE_CONSOLE_H

#include <cstdint>
#include <string>

// Set from the command line, fixed for the rest of the run; debug mode clears quiet mode.
extern bool g_quietMode;
extern bool g_debugMode;

// Prints a command's heading line (ending with ":\n") in debug mode only.
void PrintHeading(const char *line);

// Ends the line of a prompt whose reply never came (the input ended), unless the terminal's
// end-of-file key already ended it, so that what follows starts on a line of its own.
void EndPromptLine();

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
