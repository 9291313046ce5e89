#ifndef QUIB_CHECK_H
#define QUIB_CHECK_H

// Option --check: spots where the pairing of quotes has probably gone wrong,
// or where the default conversion cannot help hurting a web page. The
// scanner finds them and hands each to the caller's function; it never
// prints anything itself.

#include <quib/quib.h>

#include <cstddef>

#include "scanner.h"

// How spots leave the pass.
struct spot_report {
    quib_check_function report = nullptr;
    void* context = nullptr;
    unsigned long spots = 0;         // reported so far
    // The pass's first write error: once there is one, the input is cut
    // short, and what its end seems to show (a quotation never closed) is
    // not reported.
    const int* write_error = nullptr;
};
void report_spot(spot_report& r, quib_spot_kind kind, unsigned long line,
                 const char* element = nullptr);

// The bytes of a tag's start that --check looks at: enough for the longest
// name it knows, a '/' before it and the byte after it.
inline constexpr std::size_t TAG_TEXT_MAX = 12;

// The elements whose text the default conversion changes although a web
// page needs it unchanged.
inline constexpr const char* CODE_ELEMENTS[] = {"script", "style", "textarea", "pre",
                                                "code",   "kbd",   "samp",     "tt"};
inline constexpr unsigned CODE_ELEMENT_COUNT = sizeof CODE_ELEMENTS / sizeof CODE_ELEMENTS[0];

// The hooks' state in the default conversion (the html reading keeps its own).
struct quote_check {
    spot_report* out = nullptr;
    unsigned long line = 1;          // of the byte read last
    int last_byte = END_OF_INPUT;    // the source byte read last
    int byte_before_last = END_OF_INPUT;
    bool blank_line = false;         // only blanks since the last line end inside a quotation
    bool in_quotation = false;
    unsigned long opened_line = 0;   // where the open quotation began
    bool boundary_reported = false;  // once per quotation
    // The outermost tag, as the conversion copies it: its line and first bytes.
    unsigned long tag_line = 0;
    unsigned char tag_text[TAG_TEXT_MAX] = {};
    std::size_t tag_len = 0;
    // Elements whose text should not change (one bit each): open, and
    // reported since they opened.
    unsigned open_code = 0;
    unsigned reported_code = 0;
    unsigned reported_escape_code = 0; // the same for dropped backslashes
    unsigned long utf8_line = 0;     // where the page declares UTF-8; 0: it does not
    bool byte_marks = false;         // the marks are single bytes
    bool utf8_reported = false;
};

// Where the tag hooks learn that the input ended inside a tag.
void note_tag_cut_off(scan_state& st);
// The bytes from..to of a tag copied at once (no escape among them), the
// last its end where ended.
void note_tag_run(scan_state& st, const unsigned char* from, const unsigned char* to, bool ended);

// What the hooks note, for the chunk scanners too, which find the events in
// bulk and set c.line to each event's line before they tell it: a quotation
// opens after the source byte before (a quote entity's: its ';'), it closes
// before the input ends, a line end comes inside a quotation after a line of
// blanks, a tag ends that is not part of another (len bytes after its '<';
// text holds the first TAG_TEXT_MAX of them).
void report_digit_before_quote(quote_check& c);
// A mark has been written: reported inside an element whose text must not
// change, and on a page declaring UTF-8 that gets single bytes.
void note_mark(quote_check& c);
// An escape has dropped its backslash: inside such an element, the first.
void note_dropped_backslash(quote_check& c);

// Internal to each file that includes them, like the chunk scanners that
// use them: no copy compiled for a wider instruction set may stand in for
// the baseline one at link time.
namespace {

inline bool marks_watched(const quote_check& c)
{
    return (c.open_code & ~c.reported_code) != 0 ||
           (c.utf8_line != 0 && c.byte_marks && !c.utf8_reported);
}
inline void check_dropped_backslash(quote_check& c)
{
    if ((c.open_code & ~c.reported_escape_code) != 0) {
        note_dropped_backslash(c);
    }
}
inline void check_quotation_opens(quote_check& c, int before)
{
    c.in_quotation = true;
    c.opened_line = c.line;
    c.boundary_reported = false;
    c.blank_line = false;
    if (static_cast<unsigned>(before - '0') < 10) {
        report_digit_before_quote(c);
    }
    if (marks_watched(c)) {
        note_mark(c);
    }
}
inline void check_quotation_closes(quote_check& c)
{
    if (marks_watched(c)) {
        note_mark(c);
    }
    c.in_quotation = false;
}

} // namespace
void check_blank_line_in_quotation(quote_check& c);
void check_whole_tag(quote_check& c, const unsigned char* text, std::size_t len);

#endif
