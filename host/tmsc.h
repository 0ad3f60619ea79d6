// Memory and byte order (tmsc_), and the toolkit's boolean.
#pragma once

#include <cstddef>

#include "ceosalosj_export.h"

/// The toolkit's boolean: false 0, true 1.
typedef int Tmsc_Boolean;
enum { TMSC_FALSE = 0, TMSC_TRUE = 1 };

extern "C" {
/// The host heap.  Every block that crosses to the host comes from here and
/// goes back through tmsc_HeapFree.  A null pointer is fine for HeapFree.
CEOSALOSJ_API void* tmsc_HeapMalloc(size_t size);
CEOSALOSJ_API void tmsc_HeapFree(void* block);
}

/// Reverses, in place, the byte order of each of count items of size bytes.
void tmsc_MemSwab(void* buffer, size_t count, size_t size);
