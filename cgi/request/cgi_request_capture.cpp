// cgi_request_capture.cpp - saving the request (variables, content length,
// form entries with their uploaded contents) to a capture file and restoring
// it in a later run. Integers are big-endian in the file whatever the host.
#include "cgi_request_internal.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Pieces in which uploaded contents are copied.
constexpr int kPiece = 1024;

// Number of bytes the entry's temporary file holds, or -1 when that cannot
// be told or does not fit an int.
long long heldBytes(cgiFilePtr cfp)
{
    struct stat st;
    if (fstat(fileno(cfp->in), &st) != 0 || st.st_size > INT_MAX)
        return -1;
    return st.st_size;
}

// Copies exactly n bytes of the open upload to out in pieces read with
// cgiFormFileRead; 0 when the file ends early or a write fails.
int copyUpload(FILE* out, cgiFilePtr cfp, long long n)
{
    char buf[kPiece];
    while (n > 0) {
        int got = 0;
        int want = n < kPiece ? static_cast<int>(n) : kPiece;
        if (cgiFormFileRead(cfp, buf, want, &got) != cgiFormSuccess)
            return 0;
        if (fwrite(buf, 1, static_cast<size_t>(got), out) != static_cast<size_t>(got))
            return 0;
        n -= got;
    }
    return 1;
}

// Writes one entry record. A file entry is written with the bytes its
// temporary file holds and, as its valueLength, that byte count: the file
// format needs exactly valueLength content bytes after the flag, and a
// multipart file part's temporary file is empty (its body went to the upload
// hook) while its valueLength is the upload size. Recording what is held
// keeps every capture readable, and a restored entry's size and contents
// agree. An entry whose temporary file cannot be opened is written as a
// plain field (flag 0) with its valueLength unchanged.
int writeEntry(FILE* out, cgiFormEntry* e)
{
    if (!(cgiWriteString(out, e->attr) && cgiWriteString(out, e->value) &&
          cgiWriteString(out, e->fileName) && cgiWriteString(out, e->contentType)))
        return 0;
    cgiFilePtr cfp = nullptr;
    if (!e->tfileName[0] || cgiFormEntryFileOpen(e, &cfp) != cgiFormSuccess)
        return cgiWriteInt(out, e->valueLength) && cgiWriteInt(out, 0);
    long long held = heldBytes(cfp);
    int ok = held >= 0 && cgiWriteInt(out, static_cast<int>(held)) && cgiWriteInt(out, 1) &&
             copyUpload(out, cfp, held);
    return cgiFormFileClose(cfp) == cgiFormSuccess && ok;
}

int writeCapture(FILE* out)
{
    if (!cgiWriteString(out, kCgiCaptureVersion))
        return 0;
    for (const cgiRequestVariable& v : cgiRequestVariables)
        if (!cgiWriteString(out, *v.var))
            return 0;
    if (!cgiWriteInt(out, cgiContentLength))
        return 0;
    for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next)
        if (!writeEntry(out, e))
            return 0;
    return 1;
}

// Replaces request variable i by the restored text s, which the layer owns.
void setRestoredVariable(int i, char* s)
{
    unsigned bit = 1u << i;
    if (cgiRestoredStrings & bit)
        free(*cgiRequestVariables[i].var);
    *cgiRequestVariables[i].var = s;
    cgiRestoredStrings |= bit;
}

// Copies exactly n bytes of in into a new temporary file whose path goes to
// tfileName (1024 bytes). Returns cgiEnvironmentIO, leaving no file, when
// the file cannot be made or in runs short; a negative n (no content can
// match it) counts as short.
cgiEnvironmentResultType restoreUpload(FILE* in, int n, char* tfileName)
{
    if (n < 0 || getTempFileName(tfileName) != cgiParseSuccess)
        return cgiEnvironmentIO;
    FILE* out = fopen(tfileName, "w+b");
    bool ok = out != nullptr;
    char buf[kPiece];
    for (int left = n; ok && left > 0;) {
        size_t got = fread(buf, 1, left < kPiece ? static_cast<size_t>(left) : kPiece, in);
        ok = got > 0 && fwrite(buf, 1, got, out) == got;
        left -= static_cast<int>(got);
    }
    if (out && fclose(out) != 0)
        ok = false;
    if (ok)
        return cgiEnvironmentSuccess;
    unlink(tfileName);
    return cgiEnvironmentIO;
}

// The texts of an entry being read (attr, value, fileName, contentType),
// released when it goes.
struct EntryTexts {
    char* s[4] = {};
    ~EntryTexts()
    {
        for (char* p : s)
            free(p);
    }
};

// Reads the fields after attr (already in t) and makes the entry in *out.
// Unreadable texts or numbers and an entry past the request's limits give
// cgiEnvironmentMemory, unreadable contents cgiEnvironmentIO; no file is
// left then.
cgiEnvironmentResultType readEntryRest(FILE* in, EntryTexts* t, cgiFormEntry** out)
{
    int valueLength = 0, flag = 0;
    if (!(cgiReadString(in, &t->s[1]) && cgiReadString(in, &t->s[2]) &&
          cgiReadString(in, &t->s[3]) && cgiReadInt(in, &valueLength) && cgiReadInt(in, &flag)))
        return cgiEnvironmentMemory;
    const size_t space[kCgiEntryTexts] = {strlen(t->s[0]) + 1, strlen(t->s[1]) + 1,
                                          strlen(t->s[2]) + 1, strlen(t->s[3]) + 1,
                                          flag ? sizeof kCgiTempTemplate : 1};
    if (!cgiAdmitEntry(cgiEntrySize(space), flag != 0))
        return cgiEnvironmentMemory;
    char tfileName[1024] = "";
    if (flag) {
        cgiEnvironmentResultType r = restoreUpload(in, valueLength, tfileName);
        if (r != cgiEnvironmentSuccess)
            return r;
    }
    *out = cgiNewEntry(t->s[0], t->s[1], valueLength, t->s[2], t->s[3], tfileName);
    if (*out)
        return cgiEnvironmentSuccess;
    if (tfileName[0])
        unlink(tfileName);
    return cgiEnvironmentMemory;
}

// Reads entries up to the end of the file into the list.
cgiEnvironmentResultType readEntries(FILE* in)
{
    for (;;) {
        EntryTexts t;
        if (!cgiReadString(in, &t.s[0]))
            return cgiEnvironmentSuccess;
        cgiFormEntry* e = nullptr;
        cgiEnvironmentResultType r = readEntryRest(in, &t, &e);
        if (r != cgiEnvironmentSuccess)
            return r;
        cgiAppendEntry(e);
    }
}

// Reads everything after the version string.
cgiEnvironmentResultType readCapture(FILE* in)
{
    for (int i = 0; i < kCgiRequestVariableCount; i++) {
        char* s = nullptr;
        if (!cgiReadString(in, &s))
            return cgiEnvironmentIO;
        setRestoredVariable(i, s);
    }
    if (!cgiReadInt(in, &cgiContentLength))
        return cgiEnvironmentIO;
    return readEntries(in);
}

}  // namespace

int cgiWriteInt(FILE* out, int i)
{
    uint32_t u = static_cast<uint32_t>(i);
    unsigned char b[4] = {static_cast<unsigned char>(u >> 24), static_cast<unsigned char>(u >> 16),
                          static_cast<unsigned char>(u >> 8), static_cast<unsigned char>(u)};
    return fwrite(b, 1, 4, out) == 4;
}

int cgiWriteString(FILE* out, const char* s)
{
    size_t n = strlen(s);
    if (n > INT_MAX)
        return 0;
    return cgiWriteInt(out, static_cast<int>(n)) && fwrite(s, 1, n, out) == n;
}

int cgiReadInt(FILE* in, int* i)
{
    unsigned char b[4];
    if (fread(b, 1, 4, in) != 4)
        return 0;
    uint32_t u = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    // Two's complement decoding without relying on the host's conversion.
    *i = u <= INT_MAX ? static_cast<int>(u) : -static_cast<int>(~u) - 1;
    return 1;
}

int cgiReadString(FILE* in, char** s)
{
    int n = 0;
    if (!cgiReadInt(in, &n) || n < 0)
        return 0;
    return cgiReadExact(in, static_cast<size_t>(n), s) == cgiReadExactOk;
}

cgiEnvironmentResultType cgiWriteEnvironment(const char* filename) noexcept
{
    FILE* out = fopen(filename, "wb");
    if (!out)
        return cgiEnvironmentIO;
    int ok = writeCapture(out);
    if (fclose(out) == 0 && ok)
        return cgiEnvironmentSuccess;
    unlink(filename);
    return cgiEnvironmentIO;
}

cgiEnvironmentResultType cgiReadEnvironment(const char* filename) noexcept
{
    cgiFreeResources();
    FILE* in = fopen(filename, "rb");
    if (!in)
        return cgiEnvironmentIO;
    char* version = nullptr;
    if (!cgiReadString(in, &version)) {
        fclose(in);
        return cgiEnvironmentIO;
    }
    bool known = strcmp(version, kCgiCaptureVersion) == 0;
    free(version);
    cgiEnvironmentResultType r = known ? readCapture(in) : cgiEnvironmentWrongVersion;
    fclose(in);
    if (r == cgiEnvironmentSuccess)
        cgiRestored = 1;
    else
        cgiFreeEntries();
    return r;
}
