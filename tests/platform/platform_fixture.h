// A private scratch folder and runtime folder per test, clean fault state, and helpers to
// run the project's programs as real processes.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/faults.h"
#include "platform/host.h"
#include "platform/paths.h"

namespace kvtest {

inline std::string BinPath(const std::string& name) { return std::string(KORVANE_BIN_DIR) + "/" + name; }

// A started program with its standard output on a pipe.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        std::vector<char*> args;
        std::vector<std::string> copy = argv;
        for (std::string& a : copy) args.push_back(a.data());
        args.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            for (const std::string& assignment : env) ::putenv(::strdup(assignment.c_str()));
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        if (out_ >= 0) ::close(out_);
    }
    // Reads one line of the program's output (without the newline); empty at its end.
    std::string ReadLine() {
        std::string line;
        char c;
        while (::read(out_, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }
    std::string ReadAll() {
        std::string text;
        char buffer[4096];
        for (ssize_t got; (got = ::read(out_, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
        return text;
    }
    // The wait status.
    int Wait() {
        int status = 0;
        if (pid_ > 0) ::waitpid(pid_, &status, 0);
        pid_ = -1;
        status_ = status;
        return status;
    }
    void Kill() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        Wait();
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = 0;
};

inline int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// Polls until `done` holds or about five seconds have passed.
template <class Condition>
bool Eventually(Condition done) {
    for (int i = 0; i < 500; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kvplat-XXXXXX";
        root_ = ::mkdtemp(pattern);
        std::filesystem::create_directory(root_ + "/run");
        ::setenv("XDG_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
        ::unsetenv("KORVANE_FAULTS");
        oldCwd_ = std::filesystem::current_path();
        win::faults::Reset();
    }
    void TearDown() override {
        win::host::Install(nullptr);
        win::faults::Reset();
        std::filesystem::current_path(oldCwd_);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    // Host path and Windows path of a name below the scratch folder.
    std::string Host(const std::string& relative = "") const { return relative.empty() ? root_ : root_ + "/" + relative; }
    std::string Win(const std::string& relative = "") const { return win::FromHostPath(Host(relative)); }

    static void WriteFile(const std::string& hostPath, const std::string& content) {
        std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
        std::ofstream(hostPath, std::ios::binary) << content;
    }
    static std::string ReadFile(const std::string& hostPath) {
        std::ifstream in(hostPath, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static bool Exists(const std::string& hostPath) {
        struct stat info;
        return ::lstat(hostPath.c_str(), &info) == 0;
    }
    static mode_t Mode(const std::string& hostPath) {
        struct stat info;
        return ::stat(hostPath.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
    }

    std::string root_;
    std::filesystem::path oldCwd_;
};

}  // namespace kvtest
