// Critical sections within the process and named mutexes between processes.
#include <thread>

#include "platform/process.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "platform_fixture.h"

namespace {

using kvtest::Child;
using kvtest::Eventually;
using kvtest::ExitCode;
using kvtest::PlatformTest;

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    win::CRITICAL_SECTION section;
    win::InitializeCriticalSection(&section);
    win::EnterCriticalSection(&section);
    win::EnterCriticalSection(&section);
    win::LeaveCriticalSection(&section);
    win::LeaveCriticalSection(&section);

    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                win::EnterCriticalSection(&section);
                long seen = counter;
                counter = seen + 1;
                win::LeaveCriticalSection(&section);
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(counter, 80000);
    win::DeleteCriticalSection(&section);
}

class MutexTest : public PlatformTest {};

TEST_F(MutexTest, ReportsAnotherLiveHolder) {
    {
        Child holder({kvtest::BinPath("holdmutex"), "Korvane.Update"});
        ASSERT_EQ(holder.ReadLine(), "held");
        win::HANDLE mutex = win::CreateMutexA(nullptr, win::TRUE, "Korvane.Update");
        ASSERT_NE(mutex, nullptr);
        EXPECT_EQ(win::GetLastError(), win::ERROR_ALREADY_EXISTS);
        EXPECT_TRUE(win::CloseHandle(mutex));
        mutex = win::CreateMutexA(nullptr, win::TRUE, "Other.Name");
        EXPECT_EQ(win::GetLastError(), win::ERROR_SUCCESS);
        win::CloseHandle(mutex);
    }  // the holder is ended here

    win::HANDLE mutex = win::CreateMutexA(nullptr, win::TRUE, "Korvane.Update");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(win::GetLastError(), win::ERROR_SUCCESS);
    Child second({kvtest::BinPath("holdmutex"), "Korvane.Update"});
    EXPECT_EQ(ExitCode(second.Wait()), 1);
    EXPECT_TRUE(win::CloseHandle(mutex));
    Child third({kvtest::BinPath("holdmutex"), "Korvane.Update"});
    EXPECT_EQ(third.ReadLine(), "held");
}

TEST_F(MutexTest, StartedProgramsDoNotInheritTheLock) {
    WriteFile(Host("bg.sh"), "#!/bin/sh\necho $$ > \"$1\"\nexec sleep 30\n");
    ::chmod(Host("bg.sh").c_str(), 0755);
    win::HANDLE mutex = win::CreateMutexA(nullptr, win::TRUE, "Korvane.Update");
    ASSERT_EQ(win::GetLastError(), win::ERROR_SUCCESS);
    std::string parameters = Host("pid");  // handed to the script verbatim
    ASSERT_GT(reinterpret_cast<intptr_t>(win::ShellExecuteA(nullptr, nullptr, Win("bg.sh").c_str(), parameters.c_str(),
                                                            nullptr, win::SW_HIDE)), 32);
    ASSERT_TRUE(Eventually([&] { return !ReadFile(Host("pid")).empty(); }));
    pid_t background = std::stoi(ReadFile(Host("pid")));
    win::CloseHandle(mutex);

    Child holder({kvtest::BinPath("holdmutex"), "Korvane.Update"});
    EXPECT_EQ(holder.ReadLine(), "held");
    ::kill(background, SIGKILL);
}

}  // namespace
