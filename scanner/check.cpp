// Option --check: spots where the pairing of quotes has probably gone wrong.
// The handlers tell these functions what they meet, so the report follows
// exactly the quotations the conversion makes.

#include <cctype>

#include "scanner.h"

namespace {

void report(scan_state& st, check_spot spot, unsigned long line)
{
    quote_check& c = *st.check;
    ++c.spots;
    c.report(c.context, spot, line);
}

void report_boundary(scan_state& st)
{
    quote_check& c = *st.check;
    if (!c.boundary_reported) {
        c.boundary_reported = true;
        report(st, check_spot::paragraph_in_quote, c.opened_line);
    }
}

} // namespace

void enable_check(scan_state& st, quote_check& check)
{
    // The hooks sit in the byte-at-a-time handlers, so the chunks stay out.
    st.check = &check;
    st.scan_chunks = nullptr;
}

void note_source_byte(scan_state& st)
{
    quote_check& c = *st.check;
    const int byte = st.cur_char;
    if (byte == '\n') {
        if (c.in_quotation && c.blank_line) {
            report_boundary(st);
        }
        ++c.line;
        c.blank_line = c.in_quotation; // a line end seen inside the quotation
    } else if (byte != ' ' && byte != '\t' && byte != '\r') {
        c.blank_line = false;
    }
    // The quote that starts a quotation is read before the handler hears of
    // it; keep the byte before it.
    if (byte != '"' || c.in_quotation) {
        c.prev_byte = byte;
    }
}

void note_quotation_start(scan_state& st)
{
    quote_check& c = *st.check;
    c.in_quotation = true;
    c.opened_line = c.line;
    c.boundary_reported = false;
    c.blank_line = false;
    // A quote entity's quote follows its ';', never a digit.
    if (c.prev_byte >= '0' && c.prev_byte <= '9') {
        report(st, check_spot::quote_after_digit, c.line);
    }
}

void note_quotation_end(scan_state& st)
{
    quote_check& c = *st.check;
    if (st.cur_char == END_OF_INPUT) {
        report(st, check_spot::quote_cut_off, c.opened_line);
    }
    c.in_quotation = false;
    c.prev_byte = st.cur_char;
}

void note_tag_byte(scan_state& st, int c)
{
    quote_check& q = *st.check;
    if (!q.in_quotation) {
        return;
    }
    if (q.tag_len < sizeof q.tag_text) {
        q.tag_text[q.tag_len] = static_cast<unsigned char>(c);
    }
    ++q.tag_len;
}

void note_tag_end(scan_state& st)
{
    quote_check& q = *st.check;
    if (q.in_quotation && q.tag_len == 2 && q.tag_text[0] == '/' &&
        std::tolower(q.tag_text[1]) == 'p') {
        report_boundary(st);
    }
    q.tag_len = 0;
}
