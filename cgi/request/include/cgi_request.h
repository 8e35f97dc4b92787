/** @file cgi_request.h - the CGI request layer as the application sees it: request
 * variables, decoded form entries, form/file/cookie accessors, response
 * headers, escaping, request capture, and the three hooks the application supplies. */
#ifndef CGI_REQUEST_H
#define CGI_REQUEST_H

#include "zel_api.h"

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Request variables: never null after start-up; empty when the web
 * server did not set them. Written only during start-up and by
 * cgiReadEnvironment; the process has one thread, so no lock. */
extern char* cgiServerSoftware;   /**< SERVER_SOFTWARE */
extern char* cgiServerName;       /**< SERVER_NAME */
extern char* cgiGatewayInterface; /**< GATEWAY_INTERFACE */
extern char* cgiServerProtocol;   /**< SERVER_PROTOCOL */
extern char* cgiServerPort;       /**< SERVER_PORT */
extern char* cgiRequestMethod;    /**< REQUEST_METHOD */
extern char* cgiPathInfo;         /**< PATH_INFO */
extern char* cgiPathTranslated;   /**< PATH_TRANSLATED */
extern char* cgiScriptName;       /**< SCRIPT_NAME */
extern char* cgiQueryString;      /**< QUERY_STRING */
extern char* cgiRemoteHost;       /**< REMOTE_HOST */
extern char* cgiRemoteAddr;       /**< REMOTE_ADDR */
extern char* cgiAuthType;         /**< AUTH_TYPE */
extern char* cgiRemoteUser;       /**< REMOTE_USER: the name the web server authenticated */
extern char* cgiRemoteIdent;      /**< REMOTE_IDENT */
extern char* cgiContentType;      /**< CONTENT_TYPE up to its first ';' */
extern char* cgiAccept;           /**< HTTP_ACCEPT */
extern char* cgiUserAgent;        /**< HTTP_USER_AGENT */
extern char* cgiReferrer;         /**< HTTP_REFERER */
extern char* cgiCookie;           /**< HTTP_COOKIE, raw */

/** Copy of CONTENT_TYPE (cut to 1023 characters); cgiContentType and
 * cgiMultipartBoundary point into it. */
extern char cgiContentTypeData[1024];
/** The content type's "boundary=" value, or the empty string. */
extern char* cgiMultipartBoundary;
/** CONTENT_LENGTH as a number (0 when unset or not numeric); for a GET the
 * length of the query string. */
extern int cgiContentLength;
/** Request body bytes not yet consumed when the current multipart part body
 * started: an upper bound of that part's size for the upload hook. */
extern int cgiFormFileLength;
/** Request body stream (standard input). */
extern FILE* cgiIn;
/** Response stream (standard output). */
extern FILE* cgiOut;

/* ---- Decoded form data ---- */

/** One form field. The list keeps request order and duplicates; every string
 * is a separate allocation owned by the layer until the end of the request.
 * Built during decoding (or a restore) and only read after; one thread, no lock. */
typedef struct cgiFormEntryStruct {
    char* attr;                      /**< field name, decoded */
    char* value;                     /**< field value, decoded; empty for a multipart part */
    int valueLength;                 /**< URL-encoded: strlen(value); multipart: body byte count */
    char* fileName;                  /**< client file name of an uploaded file part, else "" */
    char* contentType;               /**< content type of an uploaded part, else "" */
    char* tfileName;                 /**< path of the part's temporary file, else "" */
    struct cgiFormEntryStruct* next; /**< next entry in request order, or NULL */
} cgiFormEntry;

/** Result of every form and cookie accessor. */
typedef enum {
    cgiFormSuccess = 0,
    cgiFormTruncated = 1,
    cgiFormBadType = 2,
    cgiFormEmpty = 3,
    cgiFormNotFound = 4,
    cgiFormConstrained = 5,
    cgiFormNoSuchChoice = 6,
    cgiFormMemory = 7,
    cgiFormNoFileName = 8,
    cgiFormNoContentType = 9,
    cgiFormNotAFile = 10,
    cgiFormOpenFailed = 11,
    cgiFormIO = 12,
    cgiFormEOF = 13
} cgiFormResultType;

/** Result of decoding a request body. */
typedef enum {
    cgiParseSuccess = 0,
    cgiParseMemory = 1, /**< an allocation failed */
    cgiParseIO = 2      /**< the body could not be read */
} cgiParseResultType;

/** Result of percent-decoding. */
typedef enum { cgiUnescapeSuccess = 0, cgiUnescapeMemory = 1 } cgiUnescapeResultType;

/** State of the percent-decoder. */
typedef enum { cgiEscapeRest = 0, cgiEscapeFirst = 1, cgiEscapeSecond = 2 } cgiEscapeState;

/** Result of saving or restoring a request. */
typedef enum {
    cgiEnvironmentIO = 0,
    cgiEnvironmentMemory = 1,
    cgiEnvironmentSuccess = 2,
    cgiEnvironmentWrongVersion = 3
} cgiEnvironmentResultType;

/** Open-upload handle of cgiFormFileOpen; owned by the caller until cgiFormFileClose. */
typedef struct cgiFileStruct {
    FILE* in; /**< the field's temporary file, opened for binary reading */
} cgiFileStruct;
/** Handle of an open upload, as cgiFormFileOpen gives it. */
typedef cgiFileStruct* cgiFilePtr;

/* ---- Hooks the application supplies ---- */

/** Called before any form data is read; negative cancels the request (exit 0). */
int cgiOnInit(void);
/** The request handler; its result is the process exit status. */
int cgiMain(void);
/** Receives len (1..1024) body bytes of a multipart part; end is 1 on the
 * final chunk of a body. Negative aborts the multipart decoding. */
int cgiOnRecvFormFile(char* pbuffer, int len, int end);

/* ---- Text helpers ---- */

/** 1 when equal ignoring ASCII letter case, else 0. */
int cgiStrEqNc(const char* s1, const char* s2) ZEL_NOEXCEPT;
/** 1 when s1 begins with s2 ignoring ASCII letter case, else 0. */
int cgiStrBeginsNc(const char* s1, const char* s2) ZEL_NOEXCEPT;

/* ---- Form fields as text (max >= 1) ---- */

/** Not found: result "" and cgiFormNotFound. Line breaks become LF. */
cgiFormResultType cgiFormString(const char* name, char* result, int max) ZEL_NOEXCEPT;
/** Not found: result "" and cgiFormNotFound. Line breaks are removed. */
cgiFormResultType cgiFormStringNoNewlines(const char* name, char* result, int max) ZEL_NOEXCEPT;
/** Not found: stores 1 and returns cgiFormNotFound. */
cgiFormResultType cgiFormStringSpaceNeeded(const char* name, int* result) ZEL_NOEXCEPT;
/** No memory: *result NULL, cgiFormMemory; not found: empty array, cgiFormNotFound. */
cgiFormResultType cgiFormStringMultiple(const char* name, char*** result) ZEL_NOEXCEPT;
/** No memory: *result NULL and cgiFormMemory, nothing leaked. */
cgiFormResultType cgiFormEntries(char*** result) ZEL_NOEXCEPT;
/** Releases a NULL-terminated string array; NULL is ignored. */
void cgiStringArrayFree(char** stringArray) ZEL_NOEXCEPT;

/* ---- Numbers: outputs are always stored (value, bound or default) ---- */

/** Absent/empty/bad first character: defaultV and NotFound/Empty/BadType. */
cgiFormResultType cgiFormInteger(const char* name, int* result, int defaultV) ZEL_NOEXCEPT;
/** As cgiFormInteger; out of range: the bound and cgiFormConstrained. */
cgiFormResultType cgiFormIntegerBounded(const char* name, int* result, int min, int max,
                                        int defaultV) ZEL_NOEXCEPT;
/** Absent/empty/bad first character: defaultV and NotFound/Empty/BadType. */
cgiFormResultType cgiFormDouble(const char* name, double* result, double defaultV) ZEL_NOEXCEPT;
/** As cgiFormDouble; out of range: the bound and cgiFormConstrained. */
cgiFormResultType cgiFormDoubleBounded(const char* name, double* result, double min, double max,
                                       double defaultV) ZEL_NOEXCEPT;

/* ---- Choices ---- */

/** No equal choice: defaultV, cgiFormNoSuchChoice; absent: defaultV, cgiFormNotFound. */
cgiFormResultType cgiFormSelectSingle(const char* name, char** choicesText, int choicesTotal,
                                      int* result, int defaultV) ZEL_NOEXCEPT;
/** Same as cgiFormSelectSingle. */
cgiFormResultType cgiFormRadio(const char* name, char** valuesText, int valuesTotal, int* result,
                               int defaultV) ZEL_NOEXCEPT;
/** No choice hit: cgiFormNotFound (result all 0, *invalid counted). */
cgiFormResultType cgiFormSelectMultiple(const char* name, char** choicesText, int choicesTotal,
                                        int* result, int* invalid) ZEL_NOEXCEPT;
/** Same as cgiFormSelectMultiple. */
cgiFormResultType cgiFormCheckboxMultiple(const char* name, char** valuesText, int valuesTotal,
                                          int* result, int* invalid) ZEL_NOEXCEPT;
/** cgiFormSuccess when the field exists, else cgiFormNotFound. */
cgiFormResultType cgiFormCheckboxSingle(const char* name) ZEL_NOEXCEPT;

/* ---- Uploaded files ---- */

/** Empty file name: "" and cgiFormNoFileName; absent: "" and cgiFormNotFound. */
cgiFormResultType cgiFormFileName(const char* name, char* result, int resultSpace) ZEL_NOEXCEPT;
/** Empty content type: "" and cgiFormNoContentType; absent: "" and cgiFormNotFound. */
cgiFormResultType cgiFormFileContentType(const char* name, char* result,
                                         int resultSpace) ZEL_NOEXCEPT;
/** Not a file / absent: stores 0 (sizeP may be NULL), NotAFile / NotFound. */
cgiFormResultType cgiFormFileSize(const char* name, int* sizeP) ZEL_NOEXCEPT;
/** Failure: *cfpp NULL (NotFound, NotAFile, Memory) or untouched (cgiFormIO). */
cgiFormResultType cgiFormFileOpen(const char* name, cgiFilePtr* cfpp) ZEL_NOEXCEPT;
/** No byte: cgiFormEOF with *gotP untouched; NULL handle: cgiFormOpenFailed. */
cgiFormResultType cgiFormFileRead(cgiFilePtr cfp, char* buffer, int bufferSize,
                                  int* gotP) ZEL_NOEXCEPT;
/** NULL handle: cgiFormOpenFailed. */
cgiFormResultType cgiFormFileClose(cgiFilePtr cfp) ZEL_NOEXCEPT;

/* ---- Cookies ---- */

/** Not found: value "" (space > 0) and cgiFormNotFound; too long: cgiFormTruncated. */
cgiFormResultType cgiCookieString(const char* name, char* value, int space) ZEL_NOEXCEPT;
/** Anything but success stores defaultV; returns the cgiCookieString result. */
cgiFormResultType cgiCookieInteger(const char* name, int* result, int defaultV) ZEL_NOEXCEPT;
/** No memory: *result NULL and cgiFormMemory, nothing leaked. */
cgiFormResultType cgiCookies(char*** result) ZEL_NOEXCEPT;

/* ---- Response headers (write failures are not reported) ---- */

/** "Content-type: %s\r\n\r\n"; ends the header block. */
void cgiHeaderContentType(const char* mimeType) ZEL_NOEXCEPT;
/** "Location: %s\r\n\r\n"; ends the header block. */
void cgiHeaderLocation(const char* redirectUrl) ZEL_NOEXCEPT;
/** "Status: %d %s\r\n\r\n"; ends the header block. */
void cgiHeaderStatus(int status, const char* statusMessage) ZEL_NOEXCEPT;
/** One Set-Cookie line expiring secondsToLive from now (UTC). */
void cgiHeaderCookieSetString(const char* name, const char* value, int secondsToLive,
                              const char* path, const char* domain) ZEL_NOEXCEPT;
/** cgiHeaderCookieSetString with value in decimal. */
void cgiHeaderCookieSetInteger(const char* name, int value, int secondsToLive, const char* path,
                               const char* domain) ZEL_NOEXCEPT;

/* ---- Escaping to cgiOut ---- */

/** Writes `len` bytes of `data` with &, < and > escaped for HTML text;
 * cgiFormSuccess, or cgiFormIO when a write failed (output stops there). */
cgiFormResultType cgiHtmlEscapeData(const char* data, int len) ZEL_NOEXCEPT;
/** cgiHtmlEscapeData over the NUL-terminated text `s`. */
cgiFormResultType cgiHtmlEscape(const char* s) ZEL_NOEXCEPT;
/** Writes `len` bytes of `data` with only the double quote escaped (as &#34;),
 * for a quoted attribute value; cgiFormSuccess, or cgiFormIO as above. */
cgiFormResultType cgiValueEscapeData(const char* data, int len) ZEL_NOEXCEPT;
/** cgiValueEscapeData over the NUL-terminated text `s`. */
cgiFormResultType cgiValueEscape(const char* s) ZEL_NOEXCEPT;

/* ---- Request capture ---- */

/** Any failure: cgiEnvironmentIO and the partial file deleted. */
cgiEnvironmentResultType cgiWriteEnvironment(const char* filename) ZEL_NOEXCEPT;
/** Replaces the request's variables and entries. Failure: no form entries
 * remain; variables read before the failure keep their restored values. */
cgiEnvironmentResultType cgiReadEnvironment(const char* filename) ZEL_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
