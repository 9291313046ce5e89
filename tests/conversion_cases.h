#ifndef QUIB_CONVERSION_CASES_H
#define QUIB_CONVERSION_CASES_H

// The behaviour of the conversion as a table: input, option -z, expected output.
// OQ and CQ are the opening and closing marks as the scanner writes them.

#include <ostream>
#include <string>
#include <vector>

#define OQ "\x84"
#define CQ "\x93"

struct conversion_case {
    const char* name;
    std::string input;
    bool break_tags;
    std::string expected;
};

const std::vector<conversion_case>& conversion_cases();

// Test names show the case's name, not its bytes.
inline void PrintTo(const conversion_case& c, std::ostream* os)
{
    *os << c.name;
}

#endif
