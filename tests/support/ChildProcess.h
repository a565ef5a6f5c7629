// Real processes for tests that cross process boundaries: a started program with its
// output captured in files, optional scripted standard input, and a temporary folder.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A program of the build (build/bin/NAME); KORVANE_BIN_DIR comes with each test program.
#ifdef KORVANE_BIN_DIR
inline std::string BinPath(const char* name)
{
    return std::string(KORVANE_BIN_DIR) + "/" + name;
}
#endif

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

class ChildProcess {
public:
    // args[0] is the program's path; env holds NAME=VALUE entries added to (or replacing
    // in) the test's own; an empty cwd keeps the test's; without pipeInput standard input
    // is /dev/null.
    explicit ChildProcess(const std::vector<std::string>& args,
                          const std::vector<std::string>& env = {}, const std::string& cwd = "",
                          bool pipeInput = false);
    ~ChildProcess();  // ends the process if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Write(const std::string& text);
    void CloseInput();
    std::string Stdout() const;
    std::string Stderr() const;
    // True once standard output or error holds `text`; false after timeoutMs.
    bool WaitForOutput(const std::string& text, int timeoutMs) const;
    // The exit code, 128 + signal when killed, or -1 if still running after timeoutMs.
    int Wait(int timeoutMs);
    void Terminate();
    // Ends the process at once (SIGKILL), as a crash or a power cut would.
    void Kill();

private:
    TempDir m_outputDir;
    pid_t m_pid = -1;
    int m_input = -1;
    int m_status = -1;
};

// Gives this test process (and the programs it starts) a runtime folder of its own, so
// windows and mutexes of tests that run in parallel never meet. Call before using them.
void UsePrivateRuntimeFolder();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content, int mode = 0644);
