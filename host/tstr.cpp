#include "host/tstr.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/tkmd.h"
#include "host/tmsc.h"

namespace {

char* HeapCopy(const char* s, size_t length) {
    auto* copy = static_cast<char*>(tmsc_HeapMalloc(length + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, s, length);
    copy[length] = '\0';
    return copy;
}

int Lower(char c) { return std::tolower(static_cast<unsigned char>(c)); }

// Index one past the last separator of name, 0 when it has none.
size_t NameStart(const char* name) {
    size_t start = 0;
    for (size_t i = 0; name[i]; ++i)
        if (tfnp_IsSeparator(name[i])) start = i + 1;
    return start;
}

size_t CopyPart(const char* part, size_t length, char* out, size_t outSize) {
    if (out && outSize > 0) {
        size_t n = length < outSize - 1 ? length : outSize - 1;
        std::memcpy(out, part, n);
        out[n] = '\0';
    }
    return length;
}

}  // namespace

char* tstr_Duplicate(const char* s) { return s ? HeapCopy(s, std::strlen(s)) : nullptr; }

int tstr_Eqic(const char* a, const char* b) {
    if (!a || !b) return a == b;
    for (; *a && *b; ++a, ++b)
        if (Lower(*a) != Lower(*b)) return 0;
    return *a == *b;
}

int tstr_Eqnic(const char* a, const char* b, size_t n) {
    if (!a || !b) return a == b;
    for (size_t i = 0; i < n; ++i) {
        if (Lower(a[i]) != Lower(b[i])) return 0;
        if (!a[i]) return 1;
    }
    return 1;
}

const char* tstr_SubStringic(const char* haystack, const char* needle) {
    if (!haystack || !needle) return nullptr;
    size_t n = std::strlen(needle);
    for (const char* p = haystack; *p; ++p)
        if (tstr_Eqnic(p, needle, n)) return p;
    return n == 0 ? haystack : nullptr;
}

char* tstr_Sprintf(char* buffer, size_t size, const char* format, Terr_ErrorReport* report, ...) {
    va_list args;
    va_start(args, report);
    va_list again;
    va_copy(again, args);
    int needed = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    char* result = buffer;
    if (needed < 0) {
        if (report) *report = terr_CreateErrorReport("tstr_Sprintf", __LINE__, 2, nullptr,
                                                     "invalid format", 0);
        if (buffer && size) buffer[0] = '\0';
        result = buffer ? buffer : nullptr;
    } else if (!buffer) {
        result = static_cast<char*>(tmsc_HeapMalloc(static_cast<size_t>(needed) + 1));
        if (result)
            std::vsnprintf(result, static_cast<size_t>(needed) + 1, format, again);
        else if (report)
            *report = terr_CreateErrorReport("tstr_Sprintf", __LINE__, 2, nullptr,
                                             "out of memory", 0);
    } else if (size > 0) {
        std::vsnprintf(buffer, size, format, again);
        if (static_cast<size_t>(needed) >= size && report)
            *report = terr_CreateErrorReport("tstr_Sprintf", __LINE__, 2, nullptr,
                                             "result cut to the buffer", 0);
    }
    va_end(again);
    return result;
}

Tstr_StringList* tstr_StringListAppend(Tstr_StringList* list, const char* s,
                                       Terr_ErrorReport* report) {
    if (!list) {
        list = static_cast<Tstr_StringList*>(tmsc_HeapMalloc(sizeof(Tstr_StringList)));
        if (!list) {
            if (report) *report = terr_CreateErrorReport("tstr_StringListAppend", __LINE__, 2,
                                                         nullptr, "out of memory", 0);
            return nullptr;
        }
        list->count = 0;
        list->strings = nullptr;
    }
    char* copy = tstr_Duplicate(s ? s : "");
    auto* grown = static_cast<char**>(
        tmsc_HeapMalloc(sizeof(char*) * static_cast<size_t>(list->count + 1)));
    if (!copy || !grown) {
        tmsc_HeapFree(copy);
        tmsc_HeapFree(grown);
        if (report) *report = terr_CreateErrorReport("tstr_StringListAppend", __LINE__, 2,
                                                     nullptr, "out of memory", 0);
        return list;
    }
    if (list->count > 0)
        std::memcpy(grown, list->strings, sizeof(char*) * static_cast<size_t>(list->count));
    grown[list->count] = copy;
    tmsc_HeapFree(list->strings);
    list->strings = grown;
    ++list->count;
    return list;
}

void tstr_StringListFree(Tstr_StringList* list) {
    if (!list) return;
    for (long i = 0; i < list->count; ++i) tmsc_HeapFree(list->strings[i]);
    tmsc_HeapFree(list->strings);
    tmsc_HeapFree(list);
}

char* tstr_StringToA(const char* s, long start, long count) {
    if (!s || start < 0 || count < 0) return tstr_Duplicate("");
    return HeapCopy(s + start, strnlen(s + start, static_cast<size_t>(count)));
}

long tstr_StringToL(const char* s, long start, long count) {
    if (!s || start < 0 || count <= 0) return 0;
    size_t n = strnlen(s + start, static_cast<size_t>(count));
    return tkmd_Strntol(s, start, static_cast<long>(n));
}

double tstr_StringToD(const char* s, long start, long count) {
    if (!s || start < 0 || count <= 0) return 0.0;
    const char* field = s + start;
    size_t n = strnlen(field, static_cast<size_t>(count));
    // Decimal reals in CEOS text use '.' whatever the host's locale says, so
    // the number is parsed by hand: [blanks][sign]digits[.digits][(E|D)[sign]digits].
    size_t i = 0;
    while (i < n && std::isspace(static_cast<unsigned char>(field[i]))) ++i;
    bool negative = false;
    if (i < n && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    std::string text;
    bool digits = false;
    while (i < n && std::isdigit(static_cast<unsigned char>(field[i]))) {
        text += field[i++];
        digits = true;
    }
    if (i < n && field[i] == '.') {
        text += '.';
        ++i;
        while (i < n && std::isdigit(static_cast<unsigned char>(field[i]))) {
            text += field[i++];
            digits = true;
        }
    }
    if (!digits) return 0.0;
    if (i < n && (field[i] == 'E' || field[i] == 'e' || field[i] == 'D' || field[i] == 'd')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < n && (field[j] == '+' || field[j] == '-')) exponent += field[j++];
        bool expDigits = false;
        while (j < n && std::isdigit(static_cast<unsigned char>(field[j]))) {
            exponent += field[j++];
            expDigits = true;
        }
        if (expDigits) text += exponent;
    }
    // Rebuild the number in the "C" locale's own form before converting.
    const struct lconv* conventions = std::localeconv();
    if (conventions && conventions->decimal_point && conventions->decimal_point[0] != '.') {
        std::string::size_type dot = text.find('.');
        if (dot != std::string::npos) text.replace(dot, 1, conventions->decimal_point);
    }
    double value = std::strtod(text.c_str(), nullptr);
    return negative ? -value : value;
}

size_t tstr_GetPathPart(const char* name, char* out, size_t outSize) {
    if (!name) return CopyPart("", 0, out, outSize);
    return CopyPart(name, NameStart(name), out, outSize);
}

size_t tstr_GetNamePart(const char* name, char* out, size_t outSize) {
    if (!name) return CopyPart("", 0, out, outSize);
    size_t start = NameStart(name);
    return CopyPart(name + start, std::strlen(name + start), out, outSize);
}

char* tstr_PathExpand(const char* path) {
    if (!path) return nullptr;
    std::string result;
    size_t i = 0;
    if (path[0] == '~' && (path[1] == '\0' || tfnp_IsSeparator(path[1]))) {
        const char* home = std::getenv("HOME");
        if (!home) home = std::getenv("USERPROFILE");
        if (home) {
            result = home;
            i = 1;
        }
    }
    while (path[i]) {
        if (path[i] == '$') {
            size_t nameStart = i + 1;
            bool braced = path[nameStart] == '{';
            if (braced) ++nameStart;
            size_t nameEnd = nameStart;
            while (std::isalnum(static_cast<unsigned char>(path[nameEnd])) || path[nameEnd] == '_')
                ++nameEnd;
            bool closed = !braced || path[nameEnd] == '}';
            if (nameEnd > nameStart && closed) {
                std::string name(path + nameStart, nameEnd - nameStart);
                if (const char* value = std::getenv(name.c_str())) result += value;
                i = nameEnd + (braced ? 1 : 0);
                continue;
            }
        }
        result += path[i++];
    }
    return HeapCopy(result.c_str(), result.size());
}

bool tfnp_IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

char* tfnp_FileNameGetPathPart(const char* path) {
    if (!path) return tstr_Duplicate(".");
    size_t start = NameStart(path);
    if (start == 0) return tstr_Duplicate(".");
    size_t length = start - 1;  // drop the trailing separator
    if (length == 0) length = 1;  // the root keeps its separator
    return HeapCopy(path, length);
}

char* tfnp_FileNameGetNamePart(const char* path) {
    if (!path) return tstr_Duplicate("");
    return tstr_Duplicate(path + NameStart(path));
}

size_t ttxt_Text_strlen(const char* s) { return std::strlen(s); }
int ttxt_Text_strcmp(const char* a, const char* b) { return std::strcmp(a, b); }
int ttxt_Text_strncmp(const char* a, const char* b, size_t n) { return std::strncmp(a, b, n); }
char* ttxt_Text_strcpy(char* dest, const char* src) { return std::strcpy(dest, src); }
int ttxt_Text_atoi(const char* s) { return std::atoi(s); }

char* ttxt_Text_strtok_r(char* s, const char* delimiters, char** state) {
    char* p = s ? s : *state;
    if (!p) return nullptr;
    p += std::strspn(p, delimiters);
    if (!*p) {
        *state = p;
        return nullptr;
    }
    char* end = p + std::strcspn(p, delimiters);
    if (*end) *end++ = '\0';
    *state = end;
    return p;
}

TtxtTextA::~TtxtTextA() { tmsc_HeapFree(text_); }

TtxtTextA& TtxtTextA::operator=(char* heapString) {
    if (heapString != text_) {
        tmsc_HeapFree(text_);
        text_ = heapString;
    }
    return *this;
}
