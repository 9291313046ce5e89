#ifndef QUIB_SCANNER_H
#define QUIB_SCANNER_H

// The conversion: one forward pass over the source that turns straight double
// quotes of the running text into German marks, copies markup unchanged and
// resolves backslash escapes. Every handler works on the one scan_state; the
// nesting of handler calls is the scanner's whole notion of context.
//
// The scanner cannot fail. It reads and writes through its own blocks and
// records the first read or write error it meets for the driver to report.

#include <cstddef>
#include <cstdio>

inline constexpr int END_OF_INPUT = -1;             // distinct from every byte value
inline constexpr unsigned char OPEN_QUOTE_BYTE = 0x84;  // „ in Windows-1252
inline constexpr unsigned char CLOSE_QUOTE_BYTE = 0x93; // “ in Windows-1252
inline constexpr std::size_t ENTITY_NAME_MAX = 11;  // bytes collected after '&'

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

inline constexpr std::size_t IN_BLOCK_SIZE = std::size_t{1} << 17;
inline constexpr std::size_t OUT_BLOCK_SIZE = std::size_t{1} << 17;
// Bytes after the input block that the chunk scanners may read (and ignore),
// so that they copy in whole chunks.
inline constexpr std::size_t IN_BLOCK_SLACK = 64;
inline constexpr int NO_PUSHED_CHAR = -2;

struct scan_state;
// Reading ahead and writing behind on threads of their own (background_io.cpp).
struct background_io;
// Where a chunk scanner stopped: which handlers are open at that byte.
enum class open_context { top_level, quotation, tag, tag_in_quotation };
// A fast way through the input in 64-byte chunks, from top level or from inside
// a quotation (see chunk_scan.h).
using chunk_scanner = open_context (*)(scan_state&, open_context from);

// Suspicious spots that option --check reports. The scanner finds them and
// hands each to report(); it never prints anything itself.
enum class check_spot {
    quote_after_digit,   // an opening quote right after a digit: an inch mark?
    paragraph_in_quote,  // an empty line or </p> inside a quotation
    quote_cut_off,       // the input ends inside a quotation
};
struct quote_check {
    // line: the quote's for quote_after_digit, else where the quotation opened.
    void (*report)(const void* context, check_spot spot, unsigned long line) = nullptr;
    const void* context = nullptr;
    unsigned long spots = 0;         // reported so far
    unsigned long line = 1;          // of the byte read last
    int prev_byte = END_OF_INPUT;    // the source byte before the one read last
    bool blank_line = false;         // only blanks since the last line end inside a quotation
    bool in_quotation = false;
    unsigned long opened_line = 0;   // where the open quotation began
    bool boundary_reported = false;  // once per quotation
    unsigned char tag_text[3] = {};  // the start of a tag inside a quotation
    std::size_t tag_len = 0;
};

struct scan_state {
    std::FILE* in_file = nullptr;   // source, opened by the driver
    std::FILE* out_file = nullptr;  // target, opened by the driver
    int cur_char = 0;               // value most recently read, or END_OF_INPUT
    unsigned char last_char = 0;    // marker consulted only by break_before_tag
    bool break_tags = false;        // option -z
    quote_marks marks = GERMAN_BYTE_MARKS; // what an opening and a closing quote become
    quote_check* check = nullptr;   // --check: find suspicious quotes (byte at a time only)

    // Input block: bytes in_block[in_pos, in_len) are read but not yet taken.
    // in_block and out_block are the blocks below, or blocks of the
    // background threads while they run.
    unsigned char* in_block = in_storage;
    unsigned char* out_block = out_storage;
    std::size_t read_size = IN_BLOCK_SIZE; // bytes asked of fread at once (1..IN_BLOCK_SIZE)
    std::size_t in_pos = 0;
    std::size_t in_len = 0;
    bool input_ended = false;       // a read has yielded END_OF_INPUT; it stays so
    int pushed_char = NO_PUSHED_CHAR; // the '"' read_entity gave back, if any
    chunk_scanner scan_chunks = nullptr; // nullptr: byte at a time only

    std::size_t out_len = 0;        // bytes waiting in out_block

    int read_errno = 0;             // first read error, 0 if none
    int write_errno = 0;            // first write error, 0 if none

    // Write behind on a thread of its own while scan_top_level runs, and with
    // read_ahead read ahead on another; set by the driver. Where no thread
    // can be started, the pass reads and writes by itself.
    bool background = false;
    bool read_ahead = false;
    background_io* io = nullptr;    // the threads, while they run

    unsigned char in_storage[IN_BLOCK_SIZE + IN_BLOCK_SLACK];
    unsigned char out_storage[OUT_BLOCK_SIZE];

    scan_state() = default;
    scan_state(const scan_state&) = delete; // in_block and out_block point into it
    scan_state& operator=(const scan_state&) = delete;
};

// Prepares st for a pass from in to out: everything as at the start of a run.
void start_scan(scan_state& st, std::FILE* in, std::FILE* out, bool break_tags);

// The pass: reads until END_OF_INPUT, dispatching the special characters to
// their handlers, and hands every byte of output to out_file before it returns.
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

// Switches --check on for a pass prepared by start_scan.
void enable_check(scan_state& st, quote_check& check);
// --check, beneath the handlers: every source byte read, a quotation opened
// and closed, a byte inside a tag inside a quotation and that tag's end.
void note_source_byte(scan_state& st);
void note_quotation_start(scan_state& st);
void note_quotation_end(scan_state& st);
void note_tag_byte(scan_state& st, int c);
void note_tag_end(scan_state& st);

// Block input and output beneath the handlers.
bool refill_input(scan_state& st);     // false once the input has ended
void flush_output(scan_state& st);

// The threads that read ahead and write behind: started before a pass reads
// anything, stopped after it has handed over its last block. Starting fails
// (false, nothing changed) where no thread or memory is to be had.
bool start_background_io(scan_state& st);
void stop_background_io(scan_state& st); // every block written, the threads gone
// While they run: the next block read (its length, 0 at the end of the
// input) becomes in_block, where a thread reads ahead; out_block goes to the
// writer and a free block takes its place.
std::size_t take_read_block(scan_state& st);
void hand_over_write_block(scan_state& st);

struct byte_set_table {
    bool member[256];
};
constexpr byte_set_table byte_set(const char* bytes)
{
    byte_set_table t{};
    for (; *bytes != '\0'; ++bytes) {
        t.member[static_cast<unsigned char>(*bytes)] = true;
    }
    return t;
}

// Inside a tag or a quotation: copies the bytes up to the next one that
// matters there (stops[byte] set), in bulk, without reading it.
void copy_run(scan_state& st, const bool (&stops)[256]);

struct chunk_scanner_info {
    const char* name;
    chunk_scanner scan;
};
// The chunk scanners this processor can run, narrowest first.
std::size_t usable_chunk_scanners(const chunk_scanner_info** list);
chunk_scanner best_chunk_scanner();

inline int read_char(scan_state& st)
{
    if (st.pushed_char != NO_PUSHED_CHAR) {
        st.cur_char = st.pushed_char;
        st.pushed_char = NO_PUSHED_CHAR;
    } else if (st.in_pos < st.in_len || refill_input(st)) {
        st.cur_char = st.in_block[st.in_pos++];
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
    if (OUT_BLOCK_SIZE - st.out_len < MARK_MAX) {
        flush_output(st);
    }
    for (unsigned i = 0; i < mark.len; ++i) {
        st.out_block[st.out_len++] = mark.bytes[i];
    }
}

inline void push_back_char(scan_state& st, unsigned char c)
{
    st.pushed_char = c;
}

inline void write_char(scan_state& st, int c)
{
    if (st.out_len == OUT_BLOCK_SIZE) {
        flush_output(st);
    }
    st.out_block[st.out_len++] = static_cast<unsigned char>(c);
}

#endif
