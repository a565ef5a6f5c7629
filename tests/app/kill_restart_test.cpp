// The updater killed (SIGKILL) at random moments of an update of a few megabytes, then
// started again: its recovery alone leaves the client's files entirely old or entirely new,
// and a normal run after it leaves them new. The moments come from a seed that the test
// prints; KORVANE_KILL_SEED=N repeats them.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "support/UpdateSandbox.h"

namespace {

using State = UpdateSandbox::State;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kPayload = 1500000;  // about 3 MB of new files in all
constexpr int kKills = 20;

unsigned Seed()
{
    if (const char* seed = std::getenv("KORVANE_KILL_SEED"))
        return unsigned(std::strtoul(seed, nullptr, 10));
    return std::random_device{}();
}

TEST(KillRestartTest, KilledAnywhereTheNextStartLeavesOldOrNew)
{
    UpdateSandbox box(kPayload, KORVANE_BIN_DIR);
    box.Reset();
    Clock::duration length;
    {
        const auto window = box.OpenWindow();
        const auto started = Clock::now();
        ASSERT_EQ(box.Start("")->Wait(120000), 0);
        length = Clock::now() - started;
    }
    ASSERT_TRUE(box.Client() == box.NewState()) << box.Describe(box.Client());

    const unsigned seed = Seed();
    std::printf("kill test: seed %u (KORVANE_KILL_SEED), an uninterrupted run takes %.0f ms\n",
                seed, std::chrono::duration<double, std::milli>(length).count());
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(length).count());
    std::map<std::string, int> classes;
    for (int i = 0; i < kKills; ++i) {
        const std::chrono::microseconds delay(moment(random));
        box.Reset();
        int status;
        {
            const auto window = box.OpenWindow();
            const auto update = box.Start("");
            std::this_thread::sleep_for(delay);
            update->Kill();
            status = update->Wait(0);
        }
        const FolderState killed = box.Client();
        const RunOutcome recovery = box.Run("step:ExtractPackage:-1");
        const FolderState recovered = box.Client();
        const State state = box.Classify(recovered);
        const RunOutcome again = box.Run("");
        const std::string what = status == 128 + SIGKILL ? "killed" : "had finished";
        classes[what + ", then " + StateName(box.Classify(killed)) + ", recovered " +
                StateName(state)]++;

        SCOPED_TRACE("seed " + std::to_string(seed) + ", kill " + std::to_string(i) + " after " +
                     std::to_string(delay.count()) + " us (" + what + ")\nafter the kill:\n" +
                     box.Describe(killed) + "after the recovery (" + StateName(state) + "):\n" +
                     box.Describe(recovered) + recovery.stderrText + "after a normal run:\n" +
                     box.Describe(box.Client()) + again.stderrText);
        EXPECT_TRUE(state == State::Old || state == State::New);
        EXPECT_TRUE(box.Client() == box.NewState());
        EXPECT_LT(again.exitCode, 128);
    }
    for (const auto& [name, count] : classes)
        std::printf("  %-50s %d\n", name.c_str(), count);
}

}  // namespace
