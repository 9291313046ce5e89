#ifndef QUIB_HTML_TABLES_H
#define QUIB_HTML_TABLES_H

// The byte classes and the tag table of the --html reading, shared by the
// byte path and the chunk path. Internal to each file that includes it, as
// the chunk path is compiled for several instruction sets.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "html.h"

namespace {

inline bool is_blank(unsigned char c)
{
    return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
}

inline unsigned char lower(unsigned char c)
{
    return static_cast<unsigned char>(c - 'A') < 26 ? static_cast<unsigned char>(c | 0x20) : c;
}

// Only 'A' to 'Z' and 'a' to 'z' are letters once 0x20 is set.
inline bool is_letter(unsigned char c)
{
    return static_cast<unsigned char>((c | 0x20) - 'a') < 26;
}

inline bool is_digit(int c)
{
    return c >= '0' && c <= '9';
}

inline bool is_reference_byte(unsigned char c)
{
    return is_letter(c) || is_digit(c) || c == '#';
}

// What a '<' before c starts: markup, or nothing (the '<' is text).
inline bool opens_markup(unsigned char c)
{
    return is_letter(c) || c == '/' || c == '!' || c == '?';
}

// The tag table of docs/html-mode.md: the state after a byte of each class.
enum byte_class : std::uint8_t { BLANK, SLASH, GT, EQ, DQ, SQ, OTHER, CLASSES };

inline byte_class class_of(unsigned char c)
{
    switch (c) {
    case '/':
        return SLASH;
    case '>':
        return GT;
    case '=':
        return EQ;
    case '"':
        return DQ;
    case '\'':
        return SQ;
    default:
        return is_blank(c) ? BLANK : OTHER;
    }
}

using T = tag_state;
constexpr T TAG_NEXT[8][CLASSES] = {
    // blank          /              >         =               "                 '                 other
    {T::before_name, T::before_name, T::ended, T::name, T::name, T::name, T::name},                     // N
    {T::before_name, T::before_name, T::ended, T::attribute, T::attribute, T::attribute, T::attribute}, // B
    {T::attribute, T::before_name, T::ended, T::before_value, T::attribute, T::attribute, T::attribute}, // A
    {T::before_value, T::unquoted, T::ended, T::unquoted, T::double_quoted, T::single_quoted, T::unquoted}, // V
    {T::before_name, T::unquoted, T::ended, T::unquoted, T::unquoted, T::unquoted, T::unquoted},        // U
    {T::double_quoted, T::double_quoted, T::double_quoted, T::double_quoted, T::after_quoted, T::double_quoted, T::double_quoted}, // D
    {T::single_quoted, T::single_quoted, T::single_quoted, T::single_quoted, T::single_quoted, T::after_quoted, T::single_quoted}, // S
    {T::before_name, T::before_name, T::ended, T::attribute, T::attribute, T::attribute, T::attribute}, // Q
};

inline tag_state tag_next(tag_state t, unsigned char c)
{
    return TAG_NEXT[static_cast<int>(t)][class_of(c)];
}

// The elements the reading acts on.
constexpr const char* VERBATIM_NAMES[VERBATIM_ELEMENTS] = {"pre", "code", "kbd", "samp", "tt",
                                                         "listing", "script", "style"};
constexpr const char* FOREIGN_NAMES[FOREIGN_ELEMENTS] = {"svg", "math"};
constexpr const char* RAW_NAMES[RAW_ELEMENTS] = {"script", "iframe", "noembed", "noframes",
                                                  "style",  "textarea", "xmp", "title"};
constexpr std::uint8_t RAW_NAME_LENGTHS[RAW_ELEMENTS] = {6, 6, 7, 8, 5, 8, 3, 5};
constexpr bool raw_lengths_match()
{
    for (unsigned i = 0; i < RAW_ELEMENTS; ++i) {
        unsigned n = 0;
        while (RAW_NAMES[i][n] != '\0') {
            ++n;
        }
        if (n != RAW_NAME_LENGTHS[i]) {
            return false;
        }
    }
    return true;
}
static_assert(raw_lengths_match());

// Where "</name" has ended the raw text of h.raw_element: its end tag, read
// up to its name (the line has not moved since the '<').
inline void end_raw_text(html_state& h)
{
    const std::size_t len = RAW_NAME_LENGTHS[h.raw_element];
    h.mode = html_mode::tag;
    h.tag = tag_state::name;
    h.end_tag = true;
    std::memcpy(h.name, RAW_NAMES[h.raw_element], len);
    h.name_len = static_cast<std::uint8_t>(len);
    h.markup_line = h.line;
}
constexpr const char* BLOCK_NAMES[] = {
    "p",          "div",     "li",      "dt",       "dd",      "td",         "th",
    "tr",         "table",   "ul",      "ol",       "dl",      "h1",         "h2",
    "h3",         "h4",      "h5",      "h6",       "blockquote", "section", "article",
    "header",     "footer",  "nav",     "aside",    "main",    "figure",     "figcaption",
    "form",       "fieldset", "body",   "pre",      "html",    "head",       "title",
    "address",    "caption", "details", "summary",  "dialog",  "hr",         "menu",
    "thead",      "tbody",   "tfoot",   "hgroup",   "legend",     "center",  "option"};
// The start tags at which browsers leave svg and math for HTML (font only
// with certain attributes, which are not looked at).
constexpr const char* BREAKOUT_NAMES[] = {
    "b",    "big",  "blockquote", "body", "br",     "center", "code",  "dd",   "div",
    "dl",   "dt",   "em",         "embed", "h1",    "h2",     "h3",    "h4",   "h5",
    "h6",   "head", "hr",         "i",    "img",    "li",     "listing", "menu", "meta",
    "nobr", "ol",   "p",          "pre",  "ruby",   "s",      "small", "span", "strong",
    "strike", "sub", "sup",       "table", "tt",    "u",      "ul",    "var"};
// The elements without an end tag.
constexpr const char* VOID_NAMES[] = {"area",  "base",   "br",    "col",   "embed",
                                      "hr",    "img",    "input", "link",  "meta",
                                      "param", "source", "track", "wbr"};
// Lowercase, as names are compared; svg's first (SVG_INTEGRATION_POINTS).
constexpr const char* INTEGRATION_NAMES[INTEGRATION_POINTS] = {
    "foreignobject", "desc", "title", "mi", "mo", "mn", "ms", "mtext"};

// The element table as a hash table built by the compiler: a name's
// element_kind in one probe or two, for every tag of a page.
struct element_slot {
    std::uint64_t head = 0;  // the name's first eight bytes, the first lowest
    std::uint64_t tail = 0;  // its ninth to thirteenth
    std::uint8_t len = 0;    // 0: empty slot
    element_kind kind{};
};
constexpr unsigned ELEMENT_SLOTS = 256;

constexpr std::uint64_t pack(const unsigned char* name, std::size_t from, std::size_t to)
{
    std::uint64_t w = 0;
    for (std::size_t i = from; i < to; ++i) {
        w |= std::uint64_t{name[i]} << 8 * (i - from);
    }
    return w;
}

constexpr unsigned slot_of(std::uint64_t head, std::uint64_t tail, std::size_t len)
{
    const std::uint64_t key = head ^ (tail << 20) ^ (std::uint64_t{len} << 56);
    return static_cast<unsigned>((key * 0x9E3779B97F4A7C15u) >> 56);
}

struct element_table {
    element_slot slot[ELEMENT_SLOTS];

    // Adds what is set in k to the name's kind.
    constexpr void add(const char* text, element_kind k)
    {
        unsigned char name[HTML_NAME_MAX] = {};
        std::size_t len = 0;
        while (text[len] != '\0') {
            name[len] = static_cast<unsigned char>(text[len]);
            ++len;
        }
        const std::uint64_t head = pack(name, 0, len < 8 ? len : 8);
        const std::uint64_t tail = len > 8 ? pack(name, 8, len) : 0;
        unsigned i = slot_of(head, tail, len);
        while (slot[i].len != 0 && !(slot[i].head == head && slot[i].tail == tail && slot[i].len == len)) {
            i = (i + 1) % ELEMENT_SLOTS;
        }
        element_slot& e = slot[i];
        e.head = head;
        e.tail = tail;
        e.len = static_cast<std::uint8_t>(len);
        e.kind.block = e.kind.block || k.block;
        e.kind.verbatim = k.verbatim >= 0 ? k.verbatim : e.kind.verbatim;
        e.kind.raw = k.raw >= 0 ? k.raw : e.kind.raw;
        e.kind.plaintext = e.kind.plaintext || k.plaintext;
        e.kind.foreign = k.foreign >= 0 ? k.foreign : e.kind.foreign;
        e.kind.breakout = e.kind.breakout || k.breakout;
        e.kind.end_breakout = e.kind.end_breakout || k.end_breakout;
        e.kind.integration = k.integration >= 0 ? k.integration : e.kind.integration;
        e.kind.void_element = e.kind.void_element || k.void_element;
        e.kind.outside_body_scope = e.kind.outside_body_scope || k.outside_body_scope;
    }
};

constexpr element_table build_element_table()
{
    element_table t{};
    for (const char* b : BLOCK_NAMES) {
        t.add(b, {.block = true});
    }
    for (unsigned i = 0; i < HTML_VERBATIM_ELEMENTS; ++i) {
        t.add(VERBATIM_NAMES[i], {.verbatim = static_cast<int>(i)});
    }
    for (unsigned i = 0; i < RAW_ELEMENTS; ++i) {
        t.add(RAW_NAMES[i], {.raw = static_cast<int>(i)});
    }
    t.add("plaintext", {.plaintext = true});
    for (unsigned i = 0; i < FOREIGN_ELEMENTS; ++i) {
        t.add(FOREIGN_NAMES[i], {.foreign = static_cast<int>(i)});
    }
    for (const char* b : BREAKOUT_NAMES) {
        t.add(b, {.breakout = true});
    }
    for (unsigned i = 0; i < INTEGRATION_POINTS; ++i) {
        t.add(INTEGRATION_NAMES[i], {.integration = static_cast<int>(i)});
    }
    t.add("br", {.end_breakout = true});
    for (const char* v : VOID_NAMES) {
        t.add(v, {.void_element = true});
    }
    for (const char* o : {"html", "head", "body"}) {
        t.add(o, {.outside_body_scope = true});
    }
    return t;
}

constexpr element_table ELEMENT_TABLE = build_element_table();

// The element of a name packed as the table packs it.
inline element_kind element_of_packed(std::uint64_t head, std::uint64_t tail, std::size_t len)
{
    for (unsigned i = slot_of(head, tail, len);; i = (i + 1) % ELEMENT_SLOTS) {
        const element_slot& e = ELEMENT_TABLE.slot[i];
        if (e.len == 0) {
            return {};
        }
        if (e.head == head && e.tail == tail && e.len == len) {
            return e.kind;
        }
    }
}

// The start tags that change the reading (code, raw text, plaintext, svg
// and math) told apart from the others by their first two bytes and length,
// so most tags need no look into the table: a bit for each such key.
constexpr unsigned special_key(unsigned char first, unsigned char second, std::size_t len)
{
    return (first | 0x20u) % 32 | (second | 0x20u) % 32 << 5 | static_cast<unsigned>(len % 16) << 10;
}
constexpr unsigned SPECIAL_KEYS = 1u << 14;

struct special_start_table {
    std::uint64_t bits[SPECIAL_KEYS / 64] = {};

    constexpr void add(const char* name)
    {
        std::size_t len = 0;
        while (name[len] != '\0') {
            ++len;
        }
        const unsigned key = special_key(static_cast<unsigned char>(name[0]),
                                         static_cast<unsigned char>(name[1]), len);
        bits[key / 64] |= std::uint64_t{1} << key % 64;
    }
};

constexpr special_start_table build_special_starts()
{
    special_start_table t{};
    for (unsigned i = 0; i < HTML_VERBATIM_ELEMENTS; ++i) {
        t.add(VERBATIM_NAMES[i]);
    }
    for (const char* name : RAW_NAMES) {
        t.add(name);
    }
    t.add("plaintext");
    for (const char* name : FOREIGN_NAMES) {
        t.add(name);
    }
    return t;
}

constexpr special_start_table SPECIAL_STARTS = build_special_starts();

// Whether the start tag of the name of len bytes at p (any case; at least
// its first two bytes at hand) may change the reading; if not, only whether
// it is a block element may matter.
inline bool may_start_special(const unsigned char* p, std::size_t len)
{
    const unsigned key = special_key(p[0], p[1], len);
    return (SPECIAL_STARTS.bits[key / 64] >> key % 64 & 1) != 0;
}

// What the element of a lowercase name is to the reading.
inline element_kind element_of(const unsigned char* name, std::size_t len)
{
    if (len == 0 || len > HTML_NAME_MAX) {
        return {};
    }
    return element_of_packed(pack(name, 0, len < 8 ? len : 8), len > 8 ? pack(name, 8, len) : 0,
                             len);
}

// The bytes of w with 'A' to 'Z' made lowercase, the others as they are:
// eight bytes at once.
inline std::uint64_t lower_bytes(std::uint64_t w)
{
    constexpr std::uint64_t LOW7 = 0x7F7F7F7F7F7F7F7Fu;
    constexpr std::uint64_t HIGH = 0x8080808080808080u;
    const std::uint64_t low = w & LOW7;
    const std::uint64_t from_a = low + 0x3F3F3F3F3F3F3F3Fu;  // high bit: low >= 'A'
    const std::uint64_t past_z = low + 0x2525252525252525u;  // high bit: low > 'Z'
    const std::uint64_t upper = from_a & ~past_z & ~w & HIGH;
    return w | upper >> 2;
}

// What the element of the name of n bytes at p (any case) is, where the
// sixteen bytes at p are at hand.
inline element_kind element_at(const unsigned char* p, std::size_t n)
{
    if (n == 0 || n > HTML_NAME_MAX) {
        return {};
    }
    if constexpr (std::endian::native != std::endian::little) {
        unsigned char name[HTML_NAME_MAX];
        for (std::size_t k = 0; k < n; ++k) {
            name[k] = lower(p[k]);
        }
        return element_of(name, n);
    }
    std::uint64_t head;
    std::memcpy(&head, p, sizeof head);
    head = lower_bytes(head);
    std::uint64_t tail = 0;
    if (n < 8) {
        head &= (std::uint64_t{1} << 8 * n) - 1;
    } else if (n > 8) {
        std::memcpy(&tail, p + 8, sizeof tail);
        tail = lower_bytes(tail) & ((std::uint64_t{1} << 8 * (n - 8)) - 1);
    }
    return element_of_packed(head, tail, n);
}

} // namespace

#endif
