#include "host/tmsc.h"

#include <algorithm>
#include <cstdlib>

extern "C" void* tmsc_HeapMalloc(size_t size) { return std::malloc(size ? size : 1); }

extern "C" void tmsc_HeapFree(void* block) { std::free(block); }

void tmsc_MemSwab(void* buffer, size_t count, size_t size) {
    auto* item = static_cast<unsigned char*>(buffer);
    for (size_t i = 0; i < count; ++i, item += size) std::reverse(item, item + size);
}
