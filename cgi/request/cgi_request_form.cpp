// cgi_request_form.cpp - typed read-only views of the decoded form fields:
// text without line breaks, repeated fields, field names, numbers with
// defaults and bounds, choices, and uploaded-file metadata and contents.
#include "cgi_request_internal.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Allocates a NULL-filled string array of count slots plus its terminator.
char** newStringArray(size_t count)
{
    return static_cast<char**>(calloc(count + 1, sizeof(char*)));
}

// Stores the outcome of a failed string-array build and returns cgiFormMemory.
cgiFormResultType failStringArray(char** array, char*** result)
{
    cgiStringArrayFree(array);
    *result = nullptr;
    return cgiFormMemory;
}

// For the n entries of the list, a malloc'd array whose byte i is 1 when
// entry i is the first of its name, else 0; NULL when memory runs out. The
// entries are sorted by name and then by position, so a large form costs
// n log n comparisons rather than one scan of the list per entry.
unsigned char* firstOfNames(size_t n)
{
    struct Ref {
        const char* name;
        size_t pos;
    };
    Ref* refs = static_cast<Ref*>(malloc((n + 1) * sizeof(Ref)));
    unsigned char* first = static_cast<unsigned char*>(calloc(n + 1, 1));
    if (!refs || !first) {
        free(refs);
        free(first);
        return nullptr;
    }
    size_t i = 0;
    for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next, i++)
        refs[i] = {e->attr, i};
    std::sort(refs, refs + n, [](const Ref& a, const Ref& b) {
        int c = strcmp(a.name, b.name);
        return c != 0 ? c < 0 : a.pos < b.pos;
    });
    for (i = 0; i < n; i++)
        if (i == 0 || strcmp(refs[i - 1].name, refs[i].name) != 0)
            first[refs[i].pos] = 1;
    free(refs);
    return first;
}

// Index of the first choice equal to value, or -1.
int findChoice(const char* value, char** choices, int total)
{
    for (int i = 0; i < total; i++)
        if (strcmp(choices[i], value) == 0)
            return i;
    return -1;
}

// Copies an entry text of the upload accessors into result (resultSpace may
// be 0: nothing is written). emptyCode is returned for an empty text.
cgiFormResultType copyEntryText(const char* text, char* result, int resultSpace,
                                cgiFormResultType emptyCode)
{
    size_t n = strlen(text);
    size_t room = resultSpace > 0 ? static_cast<size_t>(resultSpace - 1) : 0;
    size_t k = n < room ? n : room;
    if (resultSpace > 0) {
        memcpy(result, text, k);
        result[k] = '\0';
    }
    if (n == 0)
        return emptyCode;
    return k < n ? cgiFormTruncated : cgiFormSuccess;
}

// The integer and real accessors: converts the first value of name when
// its first non-blank character is one of acceptedFirst, else stores defaultV.
template <typename T, typename Convert>
cgiFormResultType readNumber(const char* name, T* result, T defaultV, const char* acceptedFirst,
                             Convert convert)
{
    cgiFormEntry* e = cgiFormEntryFindFirst(name);
    cgiFormResultType r = cgiFormSuccess;
    if (!e) {
        r = cgiFormNotFound;
    } else if (!e->value[0]) {
        r = cgiFormEmpty;
    } else {
        char first = cgiFirstNonspaceChar(e->value);
        if (!first || !strchr(acceptedFirst, first))
            r = cgiFormBadType;
    }
    *result = r == cgiFormSuccess ? convert(e->value) : defaultV;
    return r;
}

// Clamps *value to min..max; cgiFormConstrained when it had to.
template <typename T>
cgiFormResultType clamp(T* value, T min, T max)
{
    if (*value < min) {
        *value = min;
        return cgiFormConstrained;
    }
    if (*value > max) {
        *value = max;
        return cgiFormConstrained;
    }
    return cgiFormSuccess;
}

// Entry of name that owns a temporary file; *code explains a NULL result.
cgiFormEntry* findFileEntry(const char* name, cgiFormResultType* code)
{
    cgiFormEntry* e = cgiFormEntryFindFirst(name);
    *code = !e ? cgiFormNotFound : !e->tfileName[0] ? cgiFormNotAFile : cgiFormSuccess;
    return *code == cgiFormSuccess ? e : nullptr;
}

}  // namespace

char cgiFirstNonspaceChar(const char* s)
{
    s += strspn(s, " \n\r\t");
    return *s;
}

cgiFormResultType cgiFormStringNoNewlines(const char* name, char* result, int max) noexcept
{
    return cgiFormStringCopy(name, result, max, 0);
}

cgiFormResultType cgiFormStringSpaceNeeded(const char* name, int* result) noexcept
{
    cgiFormEntry* e = cgiFormEntryFindFirst(name);
    *result = e ? static_cast<int>(strlen(e->value)) + 1 : 1;
    return e ? cgiFormSuccess : cgiFormNotFound;
}

cgiFormResultType cgiFormStringMultiple(const char* name, char*** result) noexcept
{
    size_t count = 0;
    for (cgiFormEntry* e = cgiFormEntryFindFirst(name); e; e = cgiFormEntryFindNext())
        count++;
    char** array = newStringArray(count);
    if (!array) {
        *result = nullptr;
        return cgiFormMemory;
    }
    cgiFormEntry* e = cgiFormEntryFindFirst(name);
    cgiTrace("StringMultiple Beginning\n");
    if (!e) {
        *result = array;
        cgiTrace("StringMultiple found nothing\n");
        return cgiFormNotFound;
    }
    for (size_t i = 0; e; e = cgiFormEntryFindNext(), i++) {
        size_t space = strlen(e->value) + 1;
        array[i] = static_cast<char*>(malloc(space));
        if (!array[i])
            return failStringArray(array, result);
        cgiFormEntryString(e, array[i], static_cast<int>(space), 1);
    }
    *result = array;
    cgiTrace("StringMultiple Succeeding\n");
    return cgiFormSuccess;
}

cgiFormResultType cgiFormEntries(char*** result) noexcept
{
    *result = nullptr;
    size_t n = 0;
    for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next)
        n++;
    unsigned char* first = firstOfNames(n);
    if (!first)
        return cgiFormMemory;
    size_t count = 0;
    for (size_t i = 0; i < n; i++)
        count += first[i];
    char** array = newStringArray(count);
    if (!array) {
        free(first);
        return cgiFormMemory;
    }
    size_t i = 0, k = 0;
    for (cgiFormEntry* e = cgiFormEntryFirst; e; e = e->next, i++) {
        if (first[i] && !(array[k++] = cgiStrDup(e->attr))) {
            free(first);
            return failStringArray(array, result);
        }
    }
    free(first);
    *result = array;
    return cgiFormSuccess;
}

void cgiStringArrayFree(char** stringArray) noexcept
{
    if (!stringArray)
        return;
    for (char** p = stringArray; *p; p++)
        free(*p);
    free(stringArray);
}

cgiFormResultType cgiFormInteger(const char* name, int* result, int defaultV) noexcept
{
    return readNumber(name, result, defaultV, "0123456789-+", cgiAtoi);
}

cgiFormResultType cgiFormIntegerBounded(const char* name, int* result, int min, int max,
                                        int defaultV) noexcept
{
    cgiFormResultType r = cgiFormInteger(name, result, defaultV);
    return r == cgiFormSuccess ? clamp(result, min, max) : r;
}

cgiFormResultType cgiFormDouble(const char* name, double* result, double defaultV) noexcept
{
    return readNumber(name, result, defaultV, "0123456789.-+", atof);
}

cgiFormResultType cgiFormDoubleBounded(const char* name, double* result, double min, double max,
                                       double defaultV) noexcept
{
    cgiFormResultType r = cgiFormDouble(name, result, defaultV);
    return r == cgiFormSuccess ? clamp(result, min, max) : r;
}

cgiFormResultType cgiFormSelectSingle(const char* name, char** choicesText, int choicesTotal,
                                      int* result, int defaultV) noexcept
{
    cgiFormEntry* e = cgiFormEntryFindFirst(name);
    // The trace shows the entry's address as a number (its low 32 bits).
    cgiTrace("%d\n", static_cast<int>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(e))));
    if (!e) {
        *result = defaultV;
        return cgiFormNotFound;
    }
    for (int i = 0; i < choicesTotal; i++) {
        cgiTrace("%s %s\n", choicesText[i], e->value);
        if (strcmp(choicesText[i], e->value) == 0) {
            cgiTrace("MATCH\n");
            *result = i;
            return cgiFormSuccess;
        }
    }
    *result = defaultV;
    return cgiFormNoSuchChoice;
}

cgiFormResultType cgiFormRadio(const char* name, char** valuesText, int valuesTotal, int* result,
                               int defaultV) noexcept
{
    return cgiFormSelectSingle(name, valuesText, valuesTotal, result, defaultV);
}

cgiFormResultType cgiFormSelectMultiple(const char* name, char** choicesText, int choicesTotal,
                                        int* result, int* invalid) noexcept
{
    for (int i = 0; i < choicesTotal; i++)
        result[i] = 0;
    int hits = 0, misses = 0;
    for (cgiFormEntry* e = cgiFormEntryFindFirst(name); e; e = cgiFormEntryFindNext()) {
        int i = findChoice(e->value, choicesText, choicesTotal);
        if (i < 0) {
            misses++;
        } else {
            result[i] = 1;
            hits++;
        }
    }
    *invalid = misses;
    return hits ? cgiFormSuccess : cgiFormNotFound;
}

cgiFormResultType cgiFormCheckboxMultiple(const char* name, char** valuesText, int valuesTotal,
                                          int* result, int* invalid) noexcept
{
    return cgiFormSelectMultiple(name, valuesText, valuesTotal, result, invalid);
}

cgiFormResultType cgiFormCheckboxSingle(const char* name) noexcept
{
    return cgiFormEntryFindFirst(name) ? cgiFormSuccess : cgiFormNotFound;
}

cgiFormResultType cgiFormFileName(const char* name, char* result, int resultSpace) noexcept
{
    cgiFormEntry* e = cgiFormEntryFindFirst(name);
    if (!e)
        return copyEntryText("", result, resultSpace, cgiFormNotFound);
    return copyEntryText(e->fileName, result, resultSpace, cgiFormNoFileName);
}

cgiFormResultType cgiFormFileContentType(const char* name, char* result, int resultSpace) noexcept
{
    cgiFormEntry* e = cgiFormEntryFindFirst(name);
    if (!e)
        return copyEntryText("", result, resultSpace, cgiFormNotFound);
    return copyEntryText(e->contentType, result, resultSpace, cgiFormNoContentType);
}

cgiFormResultType cgiFormFileSize(const char* name, int* sizeP) noexcept
{
    cgiFormResultType r;
    cgiFormEntry* e = findFileEntry(name, &r);
    if (sizeP)
        *sizeP = e ? e->valueLength : 0;
    return r;
}

cgiFormResultType cgiFormEntryFileOpen(cgiFormEntry* e, cgiFilePtr* cfpp)
{
    cgiFilePtr cfp = static_cast<cgiFilePtr>(malloc(sizeof *cfp));
    if (!cfp) {
        *cfpp = nullptr;
        return cgiFormMemory;
    }
    cfp->in = fopen(e->tfileName, "rb");
    if (!cfp->in) {
        free(cfp);
        return cgiFormIO;
    }
    *cfpp = cfp;
    return cgiFormSuccess;
}

cgiFormResultType cgiFormFileOpen(const char* name, cgiFilePtr* cfpp) noexcept
{
    cgiFormResultType r;
    cgiFormEntry* e = findFileEntry(name, &r);
    if (!e) {
        *cfpp = nullptr;
        return r;
    }
    return cgiFormEntryFileOpen(e, cfpp);
}

cgiFormResultType cgiFormFileRead(cgiFilePtr cfp, char* buffer, int bufferSize, int* gotP) noexcept
{
    if (!cfp)
        return cgiFormOpenFailed;
    size_t got = bufferSize > 0 ? fread(buffer, 1, static_cast<size_t>(bufferSize), cfp->in) : 0;
    if (got == 0)
        return cgiFormEOF;
    *gotP = static_cast<int>(got);
    return cgiFormSuccess;
}

cgiFormResultType cgiFormFileClose(cgiFilePtr cfp) noexcept
{
    if (!cfp)
        return cgiFormOpenFailed;
    fclose(cfp->in);
    free(cfp);
    return cgiFormSuccess;
}
