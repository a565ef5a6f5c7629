// Fault rules that let every update step succeed at once, for tests of the dialog and the
// run around the steps; a rule added after them overrides one step's result.
#pragma once

inline constexpr const char* kStepsSucceed =
    "step:ExtractPackage:0;step:LocateExtractedFolder:0;step:ReadManifest:0;"
    "step:BackupTargets:0;step:ReplaceFiles:0;step:RegisterComponents:0;";
