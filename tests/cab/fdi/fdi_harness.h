// Runs the reader over in-memory cabinets and records what it tells the client.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cab/fdi/fdi.h"
#include "support/memfs.h"
#include "support/raw_cabinet.h"

struct Event {
    int fdint;
    std::string psz1, psz2, psz3;
    int32_t cb;
    uint16_t date, time, attribs, setID, iCabinet, iFolder;
    int fdie;
};

struct DecryptEvent {
    int fdidt;
    std::vector<uint8_t> reserve;  // the reserve bytes the record points at
    bool reserveNull;
    std::vector<uint8_t> data;     // fdidtDECRYPT: the bytes from pbData
    uint16_t setID, iCabinet, iFolder, cbData, cbPartial;
    int fSplit;
};

class FdiRun {
public:
    // Answers a notification; return kDefault to let the run answer as a plain client does:
    // targets under "out/", closed at fdintCLOSE_FILE_INFO, and a failed next cabinet
    // asked for three times more before giving up.
    static constexpr intptr_t kDefault = INTPTR_MIN;
    std::function<intptr_t(int, FDINOTIFICATION*)> answer;
    bool withDecrypt = false;

    std::vector<Event> events;
    std::vector<DecryptEvent> decrypts;
    ERF erf{};
    HFDI hfdi = nullptr;

    FdiRun() {
        memfs::Reset();
        hfdi = FDICreate(memfs::Alloc, memfs::Free, memfs::Open, memfs::Read, memfs::Write,
                         memfs::Close, memfs::Seek, 1, &erf);
    }
    ~FdiRun() {
        if (hfdi) FDIDestroy(hfdi);
        EXPECT_EQ(memfs::LiveBlocks(), 0);
        EXPECT_EQ(memfs::OpenHandles(), 0);
    }

    bool Copy(std::string name, std::string path = "cab/") {
        return FDICopy(hfdi, name.data(), path.data(), 0, Notify, withDecrypt ? Decrypt : nullptr, this);
    }

    static void Put(const std::string& path, const rawcab::Cabinet& cab) { memfs::Put(path, cab.Bytes()); }

    static std::string Out(const std::string& name) {
        const auto* bytes = memfs::Find("out/" + name);
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
    }

    std::vector<int> Kinds() const {
        std::vector<int> kinds;
        for (const Event& e : events) kinds.push_back(e.fdint);
        return kinds;
    }

    int Count(int fdint) const {
        int n = 0;
        for (const Event& e : events) n += e.fdint == fdint;
        return n;
    }

    int CountDecrypt(int fdidt) const {
        int n = 0;
        for (const DecryptEvent& d : decrypts) n += d.fdidt == fdidt;
        return n;
    }

private:
    int failedRequests_ = 0;

    static std::string Str(const char* psz) { return psz ? psz : "<null>"; }

    static intptr_t Notify(int fdint, FDINOTIFICATION* n) {
        auto* run = static_cast<FdiRun*>(n->pv);
        run->events.push_back(Event{fdint, Str(n->psz1), Str(n->psz2), Str(n->psz3), n->cb, n->date,
                                    n->time, n->attribs, n->setID, n->iCabinet, n->iFolder, n->fdie});
        if (run->answer) {
            const intptr_t result = run->answer(fdint, n);
            if (result != kDefault) return result;
        }
        switch (fdint) {
        case fdintCOPY_FILE: return memfs::OpenTarget("out/" + std::string(n->psz1));
        case fdintCLOSE_FILE_INFO: return memfs::Close(n->hf) == 0 ? 1 : 0;
        case fdintNEXT_CABINET:
            run->failedRequests_ = n->fdie == FDIERROR_NONE ? 0 : run->failedRequests_ + 1;
            return run->failedRequests_ == 3 ? -1 : 0;
        default: return 0;
        }
    }

    static int Decrypt(FDIDECRYPT* d) {
        auto* run = static_cast<FdiRun*>(d->pvUser);
        DecryptEvent e{};
        e.fdidt = d->fdidt;
        auto bytes = [](void* p, size_t n) {
            const auto* b = static_cast<const uint8_t*>(p);
            return p ? std::vector<uint8_t>(b, b + n) : std::vector<uint8_t>{};
        };
        if (d->fdidt == fdidtNEW_CABINET) {
            e.reserve = bytes(d->cabinet.pHeaderReserve, d->cabinet.cbHeaderReserve);
            e.reserveNull = d->cabinet.pHeaderReserve == nullptr;
            e.setID = d->cabinet.setID;
            e.iCabinet = static_cast<uint16_t>(d->cabinet.iCabinet);
        } else if (d->fdidt == fdidtNEW_FOLDER) {
            e.reserve = bytes(d->folder.pFolderReserve, d->folder.cbFolderReserve);
            e.reserveNull = d->folder.pFolderReserve == nullptr;
            e.iFolder = d->folder.iFolder;
        } else {
            e.reserve = bytes(d->decrypt.pDataReserve, d->decrypt.cbDataReserve);
            e.reserveNull = d->decrypt.pDataReserve == nullptr;
            e.data = bytes(d->decrypt.pbData, d->decrypt.cbData - d->decrypt.cbPartial);
            e.cbData = d->decrypt.cbData;
            e.fSplit = d->decrypt.fSplit;
            e.cbPartial = d->decrypt.cbPartial;
        }
        run->decrypts.push_back(e);
        return 0;
    }
};

// Deterministic, not very compressible content.
inline std::string Pattern(size_t size, uint32_t seed = 1) {
    std::string s(size, '\0');
    for (auto& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return s;
}
