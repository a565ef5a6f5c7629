// FDICopy: the walk over one cabinet's file list, offering each file to the client.
#include <cstring>

#include "cab/fdi/context.h"

namespace {

bool SetCabPath(FDIContext* ctx, const char* pszCabPath) {
    const size_t cb = strnlen(pszCabPath, kNameBufferSize);
    if (cb >= kNameBufferSize) return FdiFail(ctx, FDIERROR_CABINET_NOT_FOUND);
    std::memcpy(ctx->szCabPath, pszCabPath, cb + 1);
    return true;
}

void FillFileNotification(FDIContext* ctx) {
    FDINOTIFICATION& n = ctx->notification;
    n.cb = static_cast<int32_t>(FileSize(ctx));
    n.psz1 = ctx->szName;
    n.psz2 = ctx->szCabinetPrev;
    n.psz3 = ctx->szDiskPrev;
    n.date = Get16(ctx->fileEntry + 10);
    n.time = Get16(ctx->fileEntry + 12);
    n.attribs = Get16(ctx->fileEntry + 14);
    n.pv = ctx->pvUser;
    n.iFolder = FileFolder(ctx);
}

// Offers the file in hand with fdintCOPY_FILE and extracts it if the client opened a target.
bool CopyFile(FDIContext* ctx) {
    ctx->hfTarget = ctx->pfnfdin(fdintCOPY_FILE, &ctx->notification);
    if (ctx->hfTarget == -1) return FdiFail(ctx, FDIERROR_USER_ABORT);
    if (ctx->hfTarget != 0) return ExtractFile(ctx);
    ctx->hfTarget = -1;
    if (ContinuedToNext(FileFolder(ctx))) ++ctx->cContinuedDeclined;
    return true;
}

bool WalkCabinet(FDIContext* ctx, const char* pszCabinet, const char* pszCabPath) {
    if (!SetCabPath(ctx, pszCabPath) || !OpenCabinet(ctx, pszCabinet, 0, 0xFFFF)) return false;
    ctx->fInContinuation = false;
    ctx->fFolder0Continued = false;
    ctx->iFolderCurrent = kNoFolder;
    if (!SetCabPath(ctx, pszCabPath) || !EnumerateNotify(ctx)) return false;

    while (ctx->cFilesLeft != 0) {
        --ctx->cFilesLeft;
        if (!ReadFileEntry(ctx)) return false;
        FillFileNotification(ctx);
        const bool fromPrev = ContinuedFromPrev(FileFolder(ctx));
        if (fromPrev && !ctx->fInContinuation) {
            // Its head lies in an earlier cabinet; and so does the start of folder 0 here.
            ctx->fFolder0Continued = true;
            if (ctx->pfnfdin(fdintPARTIAL_FILE, &ctx->notification) == -1)
                return FdiFail(ctx, FDIERROR_USER_ABORT);
        } else if (!fromPrev && ctx->fInContinuation) {
            // The rest of this cabinet is left to a pass of its own.
            ctx->cFilesLeft = 0;
        } else if (!CopyFile(ctx)) {
            return false;
        }
        if (ctx->cFilesLeft == 0 && !EnumerateNotify(ctx)) return false;
    }
    return true;
}

} // namespace

bool FDICopy(HFDI hfdi, char* pszCabinet, char* pszCabPath, int /*flags*/, PFNFDINOTIFY pfnfdin,
             PFNFDIDECRYPT pfnfdid, void* pvUser) {
    hfdi->pvUser = pvUser;
    hfdi->pfnfdin = pfnfdin;
    hfdi->pfnfdid = pfnfdid;
    hfdi->cContinuedDeclined = 0;
    const bool ok = WalkCabinet(hfdi, pszCabinet, pszCabPath);
    CloseCabinet(hfdi);
    return ok;
}
