// Field conversions of the metadata toolkit (tkmd_).
#pragma once

/// Copies count characters of record from index start into out; the caller
/// terminates out.
void tkmd_Strntoa(const char* record, long start, long count, char* out);

/// The decimal integer written in the count characters of record from index
/// start: leading blanks, an optional sign, digits; anything after the digits
/// ends the number.  Saturates at the limits of long; 0 when there are no digits.
long tkmd_Strntol(const char* record, long start, long count);
