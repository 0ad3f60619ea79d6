// Strings (tstr_, ttxt_) and file names (tfnp_).  Heap results come from the
// host heap and are released with tmsc_HeapFree.
#pragma once

#include <cstddef>

#include "host/terr.h"

char* tstr_Duplicate(const char* s);

/// Case-insensitive equality of whole strings, or of the first n characters.
int tstr_Eqic(const char* a, const char* b);
int tstr_Eqnic(const char* a, const char* b, size_t n);

/// Where needle occurs in haystack ignoring case, or null.
const char* tstr_SubStringic(const char* haystack, const char* needle);

/// printf-style formatting.  With a null buffer the result is a new heap
/// string; otherwise at most size bytes (terminator included) are written and
/// a result that does not fit is cut and reported.
char* tstr_Sprintf(char* buffer, size_t size, const char* format, Terr_ErrorReport* report, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 5)))
#endif
    ;

/// A counted list of heap strings.
struct Tstr_StringList {
    long count;
    char** strings;
};

/// Appends a copy of s; a null list starts a new one.  Returns the list.
Tstr_StringList* tstr_StringListAppend(Tstr_StringList* list, const char* s,
                                       Terr_ErrorReport* report);
void tstr_StringListFree(Tstr_StringList* list);

/// Conversions of the count characters of s that begin at index start.  They
/// stop early at a NUL and never look outside [start, start + count).
char* tstr_StringToA(const char* s, long start, long count);
long tstr_StringToL(const char* s, long start, long count);
double tstr_StringToD(const char* s, long start, long count);

/// Directory part of name (with its trailing separator; empty for a bare file
/// name) or file-name part, copied into out of outSize bytes.  Returns the
/// length of the part, which may exceed what fitted.
size_t tstr_GetPathPart(const char* name, char* out, size_t outSize);
size_t tstr_GetNamePart(const char* name, char* out, size_t outSize);

/// The path with a leading "~" and $NAME or ${NAME} variables expanded.
char* tstr_PathExpand(const char* path);

/// Path separators of this platform.
bool tfnp_IsSeparator(char c);

/// Directory part of path without its trailing separator ("." for a bare
/// file name, "/" for the root), as a new heap string.
char* tfnp_FileNameGetPathPart(const char* path);
/// File-name part of path as a new heap string.
char* tfnp_FileNameGetNamePart(const char* path);

// Thin equivalents of the standard string routines.
size_t ttxt_Text_strlen(const char* s);
int ttxt_Text_strcmp(const char* a, const char* b);
int ttxt_Text_strncmp(const char* a, const char* b, size_t n);
char* ttxt_Text_strcpy(char* dest, const char* src);
int ttxt_Text_atoi(const char* s);
char* ttxt_Text_strtok_r(char* s, const char* delimiters, char** state);

/// An owned narrow text: takes ownership of a heap string on assignment.
class TtxtTextA {
public:
    TtxtTextA() = default;
    ~TtxtTextA();
    TtxtTextA(const TtxtTextA&) = delete;
    TtxtTextA& operator=(const TtxtTextA&) = delete;
    TtxtTextA& operator=(char* heapString);
    const char* c_str() const { return text_ ? text_ : ""; }
    bool empty() const { return !text_ || !*text_; }

private:
    char* text_ = nullptr;
};
