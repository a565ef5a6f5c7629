// Every host call of a whole update, failed or ending the process in turn: the client's
// files must end up entirely old or entirely new, never a mix and never without a file, and
// the result the client receives must say which. KORVANE_SWEEP=full tries every call;
// otherwise a sample: the first and last calls and an even spread between them.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/UpdateSandbox.h"

namespace {

using State = UpdateSandbox::State;

// Large enough that the package spans several data blocks.
constexpr std::size_t kPayload = 40000;
// Calls tried between the edges when not sweeping fully.
constexpr unsigned long kSpread = 60;
constexpr unsigned long kEdge = 6;

std::vector<unsigned long> Indices(unsigned long calls)
{
    const char* mode = std::getenv("KORVANE_SWEEP");
    const bool full = mode && std::strcmp(mode, "full") == 0;
    // An odd stride, so the sample does not keep meeting the same call of a repeated pattern.
    const unsigned long stride = full ? 1 : (calls / kSpread) | 1;
    std::vector<unsigned long> indices;
    for (unsigned long n = 1; n <= calls; ++n)
        if (n <= kEdge || n + kEdge > calls || n % stride == 0)
            indices.push_back(n);
    return indices;
}

std::string Exit(unsigned long n)
{
    return "any:*:" + std::to_string(n) + ":exit";
}

class FaultSweepTest : public ::testing::Test {
protected:
    FaultSweepTest() : m_box(kPayload, KORVANE_BIN_DIR) {}

    // Host calls of a successful run, found by ending the process at the N-th call: that
    // happens exactly when the run makes at least N calls.
    unsigned long CountCalls()
    {
        const auto reaches = [this](unsigned long n) {
            m_box.Reset();
            const auto window = m_box.OpenWindow();
            return m_box.Start(Exit(n))->Wait(120000) == 128 + SIGKILL;
        };
        unsigned long reached = 0;
        unsigned long missed = 64;
        while (reaches(missed)) {
            reached = missed;
            missed *= 2;
        }
        while (missed - reached > 1) {
            const unsigned long middle = (reached + missed) / 2;
            (reaches(middle) ? reached : missed) = middle;
        }
        return reached;
    }

    // A successful run first: it gives the new state and the number of calls to sweep.
    unsigned long Prepare()
    {
        m_box.Reset();
        const RunOutcome clean = m_box.Run("");
        EXPECT_EQ(clean.exitCode, 0);
        EXPECT_TRUE(clean.reported && clean.wParam == 0) << clean.stderrText;
        EXPECT_TRUE(m_box.Client() == m_box.NewState()) << m_box.Describe(m_box.Client());
        const unsigned long calls = CountCalls();
        EXPECT_GT(calls, 50u);
        return calls;
    }

    // Tries every index of the sweep from a fresh start; `attempt` checks one and names the
    // class of its outcome. Prints the figures and how often each class came up.
    void Sweep(const char* sweep,
               const std::function<std::string(unsigned long n, const std::string& where)>& attempt)
    {
        const unsigned long calls = Prepare();
        const auto start = std::chrono::steady_clock::now();
        const std::vector<unsigned long> indices = Indices(calls);
        std::map<std::string, int> classes;
        for (unsigned long n : indices) {
            m_box.Reset();
            classes[attempt(n, "call " + std::to_string(n) + " of " + std::to_string(calls))]++;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s: %lu host calls, %zu indices run in %.1f s\n", sweep, calls,
                    indices.size(), seconds);
        for (const auto& [name, count] : classes)
            std::printf("  %-40s %d\n", name.c_str(), count);
    }

    UpdateSandbox m_box;
};

TEST_F(FaultSweepTest, EveryFailingCallLeavesOldOrNewAndReportsWhich)
{
    Sweep("fail sweep", [this](unsigned long n, const std::string& where) {
        const RunOutcome run = m_box.Run("any:*:" + std::to_string(n));
        const FolderState files = m_box.Client();
        const State state = m_box.Classify(files);
        const std::string result =
            run.reported ? "wParam " + std::to_string(run.wParam) : "no result";
        SCOPED_TRACE("failing " + where + ": " + result + ", files " + StateName(state) + "\n" +
                     m_box.Describe(files) + run.stderrText);
        EXPECT_GE(run.exitCode, 0);
        EXPECT_LT(run.exitCode, 128) << "the updater crashed";
        if (!run.reported) {
            // Failed before it could report, or in reporting.
            EXPECT_TRUE(state == State::Old || state == State::New);
        } else if (run.wParam == 0) {
            // Only the deletion of a backup may have failed unnoticed.
            EXPECT_TRUE(state == State::New || state == State::NewWithBackups);
        } else if (state == State::New) {
            // The one failure reported after the replace: a component's folder, no message.
            EXPECT_EQ(run.wParam, -1);
            EXPECT_EQ(run.stderrText, "");
        } else {
            // Every old file restored; a failed copy keeps the new files that had no old one.
            EXPECT_TRUE(state == State::Old ||
                        (state == State::OldWithNewFiles && run.wParam == -1));
        }
        // A failed run keeps the package for the next attempt.
        if (state == State::Old || state == State::OldWithNewFiles) {
            EXPECT_TRUE(m_box.PackageRemains());
        }
        return result + ", " + StateName(state);
    });
}

// The process ends abruptly at the N-th call. The next start's recovery alone (its own
// update failed at once) leaves the files entirely old or entirely new; a normal run after
// that leaves them entirely new.
TEST_F(FaultSweepTest, EveryAbruptEndIsRecoveredByTheNextStart)
{
    Sweep("exit sweep", [this](unsigned long n, const std::string& where) {
        {
            const auto window = m_box.OpenWindow();
            EXPECT_EQ(m_box.Start(Exit(n))->Wait(120000), 128 + SIGKILL) << where;
        }
        const FolderState interrupted = m_box.Client();
        const RunOutcome recovery = m_box.Run("step:ExtractPackage:-1");
        const FolderState recovered = m_box.Client();
        const State recoveredState = m_box.Classify(recovered);
        const bool packageLeft = m_box.PackageRemains();
        const RunOutcome again = m_box.Run("");
        const FolderState final = m_box.Client();
        SCOPED_TRACE("process ended at " + where + "\nafter the end:\n" +
                     m_box.Describe(interrupted) + "after the recovery (" +
                     StateName(recoveredState) + "):\n" +
                     m_box.Describe(recovered) + recovery.stderrText + "after a normal run:\n" +
                     m_box.Describe(final) + again.stderrText);
        EXPECT_LT(recovery.exitCode, 128);
        EXPECT_TRUE(recoveredState == State::Old || recoveredState == State::New);
        EXPECT_TRUE(final == m_box.NewState());
        EXPECT_LT(again.exitCode, 128);
        // Without its package (the interrupted run had finished) the run reports -1.
        EXPECT_TRUE(again.reported && again.wParam == (packageLeft ? 0 : -1));
        return std::string("recovered ") + StateName(recoveredState);
    });
}

}  // namespace
