/* cgi_request_internal.h - declarations shared by the request layer's own
 * sources (core, URL-encoded and multipart decoding, accessors, capture),
 * its tests, fuzz entries and tools. Not for applications. C++ only. */
#ifndef CGI_REQUEST_INTERNAL_H
#define CGI_REQUEST_INTERNAL_H

#include "cgi_request.h"
#include "cgi_request_limits.h"

#include <cstddef>
#include <ctime>

/* Request trace file; each group of lines is appended with its own open. */
constexpr const char kCgiTraceFile[] = "/var/www/cgidebug";
/* Template of the temporary file of an uploaded file part. */
constexpr const char kCgiTempTemplate[] = "/tmp/cgiXXXXXX";

/* The request's limits (cgi_request_limits.h) as sizes. */
constexpr size_t kCgiMaxFields = CGI_MAX_FIELDS;
constexpr size_t kCgiMaxEntryBytes = CGI_MAX_ENTRY_BYTES;
constexpr size_t kCgiMaxFileParts = CGI_MAX_FILE_PARTS;
constexpr size_t kCgiMaxBoundary = CGI_MAX_BOUNDARY;
constexpr int kCgiMaxPreamble = CGI_MAX_PREAMBLE;

/* ---- Request state (one thread; no locks) ---- */

extern cgiFormEntry* cgiFormEntryFirst; /* head of the entry list, or NULL */
extern int cgiRestored;                 /* 1 after a successful cgiReadEnvironment */
extern int cgiHexValue[256];            /* hexadecimal digit value per byte, else 0 */
extern const char* cgiFindTarget;       /* name of the search under way */
extern cgiFormEntry* cgiFindPos;        /* entry at which the next search step starts */

/* ---- Core ---- */

/* ASCII classes as the C locale sees them, without a locale look-up. */
inline bool cgiIsSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}
inline bool cgiIsLetter(unsigned char c)
{
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}
inline bool cgiIsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}
/* atoi with the result saturated to the int range instead of overflowing. */
int cgiAtoi(const char* s);
/* One request variable and the environment variable it captures, in the
 * order of the capture file; index kCgiContentTypeIndex is the content type,
 * which start-up copies and cuts rather than taking as it is. */
struct cgiRequestVariable {
    char** var;      /* the global holding the value */
    const char* env; /* CGI environment variable name */
};
constexpr int kCgiRequestVariableCount = 20;
constexpr int kCgiContentTypeIndex = 15;
extern const cgiRequestVariable cgiRequestVariables[kCgiRequestVariableCount];
/* Bit i set: cgiRequestVariables[i] holds an allocation made by a restore,
 * released (and reset to "") by cgiFreeResources. */
extern unsigned cgiRestoredStrings;
/* Static empty text for variables with no value. */
extern char cgiEmptyString[1];

/* Runs one request (start-up, hooks, decoding, clean-up); returns the exit status. */
int cgiRunRequest(void);
/* Cuts cgiContentTypeData at its first ';' (cgiContentType) and points
 * cgiMultipartBoundary at a following "boundary=" value, or at "". */
void cgiSplitContentType(void);
/* Stores getenv(var) in *s, or a static empty string when unset. */
void cgiGetenv(char** s, const char* var);
/* Fills cgiHexValue. */
void cgiSetupConstants(void);
/* Releases the entry list (deleting temporary files) and any restored
 * request strings; leaves the list empty and cgiRestored 0. */
void cgiFreeResources(void);
/* Releases only the entry list and deletes its temporary files. */
void cgiFreeEntries(void);
/* Appends the formatted text to the trace file; skipped when it cannot be opened. */
void cgiTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
/* Returns the first entry named name (exact match), or NULL; restarts the search. */
cgiFormEntry* cgiFormEntryFindFirst(const char* name);
/* Returns the next entry of the name of the last cgiFormEntryFindFirst, or NULL. */
cgiFormEntry* cgiFormEntryFindNext(void);
/* Copies e->value into result (max >= 1) by the line-break rule: newlines 1
 * turns each CR/LF run into LF x max(#CR,#LF), 0 drops it.
 * Returns Truncated, Empty or Success. */
cgiFormResultType cgiFormEntryString(cgiFormEntry* e, char* result, int max, int newlines);
/* cgiFormEntryString on the first entry named name; not found: result ""
 * and cgiFormNotFound. */
cgiFormResultType cgiFormStringCopy(const char* name, char* result, int max, int newlines);
/* Returns a malloc'd copy of s, or NULL when memory runs out. */
char* cgiStrDup(const char* s);
/* Texts of an entry, in this order: attr, value, fileName, contentType, tfileName. */
constexpr int kCgiEntryTexts = 5;
/* Bytes of an entry whose texts have the given sizes (terminators included). */
size_t cgiEntrySize(const size_t (&space)[kCgiEntryTexts]);
/* Returns a new unlinked entry in one allocation, its texts empty with room
 * for space[i] bytes each and valueLength 0; NULL when memory runs out. */
cgiFormEntry* cgiAllocEntry(const size_t (&space)[kCgiEntryTexts]);
/* Returns a new unlinked entry holding copies of the texts, or NULL when
 * memory runs out. */
cgiFormEntry* cgiNewEntry(const char* attr, const char* value, int valueLength,
                          const char* fileName, const char* contentType, const char* tfileName);
/* Counts one more entry of the request, of bytes bytes and a file part when
 * file is set. Returns false, counting nothing, when it would pass one of the
 * request's limits. cgiFreeEntries starts the count again. */
bool cgiAdmitEntry(size_t bytes, bool file);
/* Releases one entry, deleting its temporary file if any. */
void cgiFreeEntry(cgiFormEntry* e);
/* Appends e at the end of the entry list. */
void cgiAppendEntry(cgiFormEntry* e);

/* ---- URL-encoded form data ---- */

/* Decodes the POST body; Memory for a negative length or failed
 * allocation, IO when the body ends early. Entries appended stay. */
cgiParseResultType cgiParsePostFormInput(void);
/* Decodes cgiQueryString over cgiContentLength bytes. */
cgiParseResultType cgiParseGetFormInput(void);
/* Decodes length bytes of URL-encoded text, appending one entry per field;
 * Memory on a failed allocation or a passed limit (earlier entries stay). */
cgiParseResultType cgiParseFormInput(const char* data, int length);
/* Percent-decodes len bytes at cp into out, which has room for len + 1
 * bytes, and terminates it. */
void cgiUnescapeInto(char* out, const char* cp, size_t len);

/* Outcome of reading an exact byte count into a fresh allocation. */
enum cgiReadExactResult { cgiReadExactOk, cgiReadExactMemory, cgiReadExactShort };
/* Reads exactly n bytes of in into a new allocation of n + 1 bytes (NUL
 * terminated) stored in *out. The allocation grows with the bytes that
 * actually arrive, so a false huge n costs no memory. On failure *out is
 * untouched and nothing stays allocated. */
cgiReadExactResult cgiReadExact(FILE* in, size_t n, char** out);

/* ---- Multipart form data ---- */

/* Bytes of the stream's read window: large reads keep the per-byte cost low,
 * while memory stays fixed whatever the upload size. */
constexpr size_t kMpWindow = 64 * 1024;
/* Room before the window for bytes returned to the stream. */
constexpr size_t kMpHeadroom = 1024;

/* The body reader of one multipart decoding: a window over cgiIn that never
 * takes more than cgiContentLength bytes. Lives on the decoder's stack. */
typedef struct mpStream {
    size_t pos;                                  /* index in data of the next unread byte */
    size_t end;                                  /* index in data one past the last unread byte */
    long long taken;                             /* bytes taken from cgiIn so far */
    unsigned char data[kMpHeadroom + kMpWindow]; /* headroom, then the window */
} mpStream, *mpStreamPtr;

/* Starts a stream at the beginning of the body (nothing taken yet). */
void mpStart(mpStreamPtr mpp);
/* Body bytes consumed: taken from cgiIn minus those still unread. */
long long mpOffset(const mpStream* mpp);
/* Returns the bytes placed in buffer; -1 when len > 0 but the body is used
 * up; 0 when len is 0 or the input ended early. */
int mpRead(mpStreamPtr mpp, char* buffer, int len);
/* Returns len (<= kMpHeadroom) bytes to the stream, read again before new input. */
void mpPutBack(mpStreamPtr mpp, const char* data, int len);
/* Reads one body up to and including the next delimiter, handing its bytes
 * to the upload hook. Failure: cgiParseIO, *outP NULL and *bodyLengthP 0
 * (when given). outf receives nothing. */
cgiParseResultType afterNextBoundary(mpStreamPtr mpp, FILE* outf, char** outP, int* bodyLengthP,
                                     int first);
/* Reads one part header line; 1 when name and value are both non-empty. */
int readHeaderLine(mpStreamPtr mpp, char* attr, int attrSpace, char* value, int valueSpace);
/* Splits a header value into its main value and the parameters named in
 * the NULL-terminated argNames (argValues may be NULL when argValueSpace is 0). */
void decomposeValue(const char* value, char* mvalue, int mvalueSpace, const char* const* argNames,
                    char** argValues, int argValueSpace);
/* Creates an empty mode-0600 file from "/tmp/cgiXXXXXX" and writes its path
 * into the 1024-byte tfileName; cgiParseIO when it cannot (nothing left behind). */
cgiParseResultType getTempFileName(char* tfileName);
/* Decodes the multipart body into entries (the list must be empty);
 * IO/Memory on failure with earlier entries left in the list. */
cgiParseResultType cgiParsePostMultipartInput(void);

/* ---- Typed accessors ---- */

/* First character of s not in " \n\r\t", or 0. */
char cgiFirstNonspaceChar(const char* s);
/* cgiFormFileOpen for a given entry with a temporary file: Memory with
 * *cfpp NULL, or IO with *cfpp untouched. */
cgiFormResultType cgiFormEntryFileOpen(cgiFormEntry* e, cgiFilePtr* cfpp);

/* ---- Cookies and headers ---- */

/* Writes the Set-Cookie line for an absolute expiry time (UTC). */
void cgiWriteSetCookie(time_t expires, const char* name, const char* value, const char* path,
                       const char* domain);

/* ---- Capture file encodings ---- */

/* 1 when the big-endian int / length-prefixed string was written, else 0. */
int cgiWriteInt(FILE* out, int i);
int cgiWriteString(FILE* out, const char* s);
/* 1 and a new NUL-terminated allocation in *s; 0 when the length or bytes
 * cannot be read, the length is negative or memory runs out. */
int cgiReadString(FILE* in, char** s);
/* 1 with the big-endian int in *i; 0 at the end of the file. */
int cgiReadInt(FILE* in, int* i);
/* Version string that opens every capture file. */
constexpr const char kCgiCaptureVersion[] = "ENVC2.0";

#endif
