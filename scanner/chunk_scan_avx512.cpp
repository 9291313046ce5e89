// The chunk scanner with AVX-512BW, whose compares give 64-bit masks
// directly; this file alone is compiled for it and is only called on
// processors that have it.

#include <immintrin.h>

#include "chunk_scan.h"

namespace {

chunk_masks classify_avx512(const unsigned char* p)
{
    const __m512i v = _mm512_loadu_si512(p);
    return {_mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('"')),
            _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('&')),
            _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('<')),
            _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('>')),
            _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\\'))};
}

inline std::uint64_t prefix_xor_clmul(std::uint64_t x)
{
    const __m128i product =
        _mm_clmulepi64_si128(_mm_set_epi64x(0, static_cast<long long>(x)), _mm_set1_epi8(-1), 0);
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

} // namespace

open_context scan_chunks_avx512(scan_state& st, open_context from)
{
    return scan_chunks<classify_avx512, prefix_xor_clmul>(st, from);
}
