// DOS date/time and FILETIME conversion; setting times through CreateFileA handles.
#include "platform/filetime.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/errors.h"
#include "platform/faults.h"
#include "platform/handles.h"
#include "platform/host.h"
#include "platform/hostfile.h"
#include "platform/paths.h"

namespace win {
namespace {

constexpr int64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600;

struct OpenFile : detail::HandleObject {
    int fd;
    explicit OpenFile(int descriptor) : fd(descriptor) {}
    ~OpenFile() override { host::Get().close(fd); }
};

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

unsigned DaysInMonth(unsigned year, unsigned month) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

int64_t Ticks(const FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

FILETIME FromTicks(int64_t ticks) {
    uint64_t value = static_cast<uint64_t>(ticks);
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

}  // namespace

namespace detail {

FILETIME FileTimeFromTimespec(const struct timespec& time) {
    return FromTicks((static_cast<int64_t>(time.tv_sec) + kEpochDifference) * kTicksPerSecond + time.tv_nsec / 100);
}

struct timespec TimespecFromFileTime(const FILETIME& time) {
    int64_t ticks = Ticks(time) - kEpochDifference * kTicksPerSecond;
    int64_t seconds = ticks / kTicksPerSecond;
    int64_t rest = ticks % kTicksPerSecond;
    if (rest < 0) {
        rest += kTicksPerSecond;
        --seconds;
    }
    return timespec{static_cast<time_t>(seconds), static_cast<long>(rest * 100)};
}

}  // namespace detail

BOOL DosDateTimeToFileTime(WORD fatDate, WORD fatTime, FILETIME* fileTime) {
    if (faults::Enter("DosDateTimeToFileTime")) return FALSE;
    unsigned day = fatDate & 0x1F, month = (fatDate >> 5) & 0x0F, year = 1980 + (fatDate >> 9);
    unsigned seconds2 = fatTime & 0x1F, minute = (fatTime >> 5) & 0x3F, hour = fatTime >> 11;
    if (month == 0 || month > 12 || day == 0 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
        seconds2 > 29)
        return detail::FailWith(ERROR_INVALID_PARAMETER, FALSE);
    int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + seconds2 * 2;
    *fileTime = FromTicks((seconds + kEpochDifference) * kTicksPerSecond);
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* localTime, FILETIME* utcTime) {
    if (faults::Enter("LocalFileTimeToFileTime")) return FALSE;
    struct timespec wall = detail::TimespecFromFileTime(*localTime);
    struct tm fields;
    if (!::gmtime_r(&wall.tv_sec, &fields)) return detail::FailWith(ERROR_INVALID_PARAMETER, FALSE);
    fields.tm_isdst = -1;  // the zone's rule for that date decides
    errno = 0;
    time_t utc = ::mktime(&fields);
    if (utc == static_cast<time_t>(-1) && errno != 0) return detail::FailWith(ERROR_INVALID_PARAMETER, FALSE);
    *utcTime = detail::FileTimeFromTimespec(timespec{utc, wall.tv_nsec});
    return TRUE;
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, SECURITY_ATTRIBUTES*, DWORD disposition, DWORD, HANDLE) {
    if (faults::Enter("CreateFileA", path)) return INVALID_HANDLE_VALUE;
    std::string hostPath;
    if (DWORD error = ToHostPath(path, &hostPath)) return detail::FailWith(error, INVALID_HANDLE_VALUE);
    const host::Ops& ops = host::Get();
    bool write = access & GENERIC_WRITE;
    int flags = write ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    struct stat info;
    bool exists = ops.stat(hostPath.c_str(), &info) == 0;
    switch (disposition) {
        case CREATE_NEW:
            if (exists) return detail::FailWith(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
        case OPEN_ALWAYS: flags |= O_CREAT; break;
        case TRUNCATE_EXISTING: flags |= O_TRUNC; [[fallthrough]];
        case OPEN_EXISTING:
            if (!exists) return detail::FailWith(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
            break;
        default: return detail::FailWith(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    if (exists && (S_ISDIR(info.st_mode) || ((write || (flags & O_TRUNC)) && detail::IsReadOnly(info))))
        return detail::FailWith(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    int fd = ops.open(hostPath.c_str(), flags, 0666);
    if (fd < 0) return detail::FailWithErrno(INVALID_HANDLE_VALUE);
    return detail::RegisterHandle(std::make_unique<OpenFile>(fd));
}

BOOL SetFileTime(HANDLE file, const FILETIME*, const FILETIME* lastAccess, const FILETIME* lastWrite) {
    if (faults::Enter("SetFileTime")) return FALSE;
    OpenFile* open = detail::LookupHandleAs<OpenFile>(file);
    if (!open) return detail::FailWith(ERROR_INVALID_HANDLE, FALSE);
    struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
    if (lastAccess) times[0] = detail::TimespecFromFileTime(*lastAccess);
    if (lastWrite) times[1] = detail::TimespecFromFileTime(*lastWrite);
    if (host::Get().futimens(open->fd, times) != 0) return detail::FailWithErrno(FALSE);
    return TRUE;
}

BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite) {
    if (faults::Enter("GetFileTime")) return FALSE;
    OpenFile* open = detail::LookupHandleAs<OpenFile>(file);
    if (!open) return detail::FailWith(ERROR_INVALID_HANDLE, FALSE);
    struct stat info;
    if (host::Get().fstat(open->fd, &info) != 0) return detail::FailWithErrno(FALSE);
    if (creation) *creation = detail::FileTimeFromTimespec(info.st_mtim);
    if (lastAccess) *lastAccess = detail::FileTimeFromTimespec(info.st_atim);
    if (lastWrite) *lastWrite = detail::FileTimeFromTimespec(info.st_mtim);
    return TRUE;
}

}  // namespace win
