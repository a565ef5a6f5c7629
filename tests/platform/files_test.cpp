// File operations with Windows semantics: attributes, read-only enforcement, modes, flags,
// rename, copy, listing order, shell delete, temporary files and stream reads.
#include <sys/xattr.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/filetime.h"
#include "platform/system.h"
#include "platform_fixture.h"

namespace {

using kvtest::PlatformTest;

mode_t CurrentUmask() {
    mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

class FilesTest : public PlatformTest {
protected:
    std::string MakeFile(const std::string& relative, const std::string& content, win::DWORD attributes = 0x20) {
        WriteFile(Host(relative), content);
        if (attributes != 0x20) {
            EXPECT_TRUE(win::SetFileAttributesA(Win(relative).c_str(), attributes));
        }
        return Win(relative);
    }
};

TEST_F(FilesTest, AttributesRoundTrip) {
    struct Case {
        win::DWORD set, reported;
        bool ownerWrite;
    };
    const Case cases[] = {
        {0x00, 0x80, true},  {0x80, 0x80, true},  {0x20, 0x20, true},  {0x01, 0x01, false},
        {0x21, 0x21, false}, {0x02, 0x02, true},  {0x27, 0x27, false}, {0x06, 0x06, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set);
        std::string path = MakeFile("f.bin", "data");
        ASSERT_TRUE(win::SetFileAttributesA(path.c_str(), 0x20));  // writable again for the next case
        ASSERT_TRUE(win::SetFileAttributesA(path.c_str(), c.set));
        EXPECT_EQ(win::GetFileAttributesA(path.c_str()), c.reported);
        EXPECT_EQ((Mode(Host("f.bin")) & S_IWUSR) != 0, c.ownerWrite);
    }
    char stored[16] = {};
    ASSERT_GT(::getxattr(Host("f.bin").c_str(), "user.korvane.attrib", stored, sizeof stored - 1), 0);
    EXPECT_STREQ(stored, "6");

    EXPECT_EQ(win::GetFileAttributesA(MakeFile("fresh", "x").c_str()), 0x20u);
    ::chmod(Host("fresh").c_str(), 0444);  // read-only from outside
    EXPECT_EQ(win::GetFileAttributesA(Win("fresh").c_str()), 0x21u);
    std::filesystem::create_directory(Host("dir"));
    EXPECT_EQ(win::GetFileAttributesA(Win("dir").c_str()), 0x10u);
    EXPECT_EQ(win::GetFileAttributesA(Win("missing").c_str()), win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesTest, WithoutExtendedAttributesOnlyReadOnlyIsKept) {
    win::host::Ops noXattr = win::host::Posix();
    noXattr.getxattr = [](const char*, const char*, void*, size_t) -> ssize_t { errno = ENOTSUP; return -1; };
    noXattr.setxattr = [](const char*, const char*, const void*, size_t, int) { errno = ENOTSUP; return -1; };
    win::host::Install(&noXattr);
    std::string path = MakeFile("f", "x");
    EXPECT_TRUE(win::SetFileAttributesA(path.c_str(), 0x02));
    EXPECT_EQ(win::GetFileAttributesA(path.c_str()), 0x20u);
    EXPECT_TRUE(win::SetFileAttributesA(path.c_str(), 0x01));
    EXPECT_EQ(win::GetFileAttributesA(path.c_str()), 0x21u);
}

TEST_F(FilesTest, ReadOnlyFilesAreEnforced) {
    std::string path = MakeFile("ro.txt", "keep", 0x01);
    std::string other = MakeFile("other.txt", "new");
    int fd;
    EXPECT_EQ(win::_open(path.c_str(), win::_O_WRONLY | win::_O_BINARY), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(win::_open(path.c_str(), win::_O_RDWR), -1);
    EXPECT_EQ(win::_open(path.c_str(), win::_O_BINARY | win::_O_CREAT | win::_O_SEQUENTIAL | win::_O_WRONLY, 0x180), -1);
    EXPECT_EQ(win::CreateFileA(path.c_str(), win::GENERIC_WRITE, 0, nullptr, win::OPEN_EXISTING, 0, nullptr),
              win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(win::fopen(path.c_str(), "wb"), nullptr);
    EXPECT_EQ(win::_unlink(path.c_str()), -1);
    EXPECT_FALSE(win::DeleteFileA(path.c_str()));
    EXPECT_FALSE(win::CopyFileA(other.c_str(), path.c_str(), win::FALSE));
    EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_EQ(win::_access(path.c_str(), 2), -1);
    EXPECT_EQ(ReadFile(Host("ro.txt")), "keep");

    EXPECT_EQ(win::_access(path.c_str(), 0), 0);
    ASSERT_GE(fd = win::_open(path.c_str(), win::_O_RDONLY | win::_O_BINARY), 0);
    EXPECT_EQ(win::_close(fd), 0);
    EXPECT_TRUE(win::MoveFileA(path.c_str(), Win("moved.txt").c_str()));  // renaming is allowed
    EXPECT_EQ(win::GetFileAttributesA(Win("moved.txt").c_str()), 0x01u);
}

TEST_F(FilesTest, CopyRefusesAHiddenDestination) {
    std::string hidden = MakeFile("hidden", "old", 0x02);
    EXPECT_FALSE(win::CopyFileA(MakeFile("src", "new").c_str(), hidden.c_str(), win::FALSE));
    EXPECT_EQ(ReadFile(Host("hidden")), "old");
}

TEST_F(FilesTest, CreatedFilesGetUmaskModesAndProgramsExecuteBits) {
    mode_t plain = 0666 & ~CurrentUmask();
    struct Case {
        const char* name;
        std::string content;
        int pmode;
        mode_t mode;
    };
    const Case cases[] = {
        {"data.bin", "hello", 0x180, plain},
        {"tool", std::string("\x7f" "ELF\x02\x01", 6), 0x180, plain | (0111 & ~CurrentUmask())},
        {"script", "#!/bin/sh\n", 0x180, plain | (0111 & ~CurrentUmask())},
        {"short", "#", 0x180, plain},
        {"readonly", "x", 0x100, 0444 & ~CurrentUmask()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int fd = win::_open(Win(c.name).c_str(), win::_O_BINARY | win::_O_CREAT | win::_O_SEQUENTIAL | win::_O_WRONLY, c.pmode);
        ASSERT_GE(fd, 0);
        EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
        EXPECT_EQ(win::_write(fd, c.content.data(), c.content.size()), static_cast<int>(c.content.size()));
        EXPECT_EQ(win::_close(fd), 0);
        EXPECT_EQ(Mode(Host(c.name)), c.mode);
        EXPECT_EQ(ReadFile(Host(c.name)), c.content);
    }
}

TEST_F(FilesTest, OpenFlagsTakeWindowsValues) {
    struct Case {
        int flags;
        std::string written, expected;
    };
    const Case cases[] = {
        {win::_O_WRONLY | win::_O_CREAT, "ab", "abz"},  // no truncation asked for
        {win::_O_WRONLY | win::_O_TRUNC, "ab", "ab"},
        {win::_O_WRONLY | win::_O_APPEND, "ab", "xyzab"},
        {win::_O_RDWR, "ab", "abz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        std::string path = MakeFile("f", "xyz");
        int fd = win::_open(path.c_str(), c.flags | win::_O_BINARY, 0x180);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(win::_write(fd, c.written.data(), c.written.size()), 2);
        EXPECT_EQ(win::_close(fd), 0);
        EXPECT_EQ(ReadFile(Host("f")), c.expected);
    }
    EXPECT_EQ(win::_open(Win("f").c_str(), win::_O_CREAT | win::_O_EXCL | win::_O_WRONLY, 0x180), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(win::_open(Win("none").c_str(), win::_O_RDONLY), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(win::_open(Win().c_str(), win::_O_RDONLY), -1);  // a folder

    int fd = win::_open(MakeFile("seek", "0123456789").c_str(), win::_O_RDONLY | win::_O_BINARY);
    ASSERT_GE(fd, 0);
    char buffer[4] = {};
    EXPECT_EQ(win::_lseek(fd, 3, SEEK_SET), 3);
    EXPECT_EQ(win::_read(fd, buffer, 3), 3);
    EXPECT_STREQ(buffer, "345");
    EXPECT_EQ(win::_lseek(fd, -2, SEEK_END), 8);
    EXPECT_EQ(win::_lseek(fd, 1, SEEK_CUR), 9);
    EXPECT_EQ(win::_read(fd, buffer, 3), 1);
    EXPECT_EQ(win::_read(fd, buffer, 3), 0);
    EXPECT_EQ(win::_close(fd), 0);
}

TEST_F(FilesTest, MoveNeverReplacesAndMovesFolders) {
    std::string a = MakeFile("a.txt", "A"), b = MakeFile("b.txt", "B");
    EXPECT_FALSE(win::MoveFileA(a.c_str(), b.c_str()));
    EXPECT_EQ(win::GetLastError(), win::ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(win::MoveFileA(a.c_str(), Win("B.TXT").c_str()));  // same name to Windows
    EXPECT_EQ(ReadFile(Host("a.txt")), "A");
    EXPECT_EQ(ReadFile(Host("b.txt")), "B");

    EXPECT_TRUE(win::MoveFileA(Win("A.TXT").c_str(), Win("c.txt").c_str()));
    EXPECT_EQ(ReadFile(Host("c.txt")), "A");
    EXPECT_FALSE(Exists(Host("a.txt")));

    MakeFile("dir/inner/x", "X");
    EXPECT_TRUE(win::MoveFileA(Win("dir").c_str(), Win("dir2").c_str()));
    EXPECT_EQ(ReadFile(Host("dir2/inner/x")), "X");

    EXPECT_FALSE(win::MoveFileA(Win("none").c_str(), Win("x").c_str()));
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(win::MoveFileA(b.c_str(), Win("no\\such\\b.txt").c_str()));
    EXPECT_EQ(win::GetLastError(), win::ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesTest, CopyKeepsContentAttributesTimeAndMode) {
    std::string content(200000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    std::string source = MakeFile("src.exe", content);
    ::chmod(Host("src.exe").c_str(), 0750);
    ASSERT_TRUE(win::SetFileAttributesA(source.c_str(), 0x26));
    struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 123456700}};
    ::utimensat(AT_FDCWD, Host("src.exe").c_str(), times, 0);

    ASSERT_TRUE(win::CopyFileA(source.c_str(), Win("copy.exe").c_str(), win::FALSE));
    EXPECT_EQ(ReadFile(Host("copy.exe")), content);
    EXPECT_EQ(win::GetFileAttributesA(Win("copy.exe").c_str()), 0x26u);
    EXPECT_EQ(Mode(Host("copy.exe")), 0750u);
    struct stat info;
    ::stat(Host("copy.exe").c_str(), &info);
    EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(info.st_mtim.tv_nsec, 123456700);

    std::string small = MakeFile("small", "s");
    EXPECT_FALSE(win::CopyFileA(small.c_str(), Win("copy.exe").c_str(), win::FALSE));  // hidden
    MakeFile("system", "old", 0x04);  // overwriting: the destination's attributes go
    ASSERT_TRUE(win::CopyFileA(small.c_str(), Win("system").c_str(), win::FALSE));
    EXPECT_EQ(ReadFile(Host("system")), "s");
    EXPECT_EQ(win::GetFileAttributesA(Win("system").c_str()), 0x20u);

    EXPECT_FALSE(win::CopyFileA(small.c_str(), Win("copy.exe").c_str(), win::TRUE));
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_EXISTS);
    EXPECT_FALSE(win::CopyFileA(small.c_str(), Win("no\\such\\x").c_str(), win::FALSE));
    EXPECT_EQ(win::GetLastError(), win::ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(win::CopyFileA(Win("none").c_str(), Win("y").c_str(), win::FALSE));
    EXPECT_FALSE(Exists(Host("y")));
}

TEST_F(FilesTest, CopyFailureLeavesNoPartialFile) {
    std::string source = MakeFile("src", std::string(100000, 'x'));
    win::host::Ops failing = win::host::Posix();
    failing.write = [](int, const void*, size_t) -> ssize_t { errno = ENOSPC; return -1; };
    win::host::Install(&failing);
    EXPECT_FALSE(win::CopyFileA(source.c_str(), Win("dst").c_str(), win::FALSE));
    EXPECT_EQ(win::GetLastError(), win::ERROR_DISK_FULL);
    win::host::Install(nullptr);
    EXPECT_FALSE(Exists(Host("dst")));
}

TEST_F(FilesTest, ListingsComeInNtfsOrder) {
    for (const char* name : {"b.txt", "A.txt", "_x", "Z", "a1", "\xe4\xb8\xad.txt"}) MakeFile(std::string("d/") + name, "12345");
    std::filesystem::create_directory(Host("d/Sub"));
    win::SetFileAttributesA(Win("d/a1").c_str(), 0x03);

    auto list = [&](const std::string& pattern) {
        std::vector<std::string> names;
        win::WIN32_FIND_DATAA data;
        win::HANDLE find = win::FindFirstFileA((Win("d") + pattern).c_str(), &data);
        if (find == win::INVALID_HANDLE_VALUE) return names;
        do names.push_back(data.cFileName);
        while (win::FindNextFileA(find, &data));
        EXPECT_EQ(win::GetLastError(), win::ERROR_NO_MORE_FILES);
        EXPECT_TRUE(win::FindClose(find));
        return names;
    };
    EXPECT_EQ(list("\\*.*"), (std::vector<std::string>{".", "..", "A.txt", "a1", "b.txt", "Sub", "Z", "_x",
                                                         "\xd6\xd0.txt"}));
    EXPECT_EQ(list("\\*.TXT"), (std::vector<std::string>{"A.txt", "b.txt", "\xd6\xd0.txt"}));
    EXPECT_EQ(list("\\A1"), (std::vector<std::string>{"a1"}));

    win::WIN32_FIND_DATAA data;
    win::HANDLE find = win::FindFirstFileA((Win("d") + "\\a1").c_str(), &data);
    ASSERT_NE(find, win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, 0x03u);
    EXPECT_EQ(data.nFileSizeLow, 5u);
    win::FindClose(find);
    find = win::FindFirstFileA((Win("d") + "\\Sub").c_str(), &data);
    EXPECT_EQ(data.dwFileAttributes, 0x10u);
    win::FindClose(find);

    EXPECT_EQ(win::FindFirstFileA((Win("d") + "\\nothing*").c_str(), &data), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(win::FindFirstFileA((Win("none") + "\\*.*").c_str(), &data), win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(win::FindClose(win::INVALID_HANDLE_VALUE));
}

TEST_F(FilesTest, ShellDeleteRemovesEverythingForGood) {
    MakeFile("tree/a/b/ro.dll", "x", 0x01);
    MakeFile("tree/hidden", "y", 0x02);
    MakeFile("tree/a/plain", "z");
    std::string list = Win("tree") + std::string(1, '\0') + Win("single.txt") + std::string(1, '\0');
    MakeFile("single.txt", "s", 0x01);
    win::SHFILEOPSTRUCTA operation{};
    operation.wFunc = win::FO_DELETE;
    operation.pFrom = list.c_str();
    operation.fFlags = win::FOF_SILENT | win::FOF_NOCONFIRMATION | win::FOF_NOERRORUI;
    EXPECT_EQ(win::SHFileOperationA(&operation), 0);
    EXPECT_FALSE(Exists(Host("tree")));
    EXPECT_FALSE(Exists(Host("single.txt")));

    std::string missing = Win("gone") + std::string(1, '\0');
    operation.pFrom = missing.c_str();
    EXPECT_NE(win::SHFileOperationA(&operation), 0);
}

TEST_F(FilesTest, FoldersAndCurrentFolder) {
    EXPECT_TRUE(win::CreateDirectoryA(Win("new").c_str(), nullptr));
    EXPECT_FALSE(win::CreateDirectoryA(Win("new").c_str(), nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_ALREADY_EXISTS);
    EXPECT_EQ(win::_mkdir(Win("a\\b").c_str()), -1);
    EXPECT_EQ(win::GetLastError(), win::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(win::_mkdir(Win("NEW\\b").c_str()), 0);
    EXPECT_TRUE(Exists(Host("new/b")));

    EXPECT_EQ(win::_chdir(Win("new").c_str()), 0);
    char current[win::MAX_PATH];
    EXPECT_EQ(win::GetCurrentDirectoryA(sizeof current, current), Win("new").size());
    EXPECT_EQ(current, Win("new"));
    EXPECT_EQ(win::GetCurrentDirectoryA(3, current), Win("new").size() + 1);
    EXPECT_EQ(win::_chdir(Win("none").c_str()), -1);
}

TEST_F(FilesTest, AnonymousTempFileHasNoName) {
    std::filesystem::create_directory(Host("tmp"));
    ::setenv("TMPDIR", Host("tmp").c_str(), 1);
    int fd = win::CreateAnonymousTempFile();
    ::unsetenv("TMPDIR");
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(std::filesystem::is_empty(Host("tmp")));
    EXPECT_EQ(win::_write(fd, "spill data", 10), 10);
    EXPECT_EQ(win::_lseek(fd, 6, SEEK_SET), 6);
    char buffer[5] = {};
    EXPECT_EQ(win::_read(fd, buffer, 4), 4);
    EXPECT_STREQ(buffer, "data");
    EXPECT_EQ(win::_close(fd), 0);
}

TEST_F(FilesTest, StreamsReadWholeFilesByteExact) {
    std::string content("a\r\nb\0c\x1a\xff", 9);
    std::string path = MakeFile("m.update", content);
    FILE* stream = win::fopen(path.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(win::fseek(stream, 0, SEEK_END), 0);
    EXPECT_EQ(win::ftell(stream), 9);
    EXPECT_EQ(win::fseek(stream, 0, SEEK_SET), 0);
    char buffer[16];
    EXPECT_EQ(win::fread(buffer, 1, sizeof buffer, stream), 9u);
    EXPECT_EQ(std::string(buffer, 9), content);
    EXPECT_EQ(win::fclose(stream), 0);
    EXPECT_EQ(win::fopen(Win("none").c_str(), "rb"), nullptr);
}

}  // namespace
