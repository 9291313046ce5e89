#ifndef QUIB_HTML_REFERENCE_H
#define QUIB_HTML_REFERENCE_H

// A second, plain reading of docs/html-mode.md, written from the rules alone
// and sharing no code with the scanner, so the fast block-based --html
// conversion can be compared against it on any input.

#include <string>
#include <string_view>

// A plain model of the --html conversion over a whole string, written from the rules alone.
std::string html_reference_convert(std::string_view input, bool break_tags,
                                   const std::string& open, const std::string& close);

#endif
