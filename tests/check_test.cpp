// Option --check in the default conversion: which spots are reported, on
// which lines, and that the conversion stays exactly the same.

#include <gtest/gtest.h>

#include "convert_helper.h"
#include "random_input.h"
#include "test_data.h"

namespace {

constexpr quib_spot_kind DIGIT = QUIB_SPOT_QUOTE_AFTER_DIGIT;
constexpr quib_spot_kind PARAGRAPH = QUIB_SPOT_PARAGRAPH_IN_QUOTE;
constexpr quib_spot_kind CUT_OFF = QUIB_SPOT_QUOTE_CUT_OFF;
constexpr quib_spot_kind UNCLOSED = QUIB_SPOT_MARKUP_UNCLOSED;
constexpr quib_spot_kind IN_CODE = QUIB_SPOT_QUOTE_IN_CODE;
constexpr quib_spot_kind UTF8 = QUIB_SPOT_UTF8_PAGE_BYTE_MARKS;
constexpr quib_spot_kind ESCAPE = QUIB_SPOT_ESCAPE_IN_CODE;

struct check_case {
    const char* name;
    std::string input;
    std::vector<found_spot> expected;
    const mark_choice* marks = nullptr;
};

const mark_choice& utf8_marks()
{
    static const mark_choice m = every_mark_choice()[1]; // german/utf8
    return m;
}

const check_case CASES[] = {
    {"inch mark", "Ein 12\" Monitor.", {{DIGIT, 1, ""}, {CUT_OFF, 1, ""}}},
    {"inch mark swaps the pairs after it", "Ein 12\" Monitor.\nEr sagte \"ja\".\n",
     {{DIGIT, 1, ""}, {CUT_OFF, 2, ""}}},
    {"closing quote after a digit", "\"Seite 12\" und mehr", {}},
    {"escaped inch mark", "Ein 12\\\" Monitor.", {}},
    {"quote entity after a digit", "12&quot;x&quot;", {}},
    {"quote swallowed by an entity window is no digit", "&abcdefghi1\"\"x\"", {}},
    {"quotes inside a tag", "<td width=\"12\"><img alt=\"3\"\"></td>", {}},
    {"single line end", "\"a\nb\"", {}},
    {"empty line", "x\n\"a\n\nb\"", {{PARAGRAPH, 2, ""}}},
    {"blank line of spaces and tabs", "\"a\n \t \nb\"", {{PARAGRAPH, 1, ""}}},
    {"inch mark after a nine", "19\" Monitor", {{DIGIT, 1, ""}, {CUT_OFF, 1, ""}}},
    {"CR LF line ends", "x\r\n\"a\r\n\r\nb\"\r\n\"c\" 1\"",
     {{PARAGRAPH, 2, ""}, {DIGIT, 5, ""}, {CUT_OFF, 5, ""}}},
    {"end of a paragraph tag", "\"a</p>b\"", {{PARAGRAPH, 1, ""}}},
    {"end of a paragraph tag in capitals", "\"a</P>b\"", {{PARAGRAPH, 1, ""}}},
    {"start of a paragraph is no boundary", "\"a<p>b\"", {}},
    {"other end tags are no boundary", "\"a</pre></b>b\"", {}},
    {"a paragraph end nested in a tag is none", "\"a <</p>> b\"", {}},
    {"a paragraph end inside a tag's text is none", "\"a <x</p>> b\"", {}},
    {"end of a paragraph outside quotations", "<p>\"a\"</p>\n\n<p>\"b\"</p>", {}},
    {"one report per quotation", "\"a</p>\n\n</p>b\"", {{PARAGRAPH, 1, ""}}},
    {"a report for each quotation",
     "\"a</p>b\"" + std::string(70, 'y') + "\"c" + std::string(70, 'y') + "</p>d\"",
     {{PARAGRAPH, 1, ""}, {PARAGRAPH, 1, ""}}},
    {"empty line before a quotation", "a\n\n\"b\"", {}},
    {"quotation opened at a line end", "\"\n\nx\"", {{PARAGRAPH, 1, ""}}},
    {"empty line inside a tag inside a quotation", "\"a <b\n\n> c\"", {{PARAGRAPH, 1, ""}}},
    {"empty line before the closing quote", "\"a\n\n\"", {{PARAGRAPH, 1, ""}}},
    {"cut off after lines", "\n\n\n\"a", {{CUT_OFF, 4, ""}}},
    {"a run of empty lines", std::string(20, '\n') + "5\"a", {{DIGIT, 21, ""}, {CUT_OFF, 21, ""}}},
    {"cut off by an unclosed tag", "x \"a <b c\" d", {{UNCLOSED, 1, "tag"}, {CUT_OFF, 1, ""}}},
    {"cut off by a quote entity", "a\n&quot;b", {{CUT_OFF, 2, ""}}},
    {"boundary and cut off", "5\"a\n\nb",
     {{DIGIT, 1, ""}, {PARAGRAPH, 1, ""}, {CUT_OFF, 1, ""}}},
    {"nothing to report", "Er sagte \"Hallo\".\n\n\"Zweiter\" Absatz.", {}},
    // What the default conversion does to web pages, with a hint to --html.
    {"a tag never closed", "a\n<b c", {{UNCLOSED, 2, "tag"}}},
    {"a comparison in a script takes the rest", "<script>\nfor (i=0; i<n; i++) {}\n</script>\n\"x\"",
     {{UNCLOSED, 2, "tag"}}},
    {"quotes in a script, once per element", "<script>a = \"b\" + \"c\";</script>\n<p>\"d\"</p>",
     {{IN_CODE, 1, "script"}}},
    {"each code element once", "<pre>\"a\"</pre>\n<PRE class=x>\"b\"</PRE><tt>\"c\"</tt>",
     {{IN_CODE, 1, "pre"}, {IN_CODE, 2, "pre"}, {IN_CODE, 2, "tt"}}},
    {"a closing mark inside code", "\"a <code>\nb\" c</code>", {{IN_CODE, 2, "code"}}},
    {"a longer name is another element", "<codex>\"x\"</codex><pre-x>\"y\"</pre-x>", {}},
    {"a closed code element is watched no more",
     "<kbd>" + std::string(70, 'k') + "</KBD>" + std::string(70, 'y') + "\"a\"", {}},
    {"an escape is no part of a tag's name",
     "<t\\xt class=\"" + std::string(70, 'c') + "\">\"q\"</tt>", {{IN_CODE, 1, "tt"}}},
    {"backslashes dropped in code, once per element",
     "<script>\nd = 'C:\\\\';</script>\\\\<pre>\\\"</pre>" + std::string(70, 'y') +
         "<PRE>\n" + std::string(70, 'y') + "\\<\\\\\"a\"</pre>",
     {{ESCAPE, 2, "script"}, {ESCAPE, 2, "pre"}, {ESCAPE, 3, "pre"}, {IN_CODE, 3, "pre"}}},
    {"a backslash kept in code is no report", "<code>a\\nb \\d</code>", {}},
    {"a backslash dropped in a code element's tag",
     "<pre>" + std::string(70, 'y') + "<b title=\"\\>\">x</b></pre>", {{ESCAPE, 1, "pre"}}},
    {"a UTF-8 page with byte marks", "<meta charset=\"utf-8\">\n<p>\"x\"</p>", {{UTF8, 1, ""}}},
    {"a UTF-8 page without quotes", "<meta charset=\"utf-8\">\n<p>x</p>", {}},
    {"UTF-8 declared in the head after its first kilobyte",
     "<head><!--" + std::string(1100, 'c') + "-->\n<title>t</title><meta charset=utf-8>\n\"x\"",
     {{UTF8, 2, ""}}},
    {"UTF-8 declared after the head's end, past its first kilobyte",
     "<head><!--" + std::string(1100, 'c') + "--></head>\n<meta charset=utf-8>\n\"x\"", {}},
    {"a page in UTF-16", std::string("\xFE\xFF\0<\0p", 6),
     {{QUIB_SPOT_UTF16_PAGE, 1, ""}, {UNCLOSED, 1, "tag"}}},
};

const check_case UTF8_CASES[] = {
    {"a UTF-8 page with UTF-8 marks", "<meta charset=\"utf-8\">\n<p>\"x\"</p>", {}, &utf8_marks()},
};

constexpr std::size_t READ_SIZES_FOR_CHECK[] = {200, 4096, IN_BLOCK_SIZE};

class check_test : public testing::TestWithParam<check_case> {};

TEST_P(check_test, reports_the_expected_spots_and_converts_the_same)
{
    const check_case& c = GetParam();
    for (std::size_t read_size : {std::size_t{1}, std::size_t{3}, IN_BLOCK_SIZE}) {
        convert_setup s;
        s.read_size = read_size;
        s.marks = c.marks;
        std::vector<found_spot> spots;
        std::string out = scanner_check(c.input, s, spots);
        EXPECT_EQ(out, convert(c.input, s)) << "read size " << read_size;
        EXPECT_EQ(spots, c.expected) << "read size " << read_size;
    }
}

INSTANTIATE_TEST_SUITE_P(table, check_test, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<check_case>& info) {
                             return "case_" + std::to_string(info.index);
                         });
INSTANTIATE_TEST_SUITE_P(utf8, check_test, testing::ValuesIn(UTF8_CASES),
                         [](const testing::TestParamInfo<check_case>& info) {
                             return "case_" + std::to_string(info.index);
                         });

TEST(check_target_test, target_is_the_same_with_and_without_check)
{
    std::mt19937_64 rng(5);
    for (int round = 0; round < 1500; ++round) {
        convert_setup s;
        s.break_tags = round % 2 == 0;
        std::string input = random_input(rng, 300);
        std::vector<found_spot> spots;
        ASSERT_EQ(scanner_check(input, s, spots), convert(input, s)) << "round " << round;
    }
    for (const case_entry& c : conversion_cases()) {
        convert_setup s;
        s.break_tags = c.has_option("-z");
        s.read_size = 7;
        std::vector<found_spot> spots;
        EXPECT_EQ(scanner_check(c.input, s, spots), c.expected("\x84", "\x93")) << c.name;
    }
}

// The chunk scanners find the spots in bulk; each must report exactly what
// the byte path reports, in the same order: on random text rich in what
// the check looks at, and on the table's cases at every distance from a
// chunk boundary.
TEST(check_chunks_test, every_scanner_reports_what_the_byte_path_reports)
{
    static const char* const tokens[] = {
        "\"", "\"", "\"", "1", " Text und mehr ", " Text und mehr ", "\t", "\n", "\n",
        "\r\n", "\n \t\r\n", "&quot;", "&amp;", "<p>", "</p>", "</P>", "<pre>", "</pre>",
        "<SCRIPT type=x>", "</code>", "<tt\n>", "<b>", "<\\>pre>", "<p\\\">", "\\\"", "\\<",
        "</ p>", "<TT>", "</Tt>", "&", "\\", "<", ">", "<tt", "<Kbd>", "</kbd >", "<code>",
        "<sAmp/>", "<style>", "<textarea>", "<span>", "</s>"};
    struct run {
        std::string input;
        std::size_t read_size;
    };
    std::vector<run> runs;
    std::mt19937_64 rng(1208);
    for (std::size_t round = 0; round < 1500; ++round) {
        std::string s(rng() % 130, 'y');
        for (std::size_t n = rng() % 120; n > 0; --n) {
            s += tokens[rng() % std::size(tokens)];
        }
        runs.push_back({s + std::string(200, 'y'), READ_SIZES_FOR_CHECK[round % 3]});
    }
    for (const check_case& c : CASES) {
        for (std::size_t before = 0; before < 130; ++before) {
            for (std::size_t read_size : READ_SIZES_FOR_CHECK) {
                runs.push_back({std::string(before, 'x') + c.input + std::string(300, 'z'), read_size});
            }
        }
    }
    for (std::size_t round = 0; round < runs.size(); ++round) {
        const std::string& input = runs[round].input;
        convert_setup s;
        s.read_size = runs[round].read_size;
        s.marks = round % 4 == 3 ? &utf8_marks() : nullptr;
        s.impl = byte_path();
        std::vector<found_spot> expected;
        const std::string out = scanner_check(input, s, expected);
        for (const implementation& impl : every_scanner()) {
            s.impl = &impl;
            std::vector<found_spot> spots;
            ASSERT_EQ(scanner_check(input, s, spots), out) << impl.name << ", input " << round;
            ASSERT_EQ(spots, expected) << impl.name << ", input " << round;
        }
    }
}

} // namespace
