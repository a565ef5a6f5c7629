// Walking one cabinet: notifications and their order, folders and blocks, reserves and the
// decrypt callback, and every way the walk fails.
#include "fdi_harness.h"

namespace {

using rawcab::Block;
using rawcab::Cabinet;
using rawcab::File;
using rawcab::Folder;

// Two stored folders: folder 0 holds "one" and "two" in blocks of 100 bytes, folder 1 "three".
Cabinet TwoFolders() {
    Cabinet cab = rawcab::StoredCabinet({{"one", Pattern(250, 1)}, {"two", Pattern(120, 2)}}, 100);
    cab.folders.push_back(Folder{0, rawcab::StoredBlocks(Pattern(70, 3)), {}, -1});
    cab.files.push_back(File{"dir\\three", 70, 0, 1});
    return cab;
}

TEST(FdiCopy, ExtractsEveryFileInListOrder) {
    FdiRun run;
    Cabinet cab = TwoFolders();
    cab.files[0].attribs = 0x61;
    cab.files[0].date = 0x1234;
    cab.files[0].time = 0x5678;
    FdiRun::Put("cab/x.cab", cab);
    int dummy = 0;
    run.answer = [&](int, FDINOTIFICATION* n) { EXPECT_EQ(n->pv, &run); ++dummy; return FdiRun::kDefault; };
    ASSERT_TRUE(run.Copy("x.cab"));

    EXPECT_EQ(run.Kinds(), (std::vector<int>{fdintCABINET_INFO, fdintENUMERATE, fdintCOPY_FILE,
                                             fdintCLOSE_FILE_INFO, fdintCOPY_FILE, fdintCLOSE_FILE_INFO,
                                             fdintCOPY_FILE, fdintCLOSE_FILE_INFO, fdintENUMERATE}));
    EXPECT_EQ(run.Out("one"), Pattern(250, 1));
    EXPECT_EQ(run.Out("two"), Pattern(120, 2));
    EXPECT_EQ(run.Out("dir\\three"), Pattern(70, 3));

    const Event& info = run.events[0];
    EXPECT_EQ(info.psz1, "");
    EXPECT_EQ(info.psz3, "cab/");
    EXPECT_EQ(info.setID, cab.setID);
    const Event& first = run.events[1];
    EXPECT_EQ(first.cb, 36 + 2 * 8);  // the CFFILE list follows the folder table
    EXPECT_EQ(first.iFolder, 3);
    const Event& copy = run.events[2];
    EXPECT_EQ(copy.psz1, "one");
    EXPECT_EQ(copy.cb, 250);
    EXPECT_EQ(copy.attribs, 0x61);
    EXPECT_EQ(copy.date, 0x1234);
    EXPECT_EQ(copy.time, 0x5678);
    const Event& close = run.events[3];
    EXPECT_EQ(close.psz1, "one");
    EXPECT_EQ(close.attribs, 0x21);
    EXPECT_EQ(close.cb, 1);
    EXPECT_EQ(run.events[5].cb, 0);
    EXPECT_EQ(run.events.back().iFolder, 0);
}

TEST(FdiCopy, NoFilesGivesInfoAndOneEnumerate) {
    FdiRun run;
    FdiRun::Put("cab/x.cab", Cabinet{});
    ASSERT_TRUE(run.Copy("x.cab"));
    EXPECT_EQ(run.Kinds(), (std::vector<int>{fdintCABINET_INFO, fdintENUMERATE}));
}

TEST(FdiCopy, EnumerateAnswerSetsFilesLeftAndPosition) {
    FdiRun run;
    FdiRun::Put("cab/x.cab", TwoFolders());
    // Answering 0 ends the walk at once.
    run.answer = [](int fdint, FDINOTIFICATION* n) {
        if (fdint == fdintENUMERATE) n->iFolder = 0;
        return FdiRun::kDefault;
    };
    ASSERT_TRUE(run.Copy("x.cab"));
    EXPECT_EQ(run.Kinds(), (std::vector<int>{fdintCABINET_INFO, fdintENUMERATE}));

    // Moving back to the list's start serves the first file once more.
    run.events.clear();
    int enumerates = 0;
    int32_t listStart = 0;
    run.answer = [&](int fdint, FDINOTIFICATION* n) {
        if (fdint == fdintENUMERATE && ++enumerates == 1) listStart = n->cb;
        if (fdint == fdintENUMERATE && enumerates == 2) {
            n->cb = listStart;
            n->iFolder = 1;
        }
        return FdiRun::kDefault;
    };
    ASSERT_TRUE(run.Copy("x.cab"));
    EXPECT_EQ(run.Count(fdintCOPY_FILE), 4);
    EXPECT_EQ(run.events[run.events.size() - 3].psz1, "one");
    EXPECT_EQ(run.Out("one"), Pattern(250, 1));
}

TEST(FdiCopy, EmptyFileReadsNoBlockWhateverItsFolder) {
    FdiRun run;
    run.withDecrypt = true;
    Cabinet cab = TwoFolders();
    cab.files.insert(cab.files.begin(), File{"empty", 0, 12345, 77});
    FdiRun::Put("cab/x.cab", cab);
    ASSERT_TRUE(run.Copy("x.cab"));
    EXPECT_EQ(run.events[2].fdint, fdintCOPY_FILE);
    EXPECT_EQ(run.events[3].fdint, fdintCLOSE_FILE_INFO);
    EXPECT_EQ(run.Out("empty"), "");
    EXPECT_EQ(run.CountDecrypt(fdidtNEW_FOLDER), 2);
}

TEST(FdiCopy, FolderIsDecodedOnceUnlessAFileLiesBehindTheBlockInHand) {
    struct Case {
        std::vector<int> order;  // indexes into the folder's files, in list order
        int folderSelections, blocksRead;
    } cases[] = {
        {{0, 1, 2}, 1, 4},
        {{2, 0, 1}, 2, 4 + 3},  // the restart decodes from the first block again
        {{1, 0}, 2, 3 + 2},
    };
    for (const Case& c : cases) {
        FdiRun run;
        run.withDecrypt = true;
        Cabinet all = rawcab::StoredCabinet({{"a", Pattern(150, 1)}, {"b", Pattern(100, 2)}, {"c", Pattern(100, 3)}}, 100);
        Cabinet cab = all;
        cab.files.clear();
        for (int i : c.order) cab.files.push_back(all.files[i]);
        FdiRun::Put("cab/x.cab", cab);
        ASSERT_TRUE(run.Copy("x.cab"));
        EXPECT_EQ(run.CountDecrypt(fdidtNEW_FOLDER), c.folderSelections);
        EXPECT_EQ(run.CountDecrypt(fdidtDECRYPT), c.blocksRead);
        EXPECT_EQ(run.Out("a"), Pattern(150, 1));
        EXPECT_EQ(run.Out("b"), Pattern(100, 2));
        if (c.order.size() == 3) {
            EXPECT_EQ(run.Out("c"), Pattern(100, 3));
        }
    }
}

TEST(FdiCopy, SkippedFilesAreNotWritten) {
    FdiRun run;
    FdiRun::Put("cab/x.cab", TwoFolders());
    run.answer = [](int fdint, FDINOTIFICATION* n) {
        return fdint == fdintCOPY_FILE && std::string(n->psz1) == "two" ? 0 : FdiRun::kDefault;
    };
    ASSERT_TRUE(run.Copy("x.cab"));
    EXPECT_EQ(run.Out("two"), "<missing>");
    EXPECT_EQ(run.Out("dir\\three"), Pattern(70, 3));
    EXPECT_EQ(run.Count(fdintCLOSE_FILE_INFO), 2);
}

TEST(FdiCopy, ReservesReachTheDecryptCallback) {
    FdiRun run;
    run.withDecrypt = true;
    Cabinet cab = TwoFolders();
    cab.reservePresent = true;
    cab.headerReserve = {1, 2, 3, 4, 5};
    cab.cbCFFolder = 3;
    cab.cbCFData = 2;
    cab.folders[1].reserve = {9, 8, 7};
    cab.folders[0].blocks[1].reserve = {0xAA, 0xBB};
    FdiRun::Put("cab/x.cab", cab);
    ASSERT_TRUE(run.Copy("x.cab"));
    EXPECT_EQ(run.Out("one"), Pattern(250, 1));
    EXPECT_EQ(run.Out("dir\\three"), Pattern(70, 3));

    ASSERT_EQ(run.decrypts.at(0).fdidt, fdidtNEW_CABINET);
    EXPECT_EQ(run.decrypts[0].reserve, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(run.decrypts[0].setID, cab.setID);
    EXPECT_EQ(run.decrypts[1].fdidt, fdidtNEW_FOLDER);
    EXPECT_EQ(run.decrypts[1].reserve, (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(run.decrypts[2].fdidt, fdidtDECRYPT);
    EXPECT_EQ(run.decrypts[3].reserve, (std::vector<uint8_t>{0xAA, 0xBB}));
    EXPECT_EQ(run.decrypts[3].data, cab.folders[0].blocks[1].data);
    EXPECT_EQ(run.decrypts[3].fSplit, 0);
    EXPECT_EQ(run.decrypts.back().fdidt, fdidtDECRYPT);
    EXPECT_EQ(run.decrypts[run.decrypts.size() - 2].iFolder, 1);
    EXPECT_EQ(run.decrypts[run.decrypts.size() - 2].reserve, (std::vector<uint8_t>{9, 8, 7}));
}

TEST(FdiCopy, WithoutReservesTheDecryptRecordHasNullPointers) {
    FdiRun run;
    run.withDecrypt = true;
    FdiRun::Put("cab/x.cab", TwoFolders());
    ASSERT_TRUE(run.Copy("x.cab"));
    for (const DecryptEvent& d : run.decrypts) EXPECT_TRUE(d.reserveNull) << d.fdidt;
}

TEST(FdiCopy, DecryptMayRewriteTheBlockAndAbort) {
    FdiRun run;
    Cabinet cab = rawcab::StoredCabinet({{"a", "plain"}});
    for (auto& b : cab.folders[0].blocks[0].data) b ^= 0x5A;
    cab.folders[0].blocks[0].checksum = true;
    FdiRun::Put("cab/x.cab", cab);
    static int abortOn = -1;
    auto decrypt = [](FDIDECRYPT* d) {
        if (d->fdidt == abortOn) return -1;
        if (d->fdidt == fdidtDECRYPT)
            for (int i = 0; i < d->decrypt.cbData; ++i) static_cast<uint8_t*>(d->decrypt.pbData)[i] ^= 0x5A;
        return 0;
    };
    std::string name = "x.cab", path = "cab/";
    abortOn = -1;
    ASSERT_TRUE(FDICopy(run.hfdi, name.data(), path.data(), 0, [](int fdint, FDINOTIFICATION* n) -> intptr_t {
        if (fdint == fdintCOPY_FILE) return memfs::OpenTarget("out/" + std::string(n->psz1));
        if (fdint == fdintCLOSE_FILE_INFO) return memfs::Close(n->hf) == 0;
        return 0;
    }, decrypt, nullptr));
    EXPECT_EQ(FdiRun::Out("a"), "plain");
    for (int kind : {fdidtNEW_CABINET, fdidtNEW_FOLDER, fdidtDECRYPT}) {
        abortOn = kind;
        run.erf = ERF{};
        EXPECT_FALSE(FDICopy(run.hfdi, name.data(), path.data(), 0, [](int fdint, FDINOTIFICATION* n) -> intptr_t {
            return fdint == fdintCOPY_FILE ? memfs::OpenTarget("out/" + std::string(n->psz1)) : 0;
        }, decrypt, nullptr));
        EXPECT_EQ(run.erf.erfOper, FDIERROR_USER_ABORT) << kind;
    }
}

TEST(FdiCopy, ChecksumIsVerifiedOnlyWhenPresent) {
    Cabinet cab = rawcab::StoredCabinet({{"a", Pattern(300, 5)}}, 100);
    for (bool withChecksum : {false, true}) {
        FdiRun run;
        Cabinet damaged = cab;
        damaged.folders[0].blocks[1].checksum = withChecksum;
        std::vector<uint8_t> bytes = damaged.Bytes();
        bytes[bytes.size() - 100 - 8 - 50] ^= 1;  // a byte of the second block's data
        memfs::Put("cab/x.cab", bytes);
        std::string expected = Pattern(300, 5);
        expected[150] ^= 1;
        if (!withChecksum) {
            EXPECT_TRUE(run.Copy("x.cab"));
            EXPECT_EQ(run.Out("a"), expected);
        } else {
            EXPECT_FALSE(run.Copy("x.cab"));
            EXPECT_EQ(run.erf.erfOper, FDIERROR_CORRUPT_CABINET);
            // FDI closed the target; it keeps what came before the bad block.
            EXPECT_EQ(run.Out("a"), expected.substr(0, 100));
            EXPECT_EQ(run.Count(fdintCLOSE_FILE_INFO), 0);
        }
    }
}

TEST(FdiCopy, ReserveSizesMustMatchWhatTheContextLearned) {
    struct Case {
        uint16_t cbHeader;
        uint8_t cbFolder, cbData;
        bool ok;
    } cases[] = {{4, 2, 1, true}, {4, 2, 0, false}, {4, 3, 1, false}, {5, 2, 1, false}};
    for (const Case& c : cases) {
        FdiRun run;
        Cabinet first = rawcab::StoredCabinet({{"a", "abc"}});
        first.reservePresent = true;
        first.headerReserve.assign(4, 7);
        first.cbCFFolder = 2;
        first.cbCFData = 1;
        Cabinet second = first;
        second.headerReserve.assign(c.cbHeader, 7);
        second.cbCFFolder = c.cbFolder;
        second.cbCFData = c.cbData;
        FdiRun::Put("cab/1.cab", first);
        FdiRun::Put("cab/2.cab", second);
        ASSERT_TRUE(run.Copy("1.cab"));
        EXPECT_EQ(run.Copy("2.cab"), c.ok);
        if (!c.ok) {
            EXPECT_EQ(run.erf.erfOper, FDIERROR_RESERVE_MISMATCH);
        }
    }
}

TEST(FdiCopy, ACabinetWithoutReserveFlagHasZeroSizes) {
    FdiRun run;
    Cabinet zero = rawcab::StoredCabinet({{"a", "abc"}});
    zero.reservePresent = true;
    FdiRun::Put("cab/zero.cab", zero);
    FdiRun::Put("cab/none.cab", rawcab::StoredCabinet({{"b", "def"}}));
    ASSERT_TRUE(run.Copy("zero.cab"));
    ASSERT_TRUE(run.Copy("none.cab"));
    EXPECT_EQ(run.Out("b"), "def");
}

// Cabinets that must fail, each with the error it must give.
TEST(FdiCopy, DamagedCabinetsFailWithTheirError) {
    struct Case {
        const char* what;
        std::function<void(Cabinet&)> damage;
        int error;
    } cases[] = {
        {"folder index beyond the table", [](Cabinet& c) { c.files[2].iFolder = 2; }, FDIERROR_CORRUPT_CABINET},
        {"continued file without folders", [](Cabinet& c) { c.files = {File{"x", 5, 0, ifoldCONTINUED_TO_NEXT}}; c.cFolders = 0; c.folders.clear(); }, FDIERROR_CORRUPT_CABINET},
        {"block larger than the buffer", [](Cabinet& c) { c.folders[1].blocks[0].data.assign(32769, 1); c.folders[1].blocks[0].cbUncomp = 32769; }, FDIERROR_CORRUPT_CABINET},
        {"block larger than the output", [](Cabinet& c) { c.folders[1].blocks[0].cbUncomp = 40000; }, FDIERROR_MDI_FAIL},
        {"stored size mismatch", [](Cabinet& c) { c.folders[0].blocks[1].cbUncomp = 99; }, FDIERROR_MDI_FAIL},
        {"unknown method", [](Cabinet& c) { c.folders[1].typeCompress = 0x000F; }, FDIERROR_BAD_COMPR_TYPE},
        {"method 4", [](Cabinet& c) { c.folders[1].typeCompress = 0x0104; }, FDIERROR_BAD_COMPR_TYPE},
        {"name of 256 characters", [](Cabinet& c) { c.files[1].name.assign(256, 'x'); }, FDIERROR_CORRUPT_CABINET},
        {"more blocks declared than present", [](Cabinet& c) { c.folders[1].cCFData = 2; c.files[2].cbFile = 100; }, FDIERROR_CORRUPT_CABINET},
        {"file beyond its folder's data", [](Cabinet& c) { c.files[0].uoffFolderStart = 1000; }, FDIERROR_USER_ABORT},
    };
    for (const Case& c : cases) {
        FdiRun run;
        run.withDecrypt = true;
        Cabinet cab = TwoFolders();
        c.damage(cab);
        FdiRun::Put("cab/x.cab", cab);
        EXPECT_FALSE(run.Copy("x.cab")) << c.what;
        EXPECT_EQ(run.erf.erfOper, c.error) << c.what;
        if (c.error == FDIERROR_BAD_COMPR_TYPE) {
            EXPECT_EQ(run.CountDecrypt(fdidtDECRYPT), 4) << c.what;  // none of folder 1
        }
    }
}

TEST(FdiCopy, TruncatedCabinetsAreCorrupt) {
    const std::vector<uint8_t> bytes = TwoFolders().Bytes();
    const size_t listStart = 36 + 16;
    for (size_t cut : {listStart + 10, listStart + 18, bytes.size() - 30, bytes.size() - 1}) {
        FdiRun run;
        memfs::Put("cab/x.cab", std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
        EXPECT_FALSE(run.Copy("x.cab")) << cut;
        EXPECT_EQ(run.erf.erfOper, FDIERROR_CORRUPT_CABINET) << cut;
    }
}

TEST(FdiCopy, TargetFailures) {
    {
        FdiRun run;
        FdiRun::Put("cab/x.cab", TwoFolders());
        memfs::FailNth(memfs::Op::Write, 2);
        EXPECT_FALSE(run.Copy("x.cab"));
        EXPECT_EQ(run.erf.erfOper, FDIERROR_TARGET_FILE);
        EXPECT_EQ(run.Out("one"), Pattern(100, 1));  // closed by FDI after the first block
    }
    {
        FdiRun run;
        FdiRun::Put("cab/x.cab", TwoFolders());
        run.answer = [](int fdint, FDINOTIFICATION* n) -> intptr_t {
            if (fdint != fdintCLOSE_FILE_INFO) return FdiRun::kDefault;
            memfs::Close(n->hf);
            return 0;  // the client closed it but reports a failure
        };
        EXPECT_FALSE(run.Copy("x.cab"));
        EXPECT_EQ(run.erf.erfOper, FDIERROR_TARGET_FILE);
        EXPECT_EQ(run.Count(fdintCOPY_FILE), 1);
    }
    for (int fdint : {fdintCABINET_INFO, fdintENUMERATE, fdintCOPY_FILE, fdintCLOSE_FILE_INFO, fdintPARTIAL_FILE}) {
        FdiRun run;
        Cabinet cab = TwoFolders();
        if (fdint == fdintPARTIAL_FILE) cab.files.insert(cab.files.begin(), File{"tail", 10, 0, ifoldCONTINUED_FROM_PREV});
        // The continued file makes folder 0 unusable here: keep only folder 1's file after it.
        if (fdint == fdintPARTIAL_FILE) cab.files.erase(cab.files.begin() + 1, cab.files.begin() + 3);
        FdiRun::Put("cab/x.cab", cab);
        run.answer = [fdint](int kind, FDINOTIFICATION*) { return kind == fdint ? -1 : FdiRun::kDefault; };
        EXPECT_FALSE(run.Copy("x.cab")) << fdint;
        EXPECT_EQ(run.erf.erfOper, FDIERROR_USER_ABORT) << fdint;
    }
}

TEST(FdiCopy, PartialFileInACabinetOpenedDirectly) {
    FdiRun run;
    Cabinet cab = TwoFolders();
    // Folder 0 now begins in an earlier cabinet: its first entry is the tail of a file.
    cab.hasPrev = true;
    cab.cabinetPrev = "prev.cab";
    cab.diskPrev = "disk 1";
    cab.files.insert(cab.files.begin(), File{"tail", 30, 0, ifoldCONTINUED_FROM_PREV});
    cab.files.erase(cab.files.begin() + 1, cab.files.begin() + 3);
    FdiRun::Put("cab/x.cab", cab);
    ASSERT_TRUE(run.Copy("x.cab"));
    EXPECT_EQ(run.Kinds(), (std::vector<int>{fdintCABINET_INFO, fdintENUMERATE, fdintPARTIAL_FILE,
                                             fdintCOPY_FILE, fdintCLOSE_FILE_INFO, fdintENUMERATE}));
    EXPECT_EQ(run.events[2].psz1, "tail");
    EXPECT_EQ(run.events[2].psz2, "prev.cab");
    EXPECT_EQ(run.events[2].psz3, "disk 1");
    EXPECT_EQ(run.events[2].iFolder, ifoldCONTINUED_FROM_PREV);
    EXPECT_EQ(run.Out("dir\\three"), Pattern(70, 3));
}

TEST(FdiCopy, FileInAFolderContinuedFromAnEarlierCabinetIsRefused) {
    FdiRun run;
    Cabinet cab = TwoFolders();
    cab.hasPrev = true;
    cab.files.insert(cab.files.begin(), File{"tail", 30, 0, ifoldCONTINUED_FROM_PREV});
    FdiRun::Put("cab/x.cab", cab);
    EXPECT_FALSE(run.Copy("x.cab"));
    EXPECT_EQ(run.erf.erfOper, FDIERROR_CORRUPT_CABINET);
    EXPECT_EQ(run.Out("one"), "");  // opened by the client, nothing written
}

TEST(FdiCopy, NoAllocationPerFileOrBlock) {
    auto allocationsFor = [](const Cabinet& cab) {
        FdiRun run;
        FdiRun::Put("cab/x.cab", cab);
        EXPECT_TRUE(run.Copy("x.cab"));
        return memfs::Calls(memfs::Op::Alloc);
    };
    std::vector<std::pair<std::string, std::string>> many;
    for (int i = 0; i < 40; ++i) many.push_back({"f" + std::to_string(i), Pattern(3000 + i, i)});
    EXPECT_EQ(allocationsFor(rawcab::StoredCabinet({{"a", "x"}})), allocationsFor(rawcab::StoredCabinet(many, 1000)));
}

TEST(FdiCopy, ContextSurvivesEveryFailingCallback) {
    const Cabinet cab = TwoFolders();
    for (memfs::Op op : {memfs::Op::Alloc, memfs::Op::Open, memfs::Op::Read, memfs::Op::Write,
                         memfs::Op::Close, memfs::Op::Seek}) {
        for (int n = 1;; ++n) {
            FdiRun run;
            FdiRun::Put("cab/x.cab", cab);
            const int before = memfs::Calls(op);
            memfs::FailNth(op, n);
            const bool ok = run.Copy("x.cab");
            if (memfs::Calls(op) - before < n) {
                EXPECT_TRUE(ok);
                break;
            }
            // FDI ignores failing closes of cabinets; a client's failing close of a target
            // fails the walk.
            if (op != memfs::Op::Close) {
                EXPECT_FALSE(ok) << static_cast<int>(op) << " " << n;
            }
            if (!ok) {
                EXPECT_NE(run.erf.erfOper, FDIERROR_NONE);
            }
            memfs::FailNth(op, 0);
            EXPECT_TRUE(run.Copy("x.cab")) << static_cast<int>(op) << " " << n;
            EXPECT_EQ(run.Out("dir\\three"), Pattern(70, 3));
        }
    }
}

} // namespace
