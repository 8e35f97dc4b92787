// stderr_capture.h - what a piece of code writes to file descriptor 2.
#ifndef ZEL_TESTS_STDERR_CAPTURE_H
#define ZEL_TESTS_STDERR_CAPTURE_H

#include <gtest/gtest.h>

#include <string>

template <typename Fn>
std::string capture_stderr(Fn&& fn)
{
    ::testing::internal::CaptureStderr();
    fn();
    return ::testing::internal::GetCapturedStderr();
}

#endif
