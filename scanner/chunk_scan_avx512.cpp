// The chunk scanner with AVX-512BW, whose compares give 64-bit masks
// directly; this file alone is compiled for it and is only called on
// processors that have it.

#include <immintrin.h>

#include "chunk_scan.h"
#include "html_scan.h"
#include "prefix_xor_clmul.h"

namespace {

struct avx512_parts : scalar_parts {
    [[gnu::always_inline]] static chunk_masks classify(const unsigned char* p)
    {
        const __m512i v = _mm512_loadu_si512(p);
        return {_mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('"')),
                _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('&')),
                _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('<')),
                _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('>')),
                _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\\'))};
    }

    [[gnu::always_inline]] static name_masks name_bytes(const unsigned char* p)
    {
        const __m512i v = _mm512_loadu_si512(p);
        return {_mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(';')) |
                    _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(' ')),
                _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('q'))};
    }

    static std::uint64_t prefix_xor(std::uint64_t x) { return prefix_xor_clmul(x); }
    static constexpr bool CHEAP_PREFIX_XOR = true;
    static constexpr bool UNTESTED_DENSE_ENTITIES = true;

    [[gnu::always_inline]] static std::uint64_t line_ends(const unsigned char* p)
    {
        return _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p), _mm512_set1_epi8('\n'));
    }

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

// The blanks by their low four bits, once for each 16-byte lane.
alignas(64) constexpr unsigned char BLANK_TABLE[64] = {
    ' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', '\n', 0, '\f', '\r', 0, 0,
    ' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', '\n', 0, '\f', '\r', 0, 0,
    ' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', '\n', 0, '\f', '\r', 0, 0,
    ' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', '\n', 0, '\f', '\r', 0, 0};

// A window of the --html reading: 64 bytes in one register.
struct avx512_window {
    static constexpr bool READS_TAGS_AT_ONCE = true;
    static constexpr unsigned REGISTERS_PER_MASK = 1;
    __m512i v;
    explicit avx512_window(const unsigned char* p) : v(_mm512_loadu_si512(p)) {}
    std::uint64_t equal(unsigned char c) const
    {
        return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(static_cast<char>(c)));
    }
    // Each blank is the one byte whose low four bits pick it from the
    // table; bytes from 0x80 pick zero.
    std::uint64_t blanks() const
    {
        return _mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(_mm512_load_si512(BLANK_TABLE), v), v);
    }
    // ASCII letters: a byte with 0x20 set lies from 'a' to 'z'.
    std::uint64_t letters() const
    {
        const __m512i from_a =
            _mm512_sub_epi8(_mm512_or_si512(v, _mm512_set1_epi8(0x20)), _mm512_set1_epi8('a'));
        return _mm512_cmple_epu8_mask(from_a, _mm512_set1_epi8('z' - 'a'));
    }
};

} // namespace

void scan_html_avx512(scan_state& st)
{
    scan_html_windows<avx512_parts, avx512_window>(st);
}

open_context scan_chunks_avx512(scan_state& st, open_context from)
{
    return scan_chunks<avx512_parts>(st, from);
}
