// FDICopy over an in-memory cabinet set, answered as the updater's cabinet wrapper answers,
// with as many passes as it makes; once without and once with a decrypt callback.
// Input: [u8 cabinets - 1 (bits 0-1); bit 2: skip every file] [u8 decrypt call to refuse, 0
// none] [u8 callback to fail: 1 + memfs::Op, 0 none] [u8 its call number], then each cabinet
// but the last as [u32 size][bytes], the last taking the rest. The cabinets are named
// data.cab, data2.cab, ... as the writer names a set.
#include <cstring>
#include <string>
#include <vector>

#include "cab/fdi/fdi.h"
#include "fuzz/input.h"
#include "support/memfs.h"

namespace {

struct Client {
    bool skipFiles = false;
    bool checkNext = false;
    uint16_t setID = 0, iCabinet = 0;
    std::string opened, requested, nextNamed;
    int reason = FDIERROR_NONE;
    int decryptCalls = 0, refuseDecrypt = 0;
};

Client g_client;
uint32_t g_touched;  // keeps the reads of Touch

intptr_t Notify(int fdint, FDINOTIFICATION* n) {
    Client& c = g_client;
    switch (fdint) {
    case fdintCABINET_INFO:
        if (c.checkNext && (n->setID != c.setID || n->iCabinet != c.iCabinet)) {
            c.reason = FDIERROR_WRONG_CABINET;
            return -1;
        }
        c.checkNext = false;
        c.setID = n->setID;
        c.iCabinet = n->iCabinet;
        c.nextNamed = n->psz1;
        // The other two strings are read as the wrapper's handlers read them.
        if (std::strlen(n->psz2) > 256 || std::strlen(n->psz3) > 256) fuzzin::Fail("long string");
        if (!c.requested.empty()) {
            c.opened = c.requested;
            c.requested.clear();
        }
        return 0;
    case fdintCOPY_FILE:
        if (std::strlen(n->psz1) > 256) fuzzin::Fail("long file name");
        return c.skipFiles ? 0 : memfs::OpenTarget("out/" + std::string(n->psz1));
    case fdintCLOSE_FILE_INFO:
        return memfs::Close(n->hf) == 0 ? 1 : 0;
    case fdintNEXT_CABINET:
        c.reason = n->psz1[0] ? n->fdie : FDIERROR_CORRUPT_CABINET;
        if (c.reason != FDIERROR_NONE) return -1;
        c.requested = n->psz1;
        return 0;
    default:
        return 0;
    }
}

// Reads every byte the record points at, so that a wrong size or pointer shows.
uint32_t Touch(const void* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; p && i < n; ++i) sum += static_cast<const volatile uint8_t*>(p)[i];
    return sum;
}

int Decrypt(FDIDECRYPT* d) {
    Client& c = g_client;
    if (d->pvUser != &c) fuzzin::Fail("decrypt user pointer");
    uint32_t sum = 0;
    switch (d->fdidt) {
    case fdidtNEW_CABINET: sum += Touch(d->cabinet.pHeaderReserve, d->cabinet.cbHeaderReserve); break;
    case fdidtNEW_FOLDER: sum += Touch(d->folder.pFolderReserve, d->folder.cbFolderReserve); break;
    case fdidtDECRYPT:
        sum += Touch(d->decrypt.pDataReserve, d->decrypt.cbDataReserve);
        sum += Touch(d->decrypt.pbData, d->decrypt.cbData);
        break;
    default: fuzzin::Fail("unknown decrypt record");
    }
    g_touched += sum;
    return ++c.decryptCalls == c.refuseDecrypt ? -1 : 1;
}

void Extract(bool withDecrypt, uint8_t flags, uint8_t refuseDecrypt, uint8_t failOp, uint8_t failAt) {
    g_client = Client{};
    g_client.skipFiles = flags & 4;
    g_client.refuseDecrypt = refuseDecrypt;
    if (failOp >= 1 && failOp <= 6) memfs::FailNth(static_cast<memfs::Op>(failOp - 1), failAt);

    ERF erf{};
    HFDI hfdi = FDICreate(memfs::Alloc, memfs::Free, memfs::Open, memfs::Read, memfs::Write,
                          memfs::Close, memfs::Seek, 1, &erf);
    if (!hfdi) {
        if (memfs::LiveBlocks() != 0) fuzzin::Fail("failed create leaked");
        return;
    }
    char first[] = "cab/data.cab";
    const intptr_t hf = memfs::Open(first, 0x8000, 0);
    if (hf != -1) {
        FDICABINETINFO info;
        const bool isCabinet = FDIIsCabinet(hfdi, hf, &info);
        memfs::Close(hf);
        std::string name = "data.cab";
        for (int pass = 0; isCabinet && pass < 16; ++pass) {
            Client& c = g_client;
            c.requested.clear();
            c.opened = name;
            c.nextNamed.clear();
            c.reason = FDIERROR_NONE;
            std::string cab = name, dir = "cab/";
            if (!FDICopy(hfdi, cab.data(), dir.data(), 0, Notify, withDecrypt ? Decrypt : nullptr, &c))
                break;
            if (c.opened != name) {
                name = c.opened;
            } else if (!c.nextNamed.empty()) {
                name = c.nextNamed;
                ++c.iCabinet;
            } else {
                break;
            }
            c.checkNext = true;
        }
    }
    if (!FDIDestroy(hfdi)) fuzzin::Fail("destroy failed");
    for (int op = 0; op < 6; ++op) memfs::FailNth(static_cast<memfs::Op>(op), 0);
    if (memfs::LiveBlocks() != 0) fuzzin::Fail("reader memory left allocated");
    if (memfs::OpenHandles() != 0) fuzzin::Fail("file left open");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzin::Input in(data, size);
    const uint8_t flags = in.U8();
    const uint8_t refuseDecrypt = in.U8();
    const uint8_t failOp = in.U8();
    const uint8_t failAt = in.U8();
    const int count = 1 + (flags & 3);
    std::vector<std::vector<uint8_t>> cabinets;
    for (int i = 0; i < count; ++i) {
        size_t got;
        const uint8_t* bytes = in.Take(i + 1 < count ? in.U32() : in.Left(), &got);
        cabinets.emplace_back(bytes, bytes + got);
    }
    for (bool withDecrypt : {false, true}) {
        memfs::Reset();
        for (int i = 0; i < count; ++i)
            memfs::Put(i == 0 ? "cab/data.cab" : "cab/data" + std::to_string(i + 1) + ".cab", cabinets[i]);
        Extract(withDecrypt, flags, refuseDecrypt, failOp, failAt);
    }
    return 0;
}
