#ifndef QUIB_CONVERT_HELPER_H
#define QUIB_CONVERT_HELPER_H

// Runs one pass over a string the way the tests need it: with a given chunk
// scanner (or the byte path), read size, marks and threads, and with the
// default conversion or --html.

#include <quib/quib.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "chunk_dispatch.h"
#include "pass.h"

// How a pass reads and writes: by itself, with a thread writing behind, or
// with one writing behind and one reading ahead.
enum class io_threads { none, writer, writer_and_reader };

// A style in a form, with its marks as strings.
struct mark_choice {
    std::string name;
    mark_style style;
    mark_form form;
    std::string open;
    std::string close;
};
std::vector<mark_choice> every_mark_choice();
const mark_choice& german_bytes();

struct convert_setup {
    bool break_tags = false;
    bool html = false;
    std::size_t read_size = IN_BLOCK_SIZE;
    const implementation* impl = nullptr;   // nullptr: the one the program would use
    const mark_choice* marks = nullptr;     // nullptr: German single bytes
    io_threads threads = io_threads::none;
};

// The output of the pass (with threads, through a stream).
std::string convert(std::string_view input, const convert_setup& setup);

// The default conversion, as the older tests ask for it.
std::string scanner_convert(std::string_view input, bool break_tags,
                            std::size_t read_size = IN_BLOCK_SIZE,
                            const implementation* impl = nullptr,
                            const mark_choice* marks = nullptr,
                            io_threads threads = io_threads::none);

// last_char as the pass leaves it: the same whichever way it went.
unsigned char scanner_last_char(std::string_view input, bool break_tags,
                                const implementation* impl);

// One spot that --check found.
struct found_spot {
    quib_spot_kind kind;
    unsigned long line;
    std::string element;
    bool operator==(const found_spot&) const = default;
};
inline void PrintTo(const found_spot& s, std::ostream* os)
{
    *os << "{kind " << static_cast<int>(s.kind) << ", line " << s.line << ", '" << s.element << "'}";
}

// The conversion with --check: the output, and the spots in the order found.
std::string scanner_check(std::string_view input, const convert_setup& setup,
                          std::vector<found_spot>& spots);

// Every implementation this processor runs, the byte path first; and the
// byte path alone.
std::vector<implementation> every_scanner();
const implementation* byte_path();

#endif
