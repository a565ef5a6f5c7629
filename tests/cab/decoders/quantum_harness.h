// Test harness for the Quantum decoder: allocation callbacks that can refuse the window or
// limit the page buffers, a memory-backed spill file that can fail chosen calls, a decoder
// driven through its four operations, and folder data that exercises every item kind.
#pragma once
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "cab/decoders/quantum.h"
#include "cab/decoders/quantum_state.h"
#include "tools/cabwriter/quantum_encoder.h"

namespace qtest {

struct Env {
    // Allocations of at least this many bytes fail (the window, in spill tests).
    static inline uint32_t refuseFrom = UINT32_MAX;
    // Page buffers allowed through; negative: no limit.
    static inline int pageBuffers = -1;
    static inline int liveBlocks = 0;

    // The spill file: contents, position, and which call (counting from 1) fails.
    static inline std::vector<uint8_t> file;
    static inline size_t filePos = 0;
    static inline bool refuseOpen = false;
    static inline int openCount = 0, closeCount = 0;
    static inline int readCalls = 0, writeCalls = 0, failRead = 0, failWrite = 0;
    static inline char lastName[6] = {};
    static inline int lastFlags = 0, lastMode = 0;

    static void Reset()
    {
        refuseFrom = UINT32_MAX;
        pageBuffers = -1;
        file.clear();
        filePos = 0;
        refuseOpen = false;
        openCount = closeCount = readCalls = writeCalls = failRead = failWrite = 0;
    }

    static void* Alloc(uint32_t cb)
    {
        if (cb >= refuseFrom)
            return nullptr;
        if (cb == sizeof(QuantumPageBuffer) && pageBuffers >= 0 && pageBuffers-- == 0)
            return nullptr;
        ++liveBlocks;
        return std::malloc(cb);
    }
    static void Free(void* p)
    {
        --liveBlocks;
        std::free(p);
    }
    static intptr_t Open(char* name, int flags, int mode)
    {
        std::memcpy(lastName, name, sizeof lastName);
        lastFlags = flags;
        lastMode = mode;
        if (refuseOpen)
            return -1;
        ++openCount;
        return 7;
    }
    static uint32_t Read(intptr_t, void* pv, uint32_t cb)
    {
        if (++readCalls == failRead || filePos + cb > file.size())
            return 0;
        std::memcpy(pv, file.data() + filePos, cb);
        filePos += cb;
        return cb;
    }
    static uint32_t Write(intptr_t, void* pv, uint32_t cb)
    {
        if (++writeCalls == failWrite)
            return 0;
        if (file.size() < filePos + cb)
            file.resize(filePos + cb);
        std::memcpy(file.data() + filePos, pv, cb);
        filePos += cb;
        return cb;
    }
    static int Close(intptr_t)
    {
        ++closeCount;
        return 0;
    }
    static int32_t Seek(intptr_t, int32_t dist, int type)
    {
        if (type != 0)
            return -1;
        filePos = static_cast<size_t>(dist);
        return dist;
    }
};

// One decoder created through the real creation call with the harness's callbacks.
struct Decoder {
    MDI_HANDLE handle = nullptr;
    int created = -1;

    explicit Decoder(int32_t windowBits, uint32_t blockMax = 32768)
    {
        uint32_t srcMin = 0;
        created = QuantumCreateDecompression(&blockMax, &windowBits, Env::Alloc, Env::Free, &srcMin, &handle,
                                             Env::Open, Env::Read, Env::Write, Env::Close, Env::Seek);
    }
    ~Decoder()
    {
        if (handle != nullptr)
            QuantumDestroyDecompression(handle);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    bool spill() const { return g_quantum.window == nullptr; }

    int frame(std::vector<uint8_t> src, uint32_t size, std::vector<uint8_t>& out)
    {
        out.assign(size, 0xEE);
        return QuantumDecompress(handle, src.data(), static_cast<uint32_t>(src.size()), out.data(), &size);
    }

    // Decodes a folder's blocks in order; returns the first failure, else 0.
    int folder(const std::vector<cabwriter::EncodedBlock>& blocks, std::vector<uint8_t>& out)
    {
        out.clear();
        std::vector<uint8_t> piece;
        for (const auto& b : blocks) {
            if (int rc = frame(b.data, b.uncompressedSize, piece))
                return rc;
            out.insert(out.end(), piece.begin(), piece.end());
        }
        return 0;
    }
};

inline std::vector<cabwriter::EncodedBlock> Encode(int windowBits, const std::vector<uint8_t>& data)
{
    return cabwriter::MakeQuantumEncoder(windowBits)->encodeFolder(data.data(), data.size());
}

// Data with text-like repeats at short distances, random stretches (every byte value),
// long runs (overlapping matches of the longest length) and copies from far back.
inline std::vector<uint8_t> MixedData(size_t size, uint32_t farDistance, uint32_t seed = 1)
{
    std::mt19937 rng(seed);
    static const char* const kWords[] = {"alpha ", "beta ", "gamma ", "delta\n", "update ", "client ",
                                         "Korvane ", "folder ", "file=", "\r\n"};
    std::vector<uint8_t> d;
    d.reserve(size);
    while (d.size() < size) {
        switch (rng() % 6) {
        case 0:
        case 1:
            for (int k = 0; k < 20; ++k)
                for (const char* w = kWords[rng() % 10]; *w; ++w)
                    d.push_back(static_cast<uint8_t>(*w));
            break;
        case 2:
            for (int k = 0, n = 50 + rng() % 400; k < n; ++k)
                d.push_back(static_cast<uint8_t>(rng()));
            break;
        case 3:
            d.insert(d.end(), 100 + rng() % 700, static_cast<uint8_t>(rng()));
            break;
        default:
            if (d.size() > farDistance + 600) {
                const size_t from = d.size() - farDistance + rng() % 64;
                for (size_t k = 0, n = 3 + rng() % 300; k < n; ++k)
                    d.push_back(d[from + k]);
            }
            break;
        }
    }
    d.resize(size);
    return d;
}

} // namespace qtest
