// Cabinet sets: following a folder into the next cabinet, split blocks, continued files, and
// what the client sees when the next cabinet is missing or wrong.
#include <cstring>
#include <map>

#include "fdi_harness.h"
#include "tools/cabwriter/writer.h"

namespace {

using rawcab::Block;
using rawcab::Cabinet;
using rawcab::File;
using rawcab::Folder;

const std::string kData = Pattern(300, 9);

Block Stored(size_t from, size_t to, uint16_t cbUncomp) {
    return Block{std::vector<uint8_t>(kData.begin() + from, kData.begin() + to), cbUncomp, true, {}};
}

// A folder of 300 bytes in blocks of 100; the third block is split 40/60 between 1.cab and
// 2.cab. X lies in 1.cab alone, W and Y run into 2.cab, Z has a folder of its own in 2.cab.
struct TwoCabinets {
    Cabinet first, second;
    TwoCabinets() {
        first.hasNext = true;
        first.cabinetNext = "2.cab";
        first.diskNext = "disk 2";
        first.folders.push_back(Folder{0, {Stored(0, 100, 100), Stored(100, 200, 100), Stored(200, 240, 0)}, {}, -1});
        first.files = {File{"X", 150, 0, 0}, File{"W", 60, 150, ifoldCONTINUED_TO_NEXT},
                       File{"Y", 90, 210, ifoldCONTINUED_TO_NEXT}};
        second.iCabinet = 1;
        second.hasPrev = true;
        second.cabinetPrev = "1.cab";
        second.diskPrev = "disk 1";
        second.folders.push_back(Folder{0, {Stored(240, 300, 100)}, {}, -1});
        second.folders.push_back(Folder{0, rawcab::StoredBlocks("zzz"), {}, -1});
        second.files = {File{"W", 60, 150, ifoldCONTINUED_FROM_PREV}, File{"Y", 90, 210, ifoldCONTINUED_FROM_PREV},
                        File{"Z", 3, 0, 1}};
    }
    void Put() const {
        FdiRun::Put("cab/1.cab", first);
        FdiRun::Put("cab/2.cab", second);
    }
};

std::vector<std::string> Names(const FdiRun& run, int fdint) {
    std::vector<std::string> names;
    for (const Event& e : run.events)
        if (e.fdint == fdint) names.push_back(e.psz1);
    return names;
}

TEST(FdiSets, FollowsAFolderIntoTheNextCabinetAndStopsAtItsOwnFiles) {
    FdiRun run;
    run.withDecrypt = true;
    TwoCabinets set;
    set.Put();
    ASSERT_TRUE(run.Copy("1.cab"));
    EXPECT_EQ(run.Out("X"), kData.substr(0, 150));
    EXPECT_EQ(run.Out("W"), kData.substr(150, 60));
    EXPECT_EQ(run.Out("Y"), kData.substr(210, 90));
    EXPECT_EQ(run.Out("Z"), "<missing>");
    EXPECT_EQ(Names(run, fdintCOPY_FILE), (std::vector<std::string>{"X", "W", "Y"}));
    EXPECT_EQ(run.Count(fdintNEXT_CABINET), 1);
    EXPECT_EQ(run.Count(fdintCABINET_INFO), 2);
    EXPECT_EQ(run.events.back().fdint, fdintENUMERATE);

    const Event* next = nullptr;
    for (const Event& e : run.events)
        if (e.fdint == fdintNEXT_CABINET) next = &e;
    EXPECT_EQ(next->psz1, "2.cab");
    EXPECT_EQ(next->psz2, "disk 2");
    EXPECT_EQ(next->psz3, "cab/");
    EXPECT_EQ(next->setID, set.first.setID);
    EXPECT_EQ(next->iCabinet, 1);
    EXPECT_EQ(next->fdie, FDIERROR_NONE);

    // Both pieces of the split block reach the decrypt callback.
    std::vector<const DecryptEvent*> blocks;
    for (const DecryptEvent& d : run.decrypts)
        if (d.fdidt == fdidtDECRYPT) blocks.push_back(&d);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[1]->fSplit, 0);
    EXPECT_EQ(blocks[2]->fSplit, 1);
    EXPECT_EQ(blocks[2]->cbData, 40);
    EXPECT_EQ(blocks[2]->cbPartial, 0);
    EXPECT_EQ(blocks[3]->fSplit, 1);
    EXPECT_EQ(blocks[3]->cbData, 100);
    EXPECT_EQ(blocks[3]->cbPartial, 40);
    EXPECT_EQ(blocks[3]->data, std::vector<uint8_t>(kData.begin() + 240, kData.end()));

    // A pass of its own over 2.cab: the continued files are only reported.
    run.events.clear();
    ASSERT_TRUE(run.Copy("2.cab"));
    EXPECT_EQ(Names(run, fdintPARTIAL_FILE), (std::vector<std::string>{"W", "Y"}));
    EXPECT_EQ(Names(run, fdintCOPY_FILE), (std::vector<std::string>{"Z"}));
    EXPECT_EQ(run.Out("Z"), "zzz");
    EXPECT_EQ(run.events[2].psz2, "1.cab");
    EXPECT_EQ(run.events[2].psz3, "disk 1");
}

TEST(FdiSets, DeclinedContinuedFilesAreSkippedInTheNextCabinet) {
    FdiRun run;
    TwoCabinets set;
    set.second.files[1].date = 0x4321;
    set.Put();
    run.answer = [](int fdint, FDINOTIFICATION* n) {
        return fdint == fdintCOPY_FILE && std::string(n->psz1) == "W" ? 0 : FdiRun::kDefault;
    };
    ASSERT_TRUE(run.Copy("1.cab"));
    EXPECT_EQ(run.Out("W"), "<missing>");
    EXPECT_EQ(run.Out("Y"), kData.substr(210, 90));
    // Y is closed with its own entry from 2.cab.
    const Event& close = run.events[run.events.size() - 2];
    EXPECT_EQ(close.fdint, fdintCLOSE_FILE_INFO);
    EXPECT_EQ(close.psz1, "Y");
    EXPECT_EQ(close.iFolder, ifoldCONTINUED_FROM_PREV);
    EXPECT_EQ(close.date, 0x4321);
}

TEST(FdiSets, MissingOrWrongNextCabinetIsAskedForAgain) {
    struct Case {
        const char* what;
        std::function<void(TwoCabinets&)> change;
        int fdie;
    } cases[] = {
        {"missing", nullptr, FDIERROR_CABINET_NOT_FOUND},
        {"other set", [](TwoCabinets& s) { s.second.setID = 1; }, FDIERROR_WRONG_CABINET},
        {"other position", [](TwoCabinets& s) { s.second.iCabinet = 2; }, FDIERROR_WRONG_CABINET},
        {"not a cabinet", [](TwoCabinets& s) { s.second.cFolders = 0; s.second.version = 1; }, FDIERROR_UNKNOWN_CABINET_VERSION},
        {"no folder", [](TwoCabinets& s) { s.second.cFolders = 0; }, FDIERROR_CORRUPT_CABINET},
        {"unknown method", [](TwoCabinets& s) { s.second.folders[0].typeCompress = 0x000F; }, FDIERROR_BAD_COMPR_TYPE},
        {"other reserve", [](TwoCabinets& s) { s.second.reservePresent = true; s.second.cbCFData = 4; }, FDIERROR_RESERVE_MISMATCH},
    };
    for (const Case& c : cases) {
        FdiRun run;
        TwoCabinets set;
        if (c.change) {
            c.change(set);
            set.Put();
        } else {
            FdiRun::Put("cab/1.cab", set.first);
        }
        EXPECT_FALSE(run.Copy("1.cab")) << c.what;
        EXPECT_EQ(run.erf.erfOper, FDIERROR_USER_ABORT) << c.what;
        std::vector<const Event*> requests;
        for (const Event& e : run.events)
            if (e.fdint == fdintNEXT_CABINET) requests.push_back(&e);
        ASSERT_EQ(requests.size(), 4u) << c.what;
        EXPECT_EQ(requests[0]->fdie, FDIERROR_NONE) << c.what;
        for (size_t i = 1; i < requests.size(); ++i) {
            EXPECT_EQ(requests[i]->fdie, c.fdie) << c.what;
            EXPECT_EQ(requests[i]->psz1, "2.cab") << c.what;
            EXPECT_EQ(requests[i]->setID, set.first.setID) << c.what;
            EXPECT_EQ(requests[i]->iCabinet, 1) << c.what;
        }
        // FDI closed W's target; it holds what came before the split block.
        EXPECT_EQ(run.Out("W"), kData.substr(150, 50)) << c.what;
    }
}

TEST(FdiSets, NextCabinetOfALoneCabinetHasEmptyNames) {
    FdiRun run;
    TwoCabinets set;
    set.first.hasNext = false;
    set.Put();
    EXPECT_FALSE(run.Copy("1.cab"));
    EXPECT_EQ(run.erf.erfOper, FDIERROR_USER_ABORT);
    ASSERT_EQ(run.Count(fdintNEXT_CABINET), 4);
    for (const Event& e : run.events) {
        if (e.fdint != fdintNEXT_CABINET) continue;
        EXPECT_EQ(e.psz1, "");
        EXPECT_EQ(e.psz2, "");
    }
}

TEST(FdiSets, ClientMayRenameTheNextCabinetWithinTheBuffers) {
    FdiRun run;
    TwoCabinets set;
    FdiRun::Put("cab/1.cab", set.first);
    FdiRun::Put("other/two.cab", set.second);
    int requests = 0;
    run.answer = [&](int fdint, FDINOTIFICATION* n) -> intptr_t {
        if (fdint != fdintNEXT_CABINET) return FdiRun::kDefault;
        ++requests;
        if (requests == 1) {
            // Too long for the path buffer together with the folder: refused, asked again.
            std::memset(n->psz1, 'n', 256);
            n->psz1[256] = '\0';
            return 0;
        }
        EXPECT_EQ(n->fdie, FDIERROR_CABINET_NOT_FOUND);
        std::strcpy(n->psz3, "other/");
        std::strcpy(n->psz1, "two.cab");
        return 0;
    };
    const int opens = memfs::Calls(memfs::Op::Open);
    ASSERT_TRUE(run.Copy("1.cab"));
    EXPECT_EQ(memfs::Calls(memfs::Op::Open) - opens, 4);
    EXPECT_EQ(run.Out("Y"), kData.substr(210, 90));
    // The error of the failed attempt stays recorded.
    EXPECT_EQ(run.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
}

TEST(FdiSets, ContinuationFailsWhereItCannotBeServed) {
    struct Case {
        const char* what;
        std::function<void(TwoCabinets&)> change;
    } cases[] = {
        // Y's bytes would lie before the block carried into 2.cab.
        {"continued file behind the block", [](TwoCabinets& s) { s.second.files[1].uoffFolderStart = 50; }},
        // The second piece must be decoded by the decoder that holds the first.
        {"split block changes type", [](TwoCabinets& s) { s.second.folders[0].typeCompress = 0x1000; }},
        {"second piece missing", [](TwoCabinets& s) { s.second.folders[0].cCFData = 0; }},
        {"too few entries", [](TwoCabinets& s) { s.second.files.clear(); }},
    };
    for (const Case& c : cases) {
        FdiRun run;
        TwoCabinets set;
        c.change(set);
        set.Put();
        run.answer = [](int fdint, FDINOTIFICATION*) { return fdint == fdintNEXT_CABINET ? 0 : FdiRun::kDefault; };
        EXPECT_FALSE(run.Copy("1.cab")) << c.what;
        EXPECT_EQ(run.erf.erfOper, FDIERROR_CORRUPT_CABINET) << c.what;
    }
}

TEST(FdiSets, SplitBlockIsNotJoinedAfterItsDecoderWasReplaced) {
    // The first cabinet offered names an unknown method, which releases the decoder holding
    // the first piece; the right cabinet offered next cannot bring that piece back.
    FdiRun run;
    TwoCabinets set;
    FdiRun::Put("cab/1.cab", set.first);
    FdiRun::Put("cab/good.cab", set.second);
    set.second.folders[0].typeCompress = 0x000F;
    FdiRun::Put("cab/2.cab", set.second);
    run.answer = [](int fdint, FDINOTIFICATION* n) -> intptr_t {
        if (fdint == fdintNEXT_CABINET && n->fdie != FDIERROR_NONE) std::strcpy(n->psz1, "good.cab");
        return FdiRun::kDefault;
    };
    EXPECT_FALSE(run.Copy("1.cab"));
    EXPECT_EQ(run.erf.erfOper, FDIERROR_CORRUPT_CABINET);
    EXPECT_EQ(run.Out("W"), kData.substr(150, 50));
}

TEST(FdiSets, FolderEndingAtACabinetsEndGoesOnWithAnotherTypeWord) {
    FdiRun run;
    TwoCabinets set;
    set.first.folders[0].blocks.pop_back();
    set.first.files.pop_back();
    set.first.files[1].cbFile = 150;  // W now takes [150, 300)
    set.second.folders[0] = Folder{0x0100, {Stored(200, 300, 100)}, {}, -1};
    set.second.files.erase(set.second.files.begin() + 1);
    set.Put();
    ASSERT_TRUE(run.Copy("1.cab"));
    EXPECT_EQ(run.Out("W"), kData.substr(150));
}

// Extracts a whole set as a client does: each cabinet once, starting where the last pass
// ended, until a cabinet names no next one.
void ExtractSet(FdiRun& run, std::string name) {
    while (!name.empty()) {
        run.events.clear();
        ASSERT_TRUE(run.Copy(name)) << name << ": " << FDIErrorText(run.erf.erfOper);
        std::string next;
        for (const Event& e : run.events) {
            if (e.fdint == fdintCABINET_INFO) next = e.psz1;
            if (e.fdint == fdintNEXT_CABINET) name = e.psz1;
        }
        // A pass that moved on ended inside the last cabinet it asked for: that one is next.
        if (run.Count(fdintNEXT_CABINET) == 0) name = next;
    }
}

TEST(FdiSets, WriterSetsRoundTrip) {
    struct Case {
        const char* method;
        uint32_t maxCabinetSize;
        uint16_t headerReserve;
        uint8_t folderReserve, dataReserve;
        bool checksums;
    } cases[] = {
        {"none", 20000, 0, 0, 0, true},
        {"none", 45000, 6, 3, 2, true},
        {"none", 70000, 0, 0, 0, false},
        {"none", 30000, 1, 1, 1, true},
        {"mszip", 20000, 0, 0, 0, true},
        {"mszip", 30000, 4, 2, 1, true},
        {"quantum:16", 25000, 0, 0, 0, true},
    };
    std::map<std::string, std::string> files;
    for (int i = 0; i < 12; ++i) {
        // Half random, half repeating, so that compressed folders still span cabinets.
        std::string content = Pattern(i * i * 350, i);
        while (content.size() < size_t(i * i * 700)) content += content.substr(0, 1000 + i);
        files["dir\\f" + std::to_string(i)] = content.substr(0, i * i * 700);
    }
    for (const Case& c : cases) {
        FdiRun run;
        run.withDecrypt = true;
        cabwriter::Settings settings;
        settings.method = c.method;
        settings.maxCabinetSize = c.maxCabinetSize;
        settings.headerReserve = c.headerReserve;
        settings.folderReserve = c.folderReserve;
        settings.dataReserve = c.dataReserve;
        settings.checksums = c.checksums;
        settings.name = "set.cab";
        cabwriter::Writer writer(settings);
        int i = 0;
        for (const auto& [name, content] : files) {
            if (++i == 7) writer.startFolder();
            writer.addFile(name, std::vector<uint8_t>(content.begin(), content.end()));
        }
        const auto cabinets = writer.finish();
        ASSERT_GT(cabinets.size(), 1u);
        for (const auto& cab : cabinets) memfs::Put("cab/" + cab.name, cab.bytes);

        std::map<std::string, int> copies;
        run.answer = [&](int fdint, FDINOTIFICATION* n) {
            if (fdint == fdintCOPY_FILE) ++copies[n->psz1];
            return FdiRun::kDefault;
        };
        ExtractSet(run, "set.cab");
        for (const auto& [name, content] : files) {
            EXPECT_TRUE(run.Out(name) == content) << name << " " << c.method << " " << c.maxCabinetSize;
            EXPECT_EQ(copies[name], 1) << name << " " << c.method << " " << c.maxCabinetSize;
        }
    }
}

} // namespace
