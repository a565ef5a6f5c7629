// The reader's context record behind an HFDI, and the engine steps that FDICopy is made of.
// Every step returns true on success, or records an error in the ERF and returns false.
#pragma once
#include <cstdint>

#include "cab/decoders/dispatch.h"
#include "cab/fdi/fdi.h"

constexpr uint32_t kCabHeaderSize = 36;
constexpr uint32_t kFileEntrySize = 16;
constexpr uint32_t kNameBufferSize = 257;  // 255 characters, a NUL, and one byte of slack
constexpr uint16_t kCabVersion = 0x0103;
constexpr uint32_t kNotLearned = 0xFFFF;
constexpr uint32_t kMaxEntryWithReserve = 8 + 255;  // a CFFOLDER or CFDATA header with its reserve
constexpr uint32_t kNoFolder = 0xFFFF;

struct FDIContext {
    ERF* perf;
    int erfLast;  // the code recorded last, kept even when the client gave no ERF
    DecoderCallbacks callbacks;
    int cpuType;
    PFNFDINOTIFY pfnfdin;
    PFNFDIDECRYPT pfnfdid;
    void* pvUser;

    Decompressor decoder;       // current decoder and its input and output buffers
    uint8_t* pbFolderEntry;     // one CFFOLDER entry with its reserve (cbFolderEntry bytes used)
    uint8_t* pbDataHeader;      // one CFDATA header with its reserve (cbDataHeader bytes used)
    uint8_t* pbHeaderReserve;   // null until a cabinet with a header reserve was read
    uint32_t cbHeaderReserve;   // kNotLearned until learned
    uint32_t cbFolderEntry;     // kNotLearned until learned
    uint32_t cbDataHeader;      // kNotLearned until learned

    uint8_t header[kCabHeaderSize];     // CFHEADER of the current cabinet
    uint8_t fileEntry[kFileEntrySize];  // fixed part of the CFFILE entry read last
    int32_t coffFolders;                // file offset of the current cabinet's CFFOLDER table

    intptr_t hfCabFileList;  // header, strings and CFFILE list, read in sequence
    intptr_t hfCabData;      // CFFOLDER entries and CFDATA blocks
    intptr_t hfTarget;       // target of the file being extracted; -1 once given back

    uint32_t iFolderCurrent;  // folder being decoded; kNoFolder: none
    uint64_t uoffBlock;       // folder offset of the first byte of the block in hand
    uint32_t cbBlockData;     // compressed bytes of the block in hand (both pieces if split)
    uint32_t cbBlockUncomp;   // bytes the block in hand decodes to
    bool fInContinuation;     // this FDICopy has followed a file into the next cabinet
    bool fFolder0Continued;   // this cabinet's folder 0 began in an earlier cabinet
    uint16_t cFilesLeft;
    uint16_t cContinuedDeclined;
    uint16_t cDataBlocksLeft;

    char szName[kNameBufferSize];
    char szCabinetPrev[kNameBufferSize];
    char szDiskPrev[kNameBufferSize];
    char szCabinetNext[kNameBufferSize];
    char szDiskNext[kNameBufferSize];
    char szCabPath[kNameBufferSize];
    char szFullPath[kNameBufferSize];
    char szNextRequested[kNameBufferSize];  // the names asked for at fdintNEXT_CABINET
    char szDiskRequested[kNameBufferSize];

    FDINOTIFICATION notification;
    FDIDECRYPT decrypt;
};

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Get32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// CFHEADER fields of the current cabinet.
inline uint32_t HeaderCoffFiles(const FDIContext* ctx) { return Get32(ctx->header + 16); }
inline bool HasSignature(const uint8_t* header) {
    return header[0] == 'M' && header[1] == 'S' && header[2] == 'C' && header[3] == 'F';
}
inline uint16_t HeaderVersion(const uint8_t* header) { return Get16(header + 24); }
inline uint16_t HeaderFolders(const FDIContext* ctx) { return Get16(ctx->header + 26); }
inline uint16_t HeaderFiles(const FDIContext* ctx) { return Get16(ctx->header + 28); }
inline uint16_t HeaderFlags(const FDIContext* ctx) { return Get16(ctx->header + 30); }
inline uint16_t HeaderSetID(const FDIContext* ctx) { return Get16(ctx->header + 32); }
inline uint16_t HeaderICabinet(const FDIContext* ctx) { return Get16(ctx->header + 34); }

// CFFILE fields of the entry read last.
inline uint32_t FileSize(const FDIContext* ctx) { return Get32(ctx->fileEntry); }
inline uint32_t FileFolderStart(const FDIContext* ctx) { return Get32(ctx->fileEntry + 4); }
inline uint16_t FileFolder(const FDIContext* ctx) { return Get16(ctx->fileEntry + 8); }

inline bool ContinuedFromPrev(uint16_t iFolder) {
    return iFolder == ifoldCONTINUED_FROM_PREV || iFolder == ifoldCONTINUED_PREV_AND_NEXT;
}
inline bool ContinuedToNext(uint16_t iFolder) {
    return iFolder == ifoldCONTINUED_TO_NEXT || iFolder == ifoldCONTINUED_PREV_AND_NEXT;
}

// The folder a CFFILE iFolder refers to; files continued into the next cabinet use the last.
inline uint32_t FolderIndex(const FDIContext* ctx, uint16_t iFolder) {
    return ContinuedToNext(iFolder) ? HeaderFolders(ctx) - 1u : iFolder;
}

// Records an error in the client's ERF; always returns false.
bool FdiFail(FDIContext* ctx, int erfOper, int erfType = 0);

// Releases a block from pfnalloc, if there is one.
void FdiRelease(FDIContext* ctx, void* pv);

// Closes both cabinet handles where open; true if every close succeeded.
bool CloseCabinet(FDIContext* ctx);

bool OpenCabinet(FDIContext* ctx, const char* pszName, uint16_t setID, uint16_t iCabinet);
bool CabinetInfoNotify(FDIContext* ctx);
bool ReadCabinetString(FDIContext* ctx, intptr_t hf, char* psz);
bool SwitchCabinet(FDIContext* ctx);

bool EnumerateNotify(FDIContext* ctx);
bool ReadFileEntry(FDIContext* ctx);
bool ExtractFile(FDIContext* ctx);

bool SelectFolder(FDIContext* ctx, uint32_t iFolder);
bool SeekFolder(FDIContext* ctx, uint32_t iFolder);
bool NextDataBlock(FDIContext* ctx);
bool ReadDataBlock(FDIContext* ctx, uint32_t cbOffset);
