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
};
void report_spot(spot_report& r, quib_spot_kind kind, unsigned long line,
                 const char* element = nullptr);

// The bytes of a tag's start that --check looks at: enough for the longest
// name it knows, a '/' before it and the byte after it.
inline constexpr std::size_t TAG_TEXT_MAX = 12;

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
    unsigned long utf8_line = 0;     // where the page declares UTF-8; 0: it does not
    bool byte_marks = false;         // the marks are single bytes
    bool utf8_reported = false;
};

// Where the tag hooks learn that the input ended inside a tag.
void note_tag_cut_off(scan_state& st);

#endif
