// Option --check: which spots are reported, on which lines, and that the
// conversion stays exactly the same.

#include <gtest/gtest.h>

#include "conversion_cases.h"
#include "convert_helper.h"
#include "random_input.h"

namespace {

constexpr check_spot DIGIT = check_spot::quote_after_digit;
constexpr check_spot PARAGRAPH = check_spot::paragraph_in_quote;
constexpr check_spot CUT_OFF = check_spot::quote_cut_off;

struct check_case {
    const char* name;
    std::string input;
    std::vector<found_spot> expected;
};

const check_case CASES[] = {
    {"inch mark", "Ein 12\" Monitor.", {{DIGIT, 1}, {CUT_OFF, 1}}},
    {"inch mark swaps the pairs after it", "Ein 12\" Monitor.\nEr sagte \"ja\".\n",
     {{DIGIT, 1}, {CUT_OFF, 2}}},
    {"closing quote after a digit", "\"Seite 12\" und mehr", {}},
    {"escaped inch mark", "Ein 12\\\" Monitor.", {}},
    {"quote entity after a digit", "12&quot;x&quot;", {}},
    {"quotes inside a tag", "<td width=\"12\"><img alt=\"3\"\"></td>", {}},
    {"single line end", "\"a\nb\"", {}},
    {"empty line", "x\n\"a\n\nb\"", {{PARAGRAPH, 2}}},
    {"blank line of spaces and tabs", "\"a\n \t \nb\"", {{PARAGRAPH, 1}}},
    {"CR LF line ends", "x\r\n\"a\r\n\r\nb\"\r\n\"c\" 1\"", {{PARAGRAPH, 2}, {DIGIT, 5}, {CUT_OFF, 5}}},
    {"end of a paragraph tag", "\"a</p>b\"", {{PARAGRAPH, 1}}},
    {"end of a paragraph tag in capitals", "\"a</P>b\"", {{PARAGRAPH, 1}}},
    {"start of a paragraph is no boundary", "\"a<p>b\"", {}},
    {"other end tags are no boundary", "\"a</pre></b>b\"", {}},
    {"end of a paragraph outside quotations", "<p>\"a\"</p>\n\n<p>\"b\"</p>", {}},
    {"one report per quotation", "\"a</p>\n\n</p>b\"", {{PARAGRAPH, 1}}},
    {"empty line before a quotation", "a\n\n\"b\"", {}},
    {"quotation opened at a line end", "\"\n\nx\"", {{PARAGRAPH, 1}}},
    {"empty line inside a tag inside a quotation", "\"a <b\n\n> c\"", {{PARAGRAPH, 1}}},
    {"empty line before the closing quote", "\"a\n\n\"", {{PARAGRAPH, 1}}},
    {"cut off after lines", "\n\n\n\"a", {{CUT_OFF, 4}}},
    {"cut off by an unclosed tag", "x \"a <b c\" d", {{CUT_OFF, 1}}},
    {"cut off by a quote entity", "a\n&quot;b", {{CUT_OFF, 2}}},
    {"boundary and cut off", "5\"a\n\nb", {{DIGIT, 1}, {PARAGRAPH, 1}, {CUT_OFF, 1}}},
    {"nothing to report", "Er sagte \"Hallo\".\n\n\"Zweiter\" Absatz.", {}},
};

class check_test : public testing::TestWithParam<check_case> {};

TEST_P(check_test, reports_the_expected_spots_and_converts_the_same)
{
    const check_case& c = GetParam();
    for (std::size_t read_size : {std::size_t{1}, std::size_t{3}, IN_BLOCK_SIZE}) {
        std::vector<found_spot> spots;
        std::string out = scanner_check(c.input, false, read_size, spots);
        EXPECT_EQ(out, scanner_convert(c.input, false)) << "read size " << read_size;
        ASSERT_EQ(spots.size(), c.expected.size()) << "read size " << read_size;
        for (std::size_t i = 0; i < spots.size(); ++i) {
            EXPECT_EQ(spots[i].spot, c.expected[i].spot) << i;
            EXPECT_EQ(spots[i].line, c.expected[i].line) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(table, check_test, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<check_case>& info) {
                             return "case_" + std::to_string(info.index);
                         });

TEST(check_target_test, target_is_the_same_with_and_without_check)
{
    std::mt19937_64 rng(5);
    for (int round = 0; round < 1500; ++round) {
        std::string input = random_input(rng, 300);
        bool break_tags = round % 2 == 0;
        std::vector<found_spot> spots;
        ASSERT_EQ(scanner_check(input, break_tags, IN_BLOCK_SIZE, spots),
                  scanner_convert(input, break_tags))
            << "round " << round;
    }
    for (const conversion_case& c : conversion_cases()) {
        std::vector<found_spot> spots;
        EXPECT_EQ(scanner_check(c.input, c.break_tags, 7, spots), c.expected) << c.name;
    }
}

} // namespace
