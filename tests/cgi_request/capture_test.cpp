// capture_test.cpp - upload accessors; the capture file's bytes, its dump, and
// every way a capture can be cut, mislabelled or fail to be written.
#include "cgi_request_internal.h"
#include "child_process.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <vector>

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

// The exact bytes (a multipart part records the 0 bytes it held), what the
// dump tool prints of them, and the result of a read cut at every byte: a
// clean end before an entry or within its name, memory while its fields are
// cut, input/output while its contents are.
TEST_F(Capture, ExactBytesDumpAndEveryCut)
{
    char ua[] = "ag\"ent\x01";
    cgiUserAgent = ua;
    cgiContentLength = -2;
    addThree();
    ASSERT_EQ(cgiEnvironmentSuccess, cgiWriteEnvironment(kCapture));
    std::string want = header(-2);
    const size_t env = want.size();
    struct Entry {
        size_t named, fields, end;
    };
    std::vector<Entry> ends;
    for (const auto& e : {std::vector<std::string>{"a", "1", "", "", "1", ""},
                          {"f", "", "c:\\x.png", "image/png", "5", "hello"},
                          {"m", "", "up.bin", "", "0", ""}}) {
        want += str(e[0]);
        const size_t named = want.size();
        want += str(e[1]) + str(e[2]) + str(e[3]) + be32(std::stoi(e[4])) + be32(!e[2].empty());
        ends.push_back({named, want.size(), (want += e[5]).size()});
    }
    ASSERT_EQ(want, testproc::readFile(kCapture));
    const testproc::Outcome o = testproc::run({{ENVCDUMP, kCapture}});
    EXPECT_EQ(0, o.status);
    for (const char* l :
         {"HTTP_USER_AGENT: \"ag\\\"ent\\x01\"\n", "contents 5 bytes\n", "entries: 3\n"})
        EXPECT_NE(std::string::npos, o.out.find(l)) << l << " in\n" << o.out;
    cgiFreeResources();
    for (size_t cut = 0; cut <= want.size(); cut++) {
        cgiEnvironmentResultType expected = cut < env ? cgiEnvironmentIO : cgiEnvironmentSuccess;
        size_t entries = 0;
        for (const Entry& e : ends) {
            if (cut >= e.named && cut < e.end)
                expected = cut < e.fields ? cgiEnvironmentMemory : cgiEnvironmentIO;
            entries += cut >= e.end;
        }
        std::ofstream(kCapture, std::ios::binary) << want.substr(0, cut);
        ASSERT_EQ(expected, cgiReadEnvironment(kCapture)) << "cut " << cut << " of " << want.size();
        size_t n = 0;
        for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next)
            n++;
        EXPECT_EQ(expected == cgiEnvironmentSuccess ? entries : 0, n) << cut;
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
