// fuzz_check.h - the invariant check of every fuzz entry: a failed condition
// traps, so the fuzzer stops with a crash report and keeps the input.
#ifndef ZEL_FUZZ_CHECK_H
#define ZEL_FUZZ_CHECK_H

#define FUZZ_CHECK(cond) ((cond) ? (void)0 : __builtin_trap())

#endif
