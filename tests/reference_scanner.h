#ifndef QUIB_REFERENCE_SCANNER_H
#define QUIB_REFERENCE_SCANNER_H

// A plain model of the conversion, one character at a time over a string,
// with recursive handlers exactly as the rules are written. It shares no code
// with the scanner, so the two can be compared on any input.

#include <string>
#include <string_view>

// open and close are what an opening and a closing quote become.
std::string reference_convert(std::string_view input, bool break_tags,
                              const std::string& open = "\x84", const std::string& close = "\x93");

#endif
