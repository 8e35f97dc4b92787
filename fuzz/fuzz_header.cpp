// fuzz_header.cpp - part header lines and header values: every text stays
// within its buffer and is terminated, whatever the line and buffer sizes.
// Input: byte 0 = name buffer size, byte 1 = value/parameter buffer size,
// then the header block.
#include "fuzz_common.h"

#include <cstring>

static void decompose(const char* value, int space)
{
    static const char* const names[] = {"name", "filename", nullptr};
    char main[256], name[256], file[256];
    memset(name, 'x', sizeof name);
    char* values[] = {name, file};
    decomposeValue(value, main, space, names, values, space);
    FUZZ_CHECK(strlen(main) < static_cast<size_t>(space) &&
               strlen(name) < static_cast<size_t>(space) &&
               strlen(file) < static_cast<size_t>(space));
}

int cgiOnRecvFormFile(char*, int, int)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > (1u << 16))
        return 0;
    int attrSpace = 1 + data[0] % 64, valueSpace = 1 + data[1] % 255;
    FILE* in = fmemopen(const_cast<uint8_t*>(data + 2), size - 2, "rb");
    if (!in)
        return 0;  // an empty stream
    cgiIn = in;
    cgiContentLength = static_cast<int>(size - 2);
    mpStream m;
    mpStart(&m);
    // With no bytes left readHeaderLine returns at once, buffers untouched.
    for (int lines = 0; lines < 64 && mpOffset(&m) < cgiContentLength; lines++) {
        char attr[64], value[256];
        memset(attr, 'x', sizeof attr);
        memset(value, 'x', sizeof value);
        int r = readHeaderLine(&m, attr, attrSpace, value, valueSpace);
        FUZZ_CHECK(strnlen(attr, sizeof attr) < static_cast<size_t>(attrSpace));
        FUZZ_CHECK(strnlen(value, sizeof value) < static_cast<size_t>(valueSpace));
        if (!r) {  // no line: at most one text (a 1 may carry a text beginning with a zero byte)
            FUZZ_CHECK(!attr[0] || !value[0]);
            break;
        }
        decompose(value, valueSpace);
    }
    FUZZ_CHECK(mpOffset(&m) <= cgiContentLength);
    fclose(in);
    cgiIn = stdin;  // as start-up leaves it; the closed stream must not linger
    cgiContentLength = 0;
    return 0;
}
