#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

TempDir::TempDir()
{
    char pattern[] = "/tmp/korvane-test-XXXXXX";
    if (!mkdtemp(pattern))
        std::abort();
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

ChildProcess::ChildProcess(const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv, const std::string& cwd,
                           bool pipeInput)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const std::string& extra : extraEnv)
            replaced = replaced || extra.compare(0, name.size(), name) == 0;
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());

    int inputPipe[2] = {-1, -1};
    if (pipeInput && pipe(inputPipe) != 0)
        std::abort();
    const std::string out = m_outputDir / "stdout";
    const std::string err = m_outputDir / "stderr";

    m_pid = fork();
    if (m_pid == 0) {
        const int in = pipeInput ? inputPipe[0] : open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        if (pipeInput)
            close(inputPipe[1]);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv, envp;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const std::string& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (pipeInput) {
        close(inputPipe[0]);
        m_input = inputPipe[1];
    }
}

ChildProcess::~ChildProcess()
{
    CloseInput();
    Terminate();
}

void ChildProcess::Write(const std::string& text)
{
    if (m_input >= 0 && write(m_input, text.data(), text.size()) != ssize_t(text.size()))
        CloseInput();
}

void ChildProcess::CloseInput()
{
    if (m_input >= 0)
        close(m_input);
    m_input = -1;
}

std::string ChildProcess::Stdout() const
{
    return ReadFile(m_outputDir / "stdout");
}

std::string ChildProcess::Stderr() const
{
    return ReadFile(m_outputDir / "stderr");
}

bool ChildProcess::WaitForOutput(const std::string& text, int timeoutMs) const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (Stdout().find(text) != std::string::npos || Stderr().find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

int ChildProcess::Wait(int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_pid > 0) {
        int status = 0;
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            m_pid = -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= end)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return m_status;
}

void ChildProcess::Terminate()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    if (Wait(2000) < 0) {
        kill(m_pid, SIGKILL);
        Wait(2000);
    }
}

void ChildProcess::Kill()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGKILL);
    Wait(5000);
}

void UsePrivateRuntimeFolder()
{
    static TempDir folder;
    setenv("XDG_RUNTIME_DIR", folder.path().c_str(), 1);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content, int mode)
{
    std::ofstream(path, std::ios::binary) << content;
    chmod(path.c_str(), mode_t(mode));
}
