// fuzz_id.cpp - the playback request's id as the handler reads it: the input
// is the URL-encoded id value, read with cgiFormString into the zero-filled
// 12-byte buffer, then decoded. Each decoder is checked against the plain
// library reading of the same characters.
#include "Zelbrowser.h"
#include "fuzz_common.h"

#include <cctype>
#include <cstring>
#include <string>

namespace {

constexpr unsigned kBad = static_cast<unsigned>(-1);

// The n characters at s read by strtoul in base, or kBad unless all satisfy
// pred.
unsigned long readNumber(const char* s, int n, int base, int (*pred)(int))
{
    for (int i = 0; i < n; i++)
        if (!pred(static_cast<unsigned char>(s[i])))
            return kBad;
    return strtoul(std::string(s, n).c_str(), nullptr, base);
}

void checkDecoders(char* id)
{
    const int cam = getCmr(id);
    FUZZ_CHECK(cam == -1 || (cam >= 1 && cam <= 20));
    const unsigned long c = readNumber(id + 4, 2, 10, isdigit);
    FUZZ_CHECK(c == kBad || cam == ((c >= 1 && c <= 20) ? static_cast<int>(c) : -1));
    // The day is fully determined: four hex digits or the failure value.
    FUZZ_CHECK(getDate(id) == readNumber(id, 4, 16, isxdigit));
    const unsigned time = getTime(id);
    FUZZ_CHECK(time == kBad || time < 86400);
    const unsigned long t = readNumber(id + 6, 5, 10, isdigit);
    FUZZ_CHECK(t == kBad || time == (t < 86400 ? t : kBad));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    std::string body = "id=" + std::string(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(cgiParseFormInput(body.data(), static_cast<int>(body.size())) == cgiParseSuccess);
    char id[12] = {};
    cgiFormString("id", id, sizeof id);
    id[sizeof id - 1] = '\0';
    // Positions past the value's end stay zero: the buffer was zero-filled.
    for (size_t i = strlen(id); i < sizeof id; i++)
        FUZZ_CHECK(id[i] == '\0');
    checkDecoders(id);
    cgiFreeResources();
    return 0;
}
