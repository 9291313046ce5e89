// The chunk scanner with AVX2 and a carry-less multiply for the prefix XOR;
// this file alone is compiled for them and is only called on processors that
// have both.

#include <immintrin.h>

#include "chunk_scan.h"
#include "html_scan.h"
#include "prefix_xor_clmul.h"

namespace {

inline std::uint64_t bits_of(__m256i lo, __m256i hi, __m256i byte)
{
    const auto m32 = [byte](__m256i v) {
        return static_cast<std::uint64_t>(
            static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, byte))));
    };
    return m32(lo) | m32(hi) << 32;
}

struct avx2_parts : scalar_parts {
    [[gnu::always_inline]] static chunk_masks classify(const unsigned char* p);
    [[gnu::always_inline]] static name_masks name_bytes(const unsigned char* p)
    {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        return {bits_of(lo, hi, _mm256_set1_epi8(';')) | bits_of(lo, hi, _mm256_set1_epi8(' ')),
                bits_of(lo, hi, _mm256_set1_epi8('q'))};
    }
    static std::uint64_t prefix_xor(std::uint64_t x) { return prefix_xor_clmul(x); }
    static constexpr bool CHEAP_PREFIX_XOR = true;
    static constexpr bool UNTESTED_DENSE_ENTITIES = true;
    [[gnu::always_inline]] static std::uint64_t line_ends(const unsigned char* p)
    {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        return bits_of(lo, hi, _mm256_set1_epi8('\n'));
    }
    // The chunk with its quotes replaced by one-byte marks, without a
    // branch for each quote: the masks spread to bytes select the marks.
    [[gnu::always_inline]] static void copy_with_byte_marks(unsigned char* o,
                                                            const unsigned char* p,
                                                            std::uint64_t opens,
                                                            std::uint64_t closes,
                                                            unsigned char open,
                                                            unsigned char close)
    {
        const __m256i open_v = _mm256_set1_epi8(static_cast<char>(open));
        const __m256i close_v = _mm256_set1_epi8(static_cast<char>(close));
        const std::uint64_t quotes = opens | closes;
        const auto half = [&](unsigned at) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at));
            const __m256i marks = _mm256_blendv_epi8(close_v, open_v, byte_mask(opens >> at));
            const __m256i out = _mm256_blendv_epi8(v, marks, byte_mask(quotes >> at));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + at), out);
        };
        half(0);
        half(32);
    }
    // Each of the low 32 bits of m spread to all of its byte.
    [[gnu::always_inline]] static __m256i byte_mask(std::uint64_t m)
    {
        const __m256i spread = _mm256_shuffle_epi8(
            _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(m))),
            _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2,
                             3, 3, 3, 3, 3, 3, 3, 3));
        const __m256i bit = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201u));
        return _mm256_cmpeq_epi8(_mm256_and_si256(spread, bit), bit);
    }
};

inline chunk_masks avx2_parts::classify(const unsigned char* p)
{
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    return {bits_of(lo, hi, _mm256_set1_epi8('"')), bits_of(lo, hi, _mm256_set1_epi8('&')),
            bits_of(lo, hi, _mm256_set1_epi8('<')), bits_of(lo, hi, _mm256_set1_epi8('>')),
            bits_of(lo, hi, _mm256_set1_epi8('\\'))};
}

// A window of the --html reading: 64 bytes in two registers.
struct avx2_window {
    static constexpr bool READS_TAGS_AT_ONCE = true;
    static constexpr unsigned REGISTERS_PER_MASK = 2;
    __m256i lo;
    __m256i hi;
    explicit avx2_window(const unsigned char* p)
        : lo(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))),
          hi(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)))
    {
    }
    std::uint64_t equal(unsigned char c) const
    {
        return bits_of(lo, hi, _mm256_set1_epi8(static_cast<char>(c)));
    }
    // Each blank is the one byte whose low four bits pick it from the
    // table; bytes from 0x80 pick zero.
    std::uint64_t blanks() const
    {
        const __m256i table = _mm256_setr_epi8(' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', '\n', 0, '\f', '\r', 0, 0,
                                               ' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', '\n', 0, '\f', '\r', 0, 0);
        const auto m32 = [&table](__m256i v) {
            return static_cast<std::uint64_t>(static_cast<unsigned>(
                _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, v), v))));
        };
        return m32(lo) | m32(hi) << 32;
    }
    // ASCII letters: a byte with 0x20 set lies from 'a' to 'z'.
    std::uint64_t letters() const
    {
        const auto m32 = [](__m256i v) {
            const __m256i from_a =
                _mm256_sub_epi8(_mm256_or_si256(v, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a'));
            return static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(
                _mm256_cmpeq_epi8(_mm256_min_epu8(from_a, _mm256_set1_epi8('z' - 'a')), from_a))));
        };
        return m32(lo) | m32(hi) << 32;
    }
};

} // namespace

void scan_html_avx2(scan_state& st)
{
    scan_html_windows<avx2_parts, avx2_window>(st);
}

open_context scan_chunks_avx2(scan_state& st, open_context from)
{
    return scan_chunks<avx2_parts>(st, from);
}
