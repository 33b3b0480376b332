// A small program on the terminal layer for the pseudo-terminal tests. Each argument is one
// step, run in order:
//   r        enter key mode (kbhit) and print "ready"
//   k        read one key: "key N", "key 0 N" for an extended key, "key end"
//   K        read keys as k does until Esc or the end of the input
//   p        poll as a monitor does (kbhit, else Sleep(1)) until a key, then as k
//   l        ask a reply: "reply? ", then print "reply [TEXT]", "reply too long" (a buffer
//            of 10 characters) or "reply abandoned"
//   t<text>  print the text with cprintf
//   #        gotoxy(wherex(), wherey()) and print "#": lands right after the text only if
//            the layer followed the cursor
//   =        print "\nat X Y\n" with the position before the line end
//   g<x>     gotoxy(x, wherey())
//   c        clreol
//   w<ms>    Sleep(ms)
//   o        print the degree sign's bytes in hex: "degree C2 B0"
//   q        drain waiting keys as the console does at its end, then print "drained"
//   A S      crash: abort(), or a write to an unmapped page
// At the end it prints "done".
#include "term.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/mman.h>

namespace {

void showKey(int key) {
    if (key == term::kEndOfInput)
        term::printf("key end\n");
    else if (key == 0)
        term::printf("key 0 %d\n", term::getch());
    else
        term::printf("key %d\n", key);
}

void crashByFault() {
    // A page that exists but may not be touched: a real fault, and no undefined behaviour
    // for the compiler or the sanitizers to report first.
    void *page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile char *>(page) = 1;
}

} // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const char *step = argv[i];
        switch (step[0]) {
        case 'r':
            term::kbhit();
            term::printf("ready\n");
            break;
        case 'k':
            showKey(term::getch());
            break;
        case 'K':
            for (;;) {
                const int key = term::getch();
                showKey(key);
                if (key == 27 || key == term::kEndOfInput) break;
            }
            break;
        case 'p':
            while (!term::kbhit())
                term::Sleep(1);
            showKey(term::getch());
            break;
        case 'l': {
            term::printf("reply? ");
            char line[11];
            switch (term::readReply(line, sizeof line)) {
            case term::Reply::Line:
                term::printf("reply [%s]\n", line);
                break;
            case term::Reply::TooLong:
                term::printf("reply too long\n");
                break;
            case term::Reply::Abandoned:
                term::printf("reply abandoned\n");
                break;
            }
            break;
        }
        case 't':
            term::cprintf("%s", step + 1);
            break;
        case '#':
            term::gotoxy(term::wherex(), term::wherey());
            term::cprintf("#");
            break;
        case '=': {
            const int x = term::wherex(), y = term::wherey();
            term::printf("\nat %d %d\n", x, y);
            break;
        }
        case 'g':
            term::gotoxy(std::atoi(step + 1), term::wherey());
            break;
        case 'c':
            term::clreol();
            break;
        case 'w':
            term::Sleep(static_cast<uint32_t>(std::atoi(step + 1)));
            break;
        case 'o':
            term::printf("degree");
            for (const char *p = term::degreeSign(); *p; ++p)
                term::printf(" %02X", static_cast<unsigned char>(*p));
            term::printf("\n");
            break;
        case 'q':
            while (term::kbhit() && term::getch() != term::kEndOfInput) {
            }
            term::printf("drained\n");
            break;
        case 'A':
            std::abort();
        case 'S':
            crashByFault();
            break;
        default:
            term::printf("unknown step %s\n", step);
            return 2;
        }
    }
    term::printf("done\n");
    return 0;
}
