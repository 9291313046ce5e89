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

#include "chunk_masks.h"
#include "html.h"
#include "html_tables.h"

namespace {

constexpr std::size_t HTML_WINDOW = 64;
// Bytes after a window that its reading may look at: a reference's name, a
// tag's first bytes.
constexpr std::size_t LOOKAHEAD = 16;
constexpr std::uint64_t HTML_ALL = ~std::uint64_t{0};
// The longest stretch after a window that simple_windows did not take
// before it is tried again (the stretch doubles from a window's length
// with each such window, and halves with each it takes).
constexpr std::size_t SIMPLE_BACKOFF = 1024;

enum html_byte : unsigned {
    B_QUOTE, B_APOS, B_LT, B_GT, B_AMP, B_BACKSLASH, B_EQ, B_SLASH, B_DASH, B_BANG, B_QMARK,
    B_RBRACKET, B_BLANK, HTML_BYTE_KINDS
};
constexpr unsigned char HTML_BYTE_VALUES[B_BLANK] = {'"', '\'', '<', '>', '&', '\\',
                                                     '=', '/',  '-', '!', '?', ']'};

// The masks of one window: those of prose at once, the others when they
// are first asked for (most windows of prose hold no tag).
template <class Window>
struct lazy_masks {
    Window w;
    std::uint64_t mask[HTML_BYTE_KINDS] = {}; // zero until asked for
    unsigned have;

    explicit lazy_masks(const unsigned char* p) : w(p)
    {
        mask[B_QUOTE] = w.equal('"');
        mask[B_AMP] = w.equal('&');
        mask[B_LT] = w.equal('<');
        mask[B_BACKSLASH] = w.equal('\\');
        have = 1u << B_QUOTE | 1u << B_AMP | 1u << B_LT | 1u << B_BACKSLASH;
    }

    // The masks a tag needs, all at once (the '>' alone may be there
    // already: the rarer states ask for it by itself). Made in place where
    // a mask takes one or two registers; in a call where it takes four,
    // whose code in every caller cost more than the call.
    [[gnu::always_inline]] void tag_masks()
    {
        if ((have & TAG_MASKS) != TAG_MASKS) {
            if constexpr (Window::REGISTERS_PER_MASK <= 2) {
                make_tag_masks();
            } else {
                make_tag_masks_apart();
            }
        }
    }

    static constexpr unsigned TAG_MASKS =
        1u << B_GT | 1u << B_EQ | 1u << B_SLASH | 1u << B_APOS | 1u << B_BLANK;

    [[gnu::always_inline]] void make_tag_masks()
    {
        mask[B_GT] = w.equal('>');
        mask[B_EQ] = w.equal('=');
        mask[B_SLASH] = w.equal('/');
        mask[B_APOS] = w.equal('\'');
        mask[B_BLANK] = w.blanks();
        have |= TAG_MASKS;
    }

    [[gnu::noinline]] void make_tag_masks_apart() { make_tag_masks(); }

    std::uint64_t operator[](html_byte b)
    {
        if ((have >> b & 1) == 0) {
            mask[b] = b == B_BLANK ? w.blanks() : w.equal(HTML_BYTE_VALUES[b]);
            have |= 1u << b;
        }
        return mask[b];
    }
};

// The bytes that change the state of a tag: after its name, also a '<',
// which may begin template code; while its start is read, every byte; in
// the code, '?' and '>' (a run of other bytes leaves no '?' before the next).
template <class Window>
[[gnu::always_inline]] inline std::uint64_t tag_stops(const html_state& h, lazy_masks<Window>& m)
{
    if (h.tag_template == TEMPLATE_IN_TAG) {
        return m[B_QMARK] | m[B_GT];
    }
    if (h.tag_template != 0) {
        return HTML_ALL;
    }
    switch (h.tag) {
    case tag_state::name:
        return m[B_BLANK] | m[B_SLASH] | m[B_GT];
    case tag_state::attribute:
        return m[B_SLASH] | m[B_EQ] | m[B_GT] | m[B_LT];
    case tag_state::unquoted:
        return m[B_BLANK] | m[B_GT] | m[B_LT];
    case tag_state::double_quoted:
        return m[B_QUOTE] | m[B_LT];
    case tag_state::single_quoted:
        return m[B_APOS] | m[B_LT];
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
[[gnu::always_inline]] inline std::uint64_t other_stops(const html_state& h,
                                                        lazy_masks<Window>& m)
{
    switch (h.mode) {
    case html_mode::comment:
        return m[B_DASH] | m[B_BANG] | m[B_GT];
    case html_mode::cdata:
        return m[B_RBRACKET] | m[B_GT];
    case html_mode::bogus:
        return m[B_GT];
    case html_mode::instruction:
        return h.instruction_len < 3 ? HTML_ALL : m[B_QMARK] | m[B_GT];
    case html_mode::raw:
        switch (h.raw) {
        case raw_state::data:
            // A '<' that neither '/' nor, in a script, '!' follows changes
            // nothing (the window's last '<' stops: its follower is not in
            // these masks).
            return m[B_LT] & ((m[B_SLASH] | (h.raw_element == RAW_SCRIPT ? m[B_BANG] : 0)) >> 1 |
                              std::uint64_t{1} << (HTML_WINDOW - 1));
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

[[gnu::always_inline]] inline void apply_other_run(html_state& h)
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

[[gnu::always_inline]] inline void append_name(html_state& h, const unsigned char* p, std::size_t a,
                                               std::size_t b)
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

// Where the "</" at j of a window ends the raw text: the index of the byte
// after the element's name, if the name and that byte are in the window,
// else 0 (the byte path decides).
inline std::size_t raw_text_end(const html_state& h, const unsigned char* p, std::size_t j)
{
    if (h.mode != html_mode::raw || h.raw != raw_state::data || p[j] != '<' || p[j + 1] != '/') {
        return 0;
    }
    const char* const name = RAW_NAMES[h.raw_element];
    const std::size_t len = RAW_NAME_LENGTHS[h.raw_element];
    const std::size_t after = j + 2 + len;
    if (after >= HTML_WINDOW) {
        return 0;
    }
    for (std::size_t k = 0; k < len; ++k) {
        if (lower(p[j + 2 + k]) != static_cast<unsigned char>(name[k])) {
            return 0;
        }
    }
    const unsigned char c = p[after];
    return is_blank(c) || c == '/' || c == '>' ? after : 0;
}

// The masks a tag is read with: of one window, or of two in one wide mask.
template <class Mask>
struct tag_bits {
    Mask gt;
    Mask quote;
    Mask apos;
    Mask eq;
    Mask not_a_name; // blank, '/', quotes, '='
    Mask lt;         // after the name, perhaps template code: read state by state
};
using tag_bytes = tag_bits<std::uint64_t>;

template <class Window>
[[gnu::always_inline]] inline tag_bytes tag_bytes_of(lazy_masks<Window>& m)
{
    m.tag_masks();
    const std::uint64_t* k = m.mask;
    return {k[B_GT], k[B_QUOTE], k[B_APOS], k[B_EQ],
            k[B_BLANK] | k[B_SLASH] | k[B_QUOTE] | k[B_APOS] | k[B_EQ], k[B_LT]};
}

// lowest_bit for the width of each mask a tag is read with.
[[gnu::always_inline]] inline std::size_t first_bit(std::uint64_t x)
{
    return lowest_bit(x);
}

#ifdef __SIZEOF_INT128__
// Two windows' masks in one: the first in the low half.
__extension__ using wide_mask = unsigned __int128;

[[gnu::always_inline]] inline std::size_t first_bit(wide_mask x)
{
    const auto low = static_cast<std::uint64_t>(x);
    return low != 0 ? first_bit(low) : HTML_WINDOW + first_bit(static_cast<std::uint64_t>(x >> 64));
}

[[gnu::always_inline]] inline wide_mask wide(std::uint64_t low, std::uint64_t high)
{
    return static_cast<wide_mask>(high) << 64 | low;
}

#endif

// The prefix XOR of a window's double quotes gives the values of every tag
// in it: from the quotes after k, those that open a value up to the byte
// before the closing one.
template <class Mask>
[[gnu::always_inline]] inline Mask values_after(Mask quote_parity, std::size_t k)
{
    const Mask after = ~Mask{0} << k << 1;
    return (quote_parity ^ (Mask{0} - (quote_parity >> k & 1))) & after;
}

// Where a tag whose name ends at k (a blank, '/' or '>') ends, if that can
// be told from the masks alone, else 0 (the tag is then read state
// by state). A tag without attributes ends at its name. Otherwise its double
// quotes are taken as the delimiters of name="value" pairs: the tag ends at
// the first '>' outside them, if the masks prove what that takes of the
// tokenizer's states: every opening quote right after an '=' that follows
// an attribute name (not a blank, '/', quote or '='), no other '=' and no
// "'" outside the values. Then each such '=' is read in an attribute name,
// each of its quotes opens a value that the next quote closes, and a '>'
// outside ends the tag in every state there is.
template <class Mask>
[[gnu::always_inline]] inline std::size_t tag_end_at_hand(const tag_bits<Mask>& t,
                                                          Mask quote_parity, std::size_t k)
{
    if ((t.gt >> k & 1) != 0) {
        return k;
    }
    const Mask after = ~Mask{0} << k << 1;
    const Mask quotes = t.quote & after;
    const Mask values = values_after(quote_parity, k);
    const Mask ends = t.gt & after & ~values;
    if (ends == 0) {
        return 0;
    }
    const std::size_t end = first_bit(ends);
    const Mask inside = after & ((Mask{1} << end) - 1);
    const Mask opening = quotes & values & inside;
    const bool pairs = (opening & ~(t.eq << 1)) == 0 && ((opening >> 2) & t.not_a_name) == 0 &&
                       (t.eq & inside & ~values & ~(opening >> 1)) == 0 &&
                       (t.apos & inside & ~values) == 0 && (t.lt & inside) == 0;
    return pairs ? end : 0;
}

template <class Isa, class Window>
std::size_t tag_end_at_hand(lazy_masks<Window>& m, std::size_t k)
{
    const tag_bytes t = tag_bytes_of(m);
    return tag_end_at_hand(t, Isa::prefix_xor(t.quote), k);
}

// The same for a tag whose self-closing mark does not matter: one with no
// quote between its name and the first '>' ends there in every state.
[[gnu::always_inline]] inline std::size_t tag_end_in_prose(const tag_bytes& t,
                                                           std::uint64_t quote_parity, std::size_t k)
{
    if ((t.gt >> k & 1) != 0) {
        return k; // a name that ends the tag
    }
    const std::uint64_t gts = t.gt & (HTML_ALL << k);
    const std::uint64_t before_gt = (gts & (std::uint64_t{0} - gts)) - 1;
    if (gts != 0 && ((t.quote | t.apos | t.lt) & before_gt & (HTML_ALL << k)) == 0) {
        return static_cast<std::size_t>(__builtin_ctzll(gts));
    }
    return tag_end_at_hand(t, quote_parity, k);
}

#ifdef __SIZEOF_INT128__
// A tag at the start of window p that goes on into the next window (p's
// 128 bytes are at hand), where the two windows' masks prove its end: read
// as the state machine reads a tag whose end is at hand, its bytes copied.
// Returns the bytes taken, or 0 where it is to be read state by state.
template <class Isa, class Window>
[[gnu::noinline]] std::size_t tag_over_two_windows(scan_state& st, html_state& h,
                                                   const unsigned char* p)
{
    const bool end_tag = p[1] == '/';
    const std::size_t name_at = end_tag ? 2 : 1;
    if (p[0] != '<' || !is_letter(p[name_at])) {
        return 0;
    }
    // The caller's masks stay in its registers: these are made anew.
    lazy_masks<Window> m(p);
    lazy_masks<Window> n(p + HTML_WINDOW);
    const tag_bytes a = tag_bytes_of(m);
    const tag_bytes b = tag_bytes_of(n);
    const wide_mask name_ends = wide(m.mask[B_BLANK] | m.mask[B_SLASH] | a.gt,
                                     n.mask[B_BLANK] | n.mask[B_SLASH] | b.gt) &
                                (~wide_mask{0} << (name_at + 1));
    if (name_ends == 0) {
        return 0;
    }
    const std::uint64_t parity = Isa::prefix_xor(a.quote);
    const wide_mask quote_parity =
        wide(parity, Isa::prefix_xor(b.quote) ^ spread_top_bit(parity));
    const tag_bits<wide_mask> t{wide(a.gt, b.gt),       wide(a.quote, b.quote),
                                wide(a.apos, b.apos),   wide(a.eq, b.eq),
                                wide(a.not_a_name, b.not_a_name), wide(a.lt, b.lt)};
    const std::size_t k = first_bit(name_ends);
    const std::size_t end = tag_end_at_hand(t, quote_parity, k);
    if (end == 0) {
        return 0;
    }
    if (st.break_tags && h.verbatim_total == 0 && !h.quote_open && st.last_char == '>') {
        put_byte(st, '\n');
        st.last_char = 0;
    }
    start_name(h, p[name_at], end_tag);
    append_name(h, p, name_at + 1, k);
    if (h.report != nullptr) {
        // The tag's line ends counted before its end is reported on.
        h.markup_line = h.line;
        const wide_mask line_ends = wide(m.w.equal('\n'), n.w.equal('\n'));
        const wide_mask upto_end = (wide_mask{2} << end) - 1;
        const wide_mask in_tag = line_ends & upto_end;
        h.line += static_cast<unsigned long>(count_ones(static_cast<std::uint64_t>(in_tag)) +
                                             count_ones(static_cast<std::uint64_t>(in_tag >> 64)));
    }
    html_end_tag(st, h, p[end - 1] == '/');
    if (end + 1 > st.out.cap - st.out.len) {
        flush_output(st);
    }
    std::memcpy(st.out.block + st.out.len, p, end + 1);
    st.out.len += end + 1;
    h.prev_byte = p[end];
    return end + 1;
}
#endif

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

// The bits of a window below bit n (n up to 64).
[[gnu::always_inline]] inline std::uint64_t bits_below(std::size_t n)
{
    return n >= HTML_WINDOW ? HTML_ALL : (std::uint64_t{1} << n) - 1;
}

// The tags of a window of prose, read all at once: each tag's '<', the
// bytes from there to its '>', the byte after its name.
struct window_tags {
    std::uint64_t starts = 0; // each tag's '<'
    std::uint64_t bytes = 0;  // '<' to '>'
    std::uint64_t ends = 0;   // '>'
    std::uint64_t names = 0;  // the byte after each name
    std::size_t end = 0;      // the window's bytes before the first tag that needs more
};

// Reads the tags of window p as the event loop of bulk_prose would (in
// prose, outside code elements), with masks alone: every '<' before a
// letter (or "/" and a letter) begins a tag, which ends at the first '>'
// after it, if that is where the state machine ends it (the conditions of
// tag_end_in_prose, for every tag at once). The window's reading stops at
// the first '<' before '!', '?' or a '/' without a letter, at a tag not
// whole in the window and at a tag those conditions do not prove; the
// result's end is there. False where the event loop is needed: two tags
// share a '>' (a '<' inside a tag), or a start tag may open code, raw
// text, svg or math.
template <class Isa, class Window>
[[gnu::always_inline]] inline bool read_window_tags(const unsigned char* p, lazy_masks<Window>& m,
                                                    const tag_bytes& tb, window_tags& r)
{
    const std::uint64_t lt = tb.lt;
    const std::uint64_t slash = m.mask[B_SLASH];
    const std::uint64_t letters = m.w.letters();
    const std::uint64_t start_tags = lt & letters >> 1;
    const std::uint64_t end_tags = lt & slash >> 1 & letters >> 2;
    // A '<' in the last two bytes, whose followers are not all in the
    // window, and markup other than tags: the reading stops there.
    std::uint64_t stops = lt & ~bits_below(HTML_WINDOW - 2);
    if (const std::uint64_t others = lt & ~(start_tags | end_tags); others != 0) {
        stops |= others & (slash | m[B_BANG] | m[B_QMARK]) >> 1;
    }
    r.end = stops == 0 ? HTML_WINDOW : lowest_bit(stops);
    std::uint64_t starts = (start_tags | end_tags) & bits_below(r.end);
    if (starts == 0) {
        return true;
    }
    // Adding a tag's '<' to the run of bytes other than '>' it begins
    // carries to the first '>': the bits that change are the tag's. A
    // second '<' in one run keeps its bit.
    const std::uint64_t not_gt = ~tb.gt & bits_below(r.end);
    std::uint64_t sum = not_gt + starts;
    if ((sum & starts) != 0) {
        return false;
    }
    // A carry past the bytes read (out of the word, or into the stop) is
    // the last tag's, which has no '>' before them: the reading ends at it.
    if (sum < not_gt || (sum & ~bits_below(r.end)) != 0) {
        r.end = 63 - static_cast<std::size_t>(__builtin_clzll(starts));
        starts &= bits_below(r.end);
        sum &= bits_below(r.end);
    }
    std::uint64_t ends = sum & tb.gt;
    std::uint64_t bytes = (not_gt ^ sum) & bits_below(r.end);
    // The names the same way: from the byte after "<" or "</" to the
    // first blank, '/' or '>'.
    const std::uint64_t in_names = ~(m.mask[B_BLANK] | slash | tb.gt) & bytes;
    const std::uint64_t end_slashes = (end_tags & starts) << 1;
    const std::uint64_t name_sum = in_names + ((start_tags & starts) << 1 | end_slashes << 1);
    std::uint64_t names = name_sum & ~in_names & bytes;
    // The bytes after each name up to its '>', where its attributes are.
    const std::uint64_t inside = bytes & ~(in_names ^ name_sum) & ~starts & ~end_slashes;
    if (const std::uint64_t bare = (tb.quote | tb.apos | tb.lt) & inside; bare != 0) {
        // A tag with a quote, "'" or '<' after its name ends at its '>' if
        // its double quotes pair as values do (tag_end_at_hand; a "'"
        // could open a value only after an '=' that no opening quote
        // follows, which this rejects already). Each tag's bits but its
        // '>' are a run: adding a bit of the run carries to the '>'.
        const std::uint64_t quotes = tb.quote & inside;
        const std::uint64_t parity = Isa::prefix_xor(quotes);
        const std::uint64_t values = parity & inside;
        const std::uint64_t opening = quotes & values;
        const std::uint64_t unpaired = (opening & ~(tb.eq << 1)) |
                                       ((opening >> 2) & tb.not_a_name) |
                                       (tb.eq & inside & ~values & ~(opening >> 1)) |
                                       (tb.lt & inside);
        const std::uint64_t runs = bytes & ~ends;
        const std::uint64_t unproven = (runs + bare) & ((runs + unpaired) | parity) & ends;
        if (unproven != 0) {
            // From the '<' of the first such tag on, the event loop's
            // reading stops as well.
            r.end = 63 - static_cast<std::size_t>(
                             __builtin_clzll(starts & bits_below(lowest_bit(unproven))));
            const std::uint64_t before = bits_below(r.end);
            starts &= before;
            ends &= before;
            bytes &= before;
            names &= before;
        }
    }
    // Start tags whose names may open code, raw text, svg or math: the
    // event loop's.
    std::uint64_t n = names;
    for (std::uint64_t s = starts; s != 0; s &= s - 1, n &= n - 1) {
        const std::size_t t = lowest_bit(s);
        const std::size_t len = lowest_bit(n) - t - 1;
        if ((start_tags >> t & 1) != 0 && len <= HTML_NAME_MAX &&
            may_start_special(p + t + 1, len)) {
            return false;
        }
    }
    r.starts = starts;
    r.bytes = bytes;
    r.ends = ends;
    r.names = names;
    return true;
}

// The quotation's state after each valid byte, where the '>' of block
// elements (boundaries) end it: segment by segment, each begun with the
// state it has.
template <class Isa>
[[gnu::always_inline]] inline std::uint64_t quotation_in_segments(std::uint64_t quotes,
                                                                  std::uint64_t state_before,
                                                                  std::uint64_t boundaries,
                                                                  std::uint64_t valid)
{
    std::uint64_t quote_mask = 0;
    std::uint64_t state = state_before; // before the segment
    std::uint64_t from = HTML_ALL;
    for (std::uint64_t b = boundaries;; b &= b - 1) {
        const std::uint64_t upto = b == 0 ? valid : ((std::uint64_t{2} << __builtin_ctzll(b)) - 1);
        const std::uint64_t segment = from & upto;
        quote_mask |= (Isa::prefix_xor(quotes & segment) ^ state) & segment;
        if (b == 0) {
            return quote_mask;
        }
        state = 0; // the block element has ended the quotation
        from = ~upto;
    }
}

// The '>' of the block elements among the tags read at once.
inline std::uint64_t block_ends(const unsigned char* p, const window_tags& t)
{
    std::uint64_t blocks = 0;
    std::uint64_t e = t.ends;
    std::uint64_t n = t.names;
    for (std::uint64_t s = t.starts; s != 0; s &= s - 1, n &= n - 1, e &= e - 1) {
        const std::size_t name_at = lowest_bit(s) + (p[lowest_bit(s) + 1] == '/' ? 2 : 1);
        const std::size_t len = lowest_bit(n) - name_at;
        if (len <= HTML_NAME_MAX && element_at(p + name_at, len).block) {
            blocks |= e & (std::uint64_t{0} - e);
        }
    }
    return blocks;
}

// A tag of a window whose element is known to be a block (name_len 0) or
// still to be looked up.
struct window_tag {
    std::uint8_t end;      // its '>'
    std::uint8_t name_at;
    std::uint8_t name_len;
};
// The shortest tag, "<a>", has three bytes.
constexpr std::size_t MAX_WINDOW_TAGS = HTML_WINDOW / 3 + 1;

// Writes the first end bytes of window p: its quotes replaced by the marks
// (opening where quote_mask has its bit), a line end before each byte in
// breaks, the bytes in drops left out.
template <class Isa>
[[gnu::always_inline]] inline void write_window(scan_state& st, const unsigned char* p,
                                                std::size_t end, std::uint64_t quotes,
                                                std::uint64_t quote_mask, std::uint64_t breaks,
                                                std::uint64_t drops)
{
    if (st.out.cap - st.out.len < OUT_CHUNK_ROOM) {
        flush_output(st);
    }
    unsigned char* o = st.out.block + st.out.len;
    const quote_marks& marks = st.marks;
    if (breaks == 0 && drops == 0 && marks.open.len == 1 && marks.close.len == 1 &&
        end == HTML_WINDOW) {
        Isa::copy_with_byte_marks(o, p, quotes & quote_mask, quotes & ~quote_mask,
                                  marks.open.bytes[0], marks.close.bytes[0]);
        st.out.len += HTML_WINDOW;
    } else {
        st.out.len += copy_with_edits(o, p, static_cast<unsigned>(end), quotes, quote_mask, breaks,
                                      drops, marks);
    }
}

// The code element that a window opened while none of its name was open
// (the last such, if several), whose line --check notes: its '<' (at), or
// none (-1).
struct code_opening {
    int at = -1;
    std::uint8_t element = 0;
};

// With --check, what the state machine would report and note for the end
// bytes of window p that the bulk step takes, in their order: a quotation
// opening after a digit or as the first mark on a UTF-8 page, a block
// element or a line of blanks ending it; the lines counted, where a code
// element opened, the blank-line rule's state at the end (open: a quotation
// is open there).
inline void report_window(html_state& h, const unsigned char* p, std::size_t end,
                          std::uint64_t quotes, std::uint64_t quote_mask,
                          std::uint64_t boundaries, std::uint64_t line_ends,
                          code_opening opened, bool open)
{
    const unsigned long first_line = h.line;
    const auto line_at = [&](std::size_t i) {
        return first_line + static_cast<unsigned long>(
                                count_ones(line_ends & ((std::uint64_t{1} << i) - 1)));
    };
    const auto is_blank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r'; };
    // Whether only blanks lie between the line end at i and one before it
    // read inside the quotation open at i.
    const auto after_blank_line = [&](std::size_t i) {
        while (i > 0 && is_blank(p[i - 1])) {
            --i;
        }
        return i == 0 ? h.blank_line : p[i - 1] == '\n';
    };
    if (opened.at >= 0) {
        h.verbatim_lines[opened.element] = line_at(static_cast<std::size_t>(opened.at));
    }
    for (std::uint64_t e = quotes | ((boundaries | line_ends) & quote_mask); e != 0; e &= e - 1) {
        const unsigned i = static_cast<unsigned>(__builtin_ctzll(e));
        const std::uint64_t bit = std::uint64_t{1} << i;
        h.line = line_at(i);
        if ((quotes & bit) != 0) {
            if ((quote_mask & bit) != 0) {
                // A reference's quote counts from its '&'.
                html_quotation_opens(h, i > 0 ? p[i - 1] : h.prev_byte);
            }
        } else if ((boundaries & bit) != 0 || after_blank_line(i)) {
            html_report_boundary(h);
        }
    }
    std::size_t i = end;
    while (i > 0 && is_blank(p[i - 1])) {
        --i;
    }
    if (i != 0) {
        h.blank_line = open && p[i - 1] == '\n';
    }
    h.line = first_line + static_cast<unsigned long>(count_ones(line_ends));
}

// The common window, taken at once as the default conversion's chunks are:
// prose with its quotes, quote references, escapes and tags whose ends the
// masks tell (tag_end_in_prose), and the text of code elements, which keeps
// its quotes, references and backslashes. The events (tags, '&', '\') are
// taken in order, a tag's name looked up where it may open code, raw text,
// svg or math, or close code; the quotation's state then follows from a
// prefix XOR of the prose's quotes, begun anew after each block element's
// end where one is open at a tag (only then do the other names matter); the
// marks, the dropped bytes (escaping backslashes, a quote
// reference's name) and -z's line ends are written with the chunk's copy.
// Stops before the first byte that needs more (other markup, raw text, a tag
// or reference or escape that goes on past the window) and returns where:
// the caller reads on from there, state by state. The LOOKAHEAD bytes after
// the window are at hand.
template <class Isa, class Window>
[[gnu::always_inline]] inline std::size_t bulk_prose(scan_state& st, html_state& h,
                                                  const unsigned char* p, lazy_masks<Window>& m)
{
    if (h.title || h.depth != 0) {
        // A title's '<' is text but for its end tag; in svg and math, "/>"
        // closes a tag: state by state.
        return 0;
    }
    code_opening opened; // for --check
    const std::uint64_t lt = m.mask[B_LT];
    std::size_t end = HTML_WINDOW;
    std::uint64_t tags = 0;            // the bytes of the tags, '<' to '>'
    std::uint64_t tag_ends = 0;        // their '>'
    std::uint64_t breakable = 0;       // the '<' of tags outside code elements
    std::uint64_t verbatim_text = 0;   // the bytes of code elements' text
    std::uint64_t drops = 0;           // bytes not written
    std::uint64_t literal = 0;         // bytes an escape made literal
    std::uint64_t escapes = 0;         // the backslashes that escape
    std::uint64_t references = 0;      // the '&' of quote references
    tag_bytes tb{};
    std::uint64_t quote_parity = 0;
    std::uint64_t name_ends = 0;
    if (lt != 0) {
        tb = tag_bytes_of(m);
        quote_parity = Isa::prefix_xor(tb.quote);
        name_ends = m.mask[B_BLANK] | m.mask[B_SLASH] | m.mask[B_GT];
    }
    // The tags whose names were not looked up: whether one is a block
    // element matters only where a quotation is open at its end.
    window_tag unread[MAX_WINDOW_TAGS];
    unsigned unread_count = 0;
    std::size_t text_from = 0; // where the text since the last tag began
    // In the order of the input: inside a tag, nothing counts but its end;
    // in a code element's text, nothing but tags.
    std::uint64_t events = lt | m.mask[B_AMP] | m.mask[B_BACKSLASH];
    while (events != 0) {
        const unsigned t = static_cast<unsigned>(__builtin_ctzll(events));
        events &= events - 1;
        const unsigned char c = p[t];
        if ((lt >> t & 1) != 0) {
            const unsigned char next = p[t + 1];
            if (!opens_markup(next)) {
                continue; // a '<' that is text
            }
            const bool end_tag = next == '/';
            const unsigned name_at = t + (end_tag ? 2 : 1);
            std::uint64_t name_stops = 0;
            if (is_letter(p[name_at]) && name_at + 1 < HTML_WINDOW) {
                name_stops = name_ends & (HTML_ALL << (name_at + 1));
            }
            // Comments, declarations, a tag not at hand: read on from its '<'.
            if (name_stops == 0) {
                end = t;
                break;
            }
            const std::size_t k = static_cast<std::size_t>(__builtin_ctzll(name_stops));
            const std::size_t tag_end = tag_end_in_prose(tb, quote_parity, k);
            if (tag_end == 0) {
                end = t;
                break;
            }
            const std::size_t name_len = k - name_at;
            const bool verbatim_before = h.verbatim_total != 0;
            if (name_len <= HTML_NAME_MAX &&
                (end_tag ? verbatim_before : may_start_special(p + name_at, name_len))) {
                const element_kind kind = element_at(p + name_at, name_len);
                // A tag that starts raw text, svg and math: from its '<'.
                if ((!end_tag && (kind.raw >= 0 || kind.plaintext)) || kind.foreign >= 0) {
                    end = t;
                    break;
                }
                int verbatim = kind.verbatim;
                if (end_tag && (kind.raw == RAW_SCRIPT || kind.raw == RAW_STYLE)) {
                    // The end of a script or style that svg or math left open.
                    verbatim =
                        static_cast<int>(kind.raw == RAW_SCRIPT ? FOREIGN_SCRIPT : FOREIGN_STYLE);
                }
                // A code element of another name opening inside one: with
                // --check, its line is noted state by state.
                if (h.report != nullptr && !end_tag && verbatim >= 0 && h.verbatim_total != 0 &&
                    h.verbatim[verbatim] == 0) {
                    end = t;
                    break;
                }
                if (kind.block) {
                    unread[unread_count++] = {static_cast<std::uint8_t>(tag_end), 0, 0};
                }
                if (verbatim >= 0) {
                    unsigned long& count = h.verbatim[verbatim];
                    if (!end_tag) {
                        if (count == 0) {
                            h.verbatim_order[verbatim] = ++h.verbatim_openings;
                            opened = {static_cast<int>(t), static_cast<std::uint8_t>(verbatim)};
                        }
                        ++count;
                        ++h.verbatim_total;
                    } else if (count > 0) {
                        --count;
                        --h.verbatim_total;
                    }
                }
            } else if (name_len <= HTML_NAME_MAX) {
                unread[unread_count++] = {static_cast<std::uint8_t>(tag_end),
                                          static_cast<std::uint8_t>(name_at),
                                          static_cast<std::uint8_t>(name_len)};
            }
            if (verbatim_before) {
                verbatim_text |= text_from < t ? (HTML_ALL << text_from) & ~(HTML_ALL << t) : 0;
            } else {
                breakable |= std::uint64_t{1} << t;
            }
            // From '<' to '>': tag_end is at most 63, and 2 << 63 wraps to 0.
            const std::uint64_t bytes = (std::uint64_t{2} << tag_end) - (std::uint64_t{1} << t);
            tags |= bytes;
            tag_ends |= std::uint64_t{1} << tag_end;
            events &= ~bytes;
            text_from = tag_end + 1;
            continue;
        }
        if (h.verbatim_total != 0) {
            continue; // '&' and '\' are text in a code element
        }
        if (c == '&') {
            const std::size_t len = quote_reference_at(p + t + 1);
            if (len == 0) {
                continue; // an ordinary '&', its name ordinary bytes
            }
            if (t + len >= HTML_WINDOW) {
                end = t;
                break;
            }
            // A quote whose other bytes are not written.
            references |= std::uint64_t{1} << t;
            drops |= ((std::uint64_t{2} << len) - 2) << t;
            continue;
        }
        // A backslash.
        if (t + 1 >= HTML_WINDOW) {
            end = t; // its escape goes on past the window
            break;
        }
        const unsigned char e = p[t + 1];
        if (e == '<' && opens_markup(p[t + 2])) {
            continue; // text before markup that stays markup
        }
        escapes |= std::uint64_t{1} << t;
        if (e == '"' || e == '>' || e == '\\' || e == '<') {
            drops |= std::uint64_t{1} << t;
        }
        literal |= std::uint64_t{2} << t;
        events &= ~(std::uint64_t{2} << t);
    }
    if (end == 0) {
        return 0;
    }
    const std::uint64_t valid = HTML_ALL >> (HTML_WINDOW - end);
    if (h.verbatim_total != 0 && text_from < end) {
        verbatim_text |= valid & (HTML_ALL << text_from);
    }
    const std::uint64_t quotes =
        ((m.mask[B_QUOTE] & ~tags & ~literal & ~verbatim_text) | references) & valid;
    const std::uint64_t state_before = h.quote_open ? HTML_ALL : 0;
    // The quotation's state after each byte.
    std::uint64_t quote_mask = (Isa::prefix_xor(quotes) ^ state_before) & valid;
    std::uint64_t boundaries = 0; // the '>' of block elements
    if ((quote_mask & tag_ends) != 0) {
        // A quotation is open at a tag: the block elements end it. Until
        // the first such end the state is as computed; from there on,
        // segment by segment.
        for (unsigned i = 0; i < unread_count; ++i) {
            const window_tag& u = unread[i];
            if (u.name_len == 0 || element_at(p + u.name_at, u.name_len).block) {
                boundaries |= std::uint64_t{1} << u.end;
            }
        }
        quote_mask = quotation_in_segments<Isa>(quotes, state_before, boundaries, valid);
    }
    // Open at the end if open after the last byte of a segment that began
    // with the state it had: the last segment is never empty but where a
    // block element's '>' is the window's last byte, which ends the
    // quotation.
    const std::uint64_t state =
        (boundaries >> (end - 1) & 1) != 0 ? 0 : spread_top_bit(quote_mask << (HTML_WINDOW - end));

    if (h.report != nullptr) {
        report_window(h, p, end, quotes, quote_mask, boundaries, m.w.equal('\n') & valid,
                      opened, state != 0);
    }

    std::uint64_t breaks = 0;
    if (st.break_tags && breakable != 0) {
        const std::uint64_t after_gt =
            (m.mask[B_GT] & valid) << 1 | (st.last_char == '>' ? 1 : 0);
        breaks = breakable & after_gt & ~quote_mask;
    }
    // last_char: the last prose byte written outside a quotation, tag end,
    // closing quote (outside the mask; a reference's stands for '"') or
    // byte an escape made literal (wherever it is).
    const std::uint64_t last_events =
        (((~tags & ~quote_mask & ~verbatim_text & ~escapes & ~drops) | tag_ends | literal) &
         valid);
    if (last_events != 0) {
        const unsigned last = static_cast<unsigned>(63 - __builtin_clzll(last_events));
        st.last_char = (references >> last & 1) != 0 ? '"' : p[last];
    }
    write_window<Isa>(st, p, end, quotes, quote_mask, breaks, drops & valid);
    h.quote_open = state != 0;
    h.prev_byte = p[end - 1];
    return end;
}

// Windows of text alone, the commonest, in a loop of their own from pos,
// prose with its quotes converted, a code element's text kept as it is.
// Returns where the first window with markup, a reference or an escape
// begins. Check: with --check's reports; without, prev_byte, which only
// they read before the next markup, is left as it is.
template <class Isa, class Window, bool Check>
[[gnu::always_inline]] inline std::size_t text_windows(scan_state& st, html_state& h,
                                                    const unsigned char* in, std::size_t pos,
                                                    std::size_t len)
{
    const std::size_t from = pos;
    const bool verbatim = h.verbatim_total != 0;
    std::uint64_t state = h.quote_open ? HTML_ALL : 0;
    // The window at pos is one, the caller has seen.
    for (bool first = true; len - pos >= HTML_WINDOW + LOOKAHEAD; first = false) {
        const unsigned char* const p = in + pos;
        const Window w(p);
        if (!first && (w.equal('<') | w.equal('&') | w.equal('\\')) != 0) {
            break;
        }
        if (verbatim) {
            if constexpr (Check) {
                report_window(h, p, HTML_WINDOW, 0, state, 0, w.equal('\n'), {}, state != 0);
            }
            write_window<Isa>(st, p, HTML_WINDOW, 0, 0, 0, 0);
        } else {
            const std::uint64_t quotes = w.equal('"');
            const std::uint64_t quote_mask = Isa::prefix_xor(quotes) ^ state;
            // The last byte outside the quotation, a closing quote among them.
            if (~quote_mask != 0) {
                st.last_char = p[63 - __builtin_clzll(~quote_mask)];
            }
            state = spread_top_bit(quote_mask);
            if constexpr (Check) {
                report_window(h, p, HTML_WINDOW, quotes, quote_mask, 0, w.equal('\n'), {},
                              state != 0);
            }
            write_window<Isa>(st, p, HTML_WINDOW, quotes, quote_mask, 0, 0);
        }
        if constexpr (Check) {
            h.prev_byte = p[HTML_WINDOW - 1];
        }
        pos += HTML_WINDOW;
    }
    if (pos != from) {
        h.quote_open = state != 0;
    }
    return pos;
}

// Windows of prose whose tags read_window_tags reads, in a loop of their
// own from pos (without -z): no '\\', no quote reference, no code element's
// text; the quotes converted, a quotation ended by a block element's tag.
// A window ends before a tag or quote reference that goes on past it or
// needs more; the next begins there. The state stays in registers and is
// stored once; last_char, which only -z reads, is left as it is. Check:
// with --check's reports, as bulk_prose makes them. Returns where a window
// needs more.
template <class Isa, class Window, bool Check>
[[gnu::noinline]] std::size_t simple_windows(scan_state& st, html_state& h,
                                             const unsigned char* in, std::size_t pos,
                                             std::size_t len)
{
    const std::size_t from = pos;
    std::uint64_t state = h.quote_open ? HTML_ALL : 0;
    const quote_marks& marks = st.marks;
    const bool byte_marks = marks.open.len == 1 && marks.close.len == 1;
    // Each window's masks made where they stay (a copy of them into the
    // loop's own made the processor wait for its stores).
    for (;;) {
        const unsigned char* const p = in + pos;
        lazy_masks<Window> m(p);
        if (m.mask[B_BACKSLASH] != 0) {
            break;
        }
        window_tags t;
        t.end = HTML_WINDOW;
        if (m.mask[B_LT] != 0) {
            m.make_tag_masks(); // in place on every path: this loop is hot
            const tag_bytes tb = tag_bytes_of(m);
            if (!read_window_tags<Isa>(p, m, tb, t)) {
                break;
            }
        }
        // An '&' in prose is text unless a quote reference begins there;
        // the window's reading ends before one (no tag goes on past it: it
        // is in prose).
        for (std::uint64_t a = m.mask[B_AMP] & ~t.bytes & bits_below(t.end); a != 0; a &= a - 1) {
            const std::size_t i = lowest_bit(a);
            if (quote_reference_at(p + i + 1) != 0) {
                t.end = i;
                const std::uint64_t before = bits_below(i);
                t.starts &= before;
                t.bytes &= before;
                t.ends &= before;
                t.names &= before;
                break;
            }
        }
        if (t.end == 0) {
            break;
        }
        const std::uint64_t valid = bits_below(t.end);
        const std::uint64_t quotes = m.mask[B_QUOTE] & ~t.bytes & valid;
        std::uint64_t quote_mask = (Isa::prefix_xor(quotes) ^ state) & valid;
        std::uint64_t boundaries = 0;
        if ((quote_mask & t.ends) != 0) {
            boundaries = block_ends(p, t);
            quote_mask = quotation_in_segments<Isa>(quotes, state, boundaries, valid);
        }
        state = (boundaries >> (t.end - 1) & 1) != 0
                    ? 0
                    : spread_top_bit(quote_mask << (HTML_WINDOW - t.end));
        if constexpr (Check) {
            report_window(h, p, t.end, quotes, quote_mask, boundaries, m.w.equal('\n') & valid,
                          {}, state != 0);
            h.prev_byte = p[t.end - 1];
        }
        if (st.out.cap - st.out.len < OUT_CHUNK_ROOM) {
            flush_output(st);
        }
        unsigned char* const o = st.out.block + st.out.len;
        if (byte_marks) {
            // Whole, the bytes past t.end covered by the next write.
            Isa::copy_with_byte_marks(o, p, quotes & quote_mask, quotes & ~quote_mask,
                                      marks.open.bytes[0], marks.close.bytes[0]);
            st.out.len += t.end;
        } else {
            st.out.len += copy_with_edits(o, p, static_cast<unsigned>(t.end), quotes, quote_mask,
                                          0, 0, marks);
        }
        pos += t.end;
        if (len - pos < HTML_WINDOW + LOOKAHEAD) {
            break;
        }
    }
    if (pos != from) {
        h.quote_open = state != 0;
        h.prev_byte = in[pos - 1];
    }
    return pos;
}

// Prose outside a title, svg and math: what the bulk step can take.
inline bool in_plain_prose(const html_state& h)
{
    return h.mode == html_mode::prose && !h.title && h.depth == 0;
}

// With --check, where the bulk step cannot take window p: through the
// state machine, which keeps the lines and reports, until plain prose comes
// again. Outside a quotation the bytes of tags, comments, raw text and the
// like up to the next that could change their state only move the line on
// (and a tag's name). Returns the bytes taken.
template <class Window>
[[gnu::noinline]] std::size_t checked_steps(scan_state& st, html_state& h, const unsigned char* p)
{
    lazy_masks<Window> m(p);
    std::size_t j = 0;
    while (j == 0 || (j < HTML_WINDOW && !in_plain_prose(h))) {
        std::uint64_t stops = HTML_ALL; // in prose and the states around it, every byte
        if (!h.quote_open && h.mode == html_mode::tag) {
            m.tag_masks();
            stops = tag_stops(h, m);
        } else if (!h.quote_open) {
            stops = other_stops(h, m);
        }
        const std::uint64_t ahead = stops & (HTML_ALL << j);
        const std::size_t k =
            ahead == 0 ? HTML_WINDOW : static_cast<std::size_t>(__builtin_ctzll(ahead));
        if (k == j) {
            html_step(st, h, p[j]);
            ++j;
            continue;
        }
        if (h.mode != html_mode::tag) {
            apply_other_run(h);
        } else if (h.tag_template == TEMPLATE_IN_TAG) {
            h.question = false;
        } else if (h.tag == tag_state::name) {
            append_name(h, p, j, k);
        }
        if (k - j > st.out.cap - st.out.len) {
            flush_output(st);
        }
        std::memcpy(st.out.block + st.out.len, p + j, k - j);
        st.out.len += k - j;
        const std::uint64_t line_ends =
            m.w.equal('\n') & (HTML_ALL << j) & (HTML_ALL >> (HTML_WINDOW - k));
        h.line += static_cast<unsigned long>(count_ones(line_ends));
        h.prev_byte = p[k - 1];
        j = k;
    }
    return j;
}

// Goes through the rest of the block in windows while a window and what a
// byte may look ahead are at hand; the caller takes the rest byte by byte.
template <class Isa, class Window>
void scan_html_windows(scan_state& st)
{
    html_state& h = *st.html;
    const unsigned char* const in = st.in.block;
    const std::size_t len = st.in.len;
    std::size_t pos = st.in.pos;
    std::size_t simple_from = pos; // where simple_windows is tried again
    std::size_t backoff = HTML_WINDOW;
    while (len - pos >= HTML_WINDOW + LOOKAHEAD) {
        if (st.out.cap - st.out.len < OUT_CHUNK_ROOM) {
            flush_output(st);
        }
        const unsigned char* const p = in + pos;
        const std::size_t avail = len - pos; // bytes at hand from p
        lazy_masks<Window> m(p);
        if constexpr (Window::READS_TAGS_AT_ONCE) {
            if (pos >= simple_from && !st.break_tags && h.verbatim_total == 0 &&
                in_plain_prose(h)) {
                const std::size_t to =
                    h.report == nullptr
                        ? simple_windows<Isa, Window, false>(st, h, in, pos, len)
                        : simple_windows<Isa, Window, true>(st, h, in, pos, len);
                if (to != pos) {
                    pos = to;
                    backoff = backoff > HTML_WINDOW ? backoff / 2 : backoff;
                    continue;
                }
                // On pages dense with code, scripts or references the next
                // windows are likely the same: tried again further on each
                // time.
                simple_from = pos + backoff;
                backoff = backoff < SIMPLE_BACKOFF ? 2 * backoff : backoff;
            }
        }
        std::size_t i = 0;      // the next byte to read
        if (in_plain_prose(h)) {
            if ((m.mask[B_LT] | m.mask[B_AMP] | m.mask[B_BACKSLASH]) == 0) {
                pos = h.report == nullptr ? text_windows<Isa, Window, false>(st, h, in, pos, len)
                                          : text_windows<Isa, Window, true>(st, h, in, pos, len);
                continue;
            }
            // The next window starts where this one needs more than the
            // bulk step, so a tag that only went on past this window is
            // whole in the next.
            i = bulk_prose<Isa>(st, h, p, m);
            if (i != 0) {
                pos += i;
                continue;
            }
        }
        if (h.report != nullptr) {
#ifdef __SIZEOF_INT128__
            // A tag longer than the window, at its start, outside a
            // quotation (whose blank-line rule reads every byte).
            if (avail >= 2 * HTML_WINDOW && in_plain_prose(h) && !h.quote_open && m[B_GT] == 0) {
                i = tag_over_two_windows<Isa, Window>(st, h, p);
            }
#endif
            pos += i != 0 ? i : checked_steps<Window>(st, h, p);
            continue;
        }
#ifdef __SIZEOF_INT128__
        // A tag longer than the window, at its start (no '>' in it). A call
        // apart from --check's: one test for both made this loop dearer.
        if (avail >= 2 * HTML_WINDOW && in_plain_prose(h) && m[B_GT] == 0) {
            i = tag_over_two_windows<Isa, Window>(st, h, p);
            if (i != 0) {
                pos += i;
                continue;
            }
        }
#endif
        std::size_t copied = i; // the bytes before it written or replaced
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
        // Byte by byte, or state by state, until plain prose comes again.
        while (i < HTML_WINDOW && (i == 0 || !in_plain_prose(h))) {
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
                    html_toggle_quotation(st, h, j > 0 ? p[j - 1] : h.prev_byte);
                    copied = i = j + 1;
                } else if (c == '<') {
                    if (h.title || j + 2 >= avail) {
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
                        const std::size_t name_at = j + (end_tag ? 2 : 1);
                        start_name(h, p[name_at], end_tag);
                        m.tag_masks();
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
                        // The whole tag where it is at hand in this window.
                        const std::size_t end = k < HTML_WINDOW ? tag_end_at_hand<Isa>(m, k) : 0;
                        if (end != 0) {
                            i = end + 1;
                            // At hand, a '/' before the '>' is the tag's
                            // self-closing mark (no unquoted value).
                            html_end_tag(st, h, p[end - 1] == '/');
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
                        h.instruction_len = 0;
                        h.template_code = false;
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
                        html_toggle_quotation(st, h, j > 0 ? p[j - 1] : h.prev_byte);
                        copied = i = j + 1 + ref;
                    }
                } else {
                    step(j);
                }
                break;
            }
            case html_mode::tag: {
                m.tag_masks();
                const std::uint64_t stops = tag_stops(h, m) & (HTML_ALL << i);
                const std::size_t j = stops == 0 ? HTML_WINDOW
                                                 : static_cast<std::size_t>(__builtin_ctzll(stops));
                if (h.tag_template == TEMPLATE_IN_TAG) {
                    h.question = h.question && j == i;
                } else if (h.tag == tag_state::name) {
                    append_name(h, p, i, j);
                }
                if (j == HTML_WINDOW) {
                    i = j;
                    break;
                }
                if (h.tag_template != 0 || (p[j] == '<' && h.tag != tag_state::name)) {
                    step(j); // template code, or perhaps its start
                    break;
                }
                const tag_state next = tag_next(h.tag, p[j]);
                i = j + 1;
                if (next == tag_state::ended) {
                    const int before = j > 0 ? p[j - 1] : h.prev_byte;
                    html_end_tag(st, h, h.tag == tag_state::before_name && before == '/');
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
                } else if (const std::size_t after = raw_text_end(h, p, j); after != 0) {
                    // Its end tag's "</name" is raw text yet; the byte after
                    // it is read as the end tag's.
                    copy_to(after);
                    end_raw_text(h);
                    i = after;
                } else {
                    step(j);
                }
                break;
            }
            default:
                // A '<' or '&' the last window ended with: settled by the
                // byte after it, the rest of a run of them goes as prose.
                copy_to(i);
                if (!html_settle_pending(st, h, p[i])) {
                    step(i);
                }
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
