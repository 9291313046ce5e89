// The conversion table (tests/data/conversion.cases) through every
// implementation with reads of many sizes, in every style and form, and
// through the reference model.

#include <gtest/gtest.h>

#include <ostream>

#include "convert_helper.h"
#include "reference_scanner.h"
#include "test_data.h"

namespace {

std::string shown(const std::string& s)
{
    std::string r;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            r += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            r += buf;
        }
    }
    return r;
}

class conversion_test : public testing::TestWithParam<case_entry> {};

TEST_P(conversion_test, every_scanner_matches_expected_for_every_read_size)
{
    const case_entry& c = GetParam();
    const bool z = c.has_option("-z");
    const std::string expected = c.expected("\x84", "\x93");
    for (const implementation& s : every_scanner()) {
        for (std::size_t read_size : {std::size_t{1}, std::size_t{2}, std::size_t{3},
                                      std::size_t{7}, std::size_t{64}, IN_BLOCK_SIZE}) {
            EXPECT_EQ(shown(scanner_convert(c.input, z, read_size, &s)), shown(expected))
                << s.name << ", read size " << read_size;
        }
    }
}

TEST_P(conversion_test, every_style_and_form_replaces_only_the_marks)
{
    const case_entry& c = GetParam();
    const bool z = c.has_option("-z");
    for (const mark_choice& m : every_mark_choice()) {
        const std::string expected = c.expected(m.open, m.close);
        for (const implementation& s : every_scanner()) {
            for (std::size_t read_size : {std::size_t{1}, std::size_t{64}, IN_BLOCK_SIZE}) {
                EXPECT_EQ(shown(scanner_convert(c.input, z, read_size, &s, &m)), shown(expected))
                    << m.name << ", " << s.name << ", read size " << read_size;
            }
        }
        EXPECT_EQ(shown(reference_convert(c.input, z, m.open, m.close)), shown(expected)) << m.name;
    }
}

TEST_P(conversion_test, reference_matches_expected)
{
    const case_entry& c = GetParam();
    EXPECT_EQ(shown(reference_convert(c.input, c.has_option("-z"))),
              shown(c.expected("\x84", "\x93")));
}

std::string case_name(const testing::TestParamInfo<case_entry>& info)
{
    std::string n;
    for (char ch : info.param.name) {
        n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    }
    return n + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(table, conversion_test, testing::ValuesIn(conversion_cases()), case_name);

// Nesting as deep as the input is long costs neither stack nor more than
// constant memory: a run of '<' with no '>' is one tag.
TEST(conversion_test, deep_nesting_is_copied_whole)
{
    const std::string open(100000, '<');
    const std::string closed = std::string(5000, '<') + std::string(5000, '>') + "\"x\"";
    for (const implementation& s : every_scanner()) {
        EXPECT_TRUE(scanner_convert(open, false, IN_BLOCK_SIZE, &s) == open) << s.name;
        EXPECT_EQ(scanner_convert(closed, false, 97, &s),
                  std::string(5000, '<') + std::string(5000, '>') + "\x84x\x93")
            << s.name;
    }
}

} // namespace
