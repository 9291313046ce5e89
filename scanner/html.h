#ifndef QUIB_HTML_H
#define QUIB_HTML_H

// Option --html: the input read the way a browser's tokenizer reads it, as
// far as it matters for quotes (docs/html-mode.md has the rules). Only prose
// is converted; markup, raw text (script, style, ...) and the text of code
// elements (pre, code, ...) pass unchanged. The reading is an explicit state
// machine, so it can stop at any byte and go on with the next block; the
// byte path steps it one byte at a time, the chunk path (html_scan.h) skips
// the runs of bytes that change nothing in the state it is in.

#include <cstddef>
#include <cstdint>

#include "check.h"
#include "scanner.h"

inline constexpr std::size_t HTML_NAME_MAX = 13;      // the longest name looked for (foreignobject)
inline constexpr std::size_t QUOTE_REF_NAME_MAX = 10; // bytes between '&' and ';'
// "<?php" has five bytes; tag_template counts them, then stays here.
inline constexpr std::uint8_t TEMPLATE_IN_TAG = 5;

enum class html_mode : std::uint8_t {
    prose,
    lt,            // after '<' in prose: the next byte decides
    amp,           // after '&' in prose: perhaps a quote reference
    backslash,     // after '\' in prose
    backslash_lt,  // after '\<' in prose
    end_tag_open,  // after "</"
    declaration,   // after "<!": a comment, CDATA or a declaration
    tag,
    comment,
    cdata,
    bogus,         // "<!DOCTYPE ...", "<!x...", "</ x...": up to '>'
    instruction,   // "<?...": up to '>', or "?>" for template code
    raw,           // the text of script, style, textarea, ...
    title_end,     // after "</" in a title: its name's bytes so far, written as text
    plaintext,     // the rest of the input after <plaintext>
};

// A tag's state: where it ends and whether a quote opens a value.
enum class tag_state : std::uint8_t {
    name,          // N
    before_name,   // B
    attribute,     // A: an attribute name, or blanks after it
    before_value,  // V
    unquoted,      // U
    double_quoted, // D
    single_quoted, // S
    after_quoted,  // Q
    ended,
};

// Raw text: the states that decide where it ends (for script, those of the
// tokenizer's script data, with its <!-- escapes).
enum class raw_state : std::uint8_t {
    data, lt, end_open, end_name,
    escape_start, escape_start_dash, escaped, escaped_dash, escaped_dash_dash,
    escaped_lt, escaped_end_open, escaped_end_name,
    double_start, double_escaped, double_dash, double_dash_dash, double_lt, double_end,
};

// pre code kbd samp tt listing, then script and style inside svg or math,
// which are no raw text there: their text is kept, their tags are tags.
inline constexpr unsigned VERBATIM_ELEMENTS = 8;
inline constexpr unsigned HTML_VERBATIM_ELEMENTS = 6;
inline constexpr unsigned FOREIGN_SCRIPT = 6;
inline constexpr unsigned FOREIGN_STYLE = 7;
inline constexpr unsigned FOREIGN_ELEMENTS = 2; // svg math
// The HTML integration points, where svg and math hold HTML again: svg's
// foreignObject, desc and title, then MathML's mi, mo, mn, ms and mtext.
inline constexpr unsigned INTEGRATION_POINTS = 8;
inline constexpr unsigned SVG_INTEGRATION_POINTS = 3;
// How deep foreign content and the HTML inside it are followed.
inline constexpr unsigned NAMESPACE_LEVELS = 8;
inline constexpr unsigned RAW_ELEMENTS = 8;       // script style textarea xmp iframe noembed noframes title
inline constexpr std::uint8_t RAW_SCRIPT = 0;
inline constexpr std::uint8_t RAW_STYLE = 4;
// A title holds no markup either, but its text is prose: quotes are
// converted there. Only its end tag ends it.
inline constexpr std::uint8_t RAW_TITLE = 7;

struct html_state {
    html_mode mode = html_mode::prose;
    bool quote_open = false;

    // amp: the name after '&' so far.
    unsigned char ref_name[QUOTE_REF_NAME_MAX] = {};
    std::uint8_t ref_len = 0;
    int ref_before = -1;             // the input byte before its '&'
    // declaration: which of "--" and "[CDATA[" the bytes after "<!" begin,
    // and how many of its bytes they matched.
    char declaration_kind = 0;
    std::uint8_t declaration_len = 0;

    // tag
    tag_state tag = tag_state::name;
    bool end_tag = false;
    // Template code in a tag after its name, "<?php" or "<?=" up to "?>":
    // how much of its start has come (TEMPLATE_IN_TAG: it has; then
    // question holds whether '?' came just before), and the tag's state
    // before its '<', which it leaves as it was.
    std::uint8_t tag_template = 0;
    tag_state tag_before_template = tag_state::name;
    unsigned char name[HTML_NAME_MAX] = {};
    std::uint8_t name_len = 0;       // HTML_NAME_MAX + 1: longer than any looked for

    // comment, cdata, instruction: the bytes just before
    std::uint8_t dashes = 0;         // '-' in a row, those of "<!--" counted (at most 2)
    std::uint8_t own_dashes = 0;     // the same, after "<!--"
    bool bang = false;               // "--!" just before
    std::uint8_t brackets = 0;       // ']' in a row (at most 2)
    bool question = false;           // '?' just before
    std::uint8_t instruction_len = 0; // bytes after "<?" that decided its kind (3: decided)
    bool template_code = false;      // "<?php" or "<?=": ends at "?>", not at '>'

    // raw
    raw_state raw = raw_state::data;
    std::uint8_t raw_element = 0;
    std::uint8_t match_len = 0;      // of the raw element's name after "</" (or "<")
    bool match_exact = true;
    bool title = false;              // in a title's text: '<' is text but for "</title"

    // The open code elements, per name.
    unsigned long verbatim[VERBATIM_ELEMENTS] = {};
    unsigned long verbatim_total = 0;
    // Foreign content (svg and math: a start tag ending in "/>" opens
    // nothing, no element's text is raw, CDATA is CDATA) and the HTML of its
    // integration points, innermost last. A foreign level counts the open
    // elements of its own name (svg or math), an HTML level the HTML
    // elements open inside it.
    struct namespace_level {
        bool html;
        std::uint8_t element; // foreign: svg 0, math 1; HTML: its integration point
        unsigned long count;
    };
    namespace_level levels[NAMESPACE_LEVELS] = {};
    std::uint8_t depth = 0;   // levels open; 0: plain HTML

    // --check (report nullptr: off)
    spot_report* report = nullptr;
    unsigned long line = 1;          // of the byte being read
    int prev_byte = -1;              // the input byte before it
    unsigned long opened_line = 0;   // where the open quotation began
    bool boundary_reported = false;
    bool blank_line = false;         // only blanks since a line end inside the quotation
    unsigned long markup_line = 0;   // where the markup being read began
    unsigned long raw_line = 0;      // the start tag of the raw text
    // For each code element's name, where and in which order it last
    // opened while none of that name was open: the outermost element still
    // open is reported at the end.
    unsigned long verbatim_lines[VERBATIM_ELEMENTS] = {};
    unsigned long verbatim_order[VERBATIM_ELEMENTS] = {};
    unsigned long verbatim_openings = 0;
    unsigned long utf8_line = 0;     // a UTF-8 declaration not yet reported (byte marks)
    bool untouched = false;          // the whole input is copied as it is (UTF-16)
};

// The pass with --html: the byte path, and the chunk path where st has one.
void scan_html(scan_state& st);

// One input byte through the state machine; the end of the input.
void html_step(scan_state& st, html_state& h, unsigned char c);
// Where c shows a pending '<' or '&' (with the name read after it) to be
// text, writes it and returns to prose without reading c.
bool html_settle_pending(scan_state& st, html_state& h, unsigned char c);
void html_end(scan_state& st, html_state& h);
// One byte of the text of the raw text element h.raw_element in state
// h.raw, as a browser's tokenizer reads it; true where that byte, a blank,
// '/' or '>', follows the "</name" that ends the text.
bool html_raw_advance(html_state& h, unsigned char c);

// Shared with the chunk path.
struct element_kind {
    bool block = false;
    int verbatim = -1;     // index, or -1
    int raw = -1;          // index, or -1
    bool plaintext = false;
    int foreign = -1;      // svg 0, math 1, or -1
    bool breakout = false;     // its start tag ends foreign content
    bool end_breakout = false; // its end tag does too (br)
    int integration = -1;  // which integration point, or -1
    bool void_element = false;       // a start tag opens nothing that ends
    bool outside_body_scope = false; // html, head, body: their end tags close no svg
};
element_kind classify_element(const unsigned char* name, std::size_t len);
const char* verbatim_name(unsigned i);
const char* raw_name(unsigned i);
std::size_t raw_name_length(unsigned i);
// The quote reference "&name;" for name[0, len), or not.
bool is_quote_reference(const unsigned char* name, std::size_t len);

// Whether the reading is in svg or math (not in HTML inside them).
inline bool in_foreign(const html_state& h)
{
    return h.depth != 0 && !h.levels[h.depth - 1].html;
}

// Whether "<![CDATA[" starts CDATA: in svg and math, and at an integration
// point itself, before an HTML element opens inside it.
inline bool html_reads_cdata(const html_state& h)
{
    return h.depth != 0 && (!h.levels[h.depth - 1].html || h.levels[h.depth - 1].count == 0);
}

// The effects of the byte path that the chunk path shares.
// before: the input byte before the quote or the reference's '&'.
void html_toggle_quotation(scan_state& st, html_state& h, int before);
// With --check: what a quotation's opening notes and reports (before: the
// byte before its quote), a paragraph boundary inside the quotation.
void html_quotation_opens(html_state& h, int before);
void html_report_boundary(html_state& h);
void html_start_markup(scan_state& st, html_state& h, unsigned char c);
void html_end_tag(scan_state& st, html_state& h, bool self_closing);

#endif
