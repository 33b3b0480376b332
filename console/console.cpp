#include "console.h"

#include "bxa7.h"
#include "term.h"

bool g_quietMode = false;
bool g_debugMode = false;

void PrintHeading(const char *line) {
    if (g_debugMode) term::printf("%s", line);
}

void EndPromptLine() {
    if (term::wherex() != 1) term::printf("\n");
}

void PrintError(const char *name) {
    // Both texts describe the failure only until the next adapter operation, and the I/O
    // text is the one asked for first.
    const char *ioText = BXA_7_IO_ErrorMessage();
    const char *errorText = BXA_7_ErrorMessage();
    term::printf("Error at %s: %s, I/O Error Message: %s\n", name, errorText ? errorText : "",
                 ioText ? ioText : "");
}

void FlushAdapter() {
    if (g_debugMode) term::printf("Flushing communication buffers of the BXA-7 adapter...\n");
    if (BXA_7_Flush_LPT() != 0) {
        PrintError("BXA_7_Flush_LPT");
        return;
    }
    if (g_debugMode) {
        term::printf("Communication buffers of the BXA-7 adapter were flushed\n");
    } else if (!g_quietMode) {
        term::printf("Buffers flushed\n");
    }
}

bool Failed(int32_t status, const char *name) {
    if (status == 0) return false;
    PrintError(name);
    FlushAdapter();
    return true;
}
