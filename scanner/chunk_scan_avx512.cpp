// The chunk scanner with AVX-512BW, whose compares give 64-bit masks
// directly; this file alone is compiled for it and is only called on
// processors that have it.

#include <immintrin.h>

#include "chunk_scan.h"
#include "prefix_xor_clmul.h"

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

} // namespace

open_context scan_chunks_avx512(scan_state& st, open_context from)
{
    return scan_chunks<classify_avx512, prefix_xor_clmul>(st, from);
}
