// The --html reading, one byte at a time: the state machine of html.h.

#include "html.h"

#include <cstring>

#include "html_tables.h"

namespace {

bool name_equals(const unsigned char* name, std::size_t len, const char* word)
{
    return std::strlen(word) == len && std::memcmp(name, word, len) == 0;
}

void write_bytes(scan_state& st, const unsigned char* p, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        write_char(st, p[i]);
    }
}

bool verbatim_open(const html_state& h)
{
    return h.verbatim_total != 0;
}

// A prose byte written as it is.
void write_text(scan_state& st, html_state& h, unsigned char c)
{
    write_char(st, c);
    if (!h.quote_open && !verbatim_open(h)) {
        st.last_char = c;
    }
}

void end_markup(scan_state& st, html_state& h)
{
    h.mode = html_mode::prose;
    st.last_char = '>';
}

// Template code starts with "<?php" (in any case) or "<?=". After "<?" and
// the first matched bytes of "php": what c makes of it, TEMPLATE_STARTED,
// the bytes of "php" matched then, or NO_TEMPLATE.
constexpr int TEMPLATE_STARTED = 3;
constexpr int NO_TEMPLATE = -1;

int template_start(int matched, unsigned char c)
{
    if (matched == 0 && c == '=') {
        return TEMPLATE_STARTED;
    }
    return lower(c) == static_cast<unsigned char>("php"[matched]) ? matched + 1 : NO_TEMPLATE;
}

// Whether c completes the start of template code in a tag: then the tag's
// state is again the one before its '<'. The bytes before c went through
// the tag's states as any others.
bool template_in_tag(html_state& h, unsigned char c)
{
    if (c == '<') {
        h.tag_template = 1;
        h.tag_before_template = h.tag;
        return false;
    }
    const std::uint8_t n = h.tag_template; // 1: after '<', then 2 + the bytes of "php"
    if (n == 1) {
        h.tag_template = c == '?' ? 2 : 0;
        return false;
    }
    const int next = n >= 2 ? template_start(n - 2, c) : NO_TEMPLATE;
    if (next != TEMPLATE_STARTED) {
        h.tag_template = next == NO_TEMPLATE ? 0 : static_cast<std::uint8_t>(next + 2);
        return false;
    }
    h.tag_template = TEMPLATE_IN_TAG;
    h.tag = h.tag_before_template;
    h.question = false;
    return true;
}

void start_tag_name(html_state& h, unsigned char c, bool end_tag)
{
    h.mode = html_mode::tag;
    h.tag = tag_state::name;
    h.end_tag = end_tag;
    h.name[0] = lower(c);
    h.name_len = 1;
}

void match_name(html_state& h, unsigned char c, const char* name, std::size_t len)
{
    if (h.match_exact && h.match_len < len && lower(c) == static_cast<unsigned char>(name[h.match_len])) {
        ++h.match_len;
    } else {
        h.match_exact = false;
    }
}

void restart_match(html_state& h)
{
    h.match_len = 0;
    h.match_exact = true;
}

// html_raw_advance. Inlined by force: the byte path takes every byte of a
// script through it, and with the charset scan as a second caller gcc would
// call it (2 % more instructions on pages with scripts).
[[gnu::always_inline]] inline bool raw_advance(html_state& h, unsigned char c)
{
    using R = raw_state;
    const char* name = RAW_NAMES[h.raw_element];
    const std::size_t len = RAW_NAME_LENGTHS[h.raw_element];
    const bool script = h.raw_element == RAW_SCRIPT;
    const char* script_name = RAW_NAMES[RAW_SCRIPT];
    const bool delimiter = is_blank(c) || c == '/' || c == '>';
    const bool matched = h.match_exact && h.match_len == len;
    for (;;) {
        switch (h.raw) {
        case R::data:
            if (c == '<') {
                h.raw = R::lt;
            }
            break;
        case R::lt:
            if (c == '/') {
                h.raw = R::end_open;
                restart_match(h);
            } else if (c == '!' && script) {
                h.raw = R::escape_start;
            } else {
                h.raw = R::data;
                continue;
            }
            break;
        case R::end_open:
            h.raw = is_letter(c) ? R::end_name : R::data;
            continue;
        case R::end_name:
            if (is_letter(c)) {
                match_name(h, c, name, len);
            } else if (delimiter && matched) {
                return true;
            } else {
                h.raw = R::data;
                continue;
            }
            break;
        case R::escape_start:
            if (c != '-') {
                h.raw = R::data;
                continue;
            }
            h.raw = R::escape_start_dash;
            break;
        case R::escape_start_dash:
            if (c != '-') {
                h.raw = R::data;
                continue;
            }
            h.raw = R::escaped_dash_dash;
            break;
        case R::escaped:
            h.raw = c == '-' ? R::escaped_dash : c == '<' ? R::escaped_lt : R::escaped;
            break;
        case R::escaped_dash:
            h.raw = c == '-' ? R::escaped_dash_dash : c == '<' ? R::escaped_lt : R::escaped;
            break;
        case R::escaped_dash_dash:
            h.raw = c == '-'   ? R::escaped_dash_dash
                    : c == '<' ? R::escaped_lt
                    : c == '>' ? R::data
                               : R::escaped;
            break;
        case R::escaped_lt:
            if (c == '/') {
                h.raw = R::escaped_end_open;
                restart_match(h);
            } else if (is_letter(c)) {
                h.raw = R::double_start;
                restart_match(h);
                continue;
            } else {
                h.raw = R::escaped;
                continue;
            }
            break;
        case R::escaped_end_open:
            h.raw = is_letter(c) ? R::escaped_end_name : R::escaped;
            continue;
        case R::escaped_end_name:
            if (is_letter(c)) {
                match_name(h, c, name, len);
            } else if (delimiter && matched) {
                return true;
            } else {
                h.raw = R::escaped;
                continue;
            }
            break;
        case R::double_start:
            if (is_letter(c)) {
                match_name(h, c, script_name, 6);
            } else if (delimiter) {
                h.raw = h.match_exact && h.match_len == 6 ? R::double_escaped : R::escaped;
            } else {
                h.raw = R::escaped;
                continue;
            }
            break;
        case R::double_escaped:
            h.raw = c == '-' ? R::double_dash : c == '<' ? R::double_lt : R::double_escaped;
            break;
        case R::double_dash:
            h.raw = c == '-' ? R::double_dash_dash : c == '<' ? R::double_lt : R::double_escaped;
            break;
        case R::double_dash_dash:
            h.raw = c == '-'   ? R::double_dash_dash
                    : c == '<' ? R::double_lt
                    : c == '>' ? R::data
                               : R::double_escaped;
            break;
        case R::double_lt:
            if (c != '/') {
                h.raw = R::double_escaped;
                continue;
            }
            h.raw = R::double_end;
            restart_match(h);
            break;
        case R::double_end:
            if (is_letter(c)) {
                match_name(h, c, script_name, 6);
            } else if (delimiter) {
                h.raw = h.match_exact && h.match_len == 6 ? R::escaped : R::double_escaped;
            } else {
                h.raw = R::double_escaped;
                continue;
            }
            break;
        }
        return false;
    }
}

// One byte of raw text; true where the raw text ended just before it (the
// byte is a blank, '/' or '>' after the closing "</name", and is read next
// as part of that end tag).
bool raw_step(scan_state& st, html_state& h, unsigned char c)
{
    if (raw_advance(h, c)) {
        return true;
    }
    write_char(st, c);
    return false;
}

// With --check: the blank-line rule over every byte read inside a quotation.
void note_blank_lines(html_state& h, unsigned char c)
{
    if (c == '\n') {
        if (h.blank_line) {
            html_report_boundary(h);
        }
        h.blank_line = true;
    } else if (c != ' ' && c != '\t' && c != '\r') {
        h.blank_line = false;
    }
}

// Names packed for the element table: the first eight bytes and the rest.
struct packed_name {
    std::uint64_t head;
    std::uint32_t tail;
};

} // namespace

bool html_raw_advance(html_state& h, unsigned char c)
{
    return raw_advance(h, c);
}

const char* verbatim_name(unsigned i)
{
    return VERBATIM_NAMES[i];
}

const char* raw_name(unsigned i)
{
    return RAW_NAMES[i];
}

std::size_t raw_name_length(unsigned i)
{
    return RAW_NAME_LENGTHS[i];
}

element_kind classify_element(const unsigned char* name, std::size_t len)
{
    return element_of(name, len);
}

bool is_quote_reference(const unsigned char* name, std::size_t len)
{
    static const char* const NAMED[] = {"quot", "QUOT", "bdquo", "ldquo", "ldquor", "rdquo",
                                        "rdquor"};
    for (const char* n : NAMED) {
        if (name_equals(name, len, n)) {
            return true;
        }
    }
    if (len < 2 || name[0] != '#') {
        return false;
    }
    const bool hex = name[1] == 'x' || name[1] == 'X';
    std::size_t i = hex ? 2 : 1;
    if (i == len) {
        return false;
    }
    unsigned long value = 0;
    for (; i < len; ++i) {
        const unsigned char c = lower(name[i]);
        unsigned digit;
        if (is_digit(c)) {
            digit = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return false;
        }
        value = value * (hex ? 16 : 10) + digit; // at most 9 digits: no overflow
    }
    switch (value) {
    case 0x22:    // "
    case 0x84:    // „ in windows-1252, as browsers read &#132;
    case 0x93:    // “
    case 0x94:    // ”
    case 0x201C:
    case 0x201D:
    case 0x201E:
        return true;
    default:
        return false;
    }
}

void html_report_boundary(html_state& h)
{
    if (h.report != nullptr && !h.boundary_reported) {
        h.boundary_reported = true;
        report_spot(*h.report, QUIB_SPOT_PARAGRAPH_IN_QUOTE, h.opened_line);
    }
}

void html_quotation_opens(html_state& h, int before)
{
    if (h.report != nullptr && is_digit(before)) {
        report_spot(*h.report, QUIB_SPOT_QUOTE_AFTER_DIGIT, h.line);
    }
    if (h.utf8_line != 0) {
        report_spot(*h.report, QUIB_SPOT_UTF8_PAGE_BYTE_MARKS, h.utf8_line);
        h.utf8_line = 0;
    }
    h.opened_line = h.line;
    h.boundary_reported = false;
    h.blank_line = false;
}

void html_toggle_quotation(scan_state& st, html_state& h, int before)
{
    if (!h.quote_open) {
        html_quotation_opens(h, before);
        write_mark(st, st.marks.open);
        h.quote_open = true;
    } else {
        write_mark(st, st.marks.close);
        h.quote_open = false;
        st.last_char = '"';
    }
}

void html_start_markup(scan_state& st, html_state& h, unsigned char c)
{
    if (h.title) {
        // "</" in a title: text, unless the title's name and a blank, '/'
        // or '>' follow. The bytes are written as they come.
        write_text(st, h, '<');
        write_text(st, h, c);
        h.mode = html_mode::title_end;
        h.match_len = 0;
        return;
    }
    if (st.break_tags && !h.quote_open && !verbatim_open(h) && st.last_char == '>') {
        write_char(st, '\n');
        st.last_char = 0;
    }
    write_char(st, '<');
    write_char(st, c);
    h.markup_line = h.line;
    if (is_letter(c)) {
        start_tag_name(h, c, false);
    } else if (c == '/') {
        h.mode = html_mode::end_tag_open;
    } else if (c == '!') {
        h.mode = html_mode::declaration;
        h.declaration_len = 0;
    } else {
        h.mode = html_mode::instruction;
        h.question = false;
        h.instruction_len = 0;
        h.template_code = false;
    }
}

// Where a tag moves between HTML and foreign content (svg, math), before
// its own effects: HTML tags that browsers end foreign content at end the
// level (the start tags they break out with, </br>; the end tags of block
// elements, which close an svg left open inside them where that element is
// open: around the outermost level, or inside the HTML level below).
void leave_foreign_level(html_state& h, const element_kind& k)
{
    if (!in_foreign(h)) {
        return;
    }
    html_state::namespace_level* below = h.depth >= 2 ? &h.levels[h.depth - 2] : nullptr;
    if (h.end_tag ? k.end_breakout : k.breakout) {
        --h.depth;
    } else if (h.end_tag && k.block && !k.outside_body_scope && k.integration < 0) {
        if (below == nullptr) {
            --h.depth;
        } else if (below->count > 0) {
            --h.depth;
            --below->count; // the element it closes
        }
    } else if (h.end_tag && k.integration >= 0 && below != nullptr &&
               below->element == k.integration && below->count == 0) {
        // The end tag of the integration point that holds this level.
        h.depth = static_cast<std::uint8_t>(h.depth - 2);
    }
}

// The levels a tag opens and closes after its own effects.
void follow_namespace(html_state& h, const element_kind& k, bool self_closing)
{
    const auto open_level = [&h](bool html, int element) {
        if (h.depth < NAMESPACE_LEVELS) {
            h.levels[h.depth++] = {html, static_cast<std::uint8_t>(element), html ? 0u : 1u};
        }
    };
    if (h.depth == 0 || h.levels[h.depth - 1].html) {
        if (k.foreign >= 0 && !h.end_tag) {
            if (!self_closing) {
                open_level(false, k.foreign);
            }
            return;
        }
        if (h.depth == 0) {
            return;
        }
        html_state::namespace_level& l = h.levels[h.depth - 1];
        html_state::namespace_level& root = h.levels[h.depth - 2];
        if (!h.end_tag) {
            if (!k.void_element) {
                ++l.count;
            }
        } else if (l.count > 0) {
            // Closes an HTML element inside; the end tags of svg, math and
            // the integration point are ignored there, as browsers ignore
            // them while an HTML element is open.
            if (k.foreign < 0 && k.integration != l.element) {
                --l.count;
            }
        } else if (k.integration == l.element) {
            --h.depth;
        } else if (k.foreign == root.element) {
            // At the integration point itself, an end tag is read as in
            // svg and math: this one closes the point and counts below.
            h.depth = static_cast<std::uint8_t>(h.depth - (--root.count == 0 ? 2 : 1));
        }
        return;
    }
    html_state::namespace_level& l = h.levels[h.depth - 1];
    if (k.foreign == l.element) {
        // Its self-closed start tag returned before; the other language's
        // name is an ordinary element here.
        if (!h.end_tag) {
            ++l.count;
        } else if (--l.count == 0) {
            --h.depth;
        }
    } else if (!h.end_tag && k.integration >= 0 &&
               (k.integration < static_cast<int>(SVG_INTEGRATION_POINTS)) == (l.element == 0)) {
        open_level(true, k.integration);
    }
}

void html_end_tag(scan_state& st, html_state& h, bool self_closing)
{
    end_markup(st, h);
    if (h.name_len > HTML_NAME_MAX) {
        return;
    }
    const element_kind k = classify_element(h.name, h.name_len);
    if (k.block && h.quote_open) {
        h.quote_open = false;
        html_report_boundary(h);
    }
    leave_foreign_level(h, k);
    // In svg and math, "/>" closes the element it opens, and script and
    // style hold text with tags, kept as code is (their end tags count
    // wherever they come).
    const bool foreign = in_foreign(h);
    if (foreign && self_closing && !h.end_tag) {
        return;
    }
    int verbatim = k.verbatim;
    if ((k.raw == RAW_SCRIPT || k.raw == RAW_STYLE) && (foreign || h.end_tag)) {
        verbatim = static_cast<int>(k.raw == RAW_SCRIPT ? FOREIGN_SCRIPT : FOREIGN_STYLE);
    }
    if (verbatim >= 0) {
        unsigned long& count = h.verbatim[verbatim];
        if (!h.end_tag) {
            if (count == 0) {
                h.verbatim_lines[verbatim] = h.markup_line;
                h.verbatim_order[verbatim] = ++h.verbatim_openings;
            }
            ++count;
            ++h.verbatim_total;
        } else if (count > 0) {
            --count;
            --h.verbatim_total;
        }
    }
    follow_namespace(h, k, self_closing);
    if (h.end_tag || foreign) {
        return;
    }
    if (k.raw == RAW_TITLE) {
        h.title = true;
        h.raw_line = h.markup_line;
    } else if (k.raw >= 0) {
        h.mode = html_mode::raw;
        h.raw = raw_state::data;
        h.raw_element = static_cast<std::uint8_t>(k.raw);
        h.raw_line = h.markup_line;
    } else if (k.plaintext) {
        h.mode = html_mode::plaintext;
        h.raw_line = h.markup_line;
    }
}

bool html_settle_pending(scan_state& st, html_state& h, unsigned char c)
{
    if (h.mode == html_mode::lt) {
        if (h.title ? c == '/' : opens_markup(c)) {
            return false;
        }
        write_text(st, h, '<');
    } else if (h.mode == html_mode::amp) {
        if ((is_reference_byte(c) && h.ref_len < QUOTE_REF_NAME_MAX) ||
            (c == ';' && is_quote_reference(h.ref_name, h.ref_len))) {
            return false;
        }
        // No quote reference: '&' and the name are ordinary bytes.
        write_text(st, h, '&');
        for (std::size_t i = 0; i < h.ref_len; ++i) {
            write_text(st, h, h.ref_name[i]);
        }
    } else {
        return false;
    }
    h.mode = html_mode::prose;
    return true;
}

void html_step(scan_state& st, html_state& h, unsigned char c)
{
    if (h.report != nullptr && h.quote_open) {
        note_blank_lines(h, c);
    }
    for (;;) {
        switch (h.mode) {
        case html_mode::prose:
            if (verbatim_open(h)) {
                if (c == '<') {
                    h.mode = html_mode::lt;
                } else {
                    write_char(st, c);
                }
                break;
            }
            switch (c) {
            case '<':
                h.mode = html_mode::lt;
                break;
            case '"':
                html_toggle_quotation(st, h, h.prev_byte);
                break;
            case '&':
                h.mode = html_mode::amp;
                h.ref_len = 0;
                h.ref_before = h.prev_byte;
                break;
            case '\\':
                h.mode = html_mode::backslash;
                break;
            default:
                write_text(st, h, c);
                break;
            }
            break;
        case html_mode::lt:
            if (html_settle_pending(st, h, c)) {
                continue;
            }
            html_start_markup(st, h, c);
            break;
        case html_mode::amp:
            if (html_settle_pending(st, h, c)) {
                continue;
            }
            if (c != ';') {
                h.ref_name[h.ref_len++] = c;
                break;
            }
            // 24&quot; is as much an inch mark as 24".
            h.mode = html_mode::prose;
            html_toggle_quotation(st, h, h.ref_before);
            break;
        case html_mode::backslash:
            h.mode = html_mode::prose;
            switch (c) {
            case '"':
            case '>':
            case '\\':
                write_char(st, c);
                break;
            case '<':
                h.mode = html_mode::backslash_lt;
                break;
            default:
                write_char(st, '\\');
                write_char(st, c);
                break;
            }
            if (c != '<') {
                st.last_char = c;
            }
            break;
        case html_mode::backslash_lt:
            if (h.title ? c == '/' : opens_markup(c)) {
                // The browser reads this '<' as markup whatever quib does:
                // the backslash stays text and the markup whole.
                write_text(st, h, '\\');
                html_start_markup(st, h, c);
                break;
            }
            write_char(st, '<');
            st.last_char = '<';
            h.mode = html_mode::prose;
            continue;
        case html_mode::end_tag_open:
            if (is_letter(c)) {
                write_char(st, c);
                start_tag_name(h, c, true);
            } else {
                write_char(st, c);
                h.mode = c == '>' ? html_mode::prose : html_mode::bogus;
                if (c == '>') {
                    end_markup(st, h);
                }
            }
            break;
        case html_mode::declaration:
            write_char(st, c);
            if (h.declaration_len == 0 && (c == '-' || c == '[')) {
                h.declaration_kind = static_cast<char>(c);
                h.declaration_len = 1;
            } else if (h.declaration_len > 0 && h.declaration_kind == '-' && c == '-') {
                h.mode = html_mode::comment;
                h.dashes = 2;
                h.own_dashes = 0;
                h.bang = false;
            } else if (h.declaration_len > 0 && h.declaration_kind == '[' &&
                       c == static_cast<unsigned char>("[CDATA["[h.declaration_len])) {
                if (++h.declaration_len == 7) {
                    // Outside svg and math, browsers end "<![CDATA[" at
                    // the first '>', as any other bogus comment.
                    h.mode = html_reads_cdata(h) ? html_mode::cdata : html_mode::bogus;
                    h.brackets = 0;
                }
            } else if (c == '>') {
                end_markup(st, h);
            } else {
                h.mode = html_mode::bogus;
            }
            break;
        case html_mode::tag: {
            write_char(st, c);
            if (h.tag_template == TEMPLATE_IN_TAG) {
                if (c == '>' && h.question) {
                    h.tag_template = 0;
                }
                h.question = c == '?';
                break;
            }
            if (h.tag != tag_state::name && template_in_tag(h, c)) {
                break;
            }
            const tag_state next = tag_next(h.tag, c);
            if (next == tag_state::ended) {
                // "/>": the '/' read where the tokenizer takes it for the
                // self-closing mark, not in an unquoted value.
                html_end_tag(st, h, h.tag == tag_state::before_name && h.prev_byte == '/');
            } else {
                if (h.tag == tag_state::name && next == tag_state::name &&
                    h.name_len <= HTML_NAME_MAX) {
                    if (h.name_len < HTML_NAME_MAX) {
                        h.name[h.name_len] = lower(c);
                    }
                    ++h.name_len;
                }
                h.tag = next;
            }
            break;
        }
        case html_mode::comment:
            write_char(st, c);
            if (c == '-') {
                h.dashes = h.dashes < 2 ? h.dashes + 1 : 2;
                h.own_dashes = h.own_dashes < 2 ? h.own_dashes + 1 : 2;
                h.bang = false;
            } else if (c == '>' && (h.dashes >= 2 || h.bang)) {
                end_markup(st, h);
            } else {
                h.bang = c == '!' && h.own_dashes >= 2;
                h.dashes = 0;
                h.own_dashes = 0;
            }
            break;
        case html_mode::cdata:
            write_char(st, c);
            if (c == '>' && h.brackets >= 2) {
                end_markup(st, h);
            }
            h.brackets = c == ']' ? (h.brackets < 2 ? h.brackets + 1 : 2) : 0;
            break;
        case html_mode::bogus:
            write_char(st, c);
            if (c == '>') {
                end_markup(st, h);
            }
            break;
        case html_mode::instruction:
            write_char(st, c);
            // Template code, <?php or <?=, ends at "?>": its '>' may be
            // code. Any other <? ends at '>', as in browsers (Word writes
            // <?xml:namespace ... />).
            if (h.instruction_len < 3) {
                const int next = template_start(h.instruction_len, c);
                h.template_code = next == TEMPLATE_STARTED;
                h.instruction_len = static_cast<std::uint8_t>(next == NO_TEMPLATE ? 3 : next);
            }
            if (c == '>' && (!h.template_code || h.question)) {
                end_markup(st, h);
            }
            h.question = c == '?';
            break;
        case html_mode::raw:
            if (raw_step(st, h, c)) {
                end_raw_text(h);
                continue;
            }
            break;
        case html_mode::plaintext:
            write_char(st, c);
            break;
        case html_mode::title_end: {
            constexpr std::size_t len = RAW_NAME_LENGTHS[RAW_TITLE];
            if (h.match_len < len &&
                lower(c) == static_cast<unsigned char>(RAW_NAMES[RAW_TITLE][h.match_len])) {
                write_text(st, h, c);
                ++h.match_len;
                break;
            }
            if (h.match_len == len && (is_blank(c) || c == '/' || c == '>')) {
                // The title's end tag, its name already written.
                h.title = false;
                start_tag_name(h, 't', true);
                std::memcpy(h.name, RAW_NAMES[RAW_TITLE], len);
                h.name_len = static_cast<std::uint8_t>(len);
                h.markup_line = h.line;
                continue;
            }
            h.mode = html_mode::prose; // text after all: c as prose
            continue;
        }
        }
        break;
    }
    h.prev_byte = c;
    if (c == '\n') {
        ++h.line;
    }
}

void html_end(scan_state& st, html_state& h)
{
    if (h.untouched) {
        return;
    }
    switch (h.mode) {
    case html_mode::lt:
    case html_mode::backslash_lt:
        write_char(st, '<');
        break;
    case html_mode::amp:
        write_char(st, '&');
        write_bytes(st, h.ref_name, h.ref_len);
        break;
    case html_mode::prose:
    case html_mode::backslash:
    case html_mode::title_end:
        break;
    case html_mode::end_tag_open:
    case html_mode::tag:
        if (h.report != nullptr) {
            report_spot(*h.report, QUIB_SPOT_MARKUP_UNCLOSED, h.markup_line, "tag");
        }
        break;
    case html_mode::declaration:
    case html_mode::bogus:
        if (h.report != nullptr) {
            report_spot(*h.report, QUIB_SPOT_MARKUP_UNCLOSED, h.markup_line, "declaration");
        }
        break;
    case html_mode::comment:
        if (h.report != nullptr) {
            report_spot(*h.report, QUIB_SPOT_MARKUP_UNCLOSED, h.markup_line, "comment");
        }
        break;
    case html_mode::cdata:
        if (h.report != nullptr) {
            report_spot(*h.report, QUIB_SPOT_MARKUP_UNCLOSED, h.markup_line, "cdata");
        }
        break;
    case html_mode::instruction:
        if (h.report != nullptr) {
            report_spot(*h.report, QUIB_SPOT_MARKUP_UNCLOSED, h.markup_line, "instruction");
        }
        break;
    case html_mode::raw:
        if (h.report != nullptr) {
            report_spot(*h.report, QUIB_SPOT_ELEMENT_UNCLOSED, h.raw_line, RAW_NAMES[h.raw_element]);
        }
        break;
    case html_mode::plaintext:
        if (h.report != nullptr) {
            report_spot(*h.report, QUIB_SPOT_ELEMENT_UNCLOSED, h.raw_line, "plaintext");
        }
        break;
    }
    if (h.report != nullptr && h.title) {
        report_spot(*h.report, QUIB_SPOT_ELEMENT_UNCLOSED, h.raw_line, RAW_NAMES[RAW_TITLE]);
    }
    if (h.report != nullptr && verbatim_open(h)) {
        unsigned outermost = 0;
        for (unsigned v = 0; v < VERBATIM_ELEMENTS; ++v) {
            if (h.verbatim[v] != 0 && (h.verbatim[outermost] == 0 ||
                                       h.verbatim_order[v] < h.verbatim_order[outermost])) {
                outermost = v;
            }
        }
        report_spot(*h.report, QUIB_SPOT_ELEMENT_UNCLOSED, h.verbatim_lines[outermost],
                    VERBATIM_NAMES[outermost]);
    }
    if (h.report != nullptr && h.quote_open) {
        report_spot(*h.report, QUIB_SPOT_QUOTE_CUT_OFF, h.opened_line);
    }
}

void scan_html(scan_state& st)
{
    html_state& h = *st.html;
    for (;;) {
        if (st.scan_html_chunks != nullptr) {
            st.scan_html_chunks(st);
        }
        if (st.in.pos < st.in.len) {
            html_step(st, h, st.in.block[st.in.pos++]);
        } else if (!refill_input(st)) {
            break;
        }
    }
    html_end(st, h);
    flush_output(st);
}
