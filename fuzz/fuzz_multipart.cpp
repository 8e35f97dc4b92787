// fuzz_multipart.cpp - a multipart request through cgiRunRequest: valid hook
// chunks, stdin never read past the announced length, no temporary file left.
// Input: boundary length byte (mod 71), boundary, length adjustment byte (mod
// 3: one short, exact, one long), hook call to refuse (0: none), body.
#include "fuzz_common.h"

#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int g_refuseAt, g_calls;  // hook call that returns -1 (0: none); calls so far

}  // namespace

int cgiOnInit(void)
{
    return 1;
}

int cgiOnRecvFormFile(char* pbuffer, int len, int end)
{
    FUZZ_CHECK(len >= 1 && len <= 1024 && (end == 0 || end == 1) && pbuffer);
    return ++g_calls == g_refuseAt ? -1 : 0;
}

int cgiMain(void)
{
    for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next) {
        FUZZ_CHECK(e->value[0] == '\0' && e->valueLength >= 0);
        FUZZ_CHECK((e->tfileName[0] != '\0') == (e->fileName[0] != '\0'));
    }
    char buf[16];
    if (cgiFormEntryFirst)
        cgiFormString(cgiFormEntryFirst->attr, buf, sizeof buf);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3 || size > (1u << 20))
        return 0;
    size_t blen = data[0] % 71;
    if (size < 3 + blen)
        return 0;
    std::string boundary(reinterpret_cast<const char*>(data + 1), blen);
    if (boundary.find('\0') != std::string::npos)
        return 0;  // cannot be an environment value
    long length = static_cast<long>(size - 3 - blen) + data[1 + blen] % 3 - 1;
    g_refuseAt = data[2 + blen];
    const uint8_t* body = data + 3 + blen;
    size_t bodySize = size - 3 - blen;

    int fd = memfd_create("body", 0);
    FUZZ_CHECK(fd >= 0 && write(fd, body, bodySize) == static_cast<ssize_t>(bodySize));
    dup2(fd, 0);
    close(fd);
    fseek(stdin, 0, SEEK_SET);  // drops any state of the previous input
    static const bool quiet =
        freopen("/dev/null", "w", stdout) != nullptr;  // the response goes nowhere
    (void)quiet;
    setenv("REQUEST_METHOD", "POST", 1);
    setenv("CONTENT_TYPE", ("multipart/form-data; boundary=" + boundary).c_str(), 1);
    setenv("CONTENT_LENGTH", std::to_string(length).c_str(), 1);
    g_calls = 0;

    cgiRunRequest();

    FUZZ_CHECK(lseek(0, 0, SEEK_CUR) <= (length > 0 ? length : 0));
    FUZZ_CHECK(fuzzTempFiles() == 0);
    FUZZ_CHECK(cgiFormEntryFirst == nullptr);
    return 0;
}
