// The conversion table, through the scanner with reads of many sizes and
// through the reference model.

#include <gtest/gtest.h>

#include "conversion_cases.h"
#include "convert_helper.h"
#include "reference_scanner.h"

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

class conversion_test : public testing::TestWithParam<conversion_case> {};

TEST_P(conversion_test, every_scanner_matches_expected_for_every_read_size)
{
    const conversion_case& c = GetParam();
    for (const chunk_scanner_info& s : every_scanner()) {
        for (std::size_t read_size : {std::size_t{1}, std::size_t{2}, std::size_t{3},
                                      std::size_t{7}, std::size_t{64}, IN_BLOCK_SIZE}) {
            EXPECT_EQ(shown(scanner_convert(c.input, c.break_tags, read_size, s.scan)),
                      shown(c.expected))
                << s.name << ", read size " << read_size;
        }
    }
}

// The expected output in another style or form: the same text with the
// default marks replaced.
std::string with_marks(const std::string& expected, const mark_choice& m)
{
    std::string r;
    for (char c : expected) {
        if (c == '\x84') {
            r += m.open;
        } else if (c == '\x93') {
            r += m.close;
        } else {
            r += c;
        }
    }
    return r;
}

TEST_P(conversion_test, every_style_and_form_replaces_only_the_marks)
{
    const conversion_case& c = GetParam();
    ASSERT_EQ(c.input.find_first_of("\x84\x93"), std::string::npos)
        << "a case whose input holds a mark byte cannot derive its other forms";
    for (const mark_choice& m : every_mark_choice()) {
        const std::string expected = with_marks(c.expected, m);
        for (const chunk_scanner_info& s : every_scanner()) {
            for (std::size_t read_size : {std::size_t{1}, std::size_t{64}, IN_BLOCK_SIZE}) {
                EXPECT_EQ(shown(scanner_convert(c.input, c.break_tags, read_size, s.scan, m.marks)),
                          shown(expected))
                    << m.name << ", " << s.name << ", read size " << read_size;
            }
        }
        if (c.input.size() < 20000) {
            EXPECT_EQ(shown(reference_convert(c.input, c.break_tags, m.open, m.close)),
                      shown(expected))
                << m.name;
        }
    }
}

TEST_P(conversion_test, reference_matches_expected)
{
    const conversion_case& c = GetParam();
    if (c.input.size() > 20000) {
        GTEST_SKIP() << "the recursive model is not meant for deep nesting";
    }
    EXPECT_EQ(shown(reference_convert(c.input, c.break_tags)), shown(c.expected));
}

TEST_P(conversion_test, without_z_no_line_end_is_added)
{
    const conversion_case& c = GetParam();
    std::string plain = scanner_convert(c.input, false);
    EXPECT_LE(std::count(plain.begin(), plain.end(), '\n'),
              std::count(c.input.begin(), c.input.end(), '\n'));
}

std::string case_name(const testing::TestParamInfo<conversion_case>& info)
{
    std::string n;
    for (const char* p = info.param.name; *p; ++p) {
        n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    }
    return n + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(table, conversion_test, testing::ValuesIn(conversion_cases()),
                         case_name);

} // namespace
