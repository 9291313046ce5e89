#ifndef QUIB_CHUNK_MASKS_H
#define QUIB_CHUNK_MASKS_H

// Bit masks of the special bytes in a 64-byte chunk (bit i for byte i), and
// the portable way to compute them. The vector versions live in their own
// source files, compiled for their instruction sets; everything here is
// internal to each file that includes it, so no code compiled for a wider
// instruction set can stand in for the baseline code at link time.

#include <cstdint>

namespace {

struct chunk_masks {
    std::uint64_t quote;      // '"'
    std::uint64_t amp;        // '&'
    std::uint64_t open;       // '<'
    std::uint64_t close;      // '>'
    std::uint64_t backslash;  // '\'
};

inline chunk_masks classify_scalar(const unsigned char* p)
{
    chunk_masks m{};
    for (unsigned i = 0; i < 64; ++i) {
        std::uint64_t bit = std::uint64_t{1} << i;
        switch (p[i]) {
        case '"': m.quote |= bit; break;
        case '&': m.amp |= bit; break;
        case '<': m.open |= bit; break;
        case '>': m.close |= bit; break;
        case '\\': m.backslash |= bit; break;
        default: break;
        }
    }
    return m;
}

// Bit i of the result is the XOR of bits 0..i of x.
inline std::uint64_t prefix_xor(std::uint64_t x)
{
    x ^= x << 1;
    x ^= x << 2;
    x ^= x << 4;
    x ^= x << 8;
    x ^= x << 16;
    x ^= x << 32;
    return x;
}

} // namespace

#endif
