// CeosDecodeField and its checked front end over every type code and length.
//
// Input: type code byte, length byte, 1-based position (two bytes, signed,
// big-endian), then the record.  The checked front end gets the whole record
// and any position; the raw decoder gets only fields inside the record, each
// copied into a buffer of exactly the field's length so that a read past the
// field is caught.  The decodings must agree with each other and with the
// rules of each encoding.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "ceos/CeosField.h"
#include "fuzz/FuzzInputs.h"
#include "fuzz/FuzzSupport.h"

using fuzzsupport::Check;

namespace {

constexpr int32_t kIntSentinel = -0x2A2A2A2A;
constexpr double kDoubleSentinel = -4.25e100;

bool SameDouble(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// The decimal integer rule: blanks, a sign, digits; saturating.
int32_t ReferenceInt(const unsigned char* field, int length) {
    int i = 0;
    while (i < length && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < length && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    int64_t value = 0;
    for (; i < length && field[i] >= '0' && field[i] <= '9'; ++i) {
        value = value * 10 + (field[i] - '0');
        if (value > int64_t{1} << 40) break;  // far beyond 32 bits: saturated either way
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

bool IsNumericType(int type) {
    return type == FT_INT || type == FT_REAL || type == FT_REAL_E || type == FT_OCTAL ||
           type == FT_BIN_INT || type == FT_LE_INT || type == FT_BIN_DOUBLE || type == FT_LE_DOUBLE;
}

bool IsDoubleType(int type) {
    return type == FT_REAL || type == FT_REAL_E || type == FT_BIN_DOUBLE || type == FT_LE_DOUBLE;
}

// The raw decoder over a field that is exactly length bytes long.
void DecodeRaw(const unsigned char* bytes, int type, int length) {
    std::unique_ptr<unsigned char[]> field(new unsigned char[length > 0 ? length : 1]);
    if (length > 0) std::memcpy(field.get(), bytes, static_cast<size_t>(length));
    // A zero-length field still needs a valid record pointer; it must not be read.

    if (type == FT_ASCII) {
        std::unique_ptr<char[]> text(new char[static_cast<size_t>(length) + 1]);
        CeosDecodeField(field.get(), 1, type, length, text.get());
        Check(text[length] == '\0', "an ASCII field is terminated after its length");
        Check(length == 0 || std::memcmp(text.get(), bytes, static_cast<size_t>(length)) == 0,
              "an ASCII field is copied as it is");
        return;
    }
    if (!IsNumericType(type)) {
        // Not a field type: nothing may be written.
        auto untouched = std::make_unique<int32_t>(kIntSentinel);
        CeosDecodeField(field.get(), 1, type, length, untouched.get());
        Check(*untouched == kIntSentinel, "a code that is no field type writes nothing");
        return;
    }
    if (IsDoubleType(type)) {
        auto value = std::make_unique<double>(kDoubleSentinel);
        CeosDecodeField(field.get(), 1, type, length, value.get());
        if (type == FT_REAL || type == FT_REAL_E) {
            auto other = std::make_unique<double>(kDoubleSentinel);
            CeosDecodeField(field.get(), 1, type == FT_REAL ? FT_REAL_E : FT_REAL, length,
                            other.get());
            Check(SameDouble(*value, *other), "FT_REAL and FT_REAL_E decode alike");
        } else if (length == 8) {
            unsigned char reversed[8];
            for (int i = 0; i < 8; ++i) reversed[i] = bytes[7 - i];
            auto other = std::make_unique<double>(kDoubleSentinel);
            CeosDecodeField(reversed, 1, type == FT_BIN_DOUBLE ? FT_LE_DOUBLE : FT_BIN_DOUBLE, 8,
                            other.get());
            Check(SameDouble(*value, *other), "binary doubles differ only in byte order");
        } else {
            Check(SameDouble(*value, kDoubleSentinel), "a binary double is 8 bytes or not decoded");
        }
        return;
    }
    auto value = std::make_unique<int32_t>(kIntSentinel);
    CeosDecodeField(field.get(), 1, type, length, value.get());
    switch (type) {
        case FT_INT:
            Check(*value == ReferenceInt(bytes, length), "FT_INT follows the decimal integer rule");
            break;
        case FT_OCTAL:
            if (length == 1) {
                Check(*value == 100 * (bytes[0] >> 6) + 10 * ((bytes[0] >> 3) & 7) + (bytes[0] & 7),
                      "FT_OCTAL gives the byte's octal digits");
            } else {
                Check(*value == kIntSentinel, "FT_OCTAL is one byte or not decoded");
            }
            break;
        default:  // FT_BIN_INT, FT_LE_INT
            if (length == 2 || length == 4) {
                uint32_t bits = 0;
                for (int i = 0; i < length; ++i) {
                    const unsigned char b = type == FT_BIN_INT ? bytes[i] : bytes[length - 1 - i];
                    bits = bits << 8 | b;
                }
                const int32_t expected =
                    length == 2 ? static_cast<int16_t>(bits) : static_cast<int32_t>(bits);
                Check(*value == expected, "binary integers sign-extend in their byte order");
            } else {
                Check(*value == kIntSentinel, "binary integers are 2 or 4 bytes or not decoded");
            }
            break;
    }
}

// The checked front end: any position and length, over the whole record.
void DecodeChecked(const unsigned char* record, size_t size, int position, int length, int type) {
    const CeosFields f(record, size);
    // A null record (an empty one here) holds no field at all.
    const bool inside = record != nullptr && position >= 1 && length >= 0 &&
                        static_cast<size_t>(position - 1) + static_cast<size_t>(length) <= size;
    const CeosFieldType code = static_cast<CeosFieldType>(type);

    int32_t integer = kIntSentinel;
    f(position, length, code, integer);
    double real = kDoubleSentinel;
    f(position, length, code, real);
    char text[257];
    std::memset(text, '#', sizeof text);
    f(position, length, code, text);

    if (!inside) {
        Check(integer == kIntSentinel && SameDouble(real, kDoubleSentinel) && text[0] == '#',
              "a field outside the record is not decoded");
        return;
    }
    if (type == FT_ASCII && length < static_cast<int>(sizeof text)) {
        Check(text[length] == '\0', "a checked ASCII field is terminated");
        Check(length == 0 ||
                  std::memcmp(text, record + position - 1, static_cast<size_t>(length)) == 0,
              "a checked ASCII field is copied as it is");
    } else {
        Check(text[0] == '#', "a text member receives only ASCII fields that fit it");
    }
    if (!IsDoubleType(type))
        Check(SameDouble(real, kDoubleSentinel), "a double receives only reals");
    if (IsDoubleType(type) || type == FT_ASCII || !IsNumericType(type))
        Check(integer == kIntSentinel, "an integer receives only integer encodings");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::Setup();
    fuzzsupport::InputBytes input(data, size);
    const int type =
        static_cast<int>(input.Byte() % 14) - 2;  // -2 to 11: every code and a few more
    const int length = input.Byte();
    const int position = static_cast<int16_t>(input.Word());

    // An exact copy of the record, so that reading past its end is caught.
    std::vector<unsigned char> record(input.rest(), input.rest() + input.restSize());
    // The front end takes the enumeration, whose values end at 15.
    if (type >= 0 && type <= 15) {
        DecodeChecked(record.data(), record.size(), position, length, type);
        DecodeChecked(record.data(), record.size(), position, length - 256, type);
    }

    if (position >= 1 &&
        static_cast<size_t>(position - 1) + static_cast<size_t>(length) <= record.size())
        DecodeRaw(record.data() + (position - 1), type, length);
    return 0;
}
