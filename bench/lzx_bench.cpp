// LZX decoding throughput in MB/s of output at windows of 2^15 and 2^21, beside MSZIP and
// zlib's inflate on the same data (MSZIP blocks, zlib given the previous block as its
// dictionary), and the LZX encoder's speed and ratio beside the writer's MSZIP encoder.
// Data: text-like, binary records, this program's own machine code, incompressible.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "cab/decoders/lzx.h"
#include "cab/decoders/mszip.h"
#include "tests/cab/decoders/mszip_zlib_blocks.h"
#include "tools/cabwriter/lzx_encoder.h"
#include "tools/cabwriter/mszip_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using cabwriter::EncodedBlock;
constexpr size_t kFolderSize = 4u << 20;
constexpr uint32_t kFrame = 32768;

enum Kind { kText, kBinary, kCode, kRandom, kKinds };

// This program's own file, once (repeating it would only measure long matches).
Bytes MakeCode(size_t size)
{
    std::ifstream in("/proc/self/exe", std::ios::binary);
    Bytes exe{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    exe.resize(std::min(exe.size(), size));
    return exe;
}

const Bytes& Data(Kind kind)
{
    static Bytes data[kKinds];
    Bytes& d = data[kind];
    if (d.empty()) {
        switch (kind) {
        case kText: d = mszip_blocks::MakeText(kFolderSize); break;
        case kBinary: d = mszip_blocks::MakeBinary(kFolderSize); break;
        case kCode: d = MakeCode(kFolderSize); break;
        default: d = mszip_blocks::MakeRandom(kFolderSize);
        }
    }
    return d;
}

const std::vector<Bytes>& MszipBlocks(Kind kind)
{
    static std::vector<Bytes> blocks[kKinds];
    if (blocks[kind].empty())
        blocks[kind] = mszip_blocks::Compress(Data(kind));
    return blocks[kind];
}

const std::vector<EncodedBlock>& LzxBlocks(Kind kind, int windowBits)
{
    static std::vector<EncodedBlock> blocks[kKinds][2];
    auto& b = blocks[kind][windowBits == 21];
    if (b.empty()) {
        const Bytes& d = Data(kind);
        b = cabwriter::MakeLzxEncoder(windowBits, true)->encodeFolder(d.data(), d.size());
    }
    return b;
}

size_t g_allocated = 0;
void* Alloc(uint32_t cb)
{
    g_allocated += cb;
    return std::malloc(cb);
}
void Free(void* p) { std::free(p); }

template <typename Blocks>
void Report(benchmark::State& state, Kind kind, const Blocks& blocks)
{
    size_t compressed = 0;
    for (const auto& b : blocks) {
        if constexpr (std::is_same_v<std::decay_t<decltype(b)>, EncodedBlock>)
            compressed += b.data.size();
        else
            compressed += b.size();
    }
    const size_t size = Data(kind).size();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
    state.counters["ratio"] = double(compressed) / double(size);
}

// Decodes the whole folder into the reader's 32 KB output buffer; `check` compares it.
bool LzxFolder(MDI_HANDLE h, Kind kind, int windowBits, Bytes& input, Bytes& output, bool check)
{
    if (LZXResetDecompression(h) != MDI_ERROR_NO_ERROR)
        return false;
    const Bytes& data = Data(kind);
    size_t at = 0;
    for (const EncodedBlock& block : LzxBlocks(kind, windowBits)) {
        std::memcpy(input.data(), block.data.data(), block.data.size());
        uint32_t size = block.uncompressedSize;
        if (LZXDecompress(h, input.data(), uint32_t(block.data.size()), output.data(), &size) !=
            MDI_ERROR_NO_ERROR)
            return false;
        if (check && std::memcmp(output.data(), data.data() + at, size) != 0)
            return false;
        at += size;
    }
    return at == data.size();
}

void BM_LzxDecode(benchmark::State& state, Kind kind, int windowBits)
{
    LzxBlocks(kind, windowBits);
    uint32_t max = kFrame, window = 1u << windowBits, cbIn = 0;
    MDI_HANDLE h = nullptr;
    g_allocated = 0;
    if (LZXCreateDecompression(&max, &window, Alloc, Free, &cbIn, &h, nullptr, nullptr, nullptr,
                               nullptr, nullptr) != MDI_ERROR_NO_ERROR) {
        state.SkipWithError("create failed");
        return;
    }
    const size_t decoderBytes = g_allocated;
    Bytes input(cbIn), output(kFrame);
    if (!LzxFolder(h, kind, windowBits, input, output, true))
        state.SkipWithError("wrong output");
    for (auto _ : state) {
        benchmark::DoNotOptimize(LzxFolder(h, kind, windowBits, input, output, false));
        benchmark::ClobberMemory();
    }
    LZXDestroyDecompression(h);
    Report(state, kind, LzxBlocks(kind, windowBits));
    state.counters["decoder_KB"] = double(decoderBytes + cbIn + kFrame) / 1024.0;
}

bool MszipFolder(MDI_HANDLE h, Kind kind, Bytes& window)
{
    size_t at = 0;
    for (const Bytes& block : MszipBlocks(kind)) {
        uint32_t size = kFrame;
        if (MDIDecompress(h, const_cast<uint8_t*>(block.data()), uint32_t(block.size()),
                          window.data(), &size) != MDI_ERROR_NO_ERROR)
            return false;
        at += size;
    }
    return at == Data(kind).size();
}

void BM_MszipDecode(benchmark::State& state, Kind kind)
{
    uint32_t max = kFrame, cbIn = 0;
    MDI_HANDLE h = nullptr;
    if (MDICreateDecompression(&max, Alloc, Free, &cbIn, &h) != MDI_ERROR_NO_ERROR) {
        state.SkipWithError("create failed");
        return;
    }
    Bytes window(kFrame);
    if (!MszipFolder(h, kind, window))
        state.SkipWithError("wrong output");
    for (auto _ : state) {
        benchmark::DoNotOptimize(MszipFolder(h, kind, window));
        benchmark::ClobberMemory();
    }
    MDIDestroyDecompression(h);
    Report(state, kind, MszipBlocks(kind));
}

bool ZlibFolder(z_stream& z, Kind kind, Bytes (&out)[2])
{
    size_t at = 0;
    const auto& blocks = MszipBlocks(kind);
    for (size_t i = 0; i < blocks.size(); ++i) {
        Bytes& o = out[i & 1];
        inflateReset(&z);
        if (i > 0)
            inflateSetDictionary(&z, out[(i - 1) & 1].data(), kFrame);
        z.next_in = const_cast<uint8_t*>(blocks[i].data()) + 2;
        z.avail_in = uInt(blocks[i].size() - 2);
        z.next_out = o.data();
        z.avail_out = kFrame;
        if (inflate(&z, Z_FINISH) != Z_STREAM_END)
            return false;
        at += kFrame - z.avail_out;
    }
    return at == Data(kind).size();
}

void BM_ZlibInflate(benchmark::State& state, Kind kind)
{
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) {
        state.SkipWithError("inflateInit2 failed");
        return;
    }
    Bytes out[2] = {Bytes(kFrame), Bytes(kFrame)};
    if (!ZlibFolder(z, kind, out))
        state.SkipWithError("inflate failed");
    for (auto _ : state) {
        benchmark::DoNotOptimize(ZlibFolder(z, kind, out));
        benchmark::ClobberMemory();
    }
    inflateEnd(&z);
    Report(state, kind, MszipBlocks(kind));
}

void BM_LzxEncode(benchmark::State& state, Kind kind, int windowBits)
{
    const Bytes& d = Data(kind);
    std::vector<EncodedBlock> blocks;
    for (auto _ : state)
        blocks = cabwriter::MakeLzxEncoder(windowBits, true)->encodeFolder(d.data(), d.size());
    Report(state, kind, blocks);
}

void BM_MszipEncode(benchmark::State& state, Kind kind)
{
    const Bytes& d = Data(kind);
    std::vector<EncodedBlock> blocks;
    for (auto _ : state)
        blocks = cabwriter::MszipEncoder().encodeFolder(d.data(), d.size());
    Report(state, kind, blocks);
}

#define KORVANE_LZX_DECODE(name, kind)                                                          \
    BENCHMARK_CAPTURE(BM_LzxDecode, name##_w15, kind, 15)->Unit(benchmark::kMillisecond);       \
    BENCHMARK_CAPTURE(BM_LzxDecode, name##_w21, kind, 21)->Unit(benchmark::kMillisecond);       \
    BENCHMARK_CAPTURE(BM_MszipDecode, name, kind)->Unit(benchmark::kMillisecond);               \
    BENCHMARK_CAPTURE(BM_ZlibInflate, name, kind)->Unit(benchmark::kMillisecond);               \
    BENCHMARK_CAPTURE(BM_LzxEncode, name##_w15, kind, 15)->Unit(benchmark::kMillisecond);       \
    BENCHMARK_CAPTURE(BM_LzxEncode, name##_w21, kind, 21)->Unit(benchmark::kMillisecond);       \
    BENCHMARK_CAPTURE(BM_MszipEncode, name, kind)->Unit(benchmark::kMillisecond)

KORVANE_LZX_DECODE(text, kText);
KORVANE_LZX_DECODE(binary, kBinary);
KORVANE_LZX_DECODE(code, kCode);
KORVANE_LZX_DECODE(random, kRandom);

}  // namespace

BENCHMARK_MAIN();
