// Fault rules, call counters and call records shared by every platform operation.
#include "platform/faults.h"

#include <fnmatch.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>

#include "platform/system.h"

namespace win::faults {
namespace {

struct Rule {
    std::string operation;
    std::string glob;
    unsigned long nth = 0;  // 0: every matching call
    bool exit = false;
    bool shortWrite = false;
    unsigned long matched = 0;
};

struct State {
    std::mutex mutex;
    bool loaded = false;
    std::vector<Rule> rules;
    std::map<std::string, int> forced;
    std::map<std::string, unsigned long> calls;
    unsigned long total = 0;
    std::vector<StartedProgram> started;
    std::vector<SentMessage> messages;
    std::optional<std::string> commandLine;
    std::optional<std::string> moduleFileName;
};

State& TheState() {
    static State state;
    return state;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool ParseNumber(const std::string& text, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

bool Parse(const char* text, std::vector<Rule>* rules, std::map<std::string, int>* forced) {
    for (const std::string& raw : Split(text ? text : "", ';')) {
        std::string item = Trim(raw);
        if (item.empty()) continue;
        std::vector<std::string> fields = Split(item, ':');
        long number = 0;
        if (fields[0] == "step") {
            if (fields.size() != 3 || fields[1].empty() || !ParseNumber(fields[2], &number)) return false;
            (*forced)[fields[1]] = static_cast<int>(number);
            continue;
        }
        if (fields.size() < 3 || fields[0].empty()) return false;
        Rule rule;
        rule.operation = fields[0];
        if (fields.back() == "exit" || fields.back() == "fail" || fields.back() == "short") {
            rule.exit = fields.back() == "exit";
            rule.shortWrite = fields.back() == "short";
            fields.pop_back();
            if (fields.size() < 3) return false;
        }
        if (fields.back() != "*") {
            if (!ParseNumber(fields.back(), &number) || number < 0) return false;
            rule.nth = static_cast<unsigned long>(number);
        }
        // The glob is everything between the name and the count, colons included.
        for (size_t i = 1; i + 1 < fields.size(); ++i) rule.glob += (i > 1 ? ":" : "") + fields[i];
        rules->push_back(rule);
    }
    return true;
}

// Callers hold the state's mutex.
void LoadEnvironment(State& state) {
    if (state.loaded) return;
    state.loaded = true;
    const char* text = std::getenv("KORVANE_FAULTS");
    if (text && !Parse(text, &state.rules, &state.forced)) {
        state.rules.clear();
        state.forced.clear();
    }
}

bool Matches(const Rule& rule, const char* operation, const char* path, const char* path2) {
    if (rule.operation != "any" && rule.operation != operation) return false;
    if (rule.glob == "*") return true;
    for (const char* candidate : {path, path2})
        if (candidate && ::fnmatch(rule.glob.c_str(), candidate, FNM_NOESCAPE | FNM_CASEFOLD) == 0)
            return true;
    return false;
}

}  // namespace

bool AddRules(const char* text) {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    LoadEnvironment(state);
    std::vector<Rule> rules;
    std::map<std::string, int> forced;
    if (!Parse(text, &rules, &forced)) return false;
    state.rules.insert(state.rules.end(), rules.begin(), rules.end());
    for (const auto& [name, value] : forced) state.forced[name] = value;
    return true;
}

void Reset() {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    state.loaded = false;
    state.rules.clear();
    state.forced.clear();
    state.calls.clear();
    state.total = 0;
    state.started.clear();
    state.messages.clear();
    state.commandLine.reset();
    state.moduleFileName.reset();
}

unsigned long Calls(const char* operation) {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    if (std::string(operation) == "any") return state.total;
    auto found = state.calls.find(operation);
    return found == state.calls.end() ? 0 : found->second;
}

std::vector<StartedProgram> StartedPrograms() {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    return state.started;
}

std::vector<SentMessage> SentMessages() {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    return state.messages;
}

bool ForcedResult(const char* name, int* result) {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    LoadEnvironment(state);
    auto found = state.forced.find(name);
    if (found == state.forced.end()) return false;
    *result = found->second;
    return true;
}

void OverrideCommandLine(const char* commandLine) {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    if (commandLine) state.commandLine = commandLine;
    else state.commandLine.reset();
}

void OverrideModuleFileName(const char* path) {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    if (path) state.moduleFileName = path;
    else state.moduleFileName.reset();
}

const char* CommandLineOverride() {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    return state.commandLine ? state.commandLine->c_str() : nullptr;
}

const char* ModuleFileNameOverride() {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    return state.moduleFileName ? state.moduleFileName->c_str() : nullptr;
}

Outcome Check(const char* operation, const char* path, const char* path2) {
    State& state = TheState();
    std::unique_lock lock(state.mutex);
    LoadEnvironment(state);
    ++state.calls[operation];
    ++state.total;
    for (Rule& rule : state.rules) {
        if (!Matches(rule, operation, path, path2)) continue;
        ++rule.matched;
        if (rule.nth != 0 && rule.matched != rule.nth) continue;
        if (rule.exit) ::kill(::getpid(), SIGKILL);  // abrupt: no clean-up of any kind
        lock.unlock();
        errno = rule.shortWrite ? ENOSPC : EACCES;
        SetLastError(rule.shortWrite ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED);
        return rule.shortWrite ? Outcome::Short : Outcome::Fail;
    }
    return Outcome::Proceed;
}

bool Enter(const char* operation, const char* path, const char* path2) {
    return Check(operation, path, path2) != Outcome::Proceed;
}

void RecordStart(const StartedProgram& program) {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    state.started.push_back(program);
}

void RecordMessage(const SentMessage& message) {
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    state.messages.push_back(message);
}

}  // namespace win::faults
