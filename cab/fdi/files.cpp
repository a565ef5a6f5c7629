// Walking a cabinet's CFFILE list and writing one file's bytes to its target.
#include <algorithm>

#include "cab/fdi/context.h"

bool EnumerateNotify(FDIContext* ctx) {
    const int32_t pos = ctx->callbacks.pfnseek(ctx->hfCabFileList, 0, 1);
    if (pos == -1) return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    FDINOTIFICATION& n = ctx->notification;
    n.cb = pos;
    n.iFolder = ctx->cFilesLeft;
    n.setID = HeaderSetID(ctx);
    n.pv = ctx->pvUser;
    if (ctx->pfnfdin(fdintENUMERATE, &n) == -1) return FdiFail(ctx, FDIERROR_USER_ABORT);
    ctx->cFilesLeft = n.iFolder;
    if (ctx->cFilesLeft != 0 && n.cb != pos &&
        ctx->callbacks.pfnseek(ctx->hfCabFileList, n.cb, 0) == -1)
        return FdiFail(ctx, FDIERROR_USER_ABORT);
    return true;
}

bool ReadFileEntry(FDIContext* ctx) {
    if (ctx->callbacks.pfnread(ctx->hfCabFileList, ctx->fileEntry, kFileEntrySize) != kFileEntrySize)
        return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    return ReadCabinetString(ctx, ctx->hfCabFileList, ctx->szName);
}

namespace {

bool CopyFileBytes(FDIContext* ctx) {
    uint64_t remaining = FileSize(ctx);
    uint64_t pos = FileFolderStart(ctx);
    if (remaining == 0) return true;

    if (ctx->uoffBlock > pos) {
        // Bytes before the block in hand: restart the folder, which cannot be done for the
        // folder carried over from the previous cabinet.
        if (ctx->fInContinuation) return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
        ctx->iFolderCurrent = kNoFolder;
    }
    // A folder 0 that began in an earlier cabinet can only be decoded by following it from
    // there; decoding it from this cabinet's first block would produce wrong bytes.
    if (!ctx->fInContinuation && ctx->fFolder0Continued && FolderIndex(ctx, FileFolder(ctx)) == 0)
        return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    if (!SelectFolder(ctx, FileFolder(ctx))) return false;
    while (ctx->uoffBlock + ctx->cbBlockUncomp <= pos)
        if (!NextDataBlock(ctx)) return false;

    for (;;) {
        const uint32_t off = static_cast<uint32_t>(pos - ctx->uoffBlock);
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(ctx->cbBlockUncomp - off, remaining));
        if (ctx->callbacks.pfnwrite(ctx->hfTarget, ctx->decoder.pbDst + off, n) != n)
            return FdiFail(ctx, FDIERROR_TARGET_FILE);
        pos += n;
        remaining -= n;
        if (remaining == 0) return true;
        if (!NextDataBlock(ctx)) return false;
    }
}

} // namespace

bool ExtractFile(FDIContext* ctx) {
    if (CopyFileBytes(ctx)) {
        FDINOTIFICATION& n = ctx->notification;
        const uint16_t attribs = Get16(ctx->fileEntry + 14);
        n.psz1 = ctx->szName;
        n.hf = ctx->hfTarget;
        n.date = Get16(ctx->fileEntry + 10);
        n.time = Get16(ctx->fileEntry + 12);
        n.attribs = static_cast<uint16_t>(attribs & ~_A_EXEC);
        n.pv = ctx->pvUser;
        n.iFolder = FileFolder(ctx);
        n.cb = (attribs & _A_EXEC) ? 1 : 0;
        const intptr_t result = ctx->pfnfdin(fdintCLOSE_FILE_INFO, &n);
        if (result != -1) {
            ctx->hfTarget = -1;  // the callback has closed it
            return result != 0 || FdiFail(ctx, FDIERROR_TARGET_FILE);
        }
        FdiFail(ctx, FDIERROR_USER_ABORT);
    }
    if (ctx->hfTarget != -1) ctx->callbacks.pfnclose(ctx->hfTarget);
    ctx->hfTarget = -1;
    return false;
}
