// The chunk scanner with AVX2 and a carry-less multiply for the prefix XOR;
// this file alone is compiled for them and is only called on processors that
// have both.

#include <immintrin.h>

#include "chunk_scan.h"
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
    static chunk_masks classify(const unsigned char* p);
    static name_masks name_bytes(const unsigned char* p)
    {
        const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        return {bits_of(lo, hi, _mm256_set1_epi8(';')) | bits_of(lo, hi, _mm256_set1_epi8(' ')),
                bits_of(lo, hi, _mm256_set1_epi8('q'))};
    }
    static std::uint64_t prefix_xor(std::uint64_t x) { return prefix_xor_clmul(x); }
};

chunk_masks avx2_parts::classify(const unsigned char* p)
{
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    return {bits_of(lo, hi, _mm256_set1_epi8('"')), bits_of(lo, hi, _mm256_set1_epi8('&')),
            bits_of(lo, hi, _mm256_set1_epi8('<')), bits_of(lo, hi, _mm256_set1_epi8('>')),
            bits_of(lo, hi, _mm256_set1_epi8('\\'))};
}

} // namespace

open_context scan_chunks_avx2(scan_state& st, open_context from)
{
    return scan_chunks<avx2_parts>(st, from);
}
