// Prints the build date that QVX-3-Test shows in its usage text, for the transcript tests.
#include "console.h"

#include <cstdio>

int main() {
    std::puts(BuildDate());
    return 0;
}
