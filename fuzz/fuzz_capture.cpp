// fuzz_capture.cpp - the capture reader on any file; a capture it accepts
// is written again and must read back to the same request; no temporary
// file outlives the clean-up.
#include "fuzz_common.h"

#include <string>

const char kIn[] = "/var/www/fuzz-in.env";
const char kOut[] = "/var/www/fuzz-out.env";

// The restored request as text, file contents included.
static std::string describe()
{
    std::string s;
    for (const cgiRequestVariable& v : cgiRequestVariables)
        s += std::string(*v.var) + '\n';
    s += std::to_string(cgiContentLength) + '\n';
    for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next) {
        s += std::string(e->attr) + '|' + e->value + '|' + e->fileName + '|' + e->contentType +
             '|' + std::to_string(e->valueLength) + '|';
        if (FILE* f = e->tfileName[0] ? fopen(e->tfileName, "rb") : nullptr) {
            char buf[1024];
            for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
                s.append(buf, n);
            fclose(f);
        }
        s += '\n';
    }
    return s;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    FILE* f = fopen(kIn, "wb");
    fwrite(data, 1, size, f);
    fclose(f);
    if (cgiReadEnvironment(kIn) != cgiEnvironmentSuccess) {
        FUZZ_CHECK(cgiFormEntryFirst == nullptr);
    } else {
        const std::string before = describe();
        FUZZ_CHECK(cgiWriteEnvironment(kOut) == cgiEnvironmentSuccess);
        FUZZ_CHECK(cgiReadEnvironment(kOut) == cgiEnvironmentSuccess);
        FUZZ_CHECK(describe() == before);
    }
    cgiFreeResources();
    FUZZ_CHECK(fuzzTempFiles() == 0);
    return 0;
}
