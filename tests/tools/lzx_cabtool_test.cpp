// cabtool create -m lzx:N and extract, run as programs: every window size, a set with blocks
// split across cabinets, and damaged LZX data that must fail without harm.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

int Cabtool(const std::string& args, std::string* output = nullptr)
{
    const std::string cmd = std::string(KORVANE_BIN_DIR) + "/cabtool " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p))
        if (output)
            output->append(buf, n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Read(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class LzxCabtool : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/lzx_cabtool.XXXXXX";
        root_ = mkdtemp(tmpl);
        fs::create_directories(root_ / "pkg" / "bin");
        std::mt19937 rng(9);
        std::string text, code, noise(70000, 0);
        for (int i = 0; i < 15000; ++i)
            text += "entry " + std::to_string(i % 977) + " of the update\r\n";
        while (code.size() < 250000) {
            const uint32_t rel = (rng() % 40) * 1024 - static_cast<uint32_t>(code.size());
            code += "\x8B\x45\x08\xE8";
            for (int k = 0; k < 4; ++k)
                code += static_cast<char>(rel >> (8 * k));
        }
        for (char& c : noise)
            c = static_cast<char>(rng());
        files_ = {{"pkg/readme.txt", text}, {"pkg/bin/game.exe", code}, {"pkg/bin/data.pak", noise},
                  {"pkg/one", "1"}};
        for (const auto& [name, content] : files_)
            std::ofstream(root_ / name, std::ios::binary) << content;
    }
    void TearDown() override { fs::remove_all(root_); }
    std::string Q(const fs::path& p) const { return "'" + p.string() + "'"; }

    fs::path root_;
    std::vector<std::pair<std::string, std::string>> files_;
};

TEST_F(LzxCabtool, CreateAndExtractEveryWindowSize)
{
    for (int bits = 15; bits <= 21; ++bits) {
        SCOPED_TRACE(bits);
        const fs::path cabs = root_ / ("cabs" + std::to_string(bits));
        const fs::path out = root_ / ("out" + std::to_string(bits));
        fs::create_directories(cabs);
        // One window size also as a set of small cabinets.
        const std::string size = bits == 16 ? " -s 30k" : "";
        std::string log;
        ASSERT_EQ(0, Cabtool("create -m lzx:" + std::to_string(bits) + size + " " + Q(cabs / "p.cab") +
                             " " + Q(root_ / "pkg"), &log))
            << log;
        EXPECT_EQ(fs::exists(cabs / "p3.cab"), bits == 16);
        ASSERT_EQ(0, Cabtool("extract -d " + Q(out) + " " + Q(cabs / "p.cab"), &log)) << log;
        for (const auto& [name, content] : files_)
            EXPECT_TRUE(Read(out / name) == content) << name;
    }
}

TEST_F(LzxCabtool, DamagedDataFailsWithoutHarm)
{
    const fs::path cab = root_ / "p.cab";
    ASSERT_EQ(0, Cabtool("create -m lzx:17 --no-checksums " + Q(cab) + " " + Q(root_ / "pkg")));
    const std::string good = Read(cab);
    std::mt19937 rng(3);
    int failures = 0;
    for (int trial = 0; trial < 12; ++trial) {
        std::string bad = good;
        // Damage the compressed data only (past the headers and file entries).
        for (int k = 0; k < 3; ++k)
            bad[200 + rng() % (bad.size() - 200)] ^= static_cast<char>(1 << (rng() % 8));
        std::ofstream(cab, std::ios::binary | std::ios::trunc) << bad;
        const fs::path out = root_ / ("out" + std::to_string(trial));
        const int status = Cabtool("extract -d " + Q(out) + " " + Q(cab));
        EXPECT_TRUE(status == 0 || status == 1) << status;
        failures += status == 1;
        // Nothing appears beside the destination.
        for (auto& e : fs::directory_iterator(root_)) {
            const std::string name = e.path().filename().string();
            EXPECT_TRUE(name == "pkg" || name == "p.cab" || name.rfind("out", 0) == 0) << name;
        }
    }
    EXPECT_GT(failures, 0);
}

}  // namespace
