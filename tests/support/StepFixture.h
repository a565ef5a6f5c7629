// A client folder, a downloaded package's unpack folder and an update dialog for tests of
// the update steps, with helpers to lay out files and manifests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/UpdateDlg.h"
#include "support/ChildProcess.h"
#include "support/RecordingBackend.h"

// One manifest entry; written as section File<n> in list order.
struct ManifestEntry {
    std::string fileName;
    std::string filePath;
    int regFlag = 0;
};

// The text of a manifest listing the entries, with UpdateFileNum set to their count.
std::string ManifestText(const std::vector<ManifestEntry>& entries);

// One file of a package: its name in the cabinet (backslashes), content and attributes.
struct PackageFile {
    std::string name;
    std::string content;
    uint16_t attributes = 0x20;
};

// Writes a cabinet with the files, made by the project's writer.
void WritePackage(const std::string& hostPath, const std::vector<PackageFile>& files);

// The package of an update: the top folder Files with the manifest (named after the package
// file) and one new file per entry, with the content Unpacked gives it.
std::vector<PackageFile> PackageFiles(const std::string& packageName,
                                      const std::vector<ManifestEntry>& entries);

// The Windows form of a host path (code page 936, backslashes).
std::string WinPath(const std::string& hostPath);

// Writes a file, creating its folders; attributes other than 0 are set afterwards.
void PutFile(const std::string& hostPath, const std::string& content, win::DWORD attributes = 0);
win::DWORD Attributes(const std::string& hostPath);

class StepTest : public ::testing::Test {
protected:
    StepTest();
    ~StepTest() override;

    // Lays out an unpacked package holding the manifest and one new file per entry (its
    // content is "new " + FilePath + FileName), and points the dialog at it.
    void Unpacked(const std::vector<ManifestEntry>& entries);
    // Replaces the unpacked package's manifest.
    void WriteManifest(const std::string& text);
    // Makes the dialog's tables as ReadManifest would for this package; expects success.
    void ReadUnpacked(const std::vector<ManifestEntry>& entries);

    std::vector<std::string> BoxTexts();

    TempDir m_tmp;
    std::string m_client;     // host path of the client folder (holds the updater)
    std::string m_target;     // host path of the folder being updated (m_client/Sub)
    std::string m_downTemp;   // host path of the download folder
    std::string m_extracted;  // host path of the unpacked package's top folder
    ScopedRecordingBackend m_ui;
    CUpdateDlg m_dlg;
};
