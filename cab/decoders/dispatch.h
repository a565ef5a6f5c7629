// The decompressor dispatch: one decoder per reader context, chosen by a folder's
// typeCompress word. Stored data is handled here; MSZIP, Quantum and LZX go through their
// decoders' create, decompress, reset and destroy operations. Every step returns an
// FDIERROR_ code, FDIERROR_NONE on success.
#pragma once
#include <cstdint>

#include "cab/decoders/mdi.h"
#include "cab/fdi/fdi.h"

// The client callbacks a decoder may use: memory, and file access for a spill file.
struct DecoderCallbacks {
    PFNALLOC pfnalloc;
    PFNFREE pfnfree;
    PFNOPEN pfnopen;
    PFNREAD pfnread;
    PFNWRITE pfnwrite;
    PFNCLOSE pfnclose;
    PFNSEEK pfnseek;
};

struct Decompressor {
    const DecoderCallbacks* callbacks;
    uint16_t typeCompress;    // the word the decoder was made for; tcompBAD: none, no buffers
    MDI_HANDLE handle;        // unused for stored data
    uint8_t* pbSrc;           // cbSrcBufferMin bytes: a block's compressed bytes
    uint8_t* pbDst;           // cbDataBlockMax bytes: the decoded block (MSZIP's history too)
    uint32_t cbDataBlockMax;
    uint32_t cbSrcBufferMin;
    uint32_t generation;      // counts creations: a changed value means fresh state and buffers
};

// A decompressor without a decoder, using the given callbacks.
void InitDecompressor(Decompressor& dec, const DecoderCallbacks* callbacks);

// Makes the decoder fit the folder's typeCompress word, replacing it when the word differs.
int SetDecompressor(Decompressor& dec, uint16_t typeCompress);
// Restarts the current decoder for a folder decoded from its first block.
int ResetDecompressor(Decompressor& dec);
// Decodes cbData bytes of pbSrc into pbDst. *pcbResult: the expected size on entry (at most
// cbDataBlockMax), the size produced on return.
int DecompressBlock(Decompressor& dec, uint32_t cbData, uint32_t* pcbResult);
// Releases the decoder and its buffers (leaving tcompBAD); on a decoder failure keeps them.
int DestroyDecompressor(Decompressor& dec);
// Creates the decoder and buffers for dec.typeCompress; on failure leaves none (tcompBAD).
int CreateDecompressor(Decompressor& dec);
