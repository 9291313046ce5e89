// The chunk scanner with AVX-512BW, whose compares give 64-bit masks
// directly; this file alone is compiled for it and is only called on
// processors that have it.

#include <immintrin.h>

#include "chunk_scan.h"
#include "prefix_xor_clmul.h"

namespace {

struct avx512_parts : scalar_parts {
    static chunk_masks classify(const unsigned char* p)
    {
        const __m512i v = _mm512_loadu_si512(p);
        return {_mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('"')),
                _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('&')),
                _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('<')),
                _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('>')),
                _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\\'))};
    }

    static name_masks name_bytes(const unsigned char* p)
    {
        const __m512i v = _mm512_loadu_si512(p);
        return {_mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(';')) |
                    _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(' ')),
                _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('q'))};
    }

    static std::uint64_t prefix_xor(std::uint64_t x) { return prefix_xor_clmul(x); }

    // Blends with the marks: no loop over the quotes.
    static void copy_with_byte_marks(unsigned char* o, const unsigned char* p,
                                     std::uint64_t opens, std::uint64_t closes,
                                     unsigned char open, unsigned char close)
    {
        __m512i v = _mm512_loadu_si512(p);
        v = _mm512_mask_blend_epi8(opens, v, _mm512_set1_epi8(static_cast<char>(open)));
        v = _mm512_mask_blend_epi8(closes, v, _mm512_set1_epi8(static_cast<char>(close)));
        _mm512_storeu_si512(o, v);
    }
};

} // namespace

open_context scan_chunks_avx512(scan_state& st, open_context from)
{
    return scan_chunks<avx512_parts>(st, from);
}
