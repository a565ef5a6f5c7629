// CCabinet on real files: cabinets from the project's writer, extracted below a fresh
// temporary folder through the platform layer.
#include "cab/cabinet.h"
#include "cab/fdi_callbacks.h"
#include "cab/target_path.h"
#include "platform/faults.h"
#include "platform/win.h"
#include "tools/cabwriter/writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string Read(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CabinetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        win::faults::Reset();
        char tmpl[] = "/tmp/cabinet_test.XXXXXX";
        root_ = mkdtemp(tmpl);
        fs::create_directories(root_ / "cabs");
    }
    void TearDown() override
    {
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
        for (auto& e : fs::recursive_directory_iterator(root_))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(root_);
    }

    // Writes the cabinets beside each other and returns the first one's path.
    std::string Put(const std::vector<cabwriter::Cabinet>& cabs)
    {
        cabwriter::WriteCabinets(cabs, (root_ / "cabs").string());
        return (root_ / "cabs" / cabs[0].name).string();
    }
    std::string PutOne(const std::string& name, const std::string& content,
                       cabwriter::FileInfo info = {})
    {
        cabwriter::Writer w;
        w.addFile(name, Bytes(content), info);
        return Put(w.finish());
    }
    std::string Out() const { return (root_ / "out").string(); }

    fs::path root_;
};

TEST(TargetPathTest, TrailingSeparatorsOfTheDestinationAreDropped)
{
    for (const char* dir : {"D", "D\\", "D\\\\\\", "D/", "D//", "D/\\"})
        EXPECT_EQ("D\\a\\b.txt", TargetPath(dir, "a\\b.txt")) << dir;
    // Backslashes go first, then slashes: a slash left behind stays.
    EXPECT_EQ("D\\\\n", TargetPath("D\\/\\", "n"));
    // A trail byte 0x5C is part of its character, not a separator.
    EXPECT_EQ("\x81\x5C\\n", TargetPath("\x81\x5C", "n"));
}

TEST(TargetPathTest, SplitsCabinetPathAtItsLastSeparator)
{
    std::string folder, name;
    SplitCabinetPath("C:\\pkg\\a.cab", &folder, &name);
    EXPECT_EQ("C:\\pkg\\", folder);
    EXPECT_EQ("a.cab", name);
    SplitCabinetPath("a.cab", &folder, &name);
    EXPECT_EQ("", folder);
    EXPECT_EQ("a.cab", name);
    SplitCabinetPath("/tmp/x/\x81\x5C.cab", &folder, &name);
    EXPECT_EQ("/tmp/x/", folder);
    EXPECT_EQ("\x81\x5C.cab", name);
}

TEST(TargetPathTest, NamesThatWouldLeaveTheDestinationAreUnsafe)
{
    for (const char* bad : {"", "..\\x", "a\\..\\..\\x", "\\x", "/x", "C:\\x", "C:x", "a/../x",
                            "a\\..", "...\\x", ". .\\x", "a\\\\b", "x::$DATA", "a.."})
        EXPECT_FALSE(IsSafeName(bad)) << bad;
    for (const char* good : {"x", "a\\b\\c.txt", "a/b", "..a", ".profile", "\x81\x5C\\x"})
        EXPECT_TRUE(IsSafeName(good)) << good;
}

TEST_F(CabinetTest, NestedNamesCreateEveryFolderAlongThePath)
{
    cabwriter::Writer w;
    w.addFile("top.txt", Bytes("top"));
    w.addFile("a\\b\\c.txt", Bytes("deep"));
    w.addFile("a\\\x81\x5C\\d.txt", Bytes("dbcs"));  // U+4E57, trail byte 0x5C
    std::string cab = Put(w.finish());
    CCabinet c;
    const std::string dest = Out() + "\\missing\\parent\\\\";
    ASSERT_EQ(1, c.Extract(cab.c_str(), dest.c_str())) << FDIErrorText(c.Error().erfOper);
    const fs::path out = root_ / "out" / "missing" / "parent";
    EXPECT_EQ("top", Read(out / "top.txt"));
    EXPECT_EQ("deep", Read(out / "a" / "b" / "c.txt"));
    EXPECT_EQ("dbcs", Read(out / "a" / "\xE4\xB9\x97" / "d.txt"));
    EXPECT_STREQ(dest.c_str(), g_szExtractDir);
    EXPECT_EQ(&c, g_pCabinet);
}

TEST_F(CabinetTest, EmptyCabinetSucceedsWithoutCreatingTheDestination)
{
    std::string cab = Put(cabwriter::Writer().finish());
    CCabinet c;
    EXPECT_EQ(1, c.Extract(cab.c_str(), Out().c_str()));
    EXPECT_FALSE(fs::exists(Out()));
}

TEST_F(CabinetTest, ExistingTargets)
{
    fs::create_directories(Out());
    std::ofstream(root_ / "out" / "long.txt") << "a much longer old content";
    std::string cab = PutOne("long.txt", "new");
    CCabinet c;
    ASSERT_EQ(1, c.Extract(cab.c_str(), Out().c_str()));
    EXPECT_EQ("new", Read(root_ / "out" / "long.txt"));  // no stale tail

    // A read-only target stops the extraction; files before it stay.
    cabwriter::Writer w;
    w.addFile("first.txt", Bytes("1"));
    w.addFile("long.txt", Bytes("2"));
    w.addFile("last.txt", Bytes("3"));
    cab = Put(w.finish());
    ASSERT_TRUE(win::SetFileAttributesA((Out() + "/long.txt").c_str(), 0x01));
    EXPECT_EQ(0, c.Extract(cab.c_str(), Out().c_str()));
    EXPECT_EQ(FDIERROR_USER_ABORT, c.Error().erfOper);
    EXPECT_NE(std::string::npos, c.FailureText().find("long.txt"));
    EXPECT_EQ("1", Read(root_ / "out" / "first.txt"));
    EXPECT_EQ("new", Read(root_ / "out" / "long.txt"));
    EXPECT_FALSE(fs::exists(root_ / "out" / "last.txt"));
}

TEST_F(CabinetTest, FourAttributeBitsReachTheFile)
{
    struct {
        uint16_t stored;
        win::DWORD expected;
    } cases[] = {{0x61, 0x21}, {0xA0, 0x20}, {0x07, 0x07}, {0x00, 0x80}, {0xC0, 0x80}};
    cabwriter::Writer w;
    for (const auto& k : cases)
        w.addFile("f" + std::to_string(k.stored), Bytes("x"), {0x5021, 0x6000, k.stored});
    std::string cab = Put(w.finish());
    CCabinet c;
    ASSERT_EQ(1, c.Extract(cab.c_str(), Out().c_str()));
    for (const auto& k : cases) {
        const std::string p = Out() + "/f" + std::to_string(k.stored);
        EXPECT_EQ(k.expected, win::GetFileAttributesA(p.c_str())) << p;
    }
}

TEST_F(CabinetTest, StoredDateAndTimeAreLocalTime)
{
    const char* oldTz = std::getenv("TZ");
    setenv("TZ", "XYZ-3", 1);  // three hours east of UTC, no daylight saving
    tzset();
    // 2021-06-15 14:30:20 local
    std::string cab = PutOne("t.txt", "t", {uint16_t((41 << 9) | (6 << 5) | 15),
                                            uint16_t((14 << 11) | (30 << 5) | 10), 0x20});
    CCabinet c;
    const int ok = c.Extract(cab.c_str(), Out().c_str());
    oldTz ? setenv("TZ", oldTz, 1) : unsetenv("TZ");
    tzset();
    ASSERT_EQ(1, ok);
    struct stat st {};
    ASSERT_EQ(0, stat((root_ / "out" / "t.txt").c_str(), &st));
    EXPECT_EQ(1623756620 /* 2021-06-15 11:30:20 UTC */, st.st_mtime);
}

TEST_F(CabinetTest, HostileNamesWriteNothingOutsideTheDestination)
{
    for (const char* name : {"..\\escape.txt", "a\\..\\..\\escape.txt", "a/../../escape.txt",
                             "\\tmp\\escape.txt", "C:\\escape.txt"}) {
        cabwriter::Writer w;
        w.addFile(name, Bytes("bad"));
        std::string cab = Put(w.finish());
        CCabinet c;
        EXPECT_EQ(0, c.Extract(cab.c_str(), (Out() + "\\inner").c_str())) << name;
        EXPECT_NE(std::string::npos, c.FailureText().find("unsafe")) << name;
        EXPECT_FALSE(fs::exists(root_ / "escape.txt"));
        EXPECT_FALSE(fs::exists(root_ / "out" / "escape.txt"));
        EXPECT_FALSE(fs::exists("/tmp/escape.txt"));
    }
}

TEST_F(CabinetTest, DestinationLengthLimit)
{
    CCabinet c;
    std::string cab = Put(cabwriter::Writer().finish());
    std::string dest = Out() + "/";
    dest += std::string(259 - dest.size(), 'd');
    EXPECT_EQ(1, c.Extract(cab.c_str(), dest.c_str()));
    EXPECT_EQ(0, c.Extract(cab.c_str(), (dest + "e").c_str()));
    EXPECT_EQ(FDIERROR_TARGET_FILE, c.Error().erfOper);
}

TEST_F(CabinetTest, CabinetPathWithoutSeparatorIsOpenedInTheCurrentFolder)
{
    std::string cab = PutOne("x", "rel");
    const fs::path cwd = fs::current_path();
    fs::current_path(root_ / "cabs");
    CCabinet c;
    const int ok = c.Extract("data.cab", Out().c_str());
    fs::current_path(cwd);
    EXPECT_EQ(1, ok);
    EXPECT_EQ("rel", Read(root_ / "out" / "x"));
}

TEST_F(CabinetTest, NotACabinet)
{
    std::ofstream(root_ / "cabs" / "junk.cab") << "this is no cabinet at all, but long enough";
    CCabinet c;
    EXPECT_EQ(0, c.Extract((root_ / "cabs" / "junk.cab").c_str(), Out().c_str()));
    EXPECT_EQ(FDIERROR_NOT_A_CABINET, c.Error().erfOper);
    EXPECT_EQ(0, c.Extract((root_ / "cabs" / "none.cab").c_str(), Out().c_str()));
    EXPECT_EQ(FDIERROR_CABINET_NOT_FOUND, c.Error().erfOper);
}

// A set of small cabinets where files begin in every cabinet, some continued across.
std::vector<cabwriter::Cabinet> MakeSet(std::map<std::string, std::string>& want, uint16_t setID = 7)
{
    cabwriter::Writer w({.maxCabinetSize = 20000, .setID = setID, .name = "set.cab"});
    for (int i = 0; i < 12; ++i) {
        std::string content(size_t(3000 + 2500 * i), char('a' + i));
        content[0] = char('0' + i % 10);
        want["f" + std::to_string(i)] = content;
        w.addFile("f" + std::to_string(i), Bytes(content));
    }
    return w.finish();
}

TEST_F(CabinetTest, WholeSetIsExtracted)
{
    std::map<std::string, std::string> want;
    auto cabs = MakeSet(want);
    ASSERT_GT(cabs.size(), 5u);
    std::string cab = Put(cabs);
    CCabinet c;
    ASSERT_EQ(1, c.Extract(cab.c_str(), Out().c_str())) << FDIErrorText(c.Error().erfOper);
    for (const auto& [name, content] : want)
        EXPECT_EQ(content, Read(root_ / "out" / name)) << name;
}

TEST_F(CabinetTest, BrokenSetsFailWithTheReason)
{
    std::map<std::string, std::string> want;
    auto cabs = MakeSet(want);
    std::string cab = Put(cabs);
    fs::remove(root_ / "cabs" / cabs[3].name);
    CCabinet c;
    EXPECT_EQ(0, c.Extract(cab.c_str(), Out().c_str()));
    EXPECT_EQ(FDIERROR_CABINET_NOT_FOUND, c.Error().erfOper);

    // A cabinet of another set in its place.
    std::map<std::string, std::string> other;
    auto foreign = MakeSet(other, 8);
    cabwriter::WriteCabinets({foreign[3]}, (root_ / "cabs").string());
    EXPECT_EQ(0, c.Extract(cab.c_str(), Out().c_str()));
    EXPECT_EQ(FDIERROR_WRONG_CABINET, c.Error().erfOper);
}

TEST_F(CabinetTest, CallbacksHonourTheAllocationLimitAndTheSpillName)
{
    setenv("KORVANE_MAX_ALLOC", "1000", 1);
    void* small = FdiAlloc(1000);
    void* big = FdiAlloc(1001);
    unsetenv("KORVANE_MAX_ALLOC");
    EXPECT_NE(nullptr, small);
    EXPECT_EQ(nullptr, big);
    FdiFree(small);
    char star[] = "*";
    intptr_t h = FdiOpen(star, win::_O_RDWR | win::_O_BINARY, 0);
    ASSERT_NE(-1, h);
    char data[] = "spill";
    EXPECT_EQ(5u, FdiWrite(h, data, 5));
    EXPECT_EQ(0, FdiSeek(h, 0, 0));
    char back[6] = {};
    EXPECT_EQ(5u, FdiRead(h, back, 5));
    EXPECT_STREQ("spill", back);
    EXPECT_EQ(0, FdiClose(h));
}

// Handler lists: order, dropping, the lock, and the shared in/out values.
using TestList = CEventList<int, int*>;

struct Probe : CEventHandler<int, int*> {
    Probe(std::vector<std::string>& log, std::string tag, bool valid = true)
        : log(log), tag(std::move(tag)), valid(valid) {}
    ~Probe() override { log.push_back("~" + tag); }
    bool IsValid() override { return valid; }
    void Invoke(int value, int* shared) override
    {
        log.push_back(tag + "(" + std::to_string(value) + "," + std::to_string(*shared) + ")");
        *shared += 1;
        if (onInvoke)
            onInvoke();
    }
    std::vector<std::string>& log;
    std::string tag;
    bool valid;
    std::function<void()> onInvoke;
};

TEST(EventListTest, RunsLiveHandlersInOrderAndDropsTheOthers)
{
    std::vector<std::string> log;
    {
        TestList list;
        auto* removed = new Probe(log, "r");
        list.Add(new Probe(log, "a"));
        list.Add(removed);
        list.Add(new Probe(log, "i", false));
        list.Add(new Probe(log, "b"));
        list.Add(new Probe(log, "tail", false));
        removed->Remove();
        int shared = 10;
        list.Dispatch(5, &shared);
        EXPECT_EQ(12, shared);
        EXPECT_EQ((std::vector<std::string>{"a(5,10)", "~r", "~i", "b(5,11)", "~tail"}), log);
        log.clear();
        list.Dispatch(6, &shared);
        EXPECT_EQ((std::vector<std::string>{"a(6,12)", "b(6,13)"}), log);
        log.clear();
    }
    EXPECT_EQ((std::vector<std::string>{"~a", "~b"}), log);  // released front to back
}

TEST(EventListTest, OnlyTheLastHandlerRunsOutsideTheLock)
{
    std::vector<std::string> log;
    TestList list;
    auto* first = new Probe(log, "first");
    auto* last = new Probe(log, "last");
    list.Add(first);
    list.Add(last);
    // Another thread can add to the list only while no dispatch holds its lock.
    std::vector<std::future<void>> adds;
    auto otherThreadCanAdd = [&] {
        adds.push_back(std::async(std::launch::async, [&] { list.Add(new Probe(log, "late", false)); }));
        return adds.back().wait_for(std::chrono::milliseconds(200)) == std::future_status::ready;
    };
    bool duringFirst = true, duringLast = false;
    first->onInvoke = [&] { duringFirst = otherThreadCanAdd(); };
    last->onInvoke = [&] { duringLast = otherThreadCanAdd(); };
    int shared = 0;
    list.Dispatch(1, &shared);
    for (auto& add : adds)
        add.wait();
    EXPECT_FALSE(duringFirst);
    EXPECT_TRUE(duringLast);
}

TEST(EventListTest, CabinetHandlersCanTakeOverTheDefaultAction)
{
    struct Skip : CEventHandler<const char*, int32_t, intptr_t*, int*> {
        void Invoke(const char* target, int32_t, intptr_t* handle, int* doDefault) override
        {
            seen = target;
            *handle = 0;  // skip the file
            *doDefault = 0;
        }
        std::string& seen;
        explicit Skip(std::string& s) : seen(s) {}
    };
    char tmpl[] = "/tmp/cabinet_test.XXXXXX";
    const fs::path root = mkdtemp(tmpl);
    cabwriter::Writer w;
    w.addFile("x.txt", Bytes("x"));
    cabwriter::WriteCabinets(w.finish(), root.string());
    std::string seen;
    CCabinet c;
    c.m_CopyFile.Add(new Skip(seen));
    EXPECT_EQ(1, c.Extract((root / "data.cab").c_str(), (root.string() + "/out//").c_str()));
    EXPECT_EQ(root.string() + "/out\\x.txt", seen);
    EXPECT_FALSE(fs::exists(root / "out"));
    fs::remove_all(root);
}

} // namespace
