// MSZIP decoding throughput in MB/s of output, beside zlib's inflate on the same deflate data:
// a folder of 32 KB blocks decoded block by block in memory, zlib given the previous block as
// its dictionary, on text-like, binary-like and incompressible data.
#include "cab/decoders/mszip.h"
#include "tests/cab/decoders/mszip_zlib_blocks.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kFolderSize = 4u << 20;
constexpr uint32_t kWindow = 32768;

enum Kind { kText, kBinary, kRandom };

struct Folder {
    Bytes data;
    std::vector<Bytes> blocks;
};

const Folder& GetFolder(Kind kind)
{
    static Folder folders[3];
    Folder& f = folders[kind];
    if (f.data.empty()) {
        f.data = kind == kText     ? mszip_blocks::MakeText(kFolderSize)
                 : kind == kBinary ? mszip_blocks::MakeBinary(kFolderSize)
                                   : mszip_blocks::MakeRandom(kFolderSize);
        f.blocks = mszip_blocks::Compress(f.data);
    }
    return f;
}

void* Alloc(uint32_t cb)
{
    return std::malloc(cb);
}
void Free(void* p)
{
    std::free(p);
}

void Report(benchmark::State& state, const Folder& f)
{
    size_t compressed = 0;
    for (const Bytes& b : f.blocks) compressed += b.size();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.data.size()));
    state.counters["ratio"] = double(compressed) / double(f.data.size());
}

// Decodes the whole folder; `check` compares every block with the original bytes.
bool MszipFolder(MDI_HANDLE h, const Folder& f, Bytes& window, bool check)
{
    if (MDIResetDecompression(h) != MDI_ERROR_NO_ERROR) return false;
    size_t at = 0;
    for (const Bytes& block : f.blocks) {
        uint32_t size = kWindow;
        if (MDIDecompress(h, const_cast<uint8_t*>(block.data()), uint32_t(block.size()), window.data(),
                          &size) != MDI_ERROR_NO_ERROR)
            return false;
        if (check && std::memcmp(window.data(), f.data.data() + at, size) != 0) return false;
        at += size;
    }
    return at == f.data.size();
}

bool ZlibFolder(z_stream& z, const Folder& f, Bytes (&out)[2], bool check)
{
    size_t at = 0;
    for (size_t i = 0; i < f.blocks.size(); ++i) {
        const Bytes& block = f.blocks[i];
        Bytes& o = out[i & 1];
        inflateReset(&z);
        if (i > 0) inflateSetDictionary(&z, out[(i - 1) & 1].data(), kWindow);
        z.next_in = const_cast<uint8_t*>(block.data()) + 2;
        z.avail_in = uInt(block.size() - 2);
        z.next_out = o.data();
        z.avail_out = kWindow;
        if (inflate(&z, Z_FINISH) != Z_STREAM_END) return false;
        const size_t size = kWindow - z.avail_out;
        if (check && std::memcmp(o.data(), f.data.data() + at, size) != 0) return false;
        at += size;
    }
    return at == f.data.size();
}

void BM_Mszip(benchmark::State& state, Kind kind)
{
    const Folder& f = GetFolder(kind);
    uint32_t max = kWindow, cbIn = 0;
    MDI_HANDLE h = nullptr;
    if (MDICreateDecompression(&max, Alloc, Free, &cbIn, &h) != MDI_ERROR_NO_ERROR) {
        state.SkipWithError("create failed");
        return;
    }
    Bytes window(kWindow);
    if (!MszipFolder(h, f, window, true)) state.SkipWithError("wrong output");
    for (auto _ : state) {
        benchmark::DoNotOptimize(MszipFolder(h, f, window, false));
        benchmark::ClobberMemory();
    }
    MDIDestroyDecompression(h);
    Report(state, f);
}

void BM_ZlibInflate(benchmark::State& state, Kind kind)
{
    const Folder& f = GetFolder(kind);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) {
        state.SkipWithError("inflateInit2 failed");
        return;
    }
    Bytes out[2] = {Bytes(kWindow), Bytes(kWindow)};
    if (!ZlibFolder(z, f, out, true)) state.SkipWithError("wrong output");
    for (auto _ : state) {
        benchmark::DoNotOptimize(ZlibFolder(z, f, out, false));
        benchmark::ClobberMemory();
    }
    inflateEnd(&z);
    Report(state, f);
}

BENCHMARK_CAPTURE(BM_Mszip, text, kText)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ZlibInflate, text, kText)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Mszip, binary, kBinary)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ZlibInflate, binary, kBinary)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Mszip, random, kRandom)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ZlibInflate, random, kRandom)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
