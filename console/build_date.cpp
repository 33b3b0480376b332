#include "console.h"

// Kept in a file of its own so that the program and the tests that check its usage text
// link the one compiled date.
const char *BuildDate() {
    return __DATE__;
}
