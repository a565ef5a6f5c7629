// Reading a fuzz input: little-endian fields taken from the front, clipped at the end, so
// every byte string is a valid input. The seed generator writes the same layout.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzzin {

class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

    size_t Left() const { return static_cast<size_t>(end_ - p_); }
    uint8_t U8() { return Left() >= 1 ? *p_++ : 0; }
    uint16_t U16() { uint16_t lo = U8(); return static_cast<uint16_t>(lo | U8() << 8); }
    uint32_t U32() { uint32_t lo = U16(); return lo | uint32_t(U16()) << 16; }
    // Up to n bytes from the front.
    const uint8_t* Take(size_t n, size_t* got) {
        *got = n < Left() ? n : Left();
        const uint8_t* at = p_;
        p_ += *got;
        return at;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// A broken invariant that no sanitizer sees (a leak through the callbacks, a wrong count).
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

} // namespace fuzzin

// Decoder inputs: one byte choosing the decoder's parameters, then frames, each
//   [flags: bit 0 = reset the decoder first] [u16 compressed size] [u16 expected size] [bytes]
// MSZIP's, LZX's and Quantum's targets share it.
