// QVX-3-Test: start-up, the command loop and the end of the run.
//
// Exit statuses: 0 after Esc (or the end of the input), -1 for a bad command line, -2 for a
// library of the wrong major version, 1 when the adapter cannot be opened.
#include "bxa7.h"
#include "commands.h"
#include "console.h"
#include "qvx3.h"
#include "term.h"

#include <cctype>
#include <cstring>

namespace {

// The program file's name without its folders. Both '/' and '\' separate folders, so that
// "./QVX-3-Test" and "C:\Tools\QVX-3-Test.exe" both give the bare name.
const char *ProgramBaseName(const char *path) {
    const char *name = path;
    for (const char *p = path; *p; ++p) {
        if (*p == '/' || *p == '\\') name = p + 1;
    }
    return name;
}

void PrintUsage(const char *baseName) {
    // The name is shown up to its first point: QVX-3-Test.exe shows as QVX-3-Test.
    const int nameLength = static_cast<int>(std::strcspn(baseName, "."));
    term::printf("%.*s ver. 1.00, compilation date: %s\n", nameLength, baseName, BuildDate());
    term::printf(" Copyright (c) 2026 the QVX-3 developers\n");
    term::printf("\n");
    term::printf("Usage: %.*s LPT-Number [Switches]\n", nameLength, baseName);
    term::printf("  Switch: { -option, /option }\n");
    term::printf("    options: Q, q: quiet mode          D, d: debug mode\n");
}

// Reads the switches into the run-wide modes; false at the first bad element. Each element
// is one switch: "-" or "/" and the letter D or Q in either case, nothing more.
bool ReadSwitches(int argc, char *argv[]) {
    bool quiet = false;
    bool debug = false;
    for (int i = 1; i < argc; ++i) {
        const char *element = argv[i];
        if ((element[0] != '-' && element[0] != '/') || element[1] == '\0' || element[2] != '\0') {
            return false;
        }
        switch (std::toupper(static_cast<unsigned char>(element[1]))) {
        case 'D':
            debug = true;
            break;
        case 'Q':
            quiet = true;
            break;
        default:
            return false;
        }
    }
    g_debugMode = debug;
    g_quietMode = quiet && !debug;
    return true;
}

// Checks a library's major version; prints the mismatch in every mode.
bool VersionAccepted(const char *library, uint16_t version) {
    const int major = version >> 8;
    const int minor = version & 0xFF;
    if (major != 1) {
        term::printf("Wrong %s Version, expected 1.00, found %d.%02d\n", library, major, minor);
        return false;
    }
    if (g_debugMode) term::printf("%s Version: %d.%02d\n", library, major, minor);
    return true;
}

// Drops keys typed ahead of the end of the run.
void DrainKeys() {
    while (term::kbhit()) {
        if (term::getch() == term::kEndOfInput) break;
    }
}

} // namespace

int main(int argc, char *argv[]) {
    const char *baseName = argc > 0 && argv[0] ? ProgramBaseName(argv[0]) : "";
    if (!ReadSwitches(argc, argv)) {
        PrintUsage(baseName);
        return -1;
    }

    if (g_debugMode) term::printf("Checking BXA-7.dll Version...\n");
    if (!VersionAccepted("BXA-7.dll", BXA_7_Version())) return -2;
    if (g_debugMode) term::printf("Checking QVX-3.dll Version...\n");
    if (!VersionAccepted("QVX-3.dll", QVX_3_Version())) return -2;

    if (g_debugMode) term::printf("Opening the communication port...\n");
    if (BXA_7_Open() != 0) {
        PrintError("BXA_7_Open");
        return 1;
    }
    if (!g_quietMode) term::printf("Communication port opened\n");
    FlushAdapter();

    CommandLoop();

    DrainKeys();
    if (!g_quietMode) term::printf("Program finished");
    return 0;
}
