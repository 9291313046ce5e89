#ifndef QUIB_CHUNK_MASKS_H
#define QUIB_CHUNK_MASKS_H

// Bit masks of the special bytes in a 64-byte chunk (bit i for byte i), and
// the portable way to compute them. The vector versions live in their own
// source files, compiled for their instruction sets; everything here is
// internal to each file that includes it, so no code compiled for a wider
// instruction set can stand in for the baseline code at link time.

#include <bit>
#include <cstdint>
#include <cstring>

namespace {

struct chunk_masks {
    std::uint64_t quote;      // '"'
    std::uint64_t amp;        // '&'
    std::uint64_t open;       // '<'
    std::uint64_t close;      // '>'
    std::uint64_t backslash;  // '\'
};

// The set bits of x. Where the target has no popcount instruction (the
// baseline x86-64 that the SSE2 and portable files are built for),
// __builtin_popcountll is a library call: there the bits are summed in
// the register, pairs, nibbles, then bytes.
inline unsigned count_ones(std::uint64_t x)
{
#if defined(__POPCNT__) || !(defined(__x86_64__) || defined(__i386__))
    return static_cast<unsigned>(__builtin_popcountll(x));
#else
    x -= (x >> 1) & 0x5555555555555555u;
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<unsigned>((x * 0x0101010101010101u) >> 56);
#endif
}

// Bit 7 of each byte of x set where that byte is zero, exactly (no borrow
// crosses from one byte into the next).
inline std::uint64_t zero_bytes(std::uint64_t x)
{
    constexpr std::uint64_t LOW7 = 0x7F7F7F7F7F7F7F7Fu;
    return ~(((x & LOW7) + LOW7) | x | LOW7);
}

// The high bits of the eight bytes as eight adjacent bits, byte 0 lowest.
inline std::uint64_t gather_high_bits(std::uint64_t x)
{
    return ((x >> 7) & 0x0101010101010101u) * 0x0102040810204080u >> 56;
}

// Calls each(w, shift) for the eight 64-bit words of a chunk, byte 0 of the
// chunk lowest in the first, shift the word's first bit in the chunk's masks.
template <class Each>
inline void for_each_word(const unsigned char* p, Each each)
{
    for (unsigned word = 0; word < 8; ++word) {
        std::uint64_t w;
        std::memcpy(&w, p + 8 * word, 8);
        if constexpr (std::endian::native == std::endian::big) {
            w = __builtin_bswap64(w);
        }
        each(w, 8 * word);
    }
}

// The bytes of w equal to c as adjacent bits.
inline std::uint64_t bytes_equal(std::uint64_t w, unsigned char c)
{
    constexpr std::uint64_t ONES = 0x0101010101010101u;
    return gather_high_bits(zero_bytes(w ^ ONES * c));
}

// Eight bytes at a time in ordinary registers, for processors without a
// vector path here.
inline chunk_masks classify_scalar(const unsigned char* p)
{
    chunk_masks m{};
    for_each_word(p, [&m](std::uint64_t w, unsigned shift) {
        m.quote |= bytes_equal(w, '"') << shift;
        m.amp |= bytes_equal(w, '&') << shift;
        m.open |= bytes_equal(w, '<') << shift;
        m.close |= bytes_equal(w, '>') << shift;
        m.backslash |= bytes_equal(w, '\\') << shift;
    });
    return m;
}

// What the chunk loop looks for in entity names: the bytes that end a name
// (';' and space) and the letter q (every quote entity has one).
struct name_masks {
    std::uint64_t ends;
    std::uint64_t q;
};

// The same, eight bytes at a time.
inline name_masks name_masks_scalar(const unsigned char* p)
{
    name_masks m{};
    for_each_word(p, [&m](std::uint64_t w, unsigned shift) {
        m.ends |= (bytes_equal(w, ';') | bytes_equal(w, ' ')) << shift;
        m.q |= bytes_equal(w, 'q') << shift;
    });
    return m;
}

// Bit i of the result is the XOR of bits 0..i of x.
inline std::uint64_t prefix_xor_shifts(std::uint64_t x)
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
