// Quantum decoding throughput (MB/s of output) with the window in memory and in a spill file,
// beside MSZIP, LZX and zlib's inflate on the same data, each decoded block by block, and the
// ratio of Quantum's MB/s in memory mode to inflate's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cab/decoders/lzx.h"
#include "cab/decoders/mszip.h"
#include "cab/decoders/quantum.h"
#include "tools/cabwriter/methods.h"

namespace {

constexpr int kWindowBits = 21;
constexpr uint32_t kBlockMax = 32768;

// 8 MB resembling a client's files: word-built text with a skewed vocabulary, and binary
// records with small counters, flags and noise.
const std::vector<uint8_t>& Data()
{
    static const std::vector<uint8_t> data = [] {
        std::mt19937 rng(42);
        std::vector<std::string> words;
        for (int i = 0; i < 2000; ++i) {
            std::string w;
            for (int k = 0, n = 2 + rng() % 9; k < n; ++k)
                w += static_cast<char>('a' + rng() % 26);
            words.push_back(w);
        }
        std::vector<uint8_t> d;
        const size_t size = 8u << 20;
        while (d.size() < size) {
            if (rng() % 2) {
                for (int k = 0; k < 400; ++k) {
                    const size_t idx = static_cast<size_t>(std::pow(rng() % 1000 / 1000.0, 3) * words.size());
                    d.insert(d.end(), words[idx].begin(), words[idx].end());
                    d.push_back(rng() % 12 ? ' ' : '\n');
                }
            } else {
                uint32_t counter = rng();
                for (int k = 0; k < 300; ++k) {
                    const uint32_t rec[4] = {counter++, static_cast<uint32_t>(rng() % 16),
                                             static_cast<uint32_t>(0x00400000u + (rng() % 64) * 16),
                                             static_cast<uint32_t>(rng())};
                    const auto* p = reinterpret_cast<const uint8_t*>(rec);
                    d.insert(d.end(), p, p + sizeof rec - (rng() % 2) * 4);
                }
            }
        }
        d.resize(size);
        return d;
    }();
    return data;
}

const std::vector<cabwriter::EncodedBlock>& Blocks(const std::string& method)
{
    static std::vector<std::pair<std::string, std::vector<cabwriter::EncodedBlock>>> cache;
    for (const auto& [name, blocks] : cache)
        if (name == method)
            return blocks;
    auto encoder = cabwriter::MakeEncoder(method);
    cache.emplace_back(method, encoder ? encoder->encodeFolder(Data().data(), Data().size())
                                       : std::vector<cabwriter::EncodedBlock>{});
    return cache.back().second;
}

// Allocation: everything, or everything below a size (the window then goes to the spill
// file), or a limited number of page-sized buffers.
uint32_t g_refuseFrom = UINT32_MAX;
int g_pageBuffers = -1;
void* Alloc(uint32_t cb)
{
    if (cb >= g_refuseFrom)
        return nullptr;
    if (cb > 4096 && cb < 8192 && g_pageBuffers >= 0 && g_pageBuffers-- == 0)
        return nullptr;
    return std::malloc(cb);
}
void Free(void* p) { std::free(p); }

// The spill file: an unlinked temporary file.
intptr_t Open(char*, int, int)
{
    char path[] = "/tmp/korvane-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd >= 0)
        unlink(path);
    return fd;
}
uint32_t Read(intptr_t fd, void* pv, uint32_t cb) { return static_cast<uint32_t>(read(int(fd), pv, cb)); }
uint32_t Write(intptr_t fd, void* pv, uint32_t cb) { return static_cast<uint32_t>(write(int(fd), pv, cb)); }
int Close(intptr_t fd) { return close(int(fd)); }
int32_t Seek(intptr_t fd, int32_t dist, int type) { return static_cast<int32_t>(lseek(int(fd), dist, type)); }

struct Decoder {
    int (*decompress)(MDI_HANDLE, void*, uint32_t, void*, uint32_t*);
    int (*reset)(MDI_HANDLE);
    int (*destroy)(MDI_HANDLE);
};

// One pass over a folder's blocks, from a reset; false when a block fails.
bool DecodePass(const Decoder& d, MDI_HANDLE handle, const std::vector<cabwriter::EncodedBlock>& blocks,
                std::vector<uint8_t>& in, std::vector<uint8_t>& out)
{
    d.reset(handle);
    for (const auto& b : blocks) {
        std::memcpy(in.data(), b.data.data(), b.data.size());
        uint32_t size = b.uncompressedSize;
        if (d.decompress(handle, in.data(), static_cast<uint32_t>(b.data.size()), out.data(), &size) != 0)
            return false;
    }
    benchmark::DoNotOptimize(out.data());
    return true;
}

void Run(benchmark::State& state, const std::string& method, MDI_HANDLE handle, int created, const Decoder& d)
{
    const auto& blocks = Blocks(method);
    if (created != 0 || blocks.empty()) {
        state.SkipWithError("decoder or encoder not available");
        if (created == 0)
            d.destroy(handle);
        return;
    }
    std::vector<uint8_t> out(kBlockMax), in(kBlockMax + 10240);
    for (auto _ : state) {
        if (!DecodePass(d, handle, blocks, in, out)) {
            state.SkipWithError("decoding failed");
            break;
        }
    }
    d.destroy(handle);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Data().size()));
}

void BM_Quantum(benchmark::State& state, uint32_t refuseFrom, int pageBuffers)
{
    g_refuseFrom = refuseFrom;
    g_pageBuffers = pageBuffers;
    uint32_t blockMax = kBlockMax, srcMin = 0;
    const int32_t bits = kWindowBits;
    MDI_HANDLE h = nullptr;
    const int rc = QuantumCreateDecompression(&blockMax, &bits, Alloc, Free, &srcMin, &h, Open, Read, Write, Close, Seek);
    g_refuseFrom = UINT32_MAX;
    g_pageBuffers = -1;
    Run(state, "quantum:" + std::to_string(kWindowBits), h, rc,
        {QuantumDecompress, QuantumResetDecompression, QuantumDestroyDecompression});
}
BENCHMARK_CAPTURE(BM_Quantum, memory, UINT32_MAX, -1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Quantum, spill_all_pages, 1u << kWindowBits, -1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Quantum, spill_64_pages, 1u << kWindowBits, 64)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Quantum, spill_3_pages, 1u << kWindowBits, 3)->Unit(benchmark::kMillisecond);

void BM_Mszip(benchmark::State& state)
{
    uint32_t blockMax = kBlockMax, srcMin = 0;
    MDI_HANDLE h = nullptr;
    const int rc = MDICreateDecompression(&blockMax, Alloc, Free, &srcMin, &h);
    Run(state, "mszip", h, rc, {MDIDecompress, MDIResetDecompression, MDIDestroyDecompression});
}
BENCHMARK(BM_Mszip)->Unit(benchmark::kMillisecond);

void BM_Lzx(benchmark::State& state)
{
    uint32_t blockMax = kBlockMax, srcMin = 0;
    const uint32_t window = 1u << kWindowBits;
    MDI_HANDLE h = nullptr;
    const int rc = LZXCreateDecompression(&blockMax, &window, Alloc, Free, &srcMin, &h, Open, Read, Write, Close, Seek);
    Run(state, "lzx:" + std::to_string(kWindowBits), h, rc,
        {LZXDecompress, LZXResetDecompression, LZXDestroyDecompression});
}
BENCHMARK(BM_Lzx)->Unit(benchmark::kMillisecond);

// The reference: zlib inflating the MSZIP blocks' deflate streams, each with the previous
// block as its dictionary.
bool InflatePass(const std::vector<cabwriter::EncodedBlock>& blocks, std::vector<uint8_t>& out,
                 std::vector<uint8_t>& previous)
{
    size_t previousSize = 0;
    for (const auto& b : blocks) {
        z_stream z{};
        inflateInit2(&z, -15);
        if (previousSize > 0)
            inflateSetDictionary(&z, previous.data(), static_cast<uInt>(previousSize));
        z.next_in = const_cast<Bytef*>(b.data.data() + 2);
        z.avail_in = static_cast<uInt>(b.data.size() - 2);
        z.next_out = out.data();
        z.avail_out = kBlockMax;
        const bool done = inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == b.uncompressedSize;
        inflateEnd(&z);
        if (!done)
            return false;
        out.swap(previous);
        previousSize = b.uncompressedSize;
    }
    benchmark::DoNotOptimize(previous.data());
    return true;
}

void BM_ZlibInflate(benchmark::State& state)
{
    const auto& blocks = Blocks("mszip");
    std::vector<uint8_t> out(kBlockMax), previous(kBlockMax);
    for (auto _ : state) {
        if (!InflatePass(blocks, out, previous)) {
            state.SkipWithError("inflate failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Data().size()));
}
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond);

// Quantum in memory mode against inflate, passes alternating so that both see the same load
// on the machine; the ratio of their MB/s is the figure to watch (target: at least 0.25).
void BM_QuantumToInflate(benchmark::State& state)
{
    const auto& quantumBlocks = Blocks("quantum:" + std::to_string(kWindowBits));
    const auto& deflateBlocks = Blocks("mszip");
    uint32_t blockMax = kBlockMax, srcMin = 0;
    const int32_t bits = kWindowBits;
    MDI_HANDLE h = nullptr;
    if (QuantumCreateDecompression(&blockMax, &bits, Alloc, Free, &srcMin, &h, Open, Read, Write, Close, Seek) != 0) {
        state.SkipWithError("decoder not available");
        return;
    }
    const Decoder quantum{QuantumDecompress, QuantumResetDecompression, QuantumDestroyDecompression};
    std::vector<uint8_t> out(kBlockMax), in(kBlockMax + 10240), previous(kBlockMax);
    double quantumSeconds = 0, inflateSeconds = 0;
    const auto seconds = [] { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; };
    for (auto _ : state) {
        const double start = seconds();
        const bool decoded = DecodePass(quantum, h, quantumBlocks, in, out);
        const double middle = seconds();
        const bool inflated = InflatePass(deflateBlocks, out, previous);
        quantumSeconds += middle - start;
        inflateSeconds += seconds() - middle;
        if (!decoded || !inflated) {
            state.SkipWithError("decoding failed");
            break;
        }
    }
    quantum.destroy(h);
    const double megabytes = static_cast<double>(state.iterations()) * static_cast<double>(Data().size()) / 1e6;
    state.counters["quantum_MBps"] = megabytes / quantumSeconds;
    state.counters["inflate_MBps"] = megabytes / inflateSeconds;
    state.counters["ratio"] = inflateSeconds / quantumSeconds;
}
BENCHMARK(BM_QuantumToInflate)->Unit(benchmark::kMillisecond);

// Compressed size of each method's data, for reading the figures above.
void BM_CompressionRatio(benchmark::State& state)
{
    for (auto _ : state) {
    }
    for (const char* m : {"mszip", "quantum:21", "lzx:21"}) {
        size_t packed = 0;
        for (const auto& b : Blocks(m))
            packed += b.data.size();
        state.counters[m] = packed ? static_cast<double>(Data().size()) / static_cast<double>(packed) : 0;
    }
}
BENCHMARK(BM_CompressionRatio)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
