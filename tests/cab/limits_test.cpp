// Hostile input the reader and the wrapper must survive: declared sizes and counts far
// beyond the data, a disk that fills up, and names Windows refuses or shortens.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cab/cabinet.h"
#include "cab/target_path.h"
#include "fdi/fdi_harness.h"
#include "platform/faults.h"
#include "platform/win.h"
#include "support/ChildProcess.h"
#include "tools/cabwriter/writer.h"

namespace {

using rawcab::Cabinet;

void Set16(std::vector<uint8_t>& bytes, size_t at, uint16_t v) {
    bytes[at] = static_cast<uint8_t>(v);
    bytes[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Set32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    Set16(bytes, at, static_cast<uint16_t>(v));
    Set16(bytes, at + 2, static_cast<uint16_t>(v >> 16));
}

// One stored folder with one block; the file "a" holds "hello". Without reserves its
// layout is: header 0-35, CFFOLDER 36-43, CFFILE 44-61, CFDATA header 62-69, data 70-74.
Cabinet Hello() { return rawcab::StoredCabinet({{"a", "hello"}}); }

// Each cabinet declares something enormous; the reader ends with a clean error (or, where
// the value is only reported, succeeds), reads only as far as the data goes, and asks for
// no more memory than a plain one-file cabinet needs.
TEST(DeclaredSizes, AllocateNothingInProportionAndEndCleanly) {
    uint64_t budget = 0;
    {
        FdiRun run;
        FdiRun::Put("cab/x.cab", Hello());
        ASSERT_TRUE(run.Copy("x.cab"));
        budget = memfs::BytesAllocated();
    }

    struct Case {
        const char* what;
        std::function<void(Cabinet&)> layout;
        std::function<void(std::vector<uint8_t>&)> patch;
        int erfOper;
    };
    const auto none = [](Cabinet&) {};
    const auto asIs = [](std::vector<uint8_t>&) {};
    const Case cases[] = {
        {"cbCabinet 0xFFFFFFFF (only reported)", none,
         [](auto& b) { Set32(b, 8, 0xFFFFFFFF); }, FDIERROR_NONE},
        {"coffFiles 0xFFFFFFFF", none, [](auto& b) { Set32(b, 16, 0xFFFFFFFF); },
         FDIERROR_CORRUPT_CABINET},
        {"coffFiles past the end", none, [](auto& b) { Set32(b, 16, 0x7FFFFFF0); },
         FDIERROR_CORRUPT_CABINET},
        {"cFolders 0xFFFF, file in the last folder",
         [](Cabinet& c) {
             c.cFolders = 0xFFFF;
             c.files[0].iFolder = ifoldCONTINUED_TO_NEXT;
         },
         asIs, FDIERROR_CORRUPT_CABINET},
        {"cFiles 0xFFFF", none, [](auto& b) { Set16(b, 28, 0xFFFF); }, FDIERROR_CORRUPT_CABINET},
        {"header reserve 0xFFFF, file ends first",
         [](Cabinet& c) {
             c.reservePresent = true;
             c.headerReserve.assign(8, 0x52);
         },
         [](auto& b) { Set16(b, 36, 0xFFFF); }, FDIERROR_NOT_A_CABINET},
        {"folder and data reserves 255, cut after the header",
         [](Cabinet& c) {
             c.reservePresent = true;
             c.cbCFFolder = 255;
             c.cbCFData = 255;
         },
         [](auto& b) { b.resize(40); }, FDIERROR_CORRUPT_CABINET},
        {"coffCabStart 0xFFFFFFFF", none, [](auto& b) { Set32(b, 36, 0xFFFFFFFF); },
         FDIERROR_CORRUPT_CABINET},
        {"cCFData 0xFFFF, one block present",
         [](Cabinet& c) {
             c.folders[0].cCFData = 0xFFFF;
             c.files[0].cbFile = 10;
         },
         asIs, FDIERROR_CORRUPT_CABINET},
        {"cbData 0xFFFF", none, [](auto& b) { Set16(b, 66, 0xFFFF); }, FDIERROR_CORRUPT_CABINET},
        {"cbUncomp 0xFFFF", [](Cabinet& c) { c.folders[0].blocks[0].cbUncomp = 0xFFFF; }, asIs,
         FDIERROR_MDI_FAIL},
        // The folder runs out: the client is asked for a next cabinet and gives up.
        {"cbFile 0xFFFFFFFF", [](Cabinet& c) { c.files[0].cbFile = 0xFFFFFFFF; }, asIs,
         FDIERROR_USER_ABORT},
        {"uoffFolderStart 0xFFFFFFFF",
         [](Cabinet& c) {
             c.files[0].uoffFolderStart = 0xFFFFFFFF;
             c.files[0].cbFile = 1;
         },
         asIs, FDIERROR_USER_ABORT},
        {"file name running to the end of the file",
         [](Cabinet& c) {
             c.folders[0].blocks.clear();
             c.files[0].cbFile = 0;
         },
         [](auto& b) { b.pop_back(); }, FDIERROR_CORRUPT_CABINET},
        {"file name of 300 characters", [](Cabinet& c) { c.files[0].name.assign(300, 'n'); },
         asIs, FDIERROR_CORRUPT_CABINET},
        {"next cabinet name of 300 characters",
         [](Cabinet& c) {
             c.hasNext = true;
             c.cabinetNext.assign(300, 'c');
         },
         asIs, FDIERROR_CORRUPT_CABINET},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FdiRun run;
        Cabinet cab = Hello();
        c.layout(cab);
        std::vector<uint8_t> bytes = cab.Bytes();
        c.patch(bytes);
        memfs::Put("cab/x.cab", bytes);
        EXPECT_EQ(run.Copy("x.cab"), c.erfOper == FDIERROR_NONE);
        EXPECT_EQ(run.erf.erfOper, c.erfOper);
        if (c.erfOper == FDIERROR_NONE) {
            EXPECT_EQ(FdiRun::Out("a"), "hello");
        }
        EXPECT_LE(memfs::BytesAllocated(), budget);
        EXPECT_LT(memfs::Calls(memfs::Op::Read), 64);
    }
}

// A header reserve that is really there is still read in full and handed on.
TEST(DeclaredSizes, HeaderReserveThatIsPresentIsKept) {
    FdiRun run;
    run.withDecrypt = true;
    Cabinet cab = Hello();
    cab.reservePresent = true;
    cab.headerReserve.assign(60000, 0x52);
    FdiRun::Put("cab/x.cab", cab);
    ASSERT_TRUE(run.Copy("x.cab"));
    ASSERT_EQ(run.CountDecrypt(fdidtNEW_CABINET), 1);
    EXPECT_EQ(run.decrypts[0].reserve, cab.headerReserve);
    EXPECT_EQ(FdiRun::Out("a"), "hello");
}

class WrapperTest : public ::testing::Test {
protected:
    WrapperTest() { win::faults::Reset(); }
    ~WrapperTest() override { win::faults::Reset(); }

    // Writes the cabinet of the files with the project's writer; returns its path.
    std::string Put(const std::vector<std::pair<std::string, std::string>>& files) {
        cabwriter::Writer writer;
        for (const auto& [name, content] : files)
            writer.addFile(name, std::vector<uint8_t>(content.begin(), content.end()));
        const auto cabs = writer.finish();
        cabwriter::WriteCabinets(cabs, m_tmp.path());
        return m_tmp / cabs[0].name;
    }

    TempDir m_tmp;
};

TEST_F(WrapperTest, FullDiskEndsTheExtractionWithATargetFileError) {
    const std::string cab = Put({{"a.bin", Pattern(70000, 3)}, {"b.bin", "after"}});
    ASSERT_TRUE(win::faults::AddRules("_write:*:2:short"));
    CCabinet cabinet;
    EXPECT_EQ(cabinet.Extract(cab.c_str(), (m_tmp / "out").c_str()), 0);
    EXPECT_EQ(cabinet.Error().erfOper, FDIERROR_TARGET_FILE);
    EXPECT_FALSE(std::filesystem::exists(m_tmp / "out/b.bin"));
}

// What counts as a name Windows keeps as given, for names in a cabinet and in a manifest.
TEST(NameRules, InvalidNamesAreRefused) {
    const char* const valid[] = {
        "a.dll", "bin\\a.dll", "bin/a.dll", ".hidden", "a b.txt", " lead", "a..b",
        "\xB8\xFC\xD0\xC2\\\xCE\xC4\xBC\xFE.dll",  // Chinese folder and file names
        "\x81\x5C.dll", "\x81\x7C.dll",           // trail bytes 0x5C and 0x7C
        "CONSOLE.dll", "COM0", "COM10", "LPT", "nul_x", "aux-1.txt", "x\\con1",
    };
    for (const char* name : valid) EXPECT_TRUE(IsSafeName(name)) << name;

    const char* const invalid[] = {
        "", "\\a", "/a", "a\\\\b", "..\\a", "a\\..", ".", "C:a", "a:stream",
        "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\x01" "b", "tab\there", "a\x1F",
        "a.", "a ", "bin.\\a", "bin \\a", "a...",
        "CON", "con.txt", "Nul", "AUX.dll", "prn", "COM1", "com9.log", "LPT1", "lpt9",
        "NUL .txt", "bin\\CON\\a", "CON\\a",
        "\xB8",      // a lead byte without its trail byte
        "a\x81\x20",  // no such character in the code page
    };
    for (const char* name : invalid) EXPECT_FALSE(IsSafeName(name)) << name;
}

TEST_F(WrapperTest, CabinetNameThatWindowsWouldShortenIsRefused) {
    // "a." would land on "a" and overwrite it.
    const std::string cab = Put({{"a", "first"}, {"a.", "second"}});
    CCabinet cabinet;
    EXPECT_EQ(cabinet.Extract(cab.c_str(), (m_tmp / "out").c_str()), 0);
    EXPECT_EQ(cabinet.Error().erfOper, FDIERROR_USER_ABORT);
    EXPECT_NE(cabinet.FailureText().find("unsafe"), std::string::npos);
    EXPECT_EQ(ReadFile(m_tmp / "out/a"), "first");
}

} // namespace
