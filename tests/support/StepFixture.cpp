#include "support/StepFixture.h"

#include <filesystem>

#include "app/UpdateApp.h"
#include "tools/cabwriter/writer.h"
#include "app/UpdateFiles.h"
#include "platform/faults.h"
#include "platform/ui/Resources.h"
#include "platform/win.h"
#include "res/Resources.h"

std::string ManifestText(const std::vector<ManifestEntry>& entries)
{
    std::string text = "[VerInfo]\r\nUpdateFileNum=" + std::to_string(entries.size()) + "\r\n";
    for (size_t i = 0; i < entries.size(); ++i) {
        text += "[File" + std::to_string(i + 1) + "]\r\nFileName=" + entries[i].fileName +
                "\r\nFilePath=" + entries[i].filePath +
                "\r\nRegFlag=" + std::to_string(entries[i].regFlag) + "\r\n";
    }
    return text;
}

void WritePackage(const std::string& hostPath, const std::vector<PackageFile>& files)
{
    const std::filesystem::path path(hostPath);
    cabwriter::Settings settings;
    settings.method = "mszip";
    settings.name = path.filename().string();
    cabwriter::Writer writer(settings);
    for (const PackageFile& file : files) {
        cabwriter::FileInfo info;
        info.attribs = file.attributes;
        writer.addFile(file.name, std::vector<uint8_t>(file.content.begin(), file.content.end()),
                       info);
    }
    std::filesystem::create_directories(path.parent_path());
    cabwriter::WriteCabinets(writer.finish(), path.parent_path().string());
}

std::vector<PackageFile> PackageFiles(const std::string& packageName,
                                      const std::vector<ManifestEntry>& entries)
{
    const std::string manifest = packageName.substr(0, packageName.rfind('.')) + ".update";
    std::vector<PackageFile> files{{"Files\\" + manifest, ManifestText(entries)}};
    for (const ManifestEntry& e : entries)
        files.push_back({"Files" + e.filePath + e.fileName, "new " + e.filePath + e.fileName});
    return files;
}

std::string WinPath(const std::string& hostPath)
{
    return win::FromHostPath(hostPath);
}

void PutFile(const std::string& hostPath, const std::string& content, win::DWORD attributes)
{
    std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
    WriteFile(hostPath, content);
    if (attributes != 0) {
        ASSERT_TRUE(win::SetFileAttributesA(WinPath(hostPath).c_str(), attributes));
    }
}

win::DWORD Attributes(const std::string& hostPath)
{
    return win::GetFileAttributesA(WinPath(hostPath).c_str());
}

StepTest::StepTest()
    : m_client(m_tmp / "Client"),
      m_target(m_client + "/Sub"),
      m_downTemp(m_client + "/DownTemp"),
      m_extracted(m_downTemp + "/Patch_7.cab.Folder/Files")
{
    win::faults::Reset();
    win::ui::AfxSetResourceModule(&res::UpdaterResources());
    std::filesystem::create_directories(m_target);
    std::filesystem::create_directories(m_downTemp);
    g_nWaitWnd = 3;
    g_strAppName = "Game";
    g_strPackagePath = WinPath(m_downTemp + "/Patch_7.cab");
    g_strTargetDir = WinPath(m_target) + "\\";
    g_strUnpackDir = g_strPackagePath + ".Folder";
    std::snprintf(m_dlg.m_szTargetDir, sizeof m_dlg.m_szTargetDir, "%s", WinPath(m_target).c_str());
    std::snprintf(m_dlg.m_szSystemDir, sizeof m_dlg.m_szSystemDir, "%s",
                  WinPath(m_tmp / "System").c_str());
    std::snprintf(m_dlg.m_szManifestName, sizeof m_dlg.m_szManifestName, "Patch_7.update");
}

StepTest::~StepTest()
{
    win::faults::Reset();
}

void StepTest::Unpacked(const std::vector<ManifestEntry>& entries)
{
    WriteManifest(ManifestText(entries));
    for (const ManifestEntry& e : entries) {
        std::string relative = e.filePath + e.fileName;
        for (char& c : relative)
            if (c == '\\')
                c = '/';
        if (!relative.empty() && relative.back() != '/')
            PutFile(m_extracted + relative, "new " + e.filePath + e.fileName);
    }
    m_dlg.m_strExtractedDir = WinPath(m_extracted);
    m_dlg.m_strManifestPath = m_dlg.m_strExtractedDir + "\\Patch_7.update";
}

void StepTest::WriteManifest(const std::string& text)
{
    PutFile(m_extracted + "/Patch_7.update", text);
}

void StepTest::ReadUnpacked(const std::vector<ManifestEntry>& entries)
{
    Unpacked(entries);
    ASSERT_EQ(m_dlg.ReadManifest(), 0);
    ASSERT_TRUE(m_ui->boxes.empty());
}

std::vector<std::string> StepTest::BoxTexts()
{
    std::vector<std::string> texts;
    for (const auto& box : m_ui->boxes)
        texts.push_back(box.text);
    return texts;
}
