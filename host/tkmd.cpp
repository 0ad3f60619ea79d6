#include "host/tkmd.h"

#include <cctype>
#include <climits>
#include <cstring>

void tkmd_Strntoa(const char* record, long start, long count, char* out) {
    if (count > 0) std::memcpy(out, record + start, static_cast<size_t>(count));
}

long tkmd_Strntol(const char* record, long start, long count) {
    const char* field = record + start;
    long i = 0;
    while (i < count && std::isspace(static_cast<unsigned char>(field[i]))) ++i;
    bool negative = false;
    if (i < count && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    // Accumulate towards the sign so that LONG_MIN is reachable and nothing overflows.
    long value = 0;
    for (; i < count && std::isdigit(static_cast<unsigned char>(field[i])); ++i) {
        int digit = field[i] - '0';
        if (negative) {
            if (value < (LONG_MIN + digit) / 10) return LONG_MIN;
            value = value * 10 - digit;
        } else {
            if (value > (LONG_MAX - digit) / 10) return LONG_MAX;
            value = value * 10 + digit;
        }
    }
    return value;
}
