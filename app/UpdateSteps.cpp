// Placeholder update steps: each succeeds without touching anything, unless a test forces
// its result.
#include "app/UpdateDlg.h"
#include "platform/faults.h"

namespace {
int PlaceholderStep(const char* name)
{
    int result = 0;
    win::faults::ForcedResult(name, &result);
    return result;
}
}  // namespace

int CUpdateDlg::ExtractPackage()
{
    return PlaceholderStep("ExtractPackage");
}

int CUpdateDlg::LocateExtractedFolder()
{
    return PlaceholderStep("LocateExtractedFolder");
}

int CUpdateDlg::ReadManifest()
{
    return PlaceholderStep("ReadManifest");
}

int CUpdateDlg::BackupTargets()
{
    return PlaceholderStep("BackupTargets");
}

int CUpdateDlg::ReplaceFiles()
{
    return PlaceholderStep("ReplaceFiles");
}

int CUpdateDlg::RegisterComponents()
{
    return PlaceholderStep("RegisterComponents");
}
