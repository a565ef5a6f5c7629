#include "app/Journal.h"

#include <set>
#include <string_view>

#include "app/FileHelpers.h"
#include "app/StepMessage.h"
#include "cab/target_path.h"
#include "platform/win.h"
#include "res/resource.h"

using namespace win;

namespace {

constexpr std::string_view kVersionLine = "KorvaneUpdateJournal 1";
// Far above the largest journal a manifest of 1024 entries gives; a bigger file is not one
// of ours and is not read into memory.
constexpr long kMaxJournalSize = 4 << 20;

// The journal of the run in progress: where it is, what it says.
std::string g_strJournalPath;
Journal g_journal;

std::string Join(const std::string& folder, const std::string& relative) {
    return folder + "\\" + relative;
}

// A relative path that stays below the folder: no drive, no leading separator, no part
// made of dots and blanks, nothing that would break the line format.
bool IsInside(const std::string& relative) {
    for (unsigned char c : relative)
        if (c < 0x20) return false;
    return IsSafeName(relative.c_str());
}

// Backups are named after their target followed by the decimal digits of the run's start.
bool IsBackupOf(const std::string& target, const std::string& backup) {
    if (backup.size() <= target.size() || backup.size() > target.size() + 10 ||
        backup.compare(0, target.size(), target) != 0)
        return false;
    for (size_t i = target.size(); i < backup.size(); ++i)
        if (backup[i] < '0' || backup[i] > '9') return false;
    return true;
}

std::vector<std::string> Fields(std::string_view line) {
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
        const size_t tab = line.find('\t', start);
        fields.emplace_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) return fields;
        start = tab + 1;
    }
}

// One line after the folder line; false when it is not well formed.
bool ParseLine(std::string_view line, Journal* journal) {
    const std::vector<std::string> f = Fields(line);
    if (journal->complete) {
        if (f.size() != 1 || f[0] != "replaced") return false;
        journal->replaced = true;
        return true;
    }
    if (f.size() == 1 && f[0] == "end") {
        journal->complete = true;
        return true;
    }
    if (f.size() == 2 && f[0] == "folder" && IsInside(f[1])) {
        journal->newFolders.push_back(f[1]);
        return true;
    }
    if (f.size() == 4 && f[0] == "file" && (f[1] == "0" || f[1] == "1") && IsInside(f[2]) &&
        IsBackupOf(f[2], f[3])) {
        journal->entries.push_back({f[2], f[3], f[1] == "1"});
        return true;
    }
    return false;
}

std::string Format(const Journal& journal) {
    std::string text = std::string(kVersionLine) + "\ntarget\t" + journal.targetDir + "\n";
    for (const std::string& folder : journal.newFolders) text += "folder\t" + folder + "\n";
    for (const JournalEntry& e : journal.entries)
        text += "file\t" + std::string(e.hadOldFile ? "1" : "0") + "\t" + e.target + "\t" +
                e.backup + "\n";
    text += "end\n";
    if (journal.replaced) text += "replaced\n";
    return text;
}

bool ReadWhole(const std::string& path, std::string* text) {
    const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    if (fd < 0) return false;
    char buffer[8192];
    bool ok = true;
    for (;;) {
        const int got = _read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        text->append(buffer, got);
        if (static_cast<long>(text->size()) > kMaxJournalSize) {
            ok = false;
            break;
        }
    }
    _close(fd);
    return ok;
}

// The folder part of a path, without its separator.
std::string FolderOf(const std::string& path) {
    std::string folder, name;
    SplitCabinetPath(path.c_str(), &folder, &name);
    if (!folder.empty()) folder.pop_back();
    return folder;
}

// Flushes each existing folder's entries; false when one cannot be flushed.
bool FlushFolders(const std::set<std::string>& folders) {
    for (const std::string& folder : folders)
        if (PathExists(folder) && !FlushPathBuffers(folder.c_str())) return false;
    return true;
}

// The folders whose entries a run of the journal changes: each target's folder and every
// folder between it and the target folder, which covers the folders the run created.
std::set<std::string> TouchedFolders(const Journal& journal) {
    std::set<std::string> folders{journal.targetDir};
    for (const JournalEntry& e : journal.entries) {
        std::string folder = FolderOf(Join(journal.targetDir, e.target));
        while (folder.size() > journal.targetDir.size() && folders.insert(folder).second)
            folder = FolderOf(folder);
    }
    return folders;
}

enum class Written { Nothing, Renamed, Durable };

// Temporary file, flushed; renamed over the journal in one step; then the folder flushed.
// From the rename on, every later reader sees the new journal.
Written WriteAtomically(const std::string& path, const Journal& journal) {
    const std::string text = Format(journal);
    const std::string temporary = path + ".tmp";
    if (PathExists(temporary)) {
        ClearReadOnly(temporary);
        _unlink(temporary.c_str());
    }
    const int fd = _open(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                         _S_IREAD | _S_IWRITE);
    if (fd < 0) return Written::Nothing;
    bool ok = true;
    for (size_t done = 0; ok && done < text.size();) {
        const int put = _write(fd, text.data() + done, static_cast<unsigned>(text.size() - done));
        if (put <= 0) ok = false;
        else done += put;
    }
    ok = ok && _commit(fd) == 0;
    ok = _close(fd) == 0 && ok;
    if (!ok || !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        _unlink(temporary.c_str());
        return Written::Nothing;
    }
    return FlushPathBuffers(FolderOf(path).c_str()) ? Written::Durable : Written::Renamed;
}

// Removes the journal and flushes its folder, so that the removal is not undone by a loss
// of power after later changes.
bool RemoveJournal(const std::string& path) {
    ClearReadOnly(path);
    if (_unlink(path.c_str()) != 0) return false;
    FlushPathBuffers(FolderOf(path).c_str());
    return true;
}

// Deletes a file the run created, read-only or not.
bool DeleteCreated(const std::string& path) {
    ClearReadOnly(path);
    return _unlink(path.c_str()) == 0;
}

// Puts every old file that is still aside back over its target, removes the new files of
// targets that had none, then the folders the run created, if they are empty. Entries with
// an old file but no backup already hold the old file.
bool RollBack(const Journal& journal) {
    bool ok = true;
    for (const JournalEntry& e : journal.entries) {
        const std::string target = Join(journal.targetDir, e.target);
        if (e.hadOldFile) {
            const std::string backup = Join(journal.targetDir, e.backup);
            if (!PathExists(backup)) continue;
            if (PathExists(target) && !DeleteCreated(target)) ok = false;
            else if (!MoveFileA(backup.c_str(), target.c_str())) ok = false;
        } else if (PathExists(target) && !DeleteCreated(target)) {
            ok = false;
        }
    }
    for (auto folder = journal.newFolders.rbegin(); folder != journal.newFolders.rend(); ++folder)
        RemoveDirectoryA(Join(journal.targetDir, *folder).c_str());  // kept when not empty
    return ok;
}

// Every new file is in place: only the backups that remain are deleted.
void Complete(const Journal& journal) {
    for (const JournalEntry& e : journal.entries) {
        const std::string backup = Join(journal.targetDir, e.backup);
        if (e.hadOldFile && PathExists(backup)) DeleteCreated(backup);
    }
}

// The journal of a run, described by the update tables: every target below targetDir,
// its backup name, whether it exists now, and the folders its copy will create. False
// (nothing recorded) when a target lies outside the folder.
bool DescribeRun(const char* targetDir, const UpdateFileEntry* targets, int count, Journal* journal) {
    *journal = Journal{};
    journal->targetDir = targetDir;
    const std::string prefix = journal->targetDir + "\\";
    for (int i = 0; i < count; ++i) {
        const std::string full = targets[i].FullPath;
        const std::string backup = targets[i].BackupPath;
        if (!full.starts_with(prefix) || !backup.starts_with(prefix)) return false;
        JournalEntry entry{full.substr(prefix.size()), backup.substr(prefix.size()), PathExists(full)};
        if (!IsInside(entry.target) || !IsBackupOf(entry.target, entry.backup)) return false;
        // The folders EnsureParentFolder will create, parents first.
        for (size_t at = entry.target.find('\\'); at != std::string::npos;
             at = entry.target.find('\\', at + 1)) {
            const std::string folder = entry.target.substr(0, at);
            if (PathExists(Join(journal->targetDir, folder))) continue;
            bool listed = false;
            for (const std::string& known : journal->newFolders) listed |= known == folder;
            if (!listed) journal->newFolders.push_back(folder);
        }
        journal->entries.push_back(std::move(entry));
    }
    journal->complete = true;
    return true;
}

}  // namespace

std::string JournalPath(const std::string& packagePath) {
    return packagePath + ".journal";
}

bool ReadJournal(const std::string& path, Journal* journal) {
    *journal = Journal{};
    std::string text;
    if (!ReadWhole(path, &text)) return false;
    size_t lineNumber = 0;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string_view line(text.data() + start, end - start);
        switch (lineNumber++) {
        case 0:
            if (line != kVersionLine) return false;
            break;
        case 1:
            if (!line.starts_with("target\t") || line.size() == 7) return false;
            journal->targetDir = line.substr(7);
            break;
        default:
            if (!ParseLine(line, journal)) ++journal->rejected;
        }
    }
    if (lineNumber < 2) return false;
    if (start < text.size()) ++journal->rejected;  // a last line cut short
    return true;
}

bool RecoverInterruptedUpdate(const std::string& packagePath, const char* targetDir) {
    if (packagePath.empty()) return true;
    const std::string path = JournalPath(packagePath);
    if (!PathExists(path)) return true;

    Journal journal;
    if (!ReadJournal(path, &journal) || journal.targetDir != targetDir) {
        ShowStepMessage(IDS_JOURNAL_UNUSABLE, path.c_str());
        return false;
    }
    bool ok = true;
    if (journal.replaced) Complete(journal);
    else ok = RollBack(journal) && FlushFolders(TouchedFolders(journal));
    if (!ok || !RemoveJournal(path)) {
        ShowStepMessage(IDS_RESTORE_FAILED);
        return false;
    }
    if (!journal.complete || journal.rejected > 0) ShowStepMessage(IDS_JOURNAL_DAMAGED, path.c_str());
    return true;
}

bool BeginUpdateJournal(const std::string& packagePath, const char* targetDir,
                        const UpdateFileEntry* targets, int count) {
    g_strJournalPath = JournalPath(packagePath);
    if (DescribeRun(targetDir, targets, count, &g_journal) &&
        WriteAtomically(g_strJournalPath, g_journal) == Written::Durable)
        return true;
    ShowStepMessage(IDS_JOURNAL_WRITE_FAILED, g_strJournalPath.c_str());
    if (PathExists(g_strJournalPath)) RemoveJournal(g_strJournalPath);  // nothing moved yet
    g_strJournalPath.clear();
    return false;
}

bool RecordFilesReplaced(const UpdateFileEntry* targets, int count) {
    if (g_strJournalPath.empty()) return true;
    bool flushed = true;
    for (int i = 0; i < count && flushed; ++i) flushed = FlushPathBuffers(targets[i].FullPath) != FALSE;
    flushed = flushed && FlushFolders(TouchedFolders(g_journal));
    if (flushed) {
        g_journal.replaced = true;
        // Once renamed into place the marker holds for every later start; a failing
        // folder flush after that cannot be undone and is not a reason to go back.
        if (WriteAtomically(g_strJournalPath, g_journal) != Written::Nothing) return true;
        g_journal.replaced = false;
    }
    ShowStepMessage(IDS_JOURNAL_WRITE_FAILED, g_strJournalPath.c_str());
    return false;
}

void EndUpdateJournal(const UpdateFileEntry* targets, int count) {
    if (g_strJournalPath.empty()) return;
    const std::string path = g_strJournalPath;
    g_strJournalPath.clear();
    if (!g_journal.replaced) {
        // An old file still aside: the next start puts it back.
        for (int i = 0; i < count; ++i)
            if (PathExists(targets[i].BackupPath)) return;
        // The restores must be on disk before the journal that would redo them goes.
        if (!FlushFolders(TouchedFolders(g_journal))) return;
    }
    RemoveJournal(path);
}
