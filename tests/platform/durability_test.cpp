// Writing through to the disk and replacing a file in one step: the operations the update
// journal relies on.
#include "platform/win.h"
#include "platform_fixture.h"

namespace {

class DurabilityTest : public kvtest::PlatformTest {};

TEST_F(DurabilityTest, MoveFileExReplacesAFileInOneStep) {
    WriteFile(Host("new.tmp"), "new");
    WriteFile(Host("journal"), "old");
    EXPECT_FALSE(win::MoveFileExA(Win("new.tmp").c_str(), Win("journal").c_str(), 0));  // as MoveFileA
    EXPECT_EQ(win::GetLastError(), win::ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(win::MoveFileExA(Win("new.tmp").c_str(), Win("journal").c_str(), win::MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ReadFile(Host("journal")), "new");
    EXPECT_FALSE(Exists(Host("new.tmp")));

    // A read-only file or a folder is not replaced.
    WriteFile(Host("other"), "other");
    ASSERT_TRUE(win::SetFileAttributesA(Win("journal").c_str(), win::FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(win::MoveFileExA(Win("other").c_str(), Win("journal").c_str(), win::MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
    std::filesystem::create_directory(Host("folder"));
    EXPECT_FALSE(win::MoveFileExA(Win("other").c_str(), Win("folder").c_str(), win::MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ReadFile(Host("journal")), "new");
    EXPECT_EQ(ReadFile(Host("other")), "other");
}

// Files and folders reach the host's flush; its failure, or a missing path, is reported; a
// file system that cannot flush at all is no failure.
TEST_F(DurabilityTest, FlushesReachTheHostAndReportItsFailure) {
    static int flushes;
    static int failing;  // errno of a failing flush, 0: none
    flushes = 0;
    failing = 0;
    win::host::Ops counting = win::host::Posix();
    counting.fsync = [](int fd) {
        ++flushes;
        if (!failing) return win::host::Posix().fsync(fd);
        errno = failing;
        return -1;
    };
    win::host::Install(&counting);
    WriteFile(Host("d/file"), "data");
    const int fd = win::_open(Win("d/file").c_str(), win::_O_RDWR | win::_O_BINARY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(win::_commit(fd), 0);
    EXPECT_TRUE(win::FlushPathBuffers(Win("d/file").c_str()));
    EXPECT_TRUE(win::FlushPathBuffers(Win("d").c_str()));
    EXPECT_EQ(flushes, 3);

    failing = EIO;
    EXPECT_EQ(win::_commit(fd), -1);
    EXPECT_FALSE(win::FlushPathBuffers(Win("d").c_str()));
    failing = EINVAL;
    EXPECT_EQ(win::_commit(fd), 0);
    EXPECT_TRUE(win::FlushPathBuffers(Win("d").c_str()));
    EXPECT_EQ(flushes, 7);
    EXPECT_EQ(win::_close(fd), 0);
    EXPECT_FALSE(win::FlushPathBuffers(Win("missing").c_str()));
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
}

}  // namespace
