// cabtool from the outside: the built program run on folders and cabinets in a temp folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

struct Result {
    int status;
    std::string output;  // stdout and stderr together
};

Result Cabtool(const std::string& args)
{
    const std::string cmd = std::string(KORVANE_BIN_DIR) + "/cabtool " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    Result r{-1, {}};
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p))
        r.output.append(buf, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string Read(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CabtoolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/cabtool_test.XXXXXX";
        root_ = mkdtemp(tmpl);
        src_ = root_ / "pkg";
        fs::create_directories(src_ / "sub" / "\xE6\xB7\xB1");  // a CJK folder name
        std::mt19937 rng(5);
        std::string noise(150000, 0), text;
        for (char& ch : noise)
            ch = char(rng());
        for (int i = 0; i < 20000; ++i)
            text += "line " + std::to_string(i) + "\n";
        Write("noise.bin", noise);
        Write("sub/text.txt", text);
        Write("sub/\xE6\xB7\xB1/x.txt", "x");
        Write("empty", "");
        fs::permissions(src_ / "sub" / "text.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    void TearDown() override
    {
        for (auto& e : fs::recursive_directory_iterator(root_))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(root_);
    }
    void Write(const std::string& rel, const std::string& content)
    {
        std::ofstream(src_ / rel, std::ios::binary) << content;
    }
    std::string Q(const fs::path& p) const { return "'" + p.string() + "'"; }

    // Every file under pkg/ comes back with its bytes, times and read-only state.
    void ExpectSameTree(const fs::path& out)
    {
        int files = 0;
        for (auto& e : fs::recursive_directory_iterator(src_)) {
            if (!e.is_regular_file())
                continue;
            ++files;
            const fs::path copy = out / "pkg" / fs::relative(e.path(), src_);
            ASSERT_TRUE(fs::exists(copy)) << copy;
            EXPECT_EQ(Read(e.path()), Read(copy)) << copy;
            struct stat a {}, b {};
            stat(e.path().c_str(), &a);
            stat(copy.c_str(), &b);
            EXPECT_NEAR(double(a.st_mtime), double(b.st_mtime), 2.0) << copy;  // DOS times: 2 s
            EXPECT_EQ(a.st_mode & S_IWUSR, b.st_mode & S_IWUSR) << copy;
        }
        EXPECT_EQ(4, files);
    }

    fs::path root_, src_;
};

TEST_F(CabtoolTest, CreateListTestExtractRoundTrip)
{
    for (const char* method : {"none", "mszip"}) {
        SCOPED_TRACE(method);
        const fs::path cabs = root_ / (std::string("cabs-") + method);
        const fs::path out = root_ / (std::string("out-") + method);
        fs::create_directories(cabs);
        Result r = Cabtool(std::string("create -m ") + method + " -s 40k --data-reserve 4 " + Q(cabs / "p.cab") + " " + Q(src_));
        ASSERT_EQ(0, r.status) << r.output;
        EXPECT_TRUE(fs::exists(cabs / "p2.cab"));
        for (auto& e : fs::directory_iterator(cabs))
            EXPECT_LE(fs::file_size(e.path()), 40u * 1024) << e.path();

        r = Cabtool("list " + Q(cabs / "p.cab"));
        ASSERT_EQ(0, r.status) << r.output;
        EXPECT_NE(std::string::npos, r.output.find("    150000 ")) << r.output;
        EXPECT_NE(std::string::npos, r.output.find("R--A- pkg\\sub\\text.txt")) << r.output;
        EXPECT_NE(std::string::npos, r.output.find("pkg\\sub\\\xE6\xB7\xB1\\x.txt")) << r.output;

        r = Cabtool("test " + Q(cabs / "p.cab"));
        EXPECT_EQ(0, r.status) << r.output;
        EXPECT_FALSE(fs::exists(root_ / "pkg" / "pkg"));

        r = Cabtool("extract -d " + Q(out) + " " + Q(cabs / "p.cab"));
        ASSERT_EQ(0, r.status) << r.output;
        ExpectSameTree(out);
    }
}

TEST_F(CabtoolTest, DamagedAndIncompleteCabinetsFailWithTheirReason)
{
    const fs::path cabs = root_ / "cabs";
    fs::create_directories(cabs);
    ASSERT_EQ(0, Cabtool("create -m none -s 60000 " + Q(cabs / "p.cab") + " " + Q(src_)).status);

    {  // one byte of data changed in the last cabinet: its checksum no longer matches
        fs::path last;
        for (auto& e : fs::directory_iterator(cabs))
            last = std::max(last, e.path());
        std::fstream f(last, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(-10, std::ios::end);
        f.put('\x55' ^ char(f.peek()));
    }
    Result r = Cabtool("test " + Q(cabs / "p.cab"));
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.output.find("Corrupt cabinet")) << r.output;

    fs::remove(cabs / "p2.cab");
    r = Cabtool("extract -d " + Q(root_ / "out") + " " + Q(cabs / "p.cab"));
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.output.find("Cabinet not found")) << r.output;

    r = Cabtool("extract -d " + Q(root_ / "out") + " " + Q(cabs / "absent.cab"));
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.output.find("Cabinet not found")) << r.output;
}

TEST_F(CabtoolTest, CommandLineProblems)
{
    Write("smile\xF0\x9F\x98\x80.txt", "no code page 936 for this name");
    Result r = Cabtool("create " + Q(root_ / "x.cab") + " " + Q(src_));
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.output.find("code page 936")) << r.output;
    EXPECT_FALSE(fs::exists(root_ / "x.cab"));

    r = Cabtool("--help");
    EXPECT_EQ(0, r.status);
    for (const char* word : {"list", "extract", "test", "create", "-m METHOD", "-s SIZE"})
        EXPECT_NE(std::string::npos, r.output.find(word)) << word;
    for (const char* bad : {"", "frobnicate x", "list", "create x.cab", "create -m zip x.cab y",
                            "create -s lots x.cab y", "extract -d"})
        EXPECT_NE(0, Cabtool(bad).status) << bad;
}

} // namespace
