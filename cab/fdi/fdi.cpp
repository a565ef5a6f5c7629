// The context's life: FDICreate, FDIIsCabinet, FDIDestroy, and the error record.
#include <initializer_list>
#include <new>

#include "cab/fdi/context.h"

bool FdiFail(FDIContext* ctx, int erfOper, int erfType) {
    ctx->erfLast = erfOper;
    if (ctx->perf) {
        ctx->perf->erfOper = erfOper;
        ctx->perf->erfType = erfType;
        ctx->perf->fError = 1;
    }
    return false;
}

void FdiRelease(FDIContext* ctx, void* pv) {
    if (pv) ctx->callbacks.pfnfree(pv);
}

bool CloseCabinet(FDIContext* ctx) {
    bool ok = true;
    for (intptr_t* hf : {&ctx->hfCabData, &ctx->hfCabFileList}) {
        if (*hf != -1 && ctx->callbacks.pfnclose(*hf) != 0) ok = false;
        *hf = -1;
    }
    return ok;
}

HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
               PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, ERF* perf) {
    void* mem = pfnalloc(sizeof(FDIContext));
    if (!mem) {
        if (perf) {
            perf->erfOper = FDIERROR_ALLOC_FAIL;
            perf->erfType = 0;
            perf->fError = 1;
        }
        return nullptr;
    }
    FDIContext* ctx = new (mem) FDIContext{};
    ctx->perf = perf;
    ctx->callbacks = {pfnalloc, pfnfree, pfnopen, pfnread, pfnwrite, pfnclose, pfnseek};
    ctx->cpuType = cpuType;
    InitDecompressor(ctx->decoder, &ctx->callbacks);
    ctx->cbHeaderReserve = kNotLearned;
    ctx->cbFolderEntry = kNotLearned;
    ctx->cbDataHeader = kNotLearned;
    ctx->hfCabFileList = -1;
    ctx->hfCabData = -1;
    ctx->hfTarget = -1;
    ctx->iFolderCurrent = kNoFolder;
    return ctx;
}

bool FDIIsCabinet(HFDI hfdi, intptr_t hf, FDICABINETINFO* pfdici) {
    uint8_t h[kCabHeaderSize];
    if (hfdi->callbacks.pfnread(hf, h, kCabHeaderSize) != kCabHeaderSize) return false;
    if (!HasSignature(h)) return false;
    if (HeaderVersion(h) != kCabVersion)
        return FdiFail(hfdi, FDIERROR_UNKNOWN_CABINET_VERSION, HeaderVersion(h));
    const uint16_t flags = Get16(h + 30);
    pfdici->cbCabinet = static_cast<int32_t>(Get32(h + 8));
    pfdici->cFolders = Get16(h + 26);
    pfdici->cFiles = Get16(h + 28);
    pfdici->setID = Get16(h + 32);
    pfdici->iCabinet = Get16(h + 34);
    pfdici->fReserve = (flags & cfhdrRESERVE_PRESENT) ? 1 : 0;
    pfdici->hasprev = (flags & cfhdrPREV_CABINET) ? 1 : 0;
    pfdici->hasnext = flags & cfhdrNEXT_CABINET;
    return true;
}

bool FDIDestroy(HFDI hfdi) {
    DestroyDecompressor(hfdi->decoder);
    FdiRelease(hfdi, hfdi->pbHeaderReserve);
    FdiRelease(hfdi, hfdi->pbFolderEntry);
    FdiRelease(hfdi, hfdi->pbDataHeader);
    CloseCabinet(hfdi);
    const PFNFREE pfnfree = hfdi->callbacks.pfnfree;
    hfdi->~FDIContext();
    pfnfree(hfdi);
    return true;
}
