#ifndef QUIB_PREFIX_XOR_CLMUL_H
#define QUIB_PREFIX_XOR_CLMUL_H

// The prefix XOR as one carry-less multiply, for the files compiled with
// PCLMUL; internal to each of them.

#include <immintrin.h>

#include <cstdint>

namespace {

// Multiplying by all ones without carries sums every lower bit into each bit.
inline std::uint64_t prefix_xor_clmul(std::uint64_t x)
{
    const __m128i product =
        _mm_clmulepi64_si128(_mm_set_epi64x(0, static_cast<long long>(x)), _mm_set1_epi8(-1), 0);
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

} // namespace

#endif
