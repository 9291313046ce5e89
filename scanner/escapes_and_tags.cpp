// Backslash escapes and markup: both keep characters away from the quote
// conversion.

#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "check.h"
#include "scanner.h"

void take_escape(scan_state& st)
{
    int c = read_char(st);
    switch (c) {
    case '"':
    case '<':
    case '>':
    case '\\':
        write_char(st, c);
        if (st.check != nullptr) {
            check_dropped_backslash(*st.check);
        }
        break;
    case END_OF_INPUT:
        return; // a trailing backslash is dropped
    default:
        write_char(st, '\\');
        write_char(st, c);
        break;
    }
    st.last_char = static_cast<unsigned char>(c);
}

namespace {

constexpr auto TAG_STOPS = byte_set("<>\\");

} // namespace

// Nested tags are counted, not recursed into: each '<' inside a tag opens one
// more level and each unescaped '>' closes one, so no input can exhaust the
// stack.
void copy_tag(scan_state& st)
{
    write_char(st, '<');
    if (st.check != nullptr) {
        note_tag_start(st);
    }
    finish_tag(st);
}

namespace {

// Where the first '<', '>' or '\\' of b[i, len) is, or len. Sixteen bytes
// at a time where every x86-64 processor can: a script's text that a '<'
// has taken for a tag may run for kilobytes.
std::size_t next_tag_stop(const unsigned char* b, std::size_t i, std::size_t len)
{
#if defined(__SSE2__)
    constexpr std::size_t STEP = 16;
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i gt = _mm_set1_epi8('>');
    const __m128i backslash = _mm_set1_epi8('\\');
    for (; len - i >= STEP; i += STEP) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i marks = _mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, gt));
        const __m128i stops = _mm_or_si128(marks, _mm_cmpeq_epi8(v, backslash));
        if (const int m = _mm_movemask_epi8(stops); m != 0) {
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(m)));
        }
    }
#endif
    for (; i < len; ++i) {
        if (TAG_STOPS.member[b[i]]) {
            return i;
        }
    }
    return len;
}

#if defined(__SSE2__)
constexpr std::size_t TAG_SPAN = 64;

// The '<' and '>' of a span, counted, and whether it holds a backslash.
struct tag_span_counts {
    std::size_t open;  // '<'
    std::size_t close; // '>'
    bool backslash;
};

// The counts of the 64 bytes at b, in vectors: a popcount would be a
// library call in code for every x86-64 processor.
tag_span_counts tag_counts_of(const unsigned char* b)
{
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i gt = _mm_set1_epi8('>');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i zero = _mm_setzero_si128();
    // Per lane, the '<' (and '>') at that place in the four 16-byte parts.
    __m128i opens = zero;
    __m128i closes = zero;
    __m128i backslashes = zero;
    for (unsigned k = 0; k < TAG_SPAN / 16; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * k));
        // A match is all ones: subtracting it counts one.
        opens = _mm_sub_epi8(opens, _mm_cmpeq_epi8(v, lt));
        closes = _mm_sub_epi8(closes, _mm_cmpeq_epi8(v, gt));
        backslashes = _mm_or_si128(backslashes, _mm_cmpeq_epi8(v, backslash));
    }
    // Sums of each eight lanes, in the two halves.
    const auto total = [zero](__m128i lanes) {
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        return static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
               static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
    };
    return {total(opens), total(closes), _mm_movemask_epi8(backslashes) != 0};
}

// Goes over whole spans of 64 bytes from i inside a tag nested depth deep:
// each '<' one level more, each '>' one less. Stops at the span where the
// tag ends or a backslash comes, with i at that span and depth as before
// it, or where fewer than 64 bytes are left. A script's text that a '<'
// has taken for a tag can nest thousands deep and run to the input's end,
// so a span is mostly passed by its counts alone.
void pass_tag_spans(const unsigned char* b, std::size_t& i, std::size_t len,
                    std::size_t& depth, bool& saw_end)
{
    for (; len - i >= TAG_SPAN; i += TAG_SPAN) {
        const tag_span_counts n = tag_counts_of(b + i);
        if (n.backslash || n.close >= depth) {
            return;
        }
        depth += n.open - n.close;
        saw_end = saw_end || n.close != 0;
    }
}
#endif

// Inside a tag: the bytes up to the next backslash (or the block's end, or
// the tag's end) in one loop, nested levels counted as they come, copied at
// once, and told to --check at once. Returns true where the tag has ended.
bool copy_tag_run(scan_state& st, std::size_t& depth_of_tag)
{
    const unsigned char* b = st.in.block;
    const std::size_t start = st.in.pos;
    std::size_t i = start;
    bool ended = false;
    bool saw_end = false;
    std::size_t depth = depth_of_tag; // in a register, not stored at every '<'
    const std::size_t len = st.in.len;
    bool stopped = false; // at the tag's end or a backslash
    while (!stopped && i < len) {
        // Spans that cannot end the tag at once; then the next span, or the
        // rest, a stop at a time.
#if defined(__SSE2__)
        if (st.scan_chunks != nullptr) { // not on the byte path, the one to equal
            pass_tag_spans(b, i, len, depth, saw_end);
        }
        const std::size_t until = len - i > TAG_SPAN ? i + TAG_SPAN : len;
#else
        const std::size_t until = len;
#endif
        for (; i < until; ++i) {
            const unsigned char c = b[i];
            if (c == '<') {
                ++depth;
            } else if (c == '>') {
                saw_end = true;
                if (--depth == 0) {
                    ++i;
                    ended = true;
                    stopped = true;
                    break;
                }
            } else if (c == '\\') {
                stopped = true;
                break;
            } else {
                i = next_tag_stop(b, i, until) - 1; // over the bytes before the next
            }
        }
    }
    depth_of_tag = depth;
    for (std::size_t at = start; at < i;) {
        if (st.out.len == st.out.cap) {
            flush_output(st);
        }
        const std::size_t n = i - at < st.out.cap - st.out.len ? i - at : st.out.cap - st.out.len;
        std::memcpy(st.out.block + st.out.len, b + at, n);
        st.out.len += n;
        at += n;
    }
    st.in.pos = i;
    if (saw_end) {
        st.last_char = '>';
    }
    if (st.check != nullptr) {
        note_tag_run(st, b + start, b + i, ended);
    }
    return ended;
}

} // namespace

void finish_tag(scan_state& st)
{
    std::size_t depth = 1;
    for (;;) {
        // With --check the byte path stays a byte at a time: what the
        // others are proved against.
        if (st.pushed_char == NO_PUSHED_CHAR &&
            (st.check == nullptr || st.scan_chunks != nullptr)) {
            if (copy_tag_run(st, depth)) {
                return;
            }
        } else {
            copy_run(st, TAG_STOPS.member);
        }
        int c = read_char(st);
        switch (c) {
        case '>':
            write_char(st, '>');
            st.last_char = '>';
            --depth;
            if (st.check != nullptr) {
                note_tag_end(st, depth);
            }
            if (depth == 0) {
                return;
            }
            break;
        case END_OF_INPUT:
            if (st.check != nullptr) {
                note_tag_cut_off(st);
            }
            return;
        case '<':
            write_char(st, '<');
            ++depth;
            if (st.check != nullptr) {
                note_tag_byte(st, c);
            }
            break;
        case '\\':
            take_escape(st);
            break;
        default:
            write_char(st, c);
            if (st.check != nullptr) {
                note_tag_byte(st, c);
            }
            break;
        }
    }
}
