// The third step: reading the update manifest into the file tables.
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>

#include "app/FileHelpers.h"
#include "app/StepMessage.h"
#include "app/UpdateDlg.h"
#include "app/UpdateFiles.h"
#include "cab/target_path.h"
#include "platform/faults.h"
#include "platform/win.h"

using namespace win;

UpdateFileEntry g_SourceFiles[kMaxUpdateFiles];
UpdateFileEntry g_TargetFiles[kMaxUpdateFiles];

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// True when FilePath + FileName names a file below the folder it is appended to: the
// folder part starts with a separator, and the rest neither climbs out ("..", a drive)
// nor ends without a file name.
bool StaysBelow(const char* filePath, const char* fileName) {
    if (!IsSeparator(filePath[0])) return false;
    const std::string relative = std::string(filePath + 1) + fileName;
    return IsSafeName(relative.c_str());
}

// The relative path as the file system compares names: either separator, letters without
// case, and each name without the trailing dots and blanks that Windows drops.
std::string ComparableName(const std::string& relative) {
    std::string key;
    std::size_t nameEnd = 0;  // key length up to the last byte that is not a dot or blank
    for (std::size_t i = 0; i < relative.size(); ++i) {
        char c = relative[i];
        if (IsDBCSLeadByte(static_cast<unsigned char>(c)) && i + 1 < relative.size()) {
            key += c;
            key += relative[++i];
            nameEnd = key.size();
            continue;
        }
        if (IsSeparator(c)) {
            key.resize(nameEnd);
            key += '\\';
            nameEnd = key.size();
            continue;
        }
        key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
        if (c != '.' && c != ' ') nameEnd = key.size();
    }
    key.resize(nameEnd);
    return key;
}

// Far above what the format needs (1024 entries of two values of 259 characters, some
// 600 KB); every query scans the whole text, so a larger manifest, which a small package
// can unpack to, would keep the run busy for hours.
constexpr long kMaxManifestSize = 4L << 20;

bool TooLarge(const char* path) {
    const int fd = _open(path, _O_RDONLY | _O_BINARY);
    if (fd == -1) return false;  // loading reports it
    const long size = _lseek(fd, 0, SEEK_END);
    _close(fd);
    return size > kMaxManifestSize;
}

// Joins the three parts into a 260-byte field; false when they do not fit.
bool Compose(char (&field)[MAX_PATH], const char* folder, const char* path, const char* name) {
    const int length = std::snprintf(field, sizeof field, "%s%s%s", folder, path, name);
    return length >= 0 && length < MAX_PATH;
}

}  // namespace

int CUpdateDlg::ReadManifest() {
    int forced;
    if (faults::ForcedResult("ReadManifest", &forced)) return forced;  // test seam
    if (TooLarge(m_strManifestPath.c_str()) || m_ini.Load(m_strManifestPath.c_str()) != 0) return 1;
    m_ini.GetInt("VerInfo", "UpdateFileNum", &m_nFileCount, -1);
    if (m_nFileCount <= 0 || m_nFileCount > kMaxUpdateFiles) return -1;

    std::unordered_set<std::string> targets;
    for (int i = 1; i <= m_nFileCount; ++i) {
        char section[32];
        std::snprintf(section, sizeof section, "File%d", i);
        UpdateFileEntry& s = g_SourceFiles[i - 1];
        UpdateFileEntry& t = g_TargetFiles[i - 1];
        std::memset(&s, 0, sizeof s);
        m_ini.GetString(section, "FileName", s.FileName, sizeof s.FileName, "");
        m_ini.GetString(section, "FilePath", s.FilePath, sizeof s.FilePath, "");
        m_ini.GetInt(section, "RegFlag", &s.RegFlag, 0);

        // Refuse entries that would address something outside the two folders, name a
        // folder or a device, hold a name Windows refuses or shortens, overflow the path
        // fields or replace a file another entry replaces: backing up and restoring rely
        // on one distinct target file per entry.
        bool valid = StaysBelow(s.FilePath, s.FileName) &&
                     Compose(s.FullPath, m_strExtractedDir.c_str(), s.FilePath, s.FileName);
        t = s;
        valid = valid && Compose(t.FullPath, m_szTargetDir, t.FilePath, t.FileName) &&
                targets.insert(ComparableName(std::string(t.FilePath) + t.FileName)).second;
        if (!valid) {
            const std::string entry = std::string(s.FilePath) + s.FileName;
            ShowStepMessage(IDS_MANIFEST_ENTRY_INVALID, section, entry.c_str());
            return -1;
        }

        if (!PathExists(s.FullPath)) {
            ShowStepMessage(IDS_LISTED_FILE_MISSING, s.FullPath);
            return -1;
        }
        std::snprintf(t.BackupPath, sizeof t.BackupPath, "%s%u", t.FullPath,
                      static_cast<unsigned>(m_tStart));
    }
    return 0;
}
