// debug_test.cpp - the diagnostic log: line format, destination choice, the
// stored program name and the precondition checks of init_debug.
#include "debug.h"
#include "debug_internal.h"
#include "stderr_capture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class DebugLog : public ::testing::Test {
 protected:
  void SetUp() override {
    debugLevels = 0;
    debug_open_log(nullptr);
  }
  void TearDown() override { debug_open_log(nullptr); }
};

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST_F(DebugLog, LineIsSectionBarExpandedMessageNewline) {
  struct Case {
    int section;
    std::string expected;
  } cases[] = {{10, "10|v=7 s=ab\n"}, {0, "0|v=7 s=ab\n"}, {-3, "-3|v=7 s=ab\n"}};
  for (const Case& c : cases) {
    EXPECT_EQ(capture_stderr([&] { _db_print(c.section, "v=%d s=%s", 7, "ab"); }), c.expected);
  }
}

TEST_F(DebugLog, KeepsErrnoOfTheCaller) {
  errno = EIDRM;
  capture_stderr([] { _db_print(10, "x"); });
  EXPECT_EQ(errno, EIDRM);
}

TEST_F(DebugLog, FormatLongerThanTheWorkAreaIsWrittenWhole) {
  // Fills and overruns the 8192-byte work area; the sanitizer build catches
  // any write beyond it.
  for (std::size_t len : {8186u, 8187u, 8191u, 8192u, 20000u}) {
    const std::string format(len, 'f');
    const std::string out = capture_stderr([&] { _db_print(10, "%s", format.c_str()); });
    EXPECT_EQ(out, "10|" + format + "\n") << len;
    // The caller's own directives are expanded on the long path too.
    const std::string with_directive = format + "%d";
    const std::string direct = capture_stderr([&] { _db_print(10, with_directive.c_str(), 42); });
    EXPECT_EQ(direct, "10|" + format + "42\n") << len;
  }
}

TEST_F(DebugLog, GateWritesOnlyAboveTheThreshold) {
  struct Case {
    int level;
    int min;
    bool written;
  } cases[] = {{0, -1, true}, {-1, -1, false}, {2, 2, false}, {3, 2, true}, {8, 8, false},
               {9, 8, true}};
  for (const Case& c : cases) {
    debugLevels = c.level;
    const std::string out = capture_stderr([&] { DB_ABOVE(c.min, 10, "gate"); });
    EXPECT_EQ(out, c.written ? "10|gate\n" : "") << c.level << " " << c.min;
  }
}

TEST_F(DebugLog, OpenLogWritesToTheFileAndFallsBackToStderr) {
  const std::string path = ::testing::TempDir() + "/zel_debug_test.log";
  ASSERT_EQ(debug_open_log(path.c_str()), 0);
  EXPECT_EQ(capture_stderr([] { _db_print(4, "to file %d", 1); }), "");
  EXPECT_EQ(slurp(path), "4|to file 1\n");

  const char* bad = "/nonexistent-dir/zel.log";
  int rc = 0;
  const std::string notice = capture_stderr([&] { rc = debug_open_log(bad); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(notice, "Can not open log file /nonexistent-dir/zel.log. stderr will be used\n");
  EXPECT_EQ(debug_destination(), stderr);
  EXPECT_EQ(debug_open_log(nullptr), 0);
  EXPECT_EQ(debug_destination(), stderr);
}

TEST_F(DebugLog, InitDebugStoresTheBaseName) {
  struct Case {
    const char* prog;
    const char* stored;
  } cases[] = {{"/usr/www/cgi-bin/zelbrowser.cgi", "zelbrowser.cgi"},
               {"zelbrowser.cgi", "zelbrowser.cgi"},
               {"./a", "a"},
               {"dir/", ""}};
  for (const Case& c : cases) {
    capture_stderr([&] { init_debug(c.prog, nullptr); });
    EXPECT_STREQ(debug_process_name(), c.stored) << c.prog;
  }
}

TEST_F(DebugLog, InitDebugKeepsEightyBytesOfALongName) {
  const std::string name(100, 'n');
  init_debug(("/bin/" + name).c_str(), nullptr);
  EXPECT_EQ(std::memcmp(debug_process_name(), name.data(), 80), 0);
}

TEST_F(DebugLog, InitDebugVersionLineOnlyAboveEight) {
  debugLevels = 8;
  EXPECT_EQ(capture_stderr([] { init_debug("p", nullptr); }), "");
  debugLevels = 9;
  const std::string out = capture_stderr([] { init_debug("p", nullptr); });
  EXPECT_EQ(out.rfind("0|", 0), 0u) << out;
  EXPECT_EQ(out.back(), '\n');
}

TEST(DebugLogDeath, InitDebugRejectsNullAndEmptyNames) {
  EXPECT_DEATH(init_debug(nullptr, nullptr), "progName");
  EXPECT_DEATH(init_debug("", nullptr), "strLen > 0");
}

}  // namespace
