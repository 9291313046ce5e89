#ifndef QUIB_SCANNER_H
#define QUIB_SCANNER_H

// The conversion: one forward pass over the source that turns straight double
// quotes of the running text into German marks, copies markup unchanged and
// resolves backslash escapes. Every handler works on the one scan_state; the
// nesting of handler calls is the scanner's whole notion of context.
//
// The scanner cannot fail. It reads and writes through its blocks
// (block_io.h) and records the first read or write error it meets for the
// caller of the pass to report.

#include <cstddef>

#include "background_io.h"
#include "block_io.h"

inline constexpr int END_OF_INPUT = -1;             // distinct from every byte value
inline constexpr unsigned char OPEN_QUOTE_BYTE = 0x84;  // „ in Windows-1252
inline constexpr unsigned char CLOSE_QUOTE_BYTE = 0x93; // “ in Windows-1252
inline constexpr std::size_t ENTITY_NAME_MAX = 11;  // bytes collected after '&'
inline constexpr int NO_PUSHED_CHAR = -2;

// The pair of marks a quotation gets, each as the bytes written for it.
inline constexpr std::size_t MARK_MAX = 8;
struct quote_mark {
    unsigned char bytes[MARK_MAX];
    unsigned char len;
};
struct quote_marks {
    quote_mark open;
    quote_mark close;
};
// „German“ as the single bytes of Windows-1252: the default.
inline constexpr quote_marks GERMAN_BYTE_MARKS = {{{OPEN_QUOTE_BYTE}, 1}, {{CLOSE_QUOTE_BYTE}, 1}};

enum class mark_style { german, guillemets, swiss };     // „…“, »…«, «…»
enum class mark_form { bytes, utf8, entities };          // Windows-1252, UTF-8, HTML
quote_marks marks_for(mark_style style, mark_form form);

struct quote_check;
struct html_state;

// Where a chunk scanner stopped: which handlers are open at that byte.
enum class open_context { top_level, quotation, tag, tag_in_quotation };
// A fast way through the input in 64-byte chunks, from top level or from inside
// a quotation (see chunk_scan.h).
using chunk_scanner = open_context (*)(scan_state& st, open_context from);
// The --html reading's fast way through the rest of a block (html_scan.h).
using html_scanner = void (*)(scan_state& st);

// How many of the chunks read in bulk held an '&' outside tags, over the
// last SAMPLE of them: where most do, the chunks settle their entities
// without testing first for an '&' (a test that text with and without
// entities in turn keeps mispredicting); elsewhere the test spares the
// other chunks that work.
struct entity_density {
    static constexpr unsigned SAMPLE = 256;
    static constexpr unsigned DENSE_ONE_IN = 4; // dense: more than one chunk in this many
    unsigned chunks = 0;
    unsigned with_amp = 0;
    bool dense = false;
};

struct scan_state {
    // What the rules of the conversion name.
    int cur_char = 0;               // value most recently read, or END_OF_INPUT
    unsigned char last_char = 0;    // marker consulted only by break_before_tag
    bool break_tags = false;        // option -z
    quote_marks marks = GERMAN_BYTE_MARKS; // what an opening and a closing quote become
    int pushed_char = NO_PUSHED_CHAR; // the '"' read_entity gave back, if any

    // Beneath the handlers.
    input_blocks in;
    output_blocks out;
    chunk_scanner scan_chunks = nullptr; // nullptr: byte at a time only
    html_scanner scan_html_chunks = nullptr; // likewise, for --html
    quote_check* check = nullptr;   // --check hooks (byte at a time)
    html_state* html = nullptr;     // --html: the reading of HTML
    entity_density amps;            // in the chunks
    thread_plan threads;            // which threads may read ahead and write behind
    background_io* io = nullptr;    // the threads, while they run
};

// The pass: reads until END_OF_INPUT, dispatching the special characters to
// their handlers, and hands every byte of output on before it returns.
void scan_top_level(scan_state& st);
// Option -z: a line end before a tag when last_char is '>'.
void break_before_tag(scan_state& st);

// Handlers. Each is called with its trigger character in cur_char, read but
// not written, and returns with cur_char holding the last value it read.
void take_escape(scan_state& st);       // after '\'
void copy_tag(scan_state& st);          // after '<'
void convert_quotation(scan_state& st); // after '"'
void read_entity(scan_state& st);       // after '&'

// The handlers without their trigger: the rest of a quotation whose opening
// mark is written, the rest of a tag whose '<' is written. The chunk scanner
// hands over to them where it stops inside a quotation or a tag.
void finish_quotation(scan_state& st);
void finish_tag(scan_state& st);

// --check, beneath the handlers (check.cpp): every source byte read, a
// quotation opened and closed, a tag's start, bytes and end.
void note_source_byte(scan_state& st);
void note_quotation_start(scan_state& st);
void note_quotation_end(scan_state& st);
void note_tag_start(scan_state& st);
void note_tag_byte(scan_state& st, int c);
void note_tag_end(scan_state& st, std::size_t depth_left);

inline int read_char(scan_state& st)
{
    if (st.pushed_char != NO_PUSHED_CHAR) {
        st.cur_char = st.pushed_char;
        st.pushed_char = NO_PUSHED_CHAR;
    } else if (st.in.pos < st.in.len || refill_input(st)) {
        st.cur_char = st.in.block[st.in.pos++];
        if (st.check != nullptr) {
            note_source_byte(st);
        }
    } else {
        st.cur_char = END_OF_INPUT;
    }
    return st.cur_char;
}

// Where the handlers write a mark; the chunk scanners patch the same pair,
// st.marks, into their chunks.
inline void write_mark(scan_state& st, const quote_mark& mark)
{
    if (st.out.cap - st.out.len < MARK_MAX) {
        flush_output(st);
    }
    for (unsigned i = 0; i < mark.len; ++i) {
        st.out.block[st.out.len++] = mark.bytes[i];
    }
}

inline void push_back_char(scan_state& st, unsigned char c)
{
    st.pushed_char = c;
}

inline void write_char(scan_state& st, int c)
{
    if (st.out.len == st.out.cap) {
        flush_output(st);
    }
    st.out.block[st.out.len++] = static_cast<unsigned char>(c);
}

#endif
