// The reader's interface: context creation, header checks, strings, paths, checksums and
// error texts.
#include <cstring>

#include "cab/fdi/checksum.h"
#include "fdi_harness.h"

namespace {

rawcab::Cabinet OneFile() { return rawcab::StoredCabinet({{"a.txt", "hello"}}); }

TEST(FdiChecksum, FoldsWordsAndLeftoverBytes) {
    struct Case {
        std::string bytes;
        uint32_t seed, expected;
    } cases[] = {
        {"", 0x12345678, 0x12345678},
        {"abc", 0, 0x00616263},
        {"abcd", 0, 0x64636261},
        {"abcde", 0, 0x64636261 ^ 0x65},
        {"abcdef", 0, 0x64636261 ^ 0x6566},
        {"abcd", 0x64636261, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CSUMCompute(c.bytes.data(), c.bytes.size(), c.seed), c.expected) << c.bytes;
}

TEST(FdiErrorText, CoversEveryCodeAndOthers) {
    EXPECT_STREQ(FDIErrorText(FDIERROR_NONE), "No error");
    EXPECT_STREQ(FDIErrorText(FDIERROR_CORRUPT_CABINET), "Corrupt cabinet");
    EXPECT_STREQ(FDIErrorText(FDIERROR_RESERVE_MISMATCH), "Cabinets in set have different RESERVE sizes");
    EXPECT_STREQ(FDIErrorText(FDIERROR_WRONG_CABINET), "Cabinet returned on fdintNEXT_CABINET is incorrect");
    EXPECT_STREQ(FDIErrorText(FDIERROR_USER_ABORT), "User aborted");
    EXPECT_STREQ(FDIErrorText(12), "Unknown error");
    EXPECT_STREQ(FDIErrorText(-1), "Unknown error");
}

TEST(FdiCreate, FailedAllocationReportsAndReturnsNull) {
    memfs::Reset();
    ERF erf{};
    memfs::FailNth(memfs::Op::Alloc, 1);
    EXPECT_EQ(FDICreate(memfs::Alloc, memfs::Free, memfs::Open, memfs::Read, memfs::Write,
                        memfs::Close, memfs::Seek, 1, &erf),
              nullptr);
    EXPECT_EQ(erf.erfOper, FDIERROR_ALLOC_FAIL);
    EXPECT_EQ(erf.fError, 1);
}

TEST(FdiIsCabinet, ReportsHeaderAndReadsExactly36Bytes) {
    FdiRun run;
    rawcab::Cabinet cab = OneFile();
    cab.hasNext = true;
    cab.cabinetNext = "b.cab";
    cab.reservePresent = true;
    cab.setID = 0x1234;
    cab.iCabinet = 3;
    FdiRun::Put("x.cab", cab);
    intptr_t hf = memfs::Open(const_cast<char*>("x.cab"), 0x8000, 0);
    FDICABINETINFO info{};
    ASSERT_TRUE(FDIIsCabinet(run.hfdi, hf, &info));
    EXPECT_EQ(memfs::Seek(hf, 0, 1), 36);
    memfs::Close(hf);
    EXPECT_EQ(info.cbCabinet, static_cast<int32_t>(memfs::Find("x.cab")->size()));
    EXPECT_EQ(info.cFolders, 1);
    EXPECT_EQ(info.cFiles, 1);
    EXPECT_EQ(info.setID, 0x1234);
    EXPECT_EQ(info.iCabinet, 3);
    EXPECT_EQ(info.fReserve, 1);
    EXPECT_EQ(info.hasprev, 0);
    EXPECT_EQ(info.hasnext, 2);
}

TEST(FdiIsCabinet, ShortFileOrWrongSignatureIsQuiet) {
    FdiRun run;
    run.erf = ERF{FDIERROR_TARGET_FILE, 7, 1};
    std::vector<uint8_t> bytes = OneFile().Bytes();
    std::vector<uint8_t> wrong = bytes;
    wrong[3] = 'G';
    for (const auto& file : {std::vector<uint8_t>(bytes.begin(), bytes.begin() + 35), wrong}) {
        memfs::Put("x.cab", file);
        intptr_t hf = memfs::Open(const_cast<char*>("x.cab"), 0x8000, 0);
        FDICABINETINFO info{};
        EXPECT_FALSE(FDIIsCabinet(run.hfdi, hf, &info));
        memfs::Close(hf);
        EXPECT_EQ(run.erf.erfOper, FDIERROR_TARGET_FILE);
        EXPECT_EQ(run.erf.erfType, 7);
    }
}

TEST(FdiVersion, OnlyVersion103IsAccepted) {
    for (uint16_t version : {0x0102, 0x0104}) {
        FdiRun run;
        rawcab::Cabinet cab = OneFile();
        cab.version = version;
        FdiRun::Put("cab/x.cab", cab);
        intptr_t hf = memfs::Open(const_cast<char*>("cab/x.cab"), 0x8000, 0);
        FDICABINETINFO info{};
        EXPECT_FALSE(FDIIsCabinet(run.hfdi, hf, &info));
        memfs::Close(hf);
        EXPECT_EQ(run.erf.erfOper, FDIERROR_UNKNOWN_CABINET_VERSION);
        EXPECT_EQ(run.erf.erfType, version);

        run.erf = ERF{};
        EXPECT_FALSE(run.Copy("x.cab"));
        EXPECT_EQ(run.erf.erfOper, FDIERROR_UNKNOWN_CABINET_VERSION);
        EXPECT_EQ(run.erf.erfType, version);
        EXPECT_EQ(run.erf.fError, 1);
        EXPECT_TRUE(run.events.empty());
    }
}

TEST(FdiStrings, AtMost255CharactersWithinWhatWasRead) {
    struct Case {
        size_t length;
        bool ok;
    } cases[] = {{255, true}, {256, false}, {0, true}};
    for (const Case& c : cases) {
        FdiRun run;
        rawcab::Cabinet cab = OneFile();
        cab.hasNext = true;
        cab.cabinetNext = std::string(c.length, 'n');
        cab.diskNext = "disk";
        FdiRun::Put("cab/x.cab", cab);
        EXPECT_EQ(run.Copy("x.cab"), c.ok) << c.length;
        if (c.ok) {
            EXPECT_EQ(run.events.at(0).psz1, cab.cabinetNext);
            EXPECT_EQ(run.Out("a.txt"), "hello");
        } else {
            EXPECT_EQ(run.erf.erfOper, FDIERROR_CORRUPT_CABINET);
        }
    }
}

TEST(FdiStrings, LastStringOfTheFileNeedsOnlyItsTerminator) {
    FdiRun run;
    rawcab::Cabinet cab;
    cab.files.push_back(rawcab::File{"empty.txt", 0, 0, 0});
    FdiRun::Put("cab/x.cab", cab);
    EXPECT_TRUE(run.Copy("x.cab"));
    EXPECT_EQ(run.Out("empty.txt"), "");
}

TEST(FdiStrings, StringCutByEndOfFileIsCorrupt) {
    FdiRun run;
    rawcab::Cabinet cab = OneFile();
    cab.hasPrev = true;
    cab.cabinetPrev = "prev.cab";
    std::vector<uint8_t> bytes = cab.Bytes();
    bytes.resize(36 + 4);  // "prev" without terminator
    memfs::Put("cab/x.cab", bytes);
    EXPECT_FALSE(run.Copy("x.cab"));
    EXPECT_EQ(run.erf.erfOper, FDIERROR_CORRUPT_CABINET);
}

TEST(FdiPaths, PathAndNameAreJoinedPlainlyWithinTheBuffer) {
    FdiRun run;
    FdiRun::Put("dir/a.cab", OneFile());
    EXPECT_FALSE(run.Copy("a.cab", "dir"));
    EXPECT_EQ(run.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
    EXPECT_TRUE(run.Copy("a.cab", "dir/"));

    // Exactly 256 characters together fit; one more is refused before any open.
    const std::string dir = std::string(250, 'd') + "/";
    FdiRun::Put(dir + "b.cab", OneFile());
    EXPECT_TRUE(run.Copy("b.cab", dir));
    const int opens = memfs::Calls(memfs::Op::Open);
    EXPECT_FALSE(run.Copy("bb.cab", dir));
    EXPECT_EQ(run.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
    EXPECT_FALSE(run.Copy("b.cab", std::string(300, 'p')));
    EXPECT_FALSE(run.Copy(std::string(300, 'n'), ""));
    EXPECT_EQ(memfs::Calls(memfs::Op::Open), opens);
}

TEST(FdiHeader, TruncatedHeaderOrReserveIsNotACabinet) {
    rawcab::Cabinet cab = OneFile();
    cab.reservePresent = true;
    cab.headerReserve = {1, 2, 3, 4, 5, 6};
    const std::vector<uint8_t> bytes = cab.Bytes();
    for (size_t cut : {size_t{0}, size_t{20}, size_t{38}, size_t{43}}) {
        FdiRun run;
        memfs::Put("cab/x.cab", std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
        EXPECT_FALSE(run.Copy("x.cab"));
        EXPECT_EQ(run.erf.erfOper, FDIERROR_NOT_A_CABINET) << cut;
    }
    FdiRun run;
    EXPECT_FALSE(run.Copy("missing.cab"));
    EXPECT_EQ(run.erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
}

} // namespace
