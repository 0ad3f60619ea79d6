// Timed tables as the host's PRISM Level 1B1 sensor model holds them.
//
// These shapes cross to the host unchanged, so member order and widths are
// fixed: a table is a 32-bit count followed by a pointer to its entry array;
// every entry begins with a pointer to its own time record.  Table headers,
// entry arrays and time records are separate host-heap blocks; a table is
// released with AlosjTableFree, a reference entry with AlosjReferenceEntryFree.
#pragma once

#include <cstdint>
#include <cstring>

#include "host/tmsc.h"

struct AlosjDateTime {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    double seconds;
};

struct AlosjStateVectorEntry {
    AlosjDateTime* time;
    double stateVector[6];
};

/// Matrices are stored row after row: element [m][n] is double 3m + n.
struct AlosjMatrixEntry {
    AlosjDateTime* time;
    double firstMatrix[3][3];
    double secondMatrix[3][3];
};

struct AlosjAttitudeEntry {
    AlosjDateTime* time;
    double quaternion[4];
    double auxValue[3];
};

struct AlosjReferenceEntry {
    AlosjDateTime* time;
    double referenceValue1;
    double referenceValue2;
};

template <typename Entry>
struct AlosjTable {
    int32_t count;
    Entry* entries;
};

/// A zero-filled host-heap block for one T, or null when the heap is exhausted.
template <typename T>
T* AlosjHeapNew() {
    void* block = tmsc_HeapMalloc(sizeof(T));
    if (block) std::memset(block, 0, sizeof(T));
    return static_cast<T*>(block);
}

/// A table header with a zero-filled array of count entries (no time records
/// yet), or null when the heap is exhausted or count is negative.
template <typename Entry>
AlosjTable<Entry>* AlosjTableNew(int32_t count) {
    if (count < 0) return nullptr;
    auto* table = AlosjHeapNew<AlosjTable<Entry>>();
    if (!table) return nullptr;
    // An empty table still gets its own (empty) entry array.
    const size_t bytes = sizeof(Entry) * static_cast<size_t>(count);
    table->entries = static_cast<Entry*>(tmsc_HeapMalloc(bytes));
    if (!table->entries) {
        tmsc_HeapFree(table);
        return nullptr;
    }
    if (bytes) std::memset(table->entries, 0, bytes);
    table->count = count;
    return table;
}

/// Releases each entry's time record, the entry array, then the header.
template <typename Entry>
void AlosjTableFree(AlosjTable<Entry>* table) {
    if (!table) return;
    if (table->entries)
        for (int32_t i = 0; i < table->count; ++i) tmsc_HeapFree(table->entries[i].time);
    tmsc_HeapFree(table->entries);
    tmsc_HeapFree(table);
}

inline void AlosjReferenceEntryFree(AlosjReferenceEntry* entry) {
    if (!entry) return;
    tmsc_HeapFree(entry->time);
    tmsc_HeapFree(entry);
}
