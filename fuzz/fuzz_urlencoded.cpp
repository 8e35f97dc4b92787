// fuzz_urlencoded.cpp - URL-encoded decoding and the line-break copy rule:
// every entry's length matches its text and no copy overruns its buffer.
#include "fuzz_common.h"

#include <cstring>
#include <initializer_list>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    cgiParseResultType r =
        cgiParseFormInput(reinterpret_cast<const char*>(data), static_cast<int>(size));
    size_t n = 0;
    for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next)
        n++;
    // Decoding fails only at a limit: the field count, or entry bytes that
    // the next field (its record, texts and terminators) would pass.
    FUZZ_CHECK(r == cgiParseSuccess ||
               (r == cgiParseMemory &&
                (n == kCgiMaxFields ||
                 size + (n + 1) * (sizeof(cgiFormEntry) + kCgiEntryTexts) > kCgiMaxEntryBytes)));
    for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next) {
        FUZZ_CHECK(e->valueLength == static_cast<int>(strlen(e->value)));
        for (int max : {1, 2, 7, 64}) {
            char buf[64];
            for (int newlines = 0; newlines <= 1; newlines++) {
                cgiFormResultType c = cgiFormEntryString(e, buf, max, newlines);
                FUZZ_CHECK(strlen(buf) < static_cast<size_t>(max));
                FUZZ_CHECK(c == cgiFormSuccess || c == cgiFormTruncated || c == cgiFormEmpty);
            }
        }
    }
    if (cgiFormEntryFirst) {
        int n = 0;
        double d = 0;
        cgiFormInteger(cgiFormEntryFirst->attr, &n, 0);
        cgiFormDouble(cgiFormEntryFirst->attr, &d, 0);
        char** all = nullptr;
        if (cgiFormStringMultiple(cgiFormEntryFirst->attr, &all) != cgiFormMemory)
            cgiStringArrayFree(all);
        if (cgiFormEntries(&all) == cgiFormSuccess)
            cgiStringArrayFree(all);
    }
    cgiFreeResources();
    return 0;
}
