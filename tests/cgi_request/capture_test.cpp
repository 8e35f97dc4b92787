// capture_test.cpp - the capture file: exact bytes, round trip with uploaded
// contents, the multipart-part rule, and the result of every way a capture
// can be cut, mislabelled or fail to be written.
#include "child_process.h"
#include "test_support.h"

#include <sys/mount.h>
#include <sys/stat.h>

#include <fstream>

namespace {

const char kCapture[] = "/var/www/capture.env";

std::string be32(uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}
std::string str(const std::string& s)
{
    return be32(static_cast<uint32_t>(s.size())) + s;
}

void writeBytes(const char* path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Request variables "v0".."v19" (their storage outlives the test).
std::string g_values[kCgiRequestVariableCount];
void setVariables()
{
    for (int i = 0; i < kCgiRequestVariableCount; i++) {
        g_values[i] = "v" + std::to_string(i);
        *cgiRequestVariables[i].var = &g_values[i][0];
    }
}

// The capture prefix for setVariables() and a content length.
std::string header(int contentLength)
{
    std::string s = str("ENVC2.0");
    for (int i = 0; i < kCgiRequestVariableCount; i++)
        s += str("v" + std::to_string(i));
    return s + be32(static_cast<uint32_t>(contentLength));
}

class Capture : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (!getenv("ZEL_IN_NS"))
            GTEST_SKIP() << "needs the namespace runner";
        resetRequest();
        setVariables();
    }
    void TearDown() override { resetRequest(); }
};

TEST_F(Capture, ExactBytes)
{
    cgiContentLength = 300;
    const std::string hello = "hello", empty;
    addEntry("a", "1", 1, "", "", nullptr);
    addEntry("f", "", 5, "x.txt", "text/plain", &hello);
    addEntry("m", "", 3000, "up.bin", "", &empty);  // multipart part: held 0 bytes, recorded as 0
    ASSERT_EQ(cgiEnvironmentSuccess, cgiWriteEnvironment(kCapture));
    EXPECT_EQ(header(300) + str("a") + str("1") + str("") + str("") + be32(1) + be32(0) + str("f") +
                  str("") + str("x.txt") + str("text/plain") + be32(5) + be32(1) + "hello" +
                  str("m") + str("") + str("up.bin") + str("") + be32(0) + be32(1),
              testproc::readFile(kCapture));
    EXPECT_EQ(std::string("\0\0\0\7ENVC2.0", 11), testproc::readFile(kCapture).substr(0, 11));
    resetRequest();
    setVariables();
    cgiContentLength = -2;
    ASSERT_EQ(cgiEnvironmentSuccess, cgiWriteEnvironment(kCapture));
    EXPECT_EQ(header(-2), testproc::readFile(kCapture));
}

TEST_F(Capture, RoundTrip)
{
    std::string big(3000, '\0');
    for (size_t i = 0; i < big.size(); i++)
        big[i] = static_cast<char>(i * 7);
    const std::string small = "second";
    addEntry("f", "", 3000, "a.bin", "application/x", &big);
    addEntry("u", "line\nx", 6, "", "", nullptr);
    addEntry("f", "", 6, "b.txt", "", &small);
    cgiContentLength = 77;
    ASSERT_EQ(cgiEnvironmentSuccess, cgiWriteEnvironment(kCapture));
    resetRequest();
    ASSERT_EQ(cgiEnvironmentSuccess, cgiReadEnvironment(kCapture));
    for (int i = 0; i < kCgiRequestVariableCount; i++)
        EXPECT_STREQ(("v" + std::to_string(i)).c_str(), *cgiRequestVariables[i].var);
    EXPECT_EQ(77, cgiContentLength);
    EXPECT_EQ(1, cgiRestored);

    cgiFormEntry* first = cgiFormEntryFindFirst("f");
    ASSERT_NE(nullptr, first);
    EXPECT_STREQ("a.bin", first->fileName);
    cgiFilePtr h = nullptr;
    ASSERT_EQ(cgiFormSuccess, cgiFormFileOpen("f", &h));
    std::string back;
    char buf[1024];
    for (int got = 0; cgiFormFileRead(h, buf, sizeof buf, &got) == cgiFormSuccess;)
        back.append(buf, got);
    cgiFormFileClose(h);
    EXPECT_EQ(big, back);
    cgiFormEntry* second = cgiFormEntryFindNext();
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(small, testproc::readFile(second->tfileName));
    struct stat st = {};
    ASSERT_EQ(0, stat(second->tfileName, &st));
    EXPECT_EQ(0600u, st.st_mode & 0777u) << "an upload is readable by the program's user alone";
    char text[16];
    EXPECT_EQ(cgiFormSuccess, cgiFormString("u", text, sizeof text));
    EXPECT_STREQ("line\nx", text);

    // The end of the request releases restored texts and files.
    std::string tfile = first->tfileName;
    cgiFreeResources();
    EXPECT_NE(0, access(tfile.c_str(), F_OK));
    EXPECT_STREQ("", cgiRemoteUser);
    EXPECT_EQ(0, cgiRestored);
}

TEST_F(Capture, EveryCutPoint)
{
    addEntry("a", "1", 1, "", "", nullptr);
    const std::string contents = "xyz";
    addEntry("f", "", 3, "n", "t", &contents);
    ASSERT_EQ(cgiEnvironmentSuccess, cgiWriteEnvironment(kCapture));
    const std::string full = testproc::readFile(kCapture);
    const size_t env = header(0).size();
    const size_t attr1 = env + 5, end1 = attr1 + 5 + 4 * 4;
    const size_t attr2 = end1 + 5, fields2 = attr2 + 4 + 5 + 5 + 8, end2 = fields2 + 3;
    ASSERT_EQ(end2, full.size());
    cgiFreeResources();
    const size_t before = testproc::tmpFiles().size();
    for (size_t cut = 0; cut <= full.size(); cut++) {
        cgiEnvironmentResultType expected;
        size_t entries = 0;
        if (cut < env)
            expected = cgiEnvironmentIO;  // version, a variable or the length cut
        else if (cut < attr1 || cut == end1 || (cut > end1 && cut < attr2) || cut == end2)
            expected = cgiEnvironmentSuccess, entries = cut >= end1 ? 1 + (cut == end2) : 0;
        else if (cut < end1 || cut < fields2)
            expected = cgiEnvironmentMemory;  // an entry cut after its name
        else
            expected = cgiEnvironmentIO;  // contents short
        writeBytes(kCapture, full.substr(0, cut));
        ASSERT_EQ(expected, cgiReadEnvironment(kCapture)) << "cut " << cut << " of " << full.size();
        size_t n = 0;
        for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next)
            n++;
        EXPECT_EQ(entries, n) << cut;
        cgiFreeResources();
        EXPECT_EQ(before, testproc::tmpFiles().size()) << cut;
    }
}

TEST_F(Capture, WrongVersionAndOtherFailures)
{
    addEntry("keep", "1", 1, "", "", nullptr);
    const char* versions[] = {"ENVC2.1", "ENVC2.0 "};
    for (const char* v : versions) {
        writeBytes(kCapture, str(v) + header(0).substr(11));
        EXPECT_EQ(cgiEnvironmentWrongVersion, cgiReadEnvironment(kCapture)) << v;
        EXPECT_EQ(nullptr, cgiFormEntryFirst) << v;
    }
    EXPECT_EQ(cgiEnvironmentIO, cgiReadEnvironment("/var/www/no/such/file"));
    writeBytes(kCapture, be32(0xFFFFFFF0u) + "ENVC2.0");  // negative length
    EXPECT_EQ(cgiEnvironmentIO, cgiReadEnvironment(kCapture));
    writeBytes(kCapture, be32(0x7FFFFFFFu) + "ENVC2.0");  // absurd length, few bytes
    EXPECT_EQ(cgiEnvironmentIO, cgiReadEnvironment(kCapture));

    // A failed restore keeps the variables it had read.
    writeBytes(kCapture, header(0).substr(0, header(0).size() - 10));
    for (int i = 0; i < kCgiRequestVariableCount; i++)
        *cgiRequestVariables[i].var = cgiEmptyString;
    EXPECT_EQ(cgiEnvironmentIO, cgiReadEnvironment(kCapture));
    EXPECT_STREQ("v0", cgiServerSoftware);
    EXPECT_STREQ("", cgiCookie);
}

TEST_F(Capture, WriteFailuresDeleteThePartialFile)
{
    EXPECT_EQ(cgiEnvironmentIO, cgiWriteEnvironment("/var/www/no/such/dir/x"));
    ASSERT_EQ(0, system("mkdir -p /var/www/tiny && mount -t tmpfs -o size=8k tiny /var/www/tiny"));
    const std::string big(64 * 1024, 'b');
    addEntry("f", "", static_cast<int>(big.size()), "b", "", &big);
    EXPECT_EQ(cgiEnvironmentIO, cgiWriteEnvironment("/var/www/tiny/c.env"));
    EXPECT_NE(0, access("/var/www/tiny/c.env", F_OK));
    EXPECT_EQ(0, umount("/var/www/tiny"));
}

}  // namespace
