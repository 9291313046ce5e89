// The chunk scanner with SSE2, which every x86-64 processor has.

#include <emmintrin.h>

#include "chunk_scan.h"
#include "html_scan.h"

namespace {

inline std::uint64_t bits_of(__m128i a, __m128i b, __m128i c, __m128i d, __m128i byte)
{
    const auto m16 = [byte](__m128i v) {
        return static_cast<std::uint64_t>(
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, byte))));
    };
    return m16(a) | m16(b) << 16 | m16(c) << 32 | m16(d) << 48;
}

struct sse2_parts : scalar_parts {
    [[gnu::always_inline]] static chunk_masks classify(const unsigned char* p);
    [[gnu::always_inline]] static name_masks name_bytes(const unsigned char* p);
    [[gnu::always_inline]] static std::uint64_t line_ends(const unsigned char* p)
    {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
        return bits_of(a, b, c, d, _mm_set1_epi8('\n'));
    }
};

inline chunk_masks sse2_parts::classify(const unsigned char* p)
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    return {bits_of(a, b, c, d, _mm_set1_epi8('"')), bits_of(a, b, c, d, _mm_set1_epi8('&')),
            bits_of(a, b, c, d, _mm_set1_epi8('<')), bits_of(a, b, c, d, _mm_set1_epi8('>')),
            bits_of(a, b, c, d, _mm_set1_epi8('\\'))};
}

inline name_masks sse2_parts::name_bytes(const unsigned char* p)
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    return {bits_of(a, b, c, d, _mm_set1_epi8(';')) | bits_of(a, b, c, d, _mm_set1_epi8(' ')),
            bits_of(a, b, c, d, _mm_set1_epi8('q'))};
}

// A window of the --html reading: 64 bytes in four registers.
struct sse2_window {
    static constexpr bool READS_TAGS_AT_ONCE = true;
    static constexpr unsigned REGISTERS_PER_MASK = 4;
    __m128i a;
    __m128i b;
    __m128i c;
    __m128i d;
    explicit sse2_window(const unsigned char* p)
        : a(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
          b(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))),
          c(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32))),
          d(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)))
    {
    }
    std::uint64_t equal(unsigned char byte) const
    {
        return bits_of(a, b, c, d, _mm_set1_epi8(static_cast<char>(byte)));
    }
    // A blank is ' ', or a byte from '\t' to '\r' but '\v': one mask for
    // each register instead of one for each blank.
    std::uint64_t blanks() const
    {
        const auto m16 = [](__m128i v) {
            const __m128i from_tab = _mm_sub_epi8(v, _mm_set1_epi8('\t'));
            const __m128i controls =
                _mm_cmpeq_epi8(_mm_min_epu8(from_tab, _mm_set1_epi8('\r' - '\t')), from_tab);
            const __m128i blank = _mm_or_si128(
                _mm_andnot_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\v')), controls),
                _mm_cmpeq_epi8(v, _mm_set1_epi8(' ')));
            return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(blank)));
        };
        return m16(a) | m16(b) << 16 | m16(c) << 32 | m16(d) << 48;
    }
    // ASCII letters: a byte with 0x20 set lies from 'a' to 'z'.
    std::uint64_t letters() const
    {
        const auto m16 = [](__m128i v) {
            const __m128i from_a =
                _mm_sub_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
            return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(
                _mm_cmpeq_epi8(_mm_min_epu8(from_a, _mm_set1_epi8('z' - 'a')), from_a))));
        };
        return m16(a) | m16(b) << 16 | m16(c) << 32 | m16(d) << 48;
    }
};

} // namespace

void scan_html_sse2(scan_state& st)
{
    scan_html_windows<sse2_parts, sse2_window>(st);
}

open_context scan_chunks_sse2(scan_state& st, open_context from)
{
    return scan_chunks<sse2_parts>(st, from);
}
