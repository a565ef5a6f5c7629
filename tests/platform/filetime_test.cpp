// DOS dates and times, local to UTC conversion by the zone's rule at that date, and
// setting a file's last-write time through a handle.
#include <ctime>

#include "platform/filetime.h"
#include "platform/system.h"
#include "platform_fixture.h"

namespace {

using kvtest::PlatformTest;

constexpr int64_t kEpochTicks = 116444736000000000LL;

int64_t Ticks(const win::FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

int64_t TicksOf(int year, int month, int day, int hour, int minute, int second) {
    struct tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return static_cast<int64_t>(::timegm(&fields)) * 10000000 + kEpochTicks;
}

win::WORD DosDate(int year, int month, int day) { return static_cast<win::WORD>(((year - 1980) << 9) | (month << 5) | day); }
win::WORD DosTime(int hour, int minute, int seconds2) { return static_cast<win::WORD>((hour << 11) | (minute << 5) | seconds2); }

TEST(FileTime, DosDateTimeConversion) {
    struct Case {
        win::WORD date, time;
        int64_t expected;  // 0: refused
    };
    const Case cases[] = {
        {DosDate(2020, 2, 29), DosTime(12, 34, 28), TicksOf(2020, 2, 29, 12, 34, 56)},
        {DosDate(1980, 1, 1), DosTime(0, 0, 0), TicksOf(1980, 1, 1, 0, 0, 0)},
        {DosDate(2107, 12, 31), DosTime(23, 59, 29), TicksOf(2107, 12, 31, 23, 59, 58)},
        {DosDate(2000, 2, 29), 0, TicksOf(2000, 2, 29, 0, 0, 0)},
        {DosDate(2021, 2, 29), 0, 0},  // not a leap year
        {DosDate(1900 + 200, 2, 29), 0, 0},  // 2100 is not a leap year either
        {DosDate(2021, 4, 31), 0, 0},
        {DosDate(2021, 0, 1), 0, 0},
        {DosDate(2021, 13, 1), 0, 0},
        {DosDate(2021, 1, 0), 0, 0},
        {DosDate(2021, 1, 1), DosTime(24, 0, 0), 0},
        {DosDate(2021, 1, 1), DosTime(0, 60, 0), 0},
        {DosDate(2021, 1, 1), DosTime(0, 0, 30), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.date << " " << c.time);
        win::FILETIME result{1, 1};
        EXPECT_EQ(win::DosDateTimeToFileTime(c.date, c.time, &result), c.expected ? win::TRUE : win::FALSE);
        if (c.expected) {
            EXPECT_EQ(Ticks(result), c.expected);
        }
    }
}

TEST(FileTime, LocalTimeUsesTheOffsetInForceAtThatDate) {
    std::string saved = std::getenv("TZ") ? std::getenv("TZ") : "";
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
    struct Case {
        int64_t local, utc;
    };
    const Case cases[] = {
        {TicksOf(2021, 1, 15, 12, 0, 0), TicksOf(2021, 1, 15, 11, 0, 0)},  // winter: +1
        {TicksOf(2021, 7, 15, 12, 0, 0), TicksOf(2021, 7, 15, 10, 0, 0)},  // summer: +2
        {TicksOf(2021, 7, 15, 12, 0, 0) + 1234567, TicksOf(2021, 7, 15, 10, 0, 0) + 1234567},
    };
    for (const Case& c : cases) {
        win::FILETIME local{static_cast<win::DWORD>(c.local), static_cast<win::DWORD>(c.local >> 32)};
        win::FILETIME utc{};
        EXPECT_TRUE(win::LocalFileTimeToFileTime(&local, &utc));
        EXPECT_EQ(Ticks(utc), c.utc);
    }
    if (saved.empty()) ::unsetenv("TZ");
    else ::setenv("TZ", saved.c_str(), 1);
    ::tzset();
}

class FileTimeFiles : public PlatformTest {};

TEST_F(FileTimeFiles, SetFileTimeSetsTheLastWriteTime) {
    WriteFile(Host("f"), "x");
    struct stat before;
    ::stat(Host("f").c_str(), &before);
    win::HANDLE file = win::CreateFileA(Win("f").c_str(), win::GENERIC_READ | win::GENERIC_WRITE, win::FILE_SHARE_READ,
                                        nullptr, win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, win::INVALID_HANDLE_VALUE);
    int64_t ticks = TicksOf(2001, 9, 9, 1, 46, 40) + 5;
    win::FILETIME time{static_cast<win::DWORD>(ticks), static_cast<win::DWORD>(ticks >> 32)};
    EXPECT_TRUE(win::SetFileTime(file, &time, nullptr, &time));
    win::FILETIME written{};
    EXPECT_TRUE(win::GetFileTime(file, nullptr, nullptr, &written));
    EXPECT_EQ(Ticks(written), ticks);
    EXPECT_TRUE(win::CloseHandle(file));
    EXPECT_FALSE(win::CloseHandle(file));  // already closed
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_HANDLE);

    struct stat after;
    ::stat(Host("f").c_str(), &after);
    EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(after.st_mtim.tv_nsec, 500);
    EXPECT_EQ(after.st_atim.tv_sec, before.st_atim.tv_sec);  // last access left alone
    EXPECT_EQ(ReadFile(Host("f")), "x");

    EXPECT_EQ(win::CreateFileA(Win("none").c_str(), win::GENERIC_READ, 0, nullptr, win::OPEN_EXISTING, 0, nullptr),
              win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
}

}  // namespace
