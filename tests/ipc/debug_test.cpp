// debug_test.cpp - the diagnostic log: line format, threshold, destination
// choice, the stored program name and init_debug's precondition checks.
#include "debug.h"
#include "debug_internal.h"
#include "stderr_capture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

class DebugLog : public ::testing::Test {
  protected:
    void SetUp() override { debugLevels = 0, debug_open_log(nullptr); }
    void TearDown() override { debug_open_log(nullptr); }
};

TEST_F(DebugLog, LineIsSectionBarExpandedMessageNewlineAndErrnoIsKept)
{
    for (int section : {10, 0, -3}) {
        errno = EIDRM;
        EXPECT_EQ(capture_stderr([&] { _db_print(section, "v=%d s=%s", 7, "ab"); }),
                  std::to_string(section) + "|v=7 s=ab\n");
        EXPECT_EQ(errno, EIDRM);
    }
}

TEST_F(DebugLog, FormatLongerThanTheWorkAreaIsWrittenWhole)
{
    // Fills and overruns the 8192-byte work area; the sanitizer build catches
    // any write beyond it. The caller's directives are expanded on that path too.
    for (std::size_t len : {8187u, 8192u, 20000u}) {
        const std::string format(len, 'f');
        EXPECT_EQ(capture_stderr([&] { _db_print(10, (format + "%d").c_str(), 42); }),
                  "10|" + format + "42\n")
            << len;
    }
}

TEST_F(DebugLog, GateWritesOnlyAboveTheThreshold)
{
    const struct {
        int level, min;
        bool written;
    } cases[] = {{0, -1, true}, {-1, -1, false}, {2, 2, false},
                 {3, 2, true},  {8, 8, false},   {9, 8, true}};
    for (const auto& c : cases) {
        debugLevels = c.level;
        EXPECT_EQ(capture_stderr([&] { DB_ABOVE(c.min, 10, "gate"); }),
                  c.written ? "10|gate\n" : "")
            << c.level << " " << c.min;
    }
}

TEST_F(DebugLog, OpenLogWritesToTheFileAndFallsBackToStderr)
{
    const std::string path = ::testing::TempDir() + "/zel_debug_test.log";
    std::ofstream(path) << "an earlier run's line\n";  // each run starts a new log
    ASSERT_EQ(debug_open_log(path.c_str()), 0);
    EXPECT_EQ(capture_stderr([] { _db_print(4, "to file %d", 1); }), "");
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "4|to file 1\n");
    int rc = 0;
    EXPECT_EQ(capture_stderr([&] { rc = debug_open_log("/nonexistent-dir/zel.log"); }),
              "Can not open log file /nonexistent-dir/zel.log. stderr will be used\n");
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(debug_destination(), stderr);
}

TEST_F(DebugLog, InitDebugStoresTheBaseNameAndLogsItsVersionAboveEight)
{
    const std::string long_name(100, 'n');
    const struct {
        std::string prog, stored;
    } cases[] = {{"/usr/www/cgi-bin/zelbrowser.cgi", "zelbrowser.cgi"},
                 {"zelbrowser.cgi", "zelbrowser.cgi"},
                 {"./a", "a"},
                 {"dir/", ""},
                 {"/bin/" + long_name, long_name.substr(0, 80)}};
    debugLevels = 8;  // one below the version line's threshold
    for (const auto& c : cases) {
        EXPECT_EQ(capture_stderr([&] { init_debug(c.prog.c_str(), nullptr); }), "");
        EXPECT_EQ(std::string(debug_process_name(), strnlen(debug_process_name(), 80)), c.stored)
            << c.prog;
    }
    debugLevels = 9;
    const std::string out = capture_stderr([] { init_debug("p", nullptr); });
    EXPECT_EQ(out.rfind("0|", 0), 0u) << out;
    EXPECT_EQ(out.back(), '\n');
}

TEST(DebugLogDeath, InitDebugRejectsNullAndEmptyNames)
{
    EXPECT_DEATH(init_debug(nullptr, nullptr), "progName");
    EXPECT_DEATH(init_debug("", nullptr), "strLen > 0");
}

}  // namespace
