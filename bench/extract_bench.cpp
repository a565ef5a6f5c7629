// Whole extractions through CCabinet (the updater's path) beside copying the same bytes with
// a 32 KB read/write loop, in MB/s of output; and the peak memory of `cabtool extract` on a
// small and a large cabinet.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cab/cabinet.h"
#include "tools/cabwriter/writer.h"

namespace fs = std::filesystem;

namespace {

constexpr char kLaunch[] = "--launch-cabtool-extract";
constexpr int kFiles = 8;
constexpr size_t kFileSize = 4 << 20;  // 32 MB in all

// Text-like bytes: words from a small vocabulary, compressible about as program data is.
std::vector<uint8_t> Content(size_t n, uint32_t seed)
{
    static const char* words[] = {"update", "client", "folder", "0x7f3a", "module", "\n",
                                  "cabinet", "version", "=", "1.2.3", "data", " "};
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    v.reserve(n);
    while (v.size() < n) {
        const char* w = (rng() % 8 == 0) ? nullptr : words[rng() % 12];
        if (w)
            v.insert(v.end(), w, w + std::strlen(w));
        else
            v.push_back(uint8_t(rng()));
    }
    v.resize(n);
    return v;
}

struct Fixture {
    fs::path root;
    Fixture()
    {
        char tmpl[] = "/tmp/extract_bench.XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root / "src");
        cabwriter::Writer stored({.method = "none", .name = "stored.cab"});
        cabwriter::Writer mszip({.method = "mszip", .name = "mszip.cab"});
        for (int i = 0; i < kFiles; ++i) {
            const std::vector<uint8_t> data = Content(kFileSize, uint32_t(i));
            const std::string name = "f" + std::to_string(i) + ".bin";
            stored.addFile(name, data);
            mszip.addFile(name, data);
            const int fd = ::open((root / "src" / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (::write(fd, data.data(), data.size()) != ssize_t(data.size()))
                std::abort();
            ::close(fd);
        }
        cabwriter::WriteCabinets(stored.finish(), root.string());
        cabwriter::WriteCabinets(mszip.finish(), root.string());
    }
    ~Fixture() { fs::remove_all(root); }
};

Fixture& Files()
{
    static Fixture fixture;
    return fixture;
}

double g_copyBytesPerSecond = 0;

void CopyOnce(const fs::path& from, const fs::path& to)
{
    fs::create_directories(to);
    std::vector<char> buffer(32768);
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        const int in = ::open((from / name).c_str(), O_RDONLY);
        const int out = ::open((to / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (ssize_t n; (n = ::read(in, buffer.data(), buffer.size())) > 0;)
            if (::write(out, buffer.data(), size_t(n)) != n)
                std::abort();
        ::close(in);
        ::close(out);
    }
}

void BM_Copy32K(benchmark::State& state)
{
    Fixture& f = Files();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        CopyOnce(f.root / "src", f.root / "copy");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetBytesProcessed(int64_t(state.iterations()) * kFiles * int64_t(kFileSize));
    g_copyBytesPerSecond = double(state.iterations()) * kFiles * double(kFileSize) / seconds;
}

void Extract(benchmark::State& state, const char* cabinet)
{
    Fixture& f = Files();
    const std::string cab = (f.root / cabinet).string();
    const std::string out = (f.root / "out").string();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        CCabinet c;
        if (!c.Extract(cab.c_str(), out.c_str()))
            state.SkipWithError("extraction failed");
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetBytesProcessed(int64_t(state.iterations()) * kFiles * int64_t(kFileSize));
    if (g_copyBytesPerSecond > 0)
        state.counters["vs_copy"] =
            double(state.iterations()) * kFiles * double(kFileSize) / seconds / g_copyBytesPerSecond;
}

void BM_ExtractStored(benchmark::State& state) { Extract(state, "stored.cab"); }
void BM_ExtractMszip(benchmark::State& state) { Extract(state, "mszip.cab"); }

// Peak resident memory of `cabtool extract` on a stored cabinet of range(0) MB.
void BM_CabtoolExtractPeakMemory(benchmark::State& state)
{
    Fixture& f = Files();
    const fs::path cab = f.root / ("peak" + std::to_string(state.range(0)) + ".cab");
    {
        cabwriter::Writer w({.method = "mszip", .name = cab.filename().string()});
        for (int64_t mb = 0; mb < state.range(0); mb += 4)
            w.addFile("p" + std::to_string(mb), Content(4 << 20, uint32_t(mb)));
        cabwriter::WriteCabinets(w.finish(), f.root.string());
    }
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    long peakKb = 0;
    for (auto _ : state) {
        // A child forked from this process starts with this process's pages counted, so a
        // freshly executed launcher starts cabtool and reports its peak.
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            std::abort();
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(pipeFds[1], 1);
            execl(self.c_str(), self.c_str(), kLaunch, (f.root / "peak-out").c_str(), cab.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        char text[32] = {};
        const ssize_t n = read(pipeFds[0], text, sizeof text - 1);
        close(pipeFds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        peakKb = n > 0 ? std::atol(text) : -1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || peakKb <= 0)
            state.SkipWithError("cabtool extract failed");
    }
    fs::remove(cab);
    state.counters["peak_rss_kb"] = double(peakKb);
    state.counters["cabinet_mb"] = double(state.range(0));
}

} // namespace

BENCHMARK(BM_Copy32K)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_ExtractStored)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_ExtractMszip)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_CabtoolExtractPeakMemory)->Arg(8)->Arg(64)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// With kLaunch DIR CABINET: runs `cabtool extract -d DIR CABINET` and prints its peak
// resident memory in KB.
int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], kLaunch) == 0) {
        const std::string tool = (fs::path(argv[0]).parent_path() / "cabtool").string();
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            dup2(null, 1);
            execl(tool.c_str(), "cabtool", "extract", "-d", argv[2], argv[3], static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        struct rusage usage {};
        wait4(pid, &status, 0, &usage);
        std::printf("%ld\n", usage.ru_maxrss);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
