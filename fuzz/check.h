// What the fuzz targets share: a contract check that stops the run with a message, so that
// libFuzzer keeps the input that broke it as a finding.
#ifndef QVX3_FUZZ_CHECK_H
#define QVX3_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

// Aborts with `what` (a printf format and its arguments) when `condition` is false.
#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "contract broken: %s\n  ", #condition);                           \
            std::fprintf(stderr, __VA_ARGS__);                                                     \
            std::fputc('\n', stderr);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

#endif // QVX3_FUZZ_CHECK_H
