#include "ceos/CeosField.h"

#include <cctype>
#include <cmath>
#include <cstring>

#include "host/tkmd.h"
#include "host/tmsc.h"
#include "host/tstr.h"

namespace {

int32_t SignedFromBytes(const unsigned char* bytes, int length) {
    if (length == 2) {
        uint16_t value = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
        return static_cast<int16_t>(value);
    }
    uint32_t value = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                     static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
    return static_cast<int32_t>(value);
}

int32_t ClampToInt32(long value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// Binary fields go through a scratch copy: the record is never modified and
// need not be aligned.  The scratch is put in big-endian order for decoding.
void DecodeBinaryInt(const unsigned char* field, int length, bool bigEndian, void* destination) {
    if (length != 2 && length != 4) return;
    unsigned char scratch[4];
    std::memcpy(scratch, field, static_cast<size_t>(length));
    if (!bigEndian) tmsc_MemSwab(scratch, 1, static_cast<size_t>(length));
    int32_t value = SignedFromBytes(scratch, length);
    std::memcpy(destination, &value, sizeof value);
}

void DecodeBinaryDouble(const unsigned char* field, int length, bool bigEndian, void* destination) {
    if (length != 8) return;  // a shorter field would be read past its end
    unsigned char scratch[8];
    std::memcpy(scratch, field, 8);
    // Bring the bytes into the host's order.
    const uint16_t probe = 1;
    bool hostLittle = *reinterpret_cast<const unsigned char*>(&probe) == 1;
    if (bigEndian == hostLittle) tmsc_MemSwab(scratch, 1, 8);
    std::memcpy(destination, scratch, 8);
}

bool HoldsDigitOrOnlyBlanks(const char* field, int length) {
    bool blank = true;
    for (int i = 0; i < length && field[i]; ++i) {
        if (std::isdigit(static_cast<unsigned char>(field[i]))) return true;
        blank = blank && field[i] == ' ';
    }
    return blank;
}

}  // namespace

void CeosDecodeField(const unsigned char* record, int position, int type, int length,
                     void* destination) {
    const long start = position - 1;
    const char* text = reinterpret_cast<const char*>(record);
    switch (type) {
        case FT_ASCII: {
            auto* out = static_cast<char*>(destination);
            tkmd_Strntoa(text, start, length, out);
            out[length] = '\0';
            break;
        }
        case FT_INT: {
            int32_t value = ClampToInt32(tkmd_Strntol(text, start, length));
            std::memcpy(destination, &value, sizeof value);
            break;
        }
        case FT_REAL:
        case FT_REAL_E: {
            double value = tstr_StringToD(text, start, length);
            // Text that holds no number ("NaN", "***") is no value, not zero;
            // a blank field stays zero.
            if (value == 0.0 && !HoldsDigitOrOnlyBlanks(text + start, length)) value = NAN;
            std::memcpy(destination, &value, sizeof value);
            break;
        }
        case FT_OCTAL: {
            if (length != 1) break;  // one code byte, and only inside the field
            unsigned b = record[start];
            int32_t value = static_cast<int32_t>(100 * (b >> 6) + 10 * ((b >> 3) & 7) + (b & 7));
            std::memcpy(destination, &value, sizeof value);
            break;
        }
        case FT_BIN_INT:
            DecodeBinaryInt(record + start, length, true, destination);
            break;
        case FT_LE_INT:
            DecodeBinaryInt(record + start, length, false, destination);
            break;
        case FT_BIN_DOUBLE:
            DecodeBinaryDouble(record + start, length, true, destination);
            break;
        case FT_LE_DOUBLE:
            DecodeBinaryDouble(record + start, length, false, destination);
            break;
        default:
            break;  // not a field type: the destination keeps what it held
    }
}

bool CeosFields::Inside(int position, int length) const {
    return record_ && position >= 1 && length >= 0 &&
           static_cast<size_t>(position - 1) + static_cast<size_t>(length) <= size_;
}

void CeosFields::operator()(int position, int length, CeosFieldType type, int32_t& member) const {
    bool fits = type == FT_INT || (type == FT_OCTAL && length == 1) ||
                ((type == FT_BIN_INT || type == FT_LE_INT) && (length == 2 || length == 4));
    if (fits && Inside(position, length)) CeosDecodeField(record_, position, type, length, &member);
}

void CeosFields::operator()(int position, int length, CeosFieldType type, double& member) const {
    bool fits = type == FT_REAL || type == FT_REAL_E ||
                ((type == FT_BIN_DOUBLE || type == FT_LE_DOUBLE) && length == 8);
    if (fits && Inside(position, length)) CeosDecodeField(record_, position, type, length, &member);
}

void CeosFields::Text(int position, int length, CeosFieldType type, char* member,
                      size_t capacity) const {
    if (type == FT_ASCII && Inside(position, length) && static_cast<size_t>(length) < capacity)
        CeosDecodeField(record_, position, type, length, member);
}
