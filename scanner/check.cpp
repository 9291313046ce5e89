// Option --check in the default conversion. The handlers tell these
// functions what they meet, so the report follows exactly the quotations
// and tags the conversion makes.

#include "check.h"

#include <cstdint>

namespace {

constexpr std::size_t NAME_WORD_MAX = 8; // bytes of a name that fit in a word

// The name's bytes as the low bytes of a word, the first lowest.
constexpr std::uint64_t name_word(const char* name)
{
    std::uint64_t w = 0;
    for (std::size_t k = 0; name[k] != '\0'; ++k) {
        w |= std::uint64_t{static_cast<unsigned char>(name[k])} << (8 * k);
    }
    return w;
}

constexpr std::uint64_t CODE_ELEMENT_WORDS[CODE_ELEMENT_COUNT] = {
    name_word(CODE_ELEMENTS[0]), name_word(CODE_ELEMENTS[1]), name_word(CODE_ELEMENTS[2]),
    name_word(CODE_ELEMENTS[3]), name_word(CODE_ELEMENTS[4]), name_word(CODE_ELEMENTS[5]),
    name_word(CODE_ELEMENTS[6]), name_word(CODE_ELEMENTS[7])};

void report_boundary(quote_check& c)
{
    if (!c.boundary_reported) {
        c.boundary_reported = true;
        report_spot(*c.out, QUIB_SPOT_PARAGRAPH_IN_QUOTE, c.opened_line);
    }
}

unsigned char lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// The outermost tag has ended: a start or end tag of a code element opens
// or closes it.
void note_element(quote_check& c, const unsigned char* text, std::size_t len)
{
    const unsigned char* t = text;
    std::size_t n = len < TAG_TEXT_MAX ? len : TAG_TEXT_MAX;
    const bool end_tag = n > 0 && t[0] == '/';
    if (end_tag) {
        ++t;
        --n;
    }
    // The name, lowercase, as a word; a longer one is no code element's.
    std::uint64_t word = 0;
    std::size_t name = 0;
    for (; name < n; ++name) {
        // A letter or digit with the case bit set: the lowercase letter,
        // the digit itself.
        const unsigned char b = t[name] | 0x20u;
        if (static_cast<unsigned char>(b - 'a') >= 26 &&
            static_cast<unsigned char>(t[name] - '0') >= 10) {
            break;
        }
        if (name == NAME_WORD_MAX) {
            return;
        }
        word |= std::uint64_t{b} << (8 * name);
    }
    // The name ends the tag's text or comes before a blank or '/'.
    const bool delimited = name < n ? t[name] == ' ' || t[name] == '\t' || t[name] == '\n' ||
                                          t[name] == '\r' || t[name] == '\f' || t[name] == '/'
                                    : len <= TAG_TEXT_MAX;
    if (!delimited || name == 0) {
        return;
    }
    for (unsigned i = 0; i < CODE_ELEMENT_COUNT; ++i) {
        if (CODE_ELEMENT_WORDS[i] == word) {
            const unsigned bit = 1u << i;
            if (end_tag) {
                c.open_code &= ~bit;
            } else {
                c.open_code |= bit;
                c.reported_code &= ~bit;
                c.reported_escape_code &= ~bit;
            }
        }
    }
}

} // namespace

void report_spot(spot_report& r, quib_spot_kind kind, unsigned long line, const char* element)
{
    if (r.write_error != nullptr && *r.write_error != 0) {
        return;
    }
    ++r.spots;
    if (r.report != nullptr) {
        const quib_spot spot{kind, line, element};
        r.report(r.context, &spot);
    }
}

// A mark has been written: inside an element whose text must not change,
// and on a page declaring UTF-8 that gets single bytes.
void note_mark(quote_check& c)
{
    for (unsigned i = 0; (c.open_code & ~c.reported_code) != 0 && i < CODE_ELEMENT_COUNT; ++i) {
        const unsigned bit = 1u << i;
        if ((c.open_code & ~c.reported_code & bit) != 0) {
            c.reported_code |= bit;
            report_spot(*c.out, QUIB_SPOT_QUOTE_IN_CODE, c.line, CODE_ELEMENTS[i]);
        }
    }
    if (c.utf8_line != 0 && c.byte_marks && !c.utf8_reported) {
        c.utf8_reported = true;
        report_spot(*c.out, QUIB_SPOT_UTF8_PAGE_BYTE_MARKS, c.utf8_line);
    }
}

void note_dropped_backslash(quote_check& c)
{
    const unsigned unreported = c.open_code & ~c.reported_escape_code;
    for (unsigned i = 0; i < CODE_ELEMENT_COUNT; ++i) {
        if ((unreported >> i & 1u) != 0) {
            c.reported_escape_code |= 1u << i;
            report_spot(*c.out, QUIB_SPOT_ESCAPE_IN_CODE, c.line, CODE_ELEMENTS[i]);
        }
    }
}

void note_source_byte(scan_state& st)
{
    quote_check& c = *st.check;
    const int byte = st.cur_char;
    if (byte == '\n') {
        if (c.in_quotation && c.blank_line) {
            report_boundary(c);
        }
        ++c.line;
        c.blank_line = c.in_quotation; // a line end seen inside the quotation
    } else if (byte != ' ' && byte != '\t' && byte != '\r') {
        c.blank_line = false;
    }
    c.byte_before_last = c.last_byte;
    c.last_byte = byte;
}

void report_digit_before_quote(quote_check& c)
{
    report_spot(*c.out, QUIB_SPOT_QUOTE_AFTER_DIGIT, c.line);
}

void check_blank_line_in_quotation(quote_check& c)
{
    report_boundary(c);
}

void check_whole_tag(quote_check& c, const unsigned char* text, std::size_t len)
{
    // Only a whole tag of its own is a paragraph's end: in "<x</p>>" and
    // "<</p>>" the </p> is part of another tag.
    if (c.in_quotation && len == 2 && text[0] == '/' && lower(text[1]) == 'p') {
        report_boundary(c);
    }
    note_element(c, text, len);
}

void note_quotation_start(scan_state& st)
{
    quote_check& c = *st.check;
    // The quote that opens is the byte read last; a quote entity's quote
    // follows its ';', never a digit.
    check_quotation_opens(c, c.last_byte == '"' ? c.byte_before_last : c.last_byte);
}

void note_quotation_end(scan_state& st)
{
    quote_check& c = *st.check;
    if (st.cur_char == END_OF_INPUT) {
        report_spot(*c.out, QUIB_SPOT_QUOTE_CUT_OFF, c.opened_line);
        c.in_quotation = false;
    } else {
        check_quotation_closes(c);
    }
}

void note_tag_start(scan_state& st)
{
    quote_check& c = *st.check;
    c.tag_line = c.line;
    c.tag_len = 0;
}

void note_tag_byte(scan_state& st, int byte)
{
    quote_check& c = *st.check;
    if (c.tag_len < TAG_TEXT_MAX) {
        c.tag_text[c.tag_len] = static_cast<unsigned char>(byte);
    }
    ++c.tag_len;
}

void note_tag_end(scan_state& st, std::size_t depth_left)
{
    quote_check& c = *st.check;
    if (depth_left != 0) {
        note_tag_byte(st, '>'); // a nested tag is part of the outer one's text
        return;
    }
    check_whole_tag(c, c.tag_text, c.tag_len);
    c.tag_len = 0;
}

void note_tag_run(scan_state& st, const unsigned char* from, const unsigned char* to, bool ended)
{
    quote_check& c = *st.check;
    const unsigned char* const tag_end = ended ? to - 1 : to;
    // Counted in locals: to the compiler a store to the state might change
    // the bytes, read through a char pointer, and the reverse.
    unsigned long lines = 0;
    if (c.in_quotation) {
        bool blank_line = c.blank_line;
        for (const unsigned char* b = from; b < to; ++b) {
            if (*b == '\n') {
                if (blank_line) {
                    report_boundary(c);
                }
                ++lines;
                blank_line = true;
            } else if (*b != ' ' && *b != '\t' && *b != '\r') {
                blank_line = false;
            }
        }
        c.blank_line = blank_line;
    } else {
        for (const unsigned char* b = from; b < to; ++b) {
            lines += *b == '\n' ? 1 : 0;
        }
    }
    c.line += lines;
    if (to - from >= 2) {
        c.byte_before_last = to[-2];
    } else if (to - from == 1) {
        c.byte_before_last = c.last_byte;
    }
    if (to > from) {
        c.last_byte = to[-1];
    }
    const std::size_t n = static_cast<std::size_t>(tag_end - from);
    for (std::size_t k = 0; k < n && c.tag_len + k < TAG_TEXT_MAX; ++k) {
        c.tag_text[c.tag_len + k] = from[k];
    }
    c.tag_len += n;
    if (ended) {
        note_tag_end(st, 0);
    }
}

void note_tag_cut_off(scan_state& st)
{
    quote_check& c = *st.check;
    report_spot(*c.out, QUIB_SPOT_MARKUP_UNCLOSED, c.tag_line, "tag");
}
