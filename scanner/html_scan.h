#ifndef QUIB_HTML_SCAN_H
#define QUIB_HTML_SCAN_H

// The --html reading's chunk path: 64-byte windows whose bytes are compared
// with vector instructions. In each state only the bytes that change
// something are looked at: a prose window's quotes, '&', '<' and '\', a tag's
// blanks, '=', '/', '>' and quotes, a comment's '-', '!' and '>'; everything
// between is copied as a stretch, with exactly the effect that stepping it
// byte by byte would have. Quotes, tags and quote references are read here;
// the rarer bytes (an escape, the start of a comment, raw text's end) go
// through html_step, the byte path itself, with the same state.
//
// Included by one source file per instruction set; everything here is
// internal to that file. Window is the instruction set's way of comparing
// the 64 bytes of a window with one byte value.

#include <cstdint>
#include <cstring>

#include "html.h"
#include "html_tables.h"

namespace {

constexpr std::size_t HTML_WINDOW = 64;
constexpr std::uint64_t HTML_ALL = ~std::uint64_t{0};

enum html_byte : unsigned {
    B_QUOTE, B_APOS, B_LT, B_GT, B_AMP, B_BACKSLASH, B_EQ, B_SLASH, B_DASH, B_BANG, B_QMARK,
    B_RBRACKET, B_BLANK, HTML_BYTE_KINDS
};
constexpr unsigned char HTML_BYTE_VALUES[B_BLANK] = {'"', '\'', '<', '>', '&', '\\',
                                                     '=', '/',  '-', '!', '?', ']'};

// The masks of one window, each computed when it is first asked for.
template <class Window>
struct lazy_masks {
    Window w;
    std::uint64_t mask[HTML_BYTE_KINDS] = {};
    unsigned have = 0;

    explicit lazy_masks(const unsigned char* p) : w(p) {}

    std::uint64_t operator[](html_byte b)
    {
        if ((have >> b & 1) == 0) {
            mask[b] = b == B_BLANK ? w.blanks() : w.equal(HTML_BYTE_VALUES[b]);
            have |= 1u << b;
        }
        return mask[b];
    }
};

// The bytes that change the state of a tag.
template <class Window>
std::uint64_t tag_stops(tag_state t, lazy_masks<Window>& m)
{
    switch (t) {
    case tag_state::name:
        return m[B_BLANK] | m[B_SLASH] | m[B_GT];
    case tag_state::attribute:
        return m[B_SLASH] | m[B_EQ] | m[B_GT];
    case tag_state::unquoted:
        return m[B_BLANK] | m[B_GT];
    case tag_state::double_quoted:
        return m[B_QUOTE];
    case tag_state::single_quoted:
        return m[B_APOS];
    case tag_state::before_name:
    case tag_state::before_value:
        return ~m[B_BLANK];
    case tag_state::after_quoted:
    case tag_state::ended:
        break;
    }
    return HTML_ALL;
}

// The bytes of the rarer states that html_step must see; the others are
// copied and have the effect apply_run gives them.
template <class Window>
std::uint64_t other_stops(const html_state& h, lazy_masks<Window>& m)
{
    switch (h.mode) {
    case html_mode::comment:
        return m[B_DASH] | m[B_BANG] | m[B_GT];
    case html_mode::cdata:
        return m[B_RBRACKET] | m[B_GT];
    case html_mode::bogus:
        return m[B_GT];
    case html_mode::instruction:
        return m[B_QMARK] | m[B_GT];
    case html_mode::raw:
        switch (h.raw) {
        case raw_state::data:
            return m[B_LT];
        case raw_state::escaped:
        case raw_state::double_escaped:
            return m[B_DASH] | m[B_LT];
        default:
            return HTML_ALL;
        }
    case html_mode::plaintext:
        return 0;
    default:
        return HTML_ALL;
    }
}

inline void apply_other_run(html_state& h)
{
    switch (h.mode) {
    case html_mode::comment:
        h.dashes = 0;
        h.own_dashes = 0;
        h.bang = false;
        break;
    case html_mode::cdata:
        h.brackets = 0;
        break;
    case html_mode::instruction:
        h.question = false;
        break;
    default:
        break;
    }
}

// A byte written here: no inline function of another header may be emitted
// in a file compiled for a wider instruction set.
inline void put_byte(scan_state& st, unsigned char c)
{
    if (st.out.len == st.out.cap) {
        flush_output(st);
    }
    st.out.block[st.out.len++] = c;
}

inline void append_name(html_state& h, const unsigned char* p, std::size_t a, std::size_t b)
{
    for (std::size_t k = a; k < b && h.name_len <= HTML_NAME_MAX; ++k) {
        if (h.name_len < HTML_NAME_MAX) {
            h.name[h.name_len] = lower(p[k]);
        }
        ++h.name_len;
    }
}

inline void start_name(html_state& h, unsigned char c, bool end_tag)
{
    h.mode = html_mode::tag;
    h.tag = tag_state::name;
    h.end_tag = end_tag;
    h.name[0] = lower(c);
    h.name_len = 1;
}

// The length of the quote reference whose name starts at q (the name and
// its ';'), or 0; the 11 bytes at q must be at hand.
inline std::size_t quote_reference_at(const unsigned char* q)
{
    switch (q[0]) {
    case 'q':
    case 'Q':
    case 'b':
    case 'l':
    case 'r':
    case '#':
        break;
    default:
        return 0;
    }
    std::size_t n = 1;
    while (n < QUOTE_REF_NAME_MAX && is_reference_byte(q[n])) {
        ++n;
    }
    return q[n] == ';' && is_quote_reference(q, n) ? n + 1 : 0;
}

// Goes through the rest of the block in windows while a window and what a
// byte may look ahead are at hand; the caller takes the rest byte by byte.
template <class Window>
void scan_html_windows(scan_state& st)
{
    html_state& h = *st.html;
    const unsigned char* const in = st.in.block;
    const std::size_t len = st.in.len;
    std::size_t pos = st.in.pos;
    while (len - pos >= HTML_WINDOW) {
        if (st.out.cap - st.out.len < OUT_CHUNK_ROOM) {
            flush_output(st);
        }
        const unsigned char* const p = in + pos;
        const std::size_t avail = len - pos; // bytes at hand from p
        lazy_masks<Window> m(p);
        std::size_t i = 0;      // the next byte to read
        std::size_t copied = 0; // the bytes before it written or replaced
        // Writes the bytes from copied to `to` as they are.
        const auto copy_to = [&](std::size_t to) {
            const std::size_t n = to - copied;
            if (n > st.out.cap - st.out.len) {
                flush_output(st);
            }
            std::memcpy(st.out.block + st.out.len, p + copied, n);
            st.out.len += n;
            copied = to;
        };
        // The byte at j through the byte path.
        const auto step = [&](std::size_t j) {
            copy_to(j);
            html_step(st, h, p[j]);
            copied = i = j + 1;
        };
        while (i < HTML_WINDOW) {
            switch (h.mode) {
            case html_mode::prose: {
                const bool verbatim = h.verbatim_total != 0;
                const bool marks_last = !verbatim && !h.quote_open;
                const std::uint64_t stops =
                    (verbatim ? m[B_LT] : m[B_QUOTE] | m[B_AMP] | m[B_LT] | m[B_BACKSLASH]) &
                    (HTML_ALL << i);
                const std::size_t j = stops == 0 ? HTML_WINDOW
                                                 : static_cast<std::size_t>(__builtin_ctzll(stops));
                if (j > i && marks_last) {
                    st.last_char = p[j - 1];
                }
                if (j == HTML_WINDOW) {
                    i = j;
                    break;
                }
                const unsigned char c = p[j];
                if (c == '"') {
                    copy_to(j);
                    html_toggle_quotation(st, h, true);
                    copied = i = j + 1;
                } else if (c == '<') {
                    if (j + 2 >= avail) {
                        step(j);
                        break;
                    }
                    const unsigned char next = p[j + 1];
                    if (!opens_markup(next)) {
                        if (marks_last) {
                            st.last_char = '<';
                        }
                        i = j + 1;
                        break;
                    }
                    if (st.break_tags && marks_last && st.last_char == '>') {
                        copy_to(j);
                        put_byte(st, '\n');
                        st.last_char = 0;
                    }
                    const bool end_tag = next == '/';
                    if (is_letter(next) || (end_tag && is_letter(p[j + 2]))) {
                        // The name, and where a tag without attributes
                        // ends: at hand in this window, the whole tag.
                        const std::size_t name_at = j + (end_tag ? 2 : 1);
                        start_name(h, p[name_at], end_tag);
                        const std::size_t from = name_at + 1;
                        std::size_t k = from;
                        if (from < HTML_WINDOW) {
                            const std::uint64_t name_stops =
                                (m[B_BLANK] | m[B_SLASH] | m[B_GT]) & (HTML_ALL << from);
                            k = name_stops == 0
                                    ? HTML_WINDOW
                                    : static_cast<std::size_t>(__builtin_ctzll(name_stops));
                        }
                        append_name(h, p, from, k);
                        i = k;
                        if (k < HTML_WINDOW && p[k] == '>') {
                            i = k + 1;
                            html_end_tag(st, h);
                        }
                    } else if (next == '/') {
                        h.mode = html_mode::end_tag_open;
                        i = j + 2;
                    } else if (next == '!') {
                        h.mode = html_mode::declaration;
                        h.declaration_len = 0;
                        i = j + 2;
                    } else {
                        h.mode = html_mode::instruction;
                        h.question = false;
                        i = j + 2;
                    }
                } else if (c == '&' && !verbatim && j + 1 + QUOTE_REF_NAME_MAX + 1 <= avail) {
                    const std::size_t ref = quote_reference_at(p + j + 1);
                    if (ref == 0) {
                        // An ordinary byte, like the name after it.
                        if (marks_last) {
                            st.last_char = '&';
                        }
                        i = j + 1;
                    } else {
                        copy_to(j);
                        html_toggle_quotation(st, h, false);
                        copied = i = j + 1 + ref;
                    }
                } else {
                    step(j);
                }
                break;
            }
            case html_mode::tag: {
                const std::uint64_t stops = tag_stops(h.tag, m) & (HTML_ALL << i);
                const std::size_t j = stops == 0 ? HTML_WINDOW
                                                 : static_cast<std::size_t>(__builtin_ctzll(stops));
                if (h.tag == tag_state::name) {
                    append_name(h, p, i, j);
                }
                if (j == HTML_WINDOW) {
                    i = j;
                    break;
                }
                const tag_state next = tag_next(h.tag, p[j]);
                i = j + 1;
                if (next == tag_state::ended) {
                    html_end_tag(st, h);
                } else {
                    h.tag = next;
                }
                break;
            }
            case html_mode::comment:
            case html_mode::cdata:
            case html_mode::bogus:
            case html_mode::instruction:
            case html_mode::raw:
            case html_mode::plaintext: {
                const std::uint64_t stops = other_stops(h, m) & (HTML_ALL << i);
                const std::size_t j = stops == 0 ? HTML_WINDOW
                                                 : static_cast<std::size_t>(__builtin_ctzll(stops));
                if (j > i) {
                    apply_other_run(h);
                }
                if (j == HTML_WINDOW) {
                    i = j;
                } else {
                    step(j);
                }
                break;
            }
            default:
                step(i);
                break;
            }
        }
        copy_to(i);
        h.prev_byte = p[i - 1];
        pos += i;
    }
    st.in.pos = pos;
}

} // namespace

#endif
