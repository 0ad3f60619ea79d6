// Field encodings of CEOS records and the routine that decodes one field.
//
// A record layout is a table of fields: 1-based byte position within the
// record, length in bytes, encoding.  Readers read a whole record into a
// buffer and decode its fields one by one, in table order.
#pragma once

#include <cstddef>
#include <cstdint>

enum CeosFieldType {
    FT_ASCII = 0,       // text, kept with its blanks; destination char[length + 1]
    FT_INT = 1,         // decimal integer text; destination int32_t
    FT_REAL = 2,        // decimal real text; destination double
    FT_OCTAL = 5,       // one binary code byte; destination int32_t (its octal digits)
    FT_BIN_INT = 6,     // big-endian integer of 2 or 4 bytes; destination int32_t
    FT_BIN_DOUBLE = 7,  // big-endian IEEE double; destination double
    FT_REAL_E = 8,      // decimal real in exponent form; destination double
    FT_LE_INT = 9,      // little-endian integer of 2 or 4 bytes; destination int32_t
    FT_LE_DOUBLE = 10,  // little-endian IEEE double; destination double
};

/// Decodes the field at 1-based position of record into destination.  Codes
/// that are no field type leave the destination as it was, and so do binary
/// encodings given another length than their own (octal 1 byte, integers 2
/// or 4, doubles 8): no byte outside [position, position + length) is read.
void CeosDecodeField(const unsigned char* record, int position, int type, int length,
                     void* destination);

/// A record buffer with a checked, typed front end to CeosDecodeField: a
/// field that does not lie inside the buffer, or whose encoding does not fit
/// the member it is decoded into, leaves the member untouched.
class CeosFields {
public:
    CeosFields(const unsigned char* record, size_t size) : record_(record), size_(size) {}

    void operator()(int position, int length, CeosFieldType type, int32_t& member) const;
    void operator()(int position, int length, CeosFieldType type, double& member) const;
    template <size_t N>
    void operator()(int position, int length, CeosFieldType type, char (&member)[N]) const {
        Text(position, length, type, member, N);
    }

    const unsigned char* data() const { return record_; }
    size_t size() const { return size_; }

private:
    bool Inside(int position, int length) const;
    void Text(int position, int length, CeosFieldType type, char* member, size_t capacity) const;

    const unsigned char* record_;
    size_t size_;
};
