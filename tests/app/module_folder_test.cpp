// GetModuleFolder keeps its answer for the process, so this program holds one sequence.
#include <gtest/gtest.h>

#include "app/UpdateApp.h"
#include "platform/faults.h"

using namespace win;

namespace {

TEST(ModuleFolderTest, AskedOnceAndAgainOnlyWhileEmpty)
{
    faults::Reset();
    faults::OverrideModuleFileName("Update");  // no backslash: no folder yet
    EXPECT_EQ(GetModuleFolder(), "");
    EXPECT_EQ(GetModuleFolder(), "");
    EXPECT_EQ(faults::Calls("GetModuleFileNameA"), 2u);

    faults::OverrideModuleFileName("C:\\Client\\Update.exe");
    EXPECT_EQ(GetModuleFolder(), "C:\\Client\\");
    faults::OverrideModuleFileName("D:\\Elsewhere\\Update.exe");
    EXPECT_EQ(GetModuleFolder(), "C:\\Client\\");
    EXPECT_EQ(faults::Calls("GetModuleFileNameA"), 3u);
    faults::Reset();
}

}  // namespace
