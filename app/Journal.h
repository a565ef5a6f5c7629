// The update journal: a small text file beside the package (its path + ".journal") that
// lets the next start of the updater undo or finish a run that ended without reporting
// (the process killed, the power lost), so the client folder is never left half-updated.
//
// A run writes it before the first installed file is moved aside, appends "replaced" once
// every new file is in place and on disk, and removes it when the run has finished. Its
// format is documented in the README.
#pragma once

#include <string>
#include <vector>

#include "app/UpdateFiles.h"

struct JournalEntry {
    std::string target;   // relative to the target folder
    std::string backup;   // relative to the target folder: target + the run's start time
    bool hadOldFile = false;
};

struct Journal {
    std::string targetDir;                // no trailing backslash
    std::vector<std::string> newFolders;  // relative, in the order the run creates them
    std::vector<JournalEntry> entries;
    bool complete = false;  // the "end" line was read: no entry is missing
    bool replaced = false;  // every new file was in place and on disk
    int rejected = 0;       // lines ignored: malformed, or naming a path outside the folder
};

// The package path + ".journal".
std::string JournalPath(const std::string& packagePath);

// Reads a journal. False when it is missing or unreadable, or when its version or folder
// line is not what this program writes: then nothing in it can be trusted.
bool ReadJournal(const std::string& path, Journal* journal);

// Start of an update run: a journal left by an interrupted run of the same package is
// undone (its end not recorded) or finished (recorded), then removed. Shows what went
// wrong; false when the run must not go on (the journal then stays for the next start).
bool RecoverInterruptedUpdate(const std::string& packagePath, const char* targetDir);

// The run's hooks, acting on the journal the run began (none: no effect, success).
// Begin: describes and writes the journal before anything is moved; false (with a
// message) when it cannot be written.
bool BeginUpdateJournal(const std::string& packagePath, const char* targetDir,
                        const UpdateFileEntry* targets, int count);
// Every copy finished: flushes the new files and their folders, then records "replaced".
// False (with a message) when that cannot be made durable.
bool RecordFilesReplaced(const UpdateFileEntry* targets, int count);
// The run has finished: removes the journal, unless an installed file is still under its
// backup name without "replaced" recorded; the next start then puts it back.
void EndUpdateJournal(const UpdateFileEntry* targets, int count);
