#include "ini/IniFile.h"
#include "platform/faults.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("ini_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Loads the given bytes into ini_ through a file.
    void LoadText(const std::string& text) {
        std::string path = (dir_ / "t.ini").string();
        std::ofstream(path, std::ios::binary) << text;
        ASSERT_EQ(ini_.Load(path.c_str()), 0);
    }

    std::string Get(const char* section, const char* key, std::uint32_t size = 260) {
        std::string buf(size, '\x7f');
        int n = ini_.GetString(section, key, buf.data(), size, "<default>");
        EXPECT_EQ(n, static_cast<int>(std::strlen(buf.c_str())));
        return buf.c_str();
    }

    fs::path dir_;
    CIniFile ini_;
};

struct LookupCase {
    const char* name;
    const char* text;
    const char* section;
    const char* key;
    const char* expected;  // "<default>" when the key counts as absent
};

class IniLookupTest : public IniFileTest, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(IniLookupTest, FindsValue) {
    const LookupCase& c = GetParam();
    LoadText(c.text);
    EXPECT_EQ(Get(c.section, c.key), c.expected);
}

const LookupCase kLookups[] = {
    {"plain", "[File1]\r\nFileName=abc\r\n", "File1", "FileName", "abc"},
    {"section_case_folded_value_kept", "[verinfo]\nupdatefilenum=Ab C\n", "VerInfo",
     "UpdateFileNum", "Ab C"},
    {"blanks_around_equals_trailing_kept", "[s]\nFileName = a b  \n", "s", "FileName",
     "a b  "},
    {"value_ends_at_tab", "[s]\nk=one two\tthree\n", "s", "k", "one two"},
    {"value_ends_at_cr", "[s]\rk=v\rj=w", "s", "j", "w"},
    {"value_at_end_of_text", "[s]\nk=last", "s", "k", "last"},
    {"empty_value_is_absent", "[s]\nFileName =\nOther=1\n", "s", "FileName", "<default>"},
    {"file1_not_file10", "[File10]\nk=ten\n[File1]\nk=one\n", "File1", "k", "one"},
    {"file10_not_file1", "[File1]\nk=one\n", "File10", "k", "<default>"},
    {"key_prefix_is_not_key", "[s]\nFileNameX=no\nFileName=yes\n", "s", "FileName", "yes"},
    {"key_suffix_is_not_key", "[s]\nXFileName=no\n", "s", "FileName", "<default>"},
    {"key_used_as_value_skipped", "[s]\nFilePath=FileName\nFileName = x\n", "s", "FileName",
     "x"},
    {"key_mid_line", "[s]\njunk k=mid\n", "s", "k", "mid"},
    {"key_in_next_section_not_found", "[a]\nx=1\n[b]\nk=2\n", "a", "k", "<default>"},
    {"first_header_wins", "[s]\nk=first\n[s]\nk=second\n", "s", "k", "first"},
    {"first_key_wins", "[s]\nk=first\nk=second\n", "s", "k", "first"},
    {"header_on_last_line_not_found", "[a]\nk=1\n[s]", "s", "k", "<default>"},
    {"header_after_blanks_found", "  \t[s]\nk=v\n", "s", "k", "v"},
    {"header_needs_word_start", "x[s]\nk=v\n", "s", "k", "<default>"},
    {"rest_of_header_line_ignored", "[s] k=no\nk=yes\n", "s", "k", "yes"},
    {"bracket_inside_line_keeps_section", "[s]\nx=[t]\nk=v\n", "s", "k", "v"},
    {"bracket_after_blanks_ends_section", "[s]\n  [t]\nk=v\n", "s", "k", "<default>"},
    {"empty_body", "[s]\n[t]\nk=v\n", "s", "k", "<default>"},
    {"double_byte_folded_alike", "[\xb8\x41]\n\xc4\x5a=v\n", "\xb8\x61", "\xc4\x7a", "v"},
};

INSTANTIATE_TEST_SUITE_P(Cases, IniLookupTest, ::testing::ValuesIn(kLookups),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(IniFileTest, GetStringTruncatesBeforeDoubleByteLead) {
    std::string ascii(300, 'a');
    LoadText("[s]\nk=" + ascii + "\n");
    EXPECT_EQ(Get("s", "k").size(), 259u);

    std::string wide = std::string(258, 'a') + "\xd6\xd0" + std::string(40, 'b');
    LoadText("[s]\nk=" + wide + "\n");
    EXPECT_EQ(Get("s", "k"), std::string(258, 'a'));

    // Filling the buffer exactly also drops a final high byte.
    LoadText("[s]\nk=abc\xd6\n");
    EXPECT_EQ(Get("s", "k", 5), "abc");
    EXPECT_EQ(Get("s", "k", 6), "abc\xd6");
}

TEST_F(IniFileTest, GetStringDefaultIsTruncatedAndSizeZeroTouchesNothing) {
    LoadText("[s]\nk=v\n");
    char buf[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(ini_.GetString("s", "missing", buf, 4, "longdefault"), 3);
    EXPECT_STREQ(buf, "lon");
    EXPECT_EQ(ini_.GetString("s", "k", buf, 0, "d"), 0);
    EXPECT_STREQ(buf, "lon");
}

TEST_F(IniFileTest, GetIntReadsLikeAtol) {
    LoadText("[s]\na=12abc\nb=abc\nc= -7\nd=+3\ne=99999999999\n");
    struct {
        const char* key;
        bool found;
        int value;
    } cases[] = {{"a", true, 12},  {"b", true, 0},          {"c", true, -7},
                 {"d", true, 3},   {"e", true, 2147483647}, {"missing", false, -1}};
    for (const auto& c : cases) {
        int out = 55;
        EXPECT_EQ(ini_.GetInt("s", c.key, &out, -1), c.found) << c.key;
        EXPECT_EQ(out, c.value) << c.key;
    }
}

TEST_F(IniFileTest, LoadFailureAndFreeGiveDefaults) {
    EXPECT_FALSE(ini_.IsLoaded());
    int out = 0;
    EXPECT_FALSE(ini_.GetInt("s", "k", &out, 9));
    EXPECT_EQ(out, 9);

    LoadText("[s]\nk=1\n");
    EXPECT_TRUE(ini_.IsLoaded());
    EXPECT_EQ(ini_.Load((dir_ / "missing.ini").string().c_str()), -1);
    EXPECT_FALSE(ini_.IsLoaded());
    EXPECT_EQ(Get("s", "k"), "<default>");
    EXPECT_EQ(ini_.Load(nullptr), -1);

    LoadText("[s]\nk=1\n");
    ini_.Free();
    EXPECT_FALSE(ini_.IsLoaded());
    EXPECT_EQ(Get("s", "k"), "<default>");
}

TEST_F(IniFileTest, FailingFileAccessLeavesNothingLoaded)
{
    struct {
        const char* rule;
        unsigned long closes;
    } cases[] = {{"fopen:*:1", 0}, {"fseek:*:1", 1}, {"ftell:*:1", 1}, {"fseek:*:2", 1}};
    for (const auto& [rule, closes] : cases) {
        LoadText("[s]\nk=v\n");
        win::faults::Reset();
        ASSERT_TRUE(win::faults::AddRules(rule));
        EXPECT_EQ(ini_.Load((dir_ / "t.ini").string().c_str()), -1) << rule;
        EXPECT_FALSE(ini_.IsLoaded()) << rule;
        EXPECT_EQ(win::faults::Calls("fclose"), closes) << rule;
    }
    win::faults::Reset();
}

TEST_F(IniFileTest, EmptyFileAndNullArguments) {
    LoadText("");
    EXPECT_TRUE(ini_.IsLoaded());
    EXPECT_EQ(Get("s", "k"), "<default>");

    LoadText("[s]\nk=v\n");
    char buf[8];
    EXPECT_EQ(ini_.GetString(nullptr, "k", buf, 8, "d"), 1);
    EXPECT_EQ(ini_.GetString("s", nullptr, buf, 8, "d"), 1);
    EXPECT_EQ(ini_.GetString("s", "", buf, 8, "d"), 1);
}

}  // namespace
