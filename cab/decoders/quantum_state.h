// The Quantum decoder's handle and its process-wide working state, shared by the decoding
// operations and the spill-mode page cache.
#pragma once
#include "cab/decoders/mdi.h"
#include "cab/decoders/quantum_model.h"

constexpr uint32_t kQuantumTag = 0x43494451; // "QDIC" in memory order
constexpr uint32_t kQuantumPageSize = 4096;

struct QuantumHandle {
    uint32_t tag;
    PFNALLOC alloc;
    PFNFREE free;
    PFNOPEN open;
    PFNREAD read;
    PFNWRITE write;
    PFNCLOSE close;
    PFNSEEK seek;
    uint32_t blockMax;
};

struct QuantumPageBuffer {
    QuantumPageBuffer* newer;
    QuantumPageBuffer* older;
    int32_t page; // -1: none
    int32_t dirty;
    uint8_t data[kQuantumPageSize];
};

struct QuantumPageSlot {
    QuantumPageBuffer* buffer;
    int32_t onDisk;
};

struct QuantumState {
    QuantumHandle* current; // the handle of the operation in progress
    bool inUse;             // a decoder exists
    uint8_t windowBits;
    uint32_t windowSize, windowMask;
    uint8_t* window; // null in spill mode
    uint32_t streamPos; // bytes decoded since the last reset
    int32_t spillFailure;
    quantum::Models models;

    // Spill mode
    intptr_t spillFile;
    int32_t pageCount;
    QuantumPageSlot* pageTable;
    QuantumPageBuffer* newest;
    QuantumPageBuffer* oldest;
    QuantumPageBuffer* currentPage; // the page being written
    uint32_t pageWrite;             // offset of the next byte in it
};

extern QuantumState g_quantum;

// Spill mode: the window lives in a file opened through the handle's callbacks, with a
// least-recently-used cache of page buffers.
bool QuantumSpillSetUp(QuantumState& s);
void QuantumSpillRelease(QuantumState& s);
// Empties the page cache and makes page 0 the page being written.
void QuantumSpillResetCache(QuantumState& s);
// Both return false when the spill file or the page cache failed.
bool QuantumSpillStoreLiteral(QuantumState& s, uint8_t byte);
bool QuantumSpillCopyMatch(QuantumState& s, uint8_t* out, uint32_t source, uint32_t length);
