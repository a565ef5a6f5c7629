// Quantum through the programs: cabtool creates a cabinet with -m quantum:N and extracts it
// again, with the window in memory and forced into the spill file by KORVANE_MAX_ALLOC;
// damaged Quantum data makes the extraction fail, never crash or hang.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <sys/stat.h>

#include "support/ChildProcess.h"

namespace {

constexpr int kTimeoutMs = 60000;

std::string Content(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) {
        switch (rng() % 4) {
        case 0:
            for (int k = 0; k < 100; ++k)
                s += static_cast<char>(rng());
            break;
        case 1:
            if (s.size() > 200000) { // a copy from far back
                const size_t from = s.size() - 100000 - rng() % 100000;
                s += s.substr(from, 5 + rng() % 500);
                break;
            }
            [[fallthrough]];
        default:
            s += "entry " + std::to_string(rng() % 5000) + " = 更新\r\n";
        }
    }
    s.resize(n);
    return s;
}

class QuantumCabtool : public ::testing::Test {
protected:
    void SetUp() override
    {
        mkdir((dir / "pkg").c_str(), 0755);
        mkdir((dir / "pkg/sub").c_str(), 0755);
        files = {{"pkg/a.txt", Content(300000, 1)}, {"pkg/sub/b.dat", Content(70001, 2)}, {"pkg/c", "c"}};
        for (const auto& [name, content] : files)
            WriteFile(dir / name, content);
    }

    int Run(std::vector<std::string> args, const std::vector<std::string>& env = {})
    {
        args.insert(args.begin(), BinPath("cabtool"));
        ChildProcess p(args, env);
        const int rc = p.Wait(kTimeoutMs);
        if (rc != 0)
            lastError = p.Stderr();
        return rc;
    }

    void ExpectExtracted(const std::string& out, const std::string& what)
    {
        for (const auto& [name, content] : files)
            EXPECT_TRUE(ReadFile(dir / (out + "/" + name)) == content) << what << ": " << name;
    }

    TempDir dir;
    std::vector<std::pair<std::string, std::string>> files;
    std::string lastError;
};

TEST_F(QuantumCabtool, EveryExponentInMemoryAndSpilled)
{
    for (int bits = 10; bits <= 21; ++bits) {
        const std::string n = std::to_string(bits);
        const std::string cab = dir / ("q" + n + ".cab");
        ASSERT_EQ(Run({"create", "-m", "quantum:" + n, cab, dir / "pkg"}), 0) << lastError;
        ASSERT_EQ(Run({"extract", "-d", dir / ("m" + n), cab}), 0) << n << ": " << lastError;
        ExpectExtracted("m" + n, "quantum:" + n);
        // The reader's own buffers fit under this limit; windows from 2^16 bytes on do not.
        if (bits >= 16) {
            ASSERT_EQ(Run({"extract", "-d", dir / ("s" + n), cab}, {"KORVANE_MAX_ALLOC=60000"}), 0)
                << n << ": " << lastError;
            ExpectExtracted("s" + n, "quantum:" + n + " spilled");
        }
    }
    EXPECT_NE(Run({"create", "-m", "quantum:22", dir / "bad.cab", dir / "pkg"}), 0);
}

TEST_F(QuantumCabtool, DamagedDataFailsCleanly)
{
    const std::string cab = dir / "q.cab";
    ASSERT_EQ(Run({"create", "-m", "quantum:17", "--no-checksums", cab, dir / "pkg"}), 0) << lastError;
    const std::string good = ReadFile(cab);
    std::mt19937 rng(3);
    int failures = 0;
    for (int trial = 0; trial < 8; ++trial) {
        std::string bad = good;
        // Past the headers, into the first blocks' Quantum data.
        for (int k = 0; k < 3; ++k)
            bad[200 + rng() % 20000] ^= static_cast<char>(1 + rng() % 255);
        WriteFile(dir / "bad.cab", bad);
        for (const char* env : {"KORVANE_MAX_ALLOC=", "KORVANE_MAX_ALLOC=60000"}) {
            // Garbage can decode to the right number of bytes; it must never crash or hang.
            const int rc = Run({"extract", "-d", dir / "bad", dir / "bad.cab"}, {env});
            EXPECT_TRUE(rc == 0 || rc == 1) << "trial " << trial << " " << env << ": " << rc;
            failures += rc == 1;
        }
    }
    EXPECT_GT(failures, 8);
}

} // namespace
