// capture_test.cpp - uploaded files: their accessors, the capture file's
// exact bytes, what the dump tool prints of it, a restore, the result of
// every way a capture can be cut, mislabelled or fail to be written.
#include "cgi_request_internal.h"
#include "child_process.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The capture prefix: the request variables as set and a content length.
std::string header(int contentLength)
{
    std::string s = str("ENVC2.0");
    for (const cgiRequestVariable& v : cgiRequestVariables)
        s += str(*v.var);
    return s + be32(static_cast<uint32_t>(contentLength));
}

// Appends an entry; with contents it owns a temporary file holding them.
void addEntry(const char* attr, const char* value, int valueLength, const char* fileName,
              const char* contentType, const std::string* contents)
{
    char tfile[1024] = "";
    if (contents) {
        ASSERT_EQ(cgiParseSuccess, getTempFileName(tfile));
        std::ofstream(tfile, std::ios::binary) << *contents;
    }
    cgiAppendEntry(cgiNewEntry(attr, value, valueLength, fileName, contentType, tfile));
}

// Entries "a" (text), "f" (file "hello") and "m" (a multipart file part whose
// body went to the hook: an empty temporary file).
const std::string kHello = "hello", kEmpty;
void addThree()
{
    addEntry("a", "1", 1, "", "", nullptr);
    addEntry("f", "", 5, "c:\\x.png", "image/png", &kHello);
    addEntry("m", "", 3000, "up.bin", "", &kEmpty);
}

// Request variables "v0".."v19" (their storage outlives the test).
std::string g_values[kCgiRequestVariableCount];

class Capture : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (!getenv("ZEL_IN_NS"))
            GTEST_SKIP() << "needs the namespace runner";
        cgiFreeResources();
        cgiSetupConstants();
        for (int i = 0; i < kCgiRequestVariableCount; i++)
            *cgiRequestVariables[i].var = &(g_values[i] = "v" + std::to_string(i))[0];
        before_ = testproc::tmpFiles().size();
    }
    void TearDown() override
    {
        cgiFreeResources();
        EXPECT_TRUE(IsSkipped() || before_ == testproc::tmpFiles().size());
    }
    size_t before_ = 0;
};

// The upload file's mode, each accessor on each entry ("#": the output
// untouched), then the reads.
TEST_F(Capture, UploadAccessors)
{
    addThree();
    struct stat st = {};
    ASSERT_EQ(0, stat(cgiFormEntryFirst->next->tfileName, &st));
    EXPECT_EQ(0600u, st.st_mode & 0777u) << "an upload is readable by the program's user alone";
    std::string got;
    for (const char* name : {"f", "m", "a", "z"}) {
        for (int space : {64, 4, 0}) {
            char file[64] = "#", type[64] = "#";
            int size = -1, f = cgiFormFileName(name, file, space),
                t = cgiFormFileContentType(name, type, space), z = cgiFormFileSize(name, &size);
            got += std::to_string(f) + file + "," + std::to_string(t) + type + "," +
                   std::to_string(z) + ":" + std::to_string(size) + " ";
        }
    }
    EXPECT_EQ(
        "0c:\\x.png,0image/png,0:5 1c:\\,1ima,0:5 1#,1#,0:5 0up.bin,9,0:3000 1up.,9,0:3000 1#,9#,"
        "0:3000 8,9,10:0 8,9,10:0 8#,9#,10:0 4,4,4:0 4,4,4:0 4#,4#,4:0 ",
        got);

    cgiFilePtr h = nullptr;
    ASSERT_EQ(cgiFormSuccess, cgiFormFileOpen("f", &h));
    std::string pieces;
    char buf[2];
    int n = -1;
    while (cgiFormFileRead(h, buf, sizeof buf, &n) == cgiFormSuccess)
        pieces += std::string(buf, n) + "|";
    EXPECT_EQ("he|ll|o|", pieces);
    EXPECT_EQ(1, n);  // untouched by the final EOF
    EXPECT_EQ(cgiFormSuccess, cgiFormFileClose(h));
    h = reinterpret_cast<cgiFilePtr>(&h);
    EXPECT_EQ(cgiFormNotAFile, cgiFormFileOpen("a", &h));
    EXPECT_EQ(nullptr, h);
    unlink(cgiFormEntryFirst->next->tfileName);
    h = reinterpret_cast<cgiFilePtr>(&h);
    EXPECT_EQ(cgiFormIO, cgiFormFileOpen("f", &h));
    EXPECT_EQ(reinterpret_cast<cgiFilePtr>(&h), h);
    EXPECT_EQ(cgiFormOpenFailed, cgiFormFileRead(nullptr, buf, 1, &n));
    EXPECT_EQ(cgiFormOpenFailed, cgiFormFileClose(nullptr));
}

// The exact bytes (a multipart part records the 0 bytes it held) and what the
// dump tool prints of them; the fuzz_replay_capture entry reads them back.
TEST_F(Capture, ExactBytesAndDump)
{
    char ua[] = "ag\"ent\x01";
    cgiUserAgent = ua;
    cgiContentLength = -2;
    addThree();
    ASSERT_EQ(cgiEnvironmentSuccess, cgiWriteEnvironment(kCapture));
    EXPECT_EQ(header(-2) + str("a") + str("1") + str("") + str("") + be32(1) + be32(0) + str("f") +
                  str("") + str("c:\\x.png") + str("image/png") + be32(5) + be32(1) + "hello" +
                  str("m") + str("") + str("up.bin") + str("") + be32(0) + be32(1),
              testproc::readFile(kCapture));
    const testproc::Outcome o = testproc::run({{ENVCDUMP, kCapture}});
    EXPECT_EQ(0, o.status);
    for (const char* l : {"HTTP_USER_AGENT: \"ag\\\"ent\\x01\"\n", "CONTENT_LENGTH: -2\n",
                          "[1] name \"a\" value \"1\" valueLength 1 no contents\n",
                          "[2] name \"f\" value \"\" valueLength 5 file \"c:\\\\x.png\" type "
                          "\"image/png\" contents 5 bytes\n",
                          "entries: 3\n"})
        EXPECT_NE(std::string::npos, o.out.find(l)) << l << " in\n" << o.out;
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
        std::ofstream(kCapture, std::ios::binary) << full.substr(0, cut);
        ASSERT_EQ(expected, cgiReadEnvironment(kCapture)) << "cut " << cut << " of " << full.size();
        size_t n = 0;
        for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next)
            n++;
        EXPECT_EQ(entries, n) << cut;
        cgiFreeResources();
    }
}

TEST_F(Capture, FailedReadsAndWrites)
{
    const std::string env = header(0);
    for (const char* version : {"ENVC2.1", "ENVC2.0 "}) {
        addEntry("keep", "1", 1, "", "", nullptr);
        std::ofstream(kCapture, std::ios::binary) << str(version) + env.substr(11);
        EXPECT_EQ(cgiEnvironmentWrongVersion, cgiReadEnvironment(kCapture)) << version;
        EXPECT_EQ(nullptr, cgiFormEntryFirst) << version;
        const testproc::Outcome o = testproc::run({{ENVCDUMP, kCapture}});
        EXPECT_EQ(1, o.status);
        EXPECT_EQ("", o.out);
    }
    EXPECT_EQ(cgiEnvironmentIO, cgiReadEnvironment("/var/www/no/such/file"));
    // A failed write deletes the partial file.
    EXPECT_EQ(cgiEnvironmentIO, cgiWriteEnvironment("/var/www/no/such/dir/x"));
    ASSERT_EQ(0, system("mkdir -p /var/www/tiny && mount -t tmpfs -o size=8k tiny /var/www/tiny"));
    const std::string big(64 * 1024, 'b');
    addEntry("f", "", static_cast<int>(big.size()), "b", "", &big);
    EXPECT_EQ(cgiEnvironmentIO, cgiWriteEnvironment("/var/www/tiny/c.env"));
    EXPECT_NE(0, access("/var/www/tiny/c.env", F_OK));
    EXPECT_EQ(0, umount("/var/www/tiny"));
}

}  // namespace
