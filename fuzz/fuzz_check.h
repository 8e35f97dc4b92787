// fuzz_check.h - the invariant check of every fuzz entry: a failed condition
// traps, so the fuzzer stops with a crash report and keeps the input.
#ifndef ZEL_FUZZ_CHECK_H
#define ZEL_FUZZ_CHECK_H

#define FUZZ_CHECK(cond)      \
    do {                      \
        if (!(cond))          \
            __builtin_trap(); \
    } while (0)

#endif
