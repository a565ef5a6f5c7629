// Opening a cabinet, reading its header strings, and moving on to the next cabinet of a set.
#include <cstring>

#include "cab/fdi/context.h"

namespace {

constexpr int kOpenFlags = 0x8000;  // binary, read-only
constexpr int kOpenMode = 0x180;    // owner may read and write
constexpr uint32_t kStringRead = 256;

bool ReadExactly(FDIContext* ctx, intptr_t hf, void* pv, uint32_t cb) {
    return ctx->callbacks.pfnread(hf, pv, cb) == cb;
}

// Learns a reserve size on the first cabinet; later cabinets must declare the same size.
// The buffer always has room for the largest entry the format allows, so what a cabinet
// declares never changes what is allocated.
bool LearnEntrySize(FDIContext* ctx, uint32_t cb, uint32_t& learned, uint8_t*& buffer) {
    if (!buffer) {
        buffer = static_cast<uint8_t*>(ctx->callbacks.pfnalloc(kMaxEntryWithReserve));
        if (!buffer) return FdiFail(ctx, FDIERROR_ALLOC_FAIL);
        learned = cb;
    }
    if (cb != learned) return FdiFail(ctx, FDIERROR_RESERVE_MISMATCH);
    return true;
}

// True when at least cb bytes follow the handle's position, which it keeps: a declared
// size is allocated only once the cabinet shows that it holds that much.
bool BytesFollow(FDIContext* ctx, intptr_t hf, uint32_t cb) {
    const auto& c = ctx->callbacks;
    const int32_t pos = c.pfnseek(hf, 0, 1);
    if (pos == -1) return false;
    const int32_t end = c.pfnseek(hf, 0, 2);
    return c.pfnseek(hf, pos, 0) == pos && end != -1 && end >= pos &&
           static_cast<uint32_t>(end - pos) >= cb;
}

bool ReadReserve(FDIContext* ctx) {
    uint8_t sizes[4] = {};
    if (HeaderFlags(ctx) & cfhdrRESERVE_PRESENT) {
        if (!ReadExactly(ctx, ctx->hfCabFileList, sizes, sizeof sizes))
            return FdiFail(ctx, FDIERROR_NOT_A_CABINET);
        const uint32_t cbCFHeader = Get16(sizes);
        if (ctx->cbHeaderReserve == kNotLearned) {
            if (cbCFHeader != 0) {
                if (!BytesFollow(ctx, ctx->hfCabFileList, cbCFHeader))
                    return FdiFail(ctx, FDIERROR_NOT_A_CABINET);
                ctx->pbHeaderReserve = static_cast<uint8_t*>(ctx->callbacks.pfnalloc(cbCFHeader));
                if (!ctx->pbHeaderReserve) return FdiFail(ctx, FDIERROR_ALLOC_FAIL);
            }
            ctx->cbHeaderReserve = cbCFHeader;
        } else if (cbCFHeader != ctx->cbHeaderReserve) {
            return FdiFail(ctx, FDIERROR_RESERVE_MISMATCH);
        }
        if (ctx->cbHeaderReserve != 0 &&
            !ReadExactly(ctx, ctx->hfCabFileList, ctx->pbHeaderReserve, ctx->cbHeaderReserve))
            return FdiFail(ctx, FDIERROR_NOT_A_CABINET);
    }
    return LearnEntrySize(ctx, 8u + sizes[2], ctx->cbFolderEntry, ctx->pbFolderEntry) &&
           LearnEntrySize(ctx, 8u + sizes[3], ctx->cbDataHeader, ctx->pbDataHeader);
}

// Reads a pair of header strings, or makes both empty when the flag is clear.
bool ReadStringPair(FDIContext* ctx, uint16_t flag, char* pszCabinet, char* pszDisk) {
    if (!(HeaderFlags(ctx) & flag)) {
        pszCabinet[0] = pszDisk[0] = '\0';
        return true;
    }
    return ReadCabinetString(ctx, ctx->hfCabFileList, pszCabinet) &&
           ReadCabinetString(ctx, ctx->hfCabFileList, pszDisk);
}

} // namespace

bool ReadCabinetString(FDIContext* ctx, intptr_t hf, char* psz) {
    const int32_t start = ctx->callbacks.pfnseek(hf, 0, 1);
    if (start == -1) return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    const uint32_t got = ctx->callbacks.pfnread(hf, psz, kStringRead);
    if (got == 0 || got > kStringRead) return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    // Only what was read counts: the terminator must lie within it.
    psz[got] = '\0';
    const uint32_t len = static_cast<uint32_t>(std::strlen(psz));
    if (len >= got) return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    if (ctx->callbacks.pfnseek(hf, start + static_cast<int32_t>(len) + 1, 0) == -1)
        return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    return true;
}

bool OpenCabinet(FDIContext* ctx, const char* pszName, uint16_t setID, uint16_t iCabinet) {
    const size_t cbPath = strnlen(ctx->szCabPath, kNameBufferSize);
    const size_t cbName = strnlen(pszName, kNameBufferSize);
    if (cbPath + cbName >= kNameBufferSize) return FdiFail(ctx, FDIERROR_CABINET_NOT_FOUND);
    std::memcpy(ctx->szFullPath, ctx->szCabPath, cbPath);
    std::memcpy(ctx->szFullPath + cbPath, pszName, cbName);
    ctx->szFullPath[cbPath + cbName] = '\0';

    const auto& cb = ctx->callbacks;
    ctx->hfCabFileList = cb.pfnopen(ctx->szFullPath, kOpenFlags, kOpenMode);
    if (ctx->hfCabFileList == -1) return FdiFail(ctx, FDIERROR_CABINET_NOT_FOUND);
    ctx->hfCabData = cb.pfnopen(ctx->szFullPath, kOpenFlags, kOpenMode);
    if (ctx->hfCabData == -1) return FdiFail(ctx, FDIERROR_CABINET_NOT_FOUND);

    uint8_t header[kCabHeaderSize];
    if (!ReadExactly(ctx, ctx->hfCabFileList, header, kCabHeaderSize) || !HasSignature(header))
        return FdiFail(ctx, FDIERROR_NOT_A_CABINET);
    if (HeaderVersion(header) != kCabVersion)
        return FdiFail(ctx, FDIERROR_UNKNOWN_CABINET_VERSION, HeaderVersion(header));
    if (iCabinet != 0xFFFF && (Get16(header + 32) != setID || Get16(header + 34) != iCabinet))
        return FdiFail(ctx, FDIERROR_WRONG_CABINET);
    std::memcpy(ctx->header, header, kCabHeaderSize);

    if (!ReadReserve(ctx)) return false;
    if (!ReadStringPair(ctx, cfhdrPREV_CABINET, ctx->szCabinetPrev, ctx->szDiskPrev) ||
        !ReadStringPair(ctx, cfhdrNEXT_CABINET, ctx->szCabinetNext, ctx->szDiskNext))
        return false;

    ctx->coffFolders = cb.pfnseek(ctx->hfCabFileList, 0, 1);
    const uint32_t coffFiles = HeaderCoffFiles(ctx);
    if (ctx->coffFolders == -1 || coffFiles > INT32_MAX ||
        cb.pfnseek(ctx->hfCabFileList, static_cast<int32_t>(coffFiles), 0) == -1)
        return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    ctx->cFilesLeft = HeaderFiles(ctx);
    return CabinetInfoNotify(ctx);
}

bool CabinetInfoNotify(FDIContext* ctx) {
    FDINOTIFICATION& n = ctx->notification;
    n.psz1 = ctx->szCabinetNext;
    n.psz2 = ctx->szDiskNext;
    n.psz3 = ctx->szCabPath;
    n.pv = ctx->pvUser;
    n.setID = HeaderSetID(ctx);
    n.iCabinet = HeaderICabinet(ctx);
    if (ctx->pfnfdin(fdintCABINET_INFO, &n) == -1) return FdiFail(ctx, FDIERROR_USER_ABORT);
    if (!ctx->pfnfdid) return true;

    FDIDECRYPT& d = ctx->decrypt;
    const bool held = ctx->pbHeaderReserve != nullptr;
    d.fdidt = fdidtNEW_CABINET;
    d.pvUser = ctx->pvUser;
    d.cabinet.pHeaderReserve = ctx->pbHeaderReserve;
    d.cabinet.cbHeaderReserve = static_cast<uint16_t>(held ? ctx->cbHeaderReserve : 0);
    d.cabinet.setID = HeaderSetID(ctx);
    d.cabinet.iCabinet = HeaderICabinet(ctx);
    if (ctx->pfnfdid(&d) == -1) return FdiFail(ctx, FDIERROR_USER_ABORT);
    return true;
}

bool SwitchCabinet(FDIContext* ctx) {
    // What every request shows, fixed once: a failed attempt may have read another
    // cabinet's strings and header into the context.
    const uint16_t setID = HeaderSetID(ctx);
    const uint16_t iCabinet = static_cast<uint16_t>(HeaderICabinet(ctx) + 1);
    std::memcpy(ctx->szNextRequested, ctx->szCabinetNext, kNameBufferSize);
    std::memcpy(ctx->szDiskRequested, ctx->szDiskNext, kNameBufferSize);

    FDINOTIFICATION& n = ctx->notification;
    n.fdie = FDIERROR_NONE;
    for (;;) {
        std::memcpy(ctx->szCabinetNext, ctx->szNextRequested, kNameBufferSize);
        std::memcpy(ctx->szDiskNext, ctx->szDiskRequested, kNameBufferSize);
        n.psz1 = ctx->szCabinetNext;
        n.psz2 = ctx->szDiskNext;
        n.psz3 = ctx->szCabPath;
        n.pv = ctx->pvUser;
        n.setID = setID;
        n.iCabinet = iCabinet;
        if (!CloseCabinet(ctx)) return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
        if (ctx->pfnfdin(fdintNEXT_CABINET, &n) == -1) return FdiFail(ctx, FDIERROR_USER_ABORT);
        if (OpenCabinet(ctx, ctx->szCabinetNext, setID, iCabinet) && SeekFolder(ctx, 0)) break;
        if (ctx->erfLast == FDIERROR_USER_ABORT) return false;
        n.fdie = ctx->erfLast;
    }

    // The list starts with the entries continued from the previous cabinet: those of the
    // files declined there, then the current file's own entry, which stays in hand.
    for (uint32_t skip = ctx->cContinuedDeclined + 1u; skip > 0; --skip) {
        if (ctx->cFilesLeft == 0) return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
        if (!ReadFileEntry(ctx)) return false;
        --ctx->cFilesLeft;
    }
    ctx->cContinuedDeclined = 0;
    ctx->fInContinuation = true;
    return true;
}
