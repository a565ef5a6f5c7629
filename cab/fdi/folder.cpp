// Selecting a folder and reading, verifying and decoding its data blocks in order.
#include "cab/fdi/checksum.h"
#include "cab/fdi/context.h"

bool SelectFolder(FDIContext* ctx, uint32_t iFolder) {
    // In continuation the folder in hand is the one carried over from the previous cabinet.
    if (ctx->fInContinuation) return true;
    iFolder = FolderIndex(ctx, static_cast<uint16_t>(iFolder));
    if (iFolder == ctx->iFolderCurrent) return true;
    if (const int error = ResetDecompressor(ctx->decoder)) return FdiFail(ctx, error);
    if (!SeekFolder(ctx, iFolder)) return false;
    ctx->uoffBlock = 0;
    ctx->cbBlockUncomp = 0;
    return NextDataBlock(ctx);
}

bool SeekFolder(FDIContext* ctx, uint32_t iFolder) {
    if (iFolder >= HeaderFolders(ctx)) return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    ctx->iFolderCurrent = iFolder;
    const auto& cb = ctx->callbacks;
    const int64_t entry = static_cast<int64_t>(ctx->coffFolders) + int64_t{iFolder} * ctx->cbFolderEntry;
    if (entry > INT32_MAX || cb.pfnseek(ctx->hfCabData, static_cast<int32_t>(entry), 0) == -1 ||
        cb.pfnread(ctx->hfCabData, ctx->pbFolderEntry, ctx->cbFolderEntry) != ctx->cbFolderEntry)
        return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    const uint32_t coffCabStart = Get32(ctx->pbFolderEntry);
    if (coffCabStart > INT32_MAX ||
        cb.pfnseek(ctx->hfCabData, static_cast<int32_t>(coffCabStart), 0) == -1)
        return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    ctx->cDataBlocksLeft = Get16(ctx->pbFolderEntry + 4);
    if (const int error = SetDecompressor(ctx->decoder, Get16(ctx->pbFolderEntry + 6)))
        return FdiFail(ctx, error);
    if (!ctx->pfnfdid) return true;

    FDIDECRYPT& d = ctx->decrypt;
    d.fdidt = fdidtNEW_FOLDER;
    d.pvUser = ctx->pvUser;
    d.folder.pFolderReserve = ctx->cbFolderEntry > 8 ? ctx->pbFolderEntry + 8 : nullptr;
    d.folder.cbFolderReserve = static_cast<uint16_t>(ctx->cbFolderEntry - 8);
    d.folder.iFolder = static_cast<uint16_t>(iFolder);
    if (ctx->pfnfdid(&d) == -1) return FdiFail(ctx, FDIERROR_USER_ABORT);
    return true;
}

bool NextDataBlock(FDIContext* ctx) {
    ctx->uoffBlock += ctx->cbBlockUncomp;
    if (ctx->cDataBlocksLeft == 0) {
        if (!SwitchCabinet(ctx)) return false;
        if (ctx->cDataBlocksLeft == 0) return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    }
    --ctx->cDataBlocksLeft;
    if (!ReadDataBlock(ctx, 0)) return false;

    if (Get16(ctx->pbDataHeader + 6) == 0) {
        // First piece of a block split across cabinets: the second piece begins the folder's
        // data in the next cabinet and joins the first in the same decoder's input buffer.
        const uint32_t generation = ctx->decoder.generation;
        if (!SwitchCabinet(ctx)) return false;
        if (ctx->cDataBlocksLeft == 0 || ctx->decoder.generation != generation)
            return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
        if (!ReadDataBlock(ctx, ctx->cbBlockData)) return false;
        --ctx->cDataBlocksLeft;
    }

    const uint32_t cbUncomp = Get16(ctx->pbDataHeader + 6);
    uint32_t produced = cbUncomp;
    if (const int error = DecompressBlock(ctx->decoder, ctx->cbBlockData, &produced))
        return FdiFail(ctx, error);
    if (produced != cbUncomp) return FdiFail(ctx, FDIERROR_MDI_FAIL);
    ctx->cbBlockUncomp = cbUncomp;
    return true;
}

bool ReadDataBlock(FDIContext* ctx, uint32_t cbOffset) {
    const auto& cb = ctx->callbacks;
    uint8_t* header = ctx->pbDataHeader;
    if (cb.pfnread(ctx->hfCabData, header, ctx->cbDataHeader) != ctx->cbDataHeader)
        return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    const uint32_t cbData = Get16(header + 4);
    if (cbOffset + cbData > ctx->decoder.cbSrcBufferMin) return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    uint8_t* pbData = ctx->decoder.pbSrc + cbOffset;
    if (cb.pfnread(ctx->hfCabData, pbData, cbData) != cbData)
        return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    const uint32_t csum = Get32(header);
    if (csum != 0 &&
        CSUMCompute(header + 4, ctx->cbDataHeader - 4, CSUMCompute(pbData, cbData, 0)) != csum)
        return FdiFail(ctx, FDIERROR_CORRUPT_CABINET);
    ctx->cbBlockData = cbOffset + cbData;
    if (!ctx->pfnfdid) return true;

    FDIDECRYPT& d = ctx->decrypt;
    d.fdidt = fdidtDECRYPT;
    d.pvUser = ctx->pvUser;
    d.decrypt.pDataReserve = ctx->cbDataHeader > 8 ? header + 8 : nullptr;
    d.decrypt.cbDataReserve = static_cast<uint16_t>(ctx->cbDataHeader - 8);
    d.decrypt.pbData = pbData;
    d.decrypt.cbData = static_cast<uint16_t>(ctx->cbBlockData);
    d.decrypt.fSplit = (Get16(header + 6) == 0 || cbOffset != 0) ? 1 : 0;
    d.decrypt.cbPartial = static_cast<uint16_t>(cbOffset);
    if (ctx->pfnfdid(&d) == -1) return FdiFail(ctx, FDIERROR_USER_ABORT);
    return true;
}
