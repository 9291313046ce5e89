#ifndef QUIB_TEST_DATA_H
#define QUIB_TEST_DATA_H

// The case tables in tests/data, read once.

#include <ostream>
#include <string>
#include <vector>

#include "case_file.h"

inline std::string test_data(const std::string& name)
{
    return std::string(QUIB_SOURCE_DIR) + "/tests/data/" + name;
}

// The default conversion's cases.
inline const std::vector<case_entry>& conversion_cases()
{
    static const std::vector<case_entry> cases = read_case_file(test_data("conversion.cases"));
    return cases;
}

// Test names show the case's name, not its bytes.
inline void PrintTo(const case_entry& c, std::ostream* os)
{
    *os << c.file.substr(c.file.rfind('/') + 1) << ":" << c.line << " " << c.name;
}

#endif
