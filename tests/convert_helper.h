#ifndef QUIB_CONVERT_HELPER_H
#define QUIB_CONVERT_HELPER_H

// Runs the scanner over a string through real stdio streams, reading
// read_size bytes at a time.

#include <string>
#include <string_view>

#include "scanner.h"

std::string scanner_convert(std::string_view input, bool break_tags,
                            std::size_t read_size = IN_BLOCK_SIZE);

#endif
