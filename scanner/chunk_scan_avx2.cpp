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
    [[gnu::always_inline]] static std::uint64_t line_ends(const unsigned char* p)
    {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        return bits_of(lo, hi, _mm256_set1_epi8('\n'));
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
