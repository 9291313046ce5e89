#ifndef QUIB_CONVERT_HELPER_H
#define QUIB_CONVERT_HELPER_H

// How a pass reads and writes: by itself, with a thread writing behind, or
// with one writing behind and one reading ahead.
enum class io_threads { none, writer, writer_and_reader };

// Runs the scanner over a string through real stdio streams, reading
// read_size bytes at a time, with the given chunk scanner (nullptr: byte at a
// time only; by default the one this processor would use), and with the
// given threads.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scanner.h"

std::string scanner_convert(std::string_view input, bool break_tags,
                            std::size_t read_size = IN_BLOCK_SIZE,
                            std::optional<chunk_scanner> scanner = std::nullopt,
                            const quote_marks& marks = GERMAN_BYTE_MARKS,
                            io_threads threads = io_threads::none);

// last_char as the pass leaves it: the same whichever way it went.
unsigned char scanner_last_char(std::string_view input, bool break_tags,
                                std::optional<chunk_scanner> scanner);

// One spot that --check found.
struct found_spot {
    check_spot spot;
    unsigned long line;
    bool operator==(const found_spot&) const = default;
};

// The conversion with --check: the output, and the spots in the order found.
std::string scanner_check(std::string_view input, bool break_tags, std::size_t read_size,
                          std::vector<found_spot>& spots);

// Every style in every form, with the marks as strings.
struct mark_choice {
    std::string name;
    quote_marks marks;
    std::string open;
    std::string close;
};
std::vector<mark_choice> every_mark_choice();

// Every way through the scanner this processor has: each usable chunk
// scanner, and none.
std::vector<chunk_scanner_info> every_scanner();

#endif
