// envcdump.cpp - prints a request capture file readably: the request
// variables, the content length and every form entry with its sizes and
// content type. The file is loaded by the request layer's own reader, so the
// tool reports exactly what a replaying handler would get.
#include "cgi_request_internal.h"

#include <cstdio>
#include <sys/stat.h>

namespace {

// Writes s quoted, with bytes outside printable ASCII as \xNN.
void printQuoted(const char* s)
{
    putchar('"');
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p; p++) {
        if (*p == '"' || *p == '\\')
            printf("\\%c", *p);
        else if (*p >= 0x20 && *p < 0x7f)
            putchar(*p);
        else
            printf("\\x%02x", *p);
    }
    putchar('"');
}

const char* failureText(cgiEnvironmentResultType r)
{
    switch (r) {
        case cgiEnvironmentWrongVersion:
            return "not a capture of version ENVC2.0";
        case cgiEnvironmentMemory:
            return "an entry is cut short (or memory ran out)";
        default:
            return "cannot be read, is cut short, or its contents cannot be restored";
    }
}

// Bytes held by a restored entry's temporary file, or -1.
long long heldBytes(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

void printEntry(int index, const cgiFormEntry* e)
{
    printf("[%d] name ", index);
    printQuoted(e->attr);
    printf(" value ");
    printQuoted(e->value);
    printf(" valueLength %d", e->valueLength);
    if (e->fileName[0] || e->tfileName[0]) {
        printf(" file ");
        printQuoted(e->fileName);
        printf(" type ");
        printQuoted(e->contentType);
    }
    if (e->tfileName[0])
        printf(" contents %lld bytes", heldBytes(e->tfileName));
    else
        printf(" no contents");
    putchar('\n');
}

void printCapture()
{
    printf("version: %s\n", kCgiCaptureVersion);
    for (const cgiRequestVariable& v : cgiRequestVariables) {
        printf("%s: ", v.env);
        printQuoted(*v.var);
        putchar('\n');
    }
    printf("CONTENT_LENGTH: %d\n", cgiContentLength);
    int index = 0;
    for (const cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next)
        printEntry(++index, e);
    printf("entries: %d\n", index);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: envcdump CAPTURE-FILE\n");
        return 2;
    }
    cgiSetupConstants();
    cgiEnvironmentResultType r = cgiReadEnvironment(argv[1]);
    if (r == cgiEnvironmentSuccess)
        printCapture();
    else
        fprintf(stderr, "envcdump: %s: %s\n", argv[1], failureText(r));
    cgiFreeResources();  // deletes the temporary files of restored contents
    return r == cgiEnvironmentSuccess ? 0 : 1;
}
