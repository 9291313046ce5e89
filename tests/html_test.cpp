// The --html reading: its table (tests/data/html.cases) through every
// implementation, at every read size and with threads; every implementation
// against the reference model on random inputs; where it must agree with the
// default conversion; the marks' form from the page; and --check.

#include <gtest/gtest.h>

#include "charset.h"
#include "convert_helper.h"
#include "html_reference.h"
#include "random_html.h"
#include "reference_scanner.h"
#include "test_data.h"

namespace {

const std::vector<case_entry>& html_cases()
{
    static const std::vector<case_entry> cases = read_case_file(test_data("html.cases"));
    return cases;
}

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

convert_setup html_setup(bool z, std::size_t read_size, const implementation* impl,
                         const mark_choice* marks)
{
    convert_setup s;
    s.html = true;
    s.break_tags = z;
    s.read_size = read_size;
    s.impl = impl;
    s.marks = marks;
    return s;
}

constexpr std::size_t READ_SIZES[] = {1, 2, 3, 5, 17, 63, 64, 65, 100, 127, 128, 129, 200, 1000,
                                      IN_BLOCK_SIZE};

class html_table_test : public testing::TestWithParam<case_entry> {};

TEST_P(html_table_test, every_scanner_and_the_reference_match_expected)
{
    const case_entry& c = GetParam();
    const bool z = c.has_option("-z");
    const auto choices = every_mark_choice();
    for (const mark_choice* m : {&german_bytes(), &choices[2], &choices[4]}) {
        const std::string expected = c.expected(m->open, m->close);
        EXPECT_EQ(shown(html_reference_convert(c.input, z, m->open, m->close)), shown(expected))
            << "the reference, " << m->name;
        for (const implementation& s : every_scanner()) {
            for (std::size_t read_size : {std::size_t{1}, std::size_t{3}, std::size_t{64},
                                          IN_BLOCK_SIZE}) {
                EXPECT_EQ(shown(convert(c.input, html_setup(z, read_size, &s, m))), shown(expected))
                    << s.name << ", " << m->name << ", read size " << read_size;
            }
        }
    }
}

std::string case_name(const testing::TestParamInfo<case_entry>& info)
{
    std::string n;
    for (char ch : info.param.name) {
        n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    }
    return n + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(table, html_table_test, testing::ValuesIn(html_cases()), case_name);

TEST(html_test, every_scanner_equals_reference_on_random_inputs)
{
    std::mt19937_64 rng(20261209);
    const auto scanners = every_scanner();
    const auto choices = every_mark_choice();
    for (int round = 0; round < 3000; ++round) {
        const std::string input = random_html(rng, round % 3 == 0 ? 600 : 60);
        const bool z = round % 2 == 1;
        const mark_choice& m = choices[rng() % choices.size()];
        const std::size_t read_size = READ_SIZES[rng() % std::size(READ_SIZES)];
        const std::string expected = html_reference_convert(input, z, m.open, m.close);
        for (const implementation& s : scanners) {
            ASSERT_EQ(convert(input, html_setup(z, read_size, &s, &m)), expected)
                << s.name << ", round " << round << ", read size " << read_size << ", "
                << m.name << ", input " << shown(input);
        }
    }
}

// A case's bytes reach the windows only with 64 bytes behind them, at
// every distance from a window's start.
TEST(html_test, table_cases_padded_to_reach_the_windows)
{
    const auto scanners = every_scanner();
    const std::string after = " und \"noch\" <i>etwas</i> Text &amp; \"mehr\" <b>x</b><p>zum Schluss.";
    for (const case_entry& c : html_cases()) {
        const bool z = c.has_option("-z");
        for (std::size_t before = 0; before <= 64; ++before) {
            const std::string input = std::string(before, 'x') + c.input + after + after;
            const std::string expected = html_reference_convert(input, z, "\x84", "\x93");
            for (const implementation& s : scanners) {
                ASSERT_EQ(convert(input, html_setup(z, IN_BLOCK_SIZE, &s, nullptr)), expected)
                    << s.name << ", " << c.name << ", " << before << " before";
            }
        }
    }
}

TEST(html_test, long_inputs_and_threads_give_the_same_output)
{
    std::mt19937_64 rng(77);
    const auto choices = every_mark_choice();
    for (int round = 0; round < 8; ++round) {
        const std::string input = random_html(rng, 300000);
        const bool z = round % 2 == 0;
        const mark_choice& m = choices[rng() % choices.size()];
        const std::string expected = html_reference_convert(input, z, m.open, m.close);
        convert_setup s = html_setup(z, round % 3 == 0 ? 4099 : IN_BLOCK_SIZE, nullptr, &m);
        s.threads = round % 4 < 2 ? io_threads::writer_and_reader : io_threads::writer;
        ASSERT_EQ(convert(input, s), expected) << "round " << round;
        s.impl = byte_path();
        ASSERT_EQ(convert(input, s), expected) << "round " << round << ", bytes";
    }
}

// Where a page has no markup beyond simple tags, no '&' and no quotation
// over a block boundary, --html converts as the default conversion does.
TEST(html_test, simple_pages_convert_as_without_html)
{
    std::mt19937_64 rng(1852);
    const auto choices = every_mark_choice();
    const mark_choice& entities = choices[2];
    for (int round = 0; round < 500; ++round) {
        const std::string page = random_simple_page(rng, 1 + round % 40);
        const bool z = round % 2 == 0;
        convert_setup plain;
        plain.break_tags = z;
        plain.marks = &entities;
        EXPECT_EQ(convert(page, html_setup(z, IN_BLOCK_SIZE, nullptr, &entities)),
                  convert(page, plain))
            << shown(page);
    }
}

struct charset_case {
    const char* name;
    std::string page;
    const char* open; // the opening mark the page's quote gets
};

const charset_case CHARSET_CASES[] = {
    {"meta charset", "<meta charset=\"utf-8\"><p>\"x\"", "\xE2\x80\x9E"},
    {"meta charset in capitals, unquoted", "<META CHARSET=UTF-8><p>\"x\"", "\xE2\x80\x9E"},
    {"meta charset utf8 in single quotes", "<meta charset='utf8'>\"x\"", "\xE2\x80\x9E"},
    {"meta charset with blanks around", "<meta charset=\" utf-8 \">\"x\"", "\xE2\x80\x9E"},
    {"http-equiv", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\"x\"",
     "\xE2\x80\x9E"},
    {"http-equiv after content",
     "<meta content=\"text/html;charset=UTF-8\" http-equiv=content-type>\"x\"", "\xE2\x80\x9E"},
    {"content without http-equiv", "<meta content=\"text/html; charset=utf-8\">\"x\"", "&bdquo;"},
    {"ISO-8859-1", "<meta http-equiv=\"content-type\" content=\"text/html; charset=ISO-8859-1\">\"x\"",
     "\x84"},
    {"windows-1252", "<meta charset=\"windows-1252\">\"x\"", "\x84"},
    {"us-ascii, read as windows-1252", "<meta charset=us-ascii>\"x\"", "\x84"},
    {"latin1", "<meta charset=latin1>\"x\"", "\x84"},
    {"ISO-8859-15", "<meta charset=\"iso-8859-15\">\"x\"", "&bdquo;"},
    {"an unknown label", "<meta charset=\"latin-9\">\"x\"", "&bdquo;"},
    {"nothing declared", "<p>\"x\"</p>", "&bdquo;"},
    {"XML declaration", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<p>\"x\"", "\xE2\x80\x9E"},
    {"meta wins over the XML declaration",
     "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><meta charset=\"utf-8\"><p>\"x\"",
     "\xE2\x80\x9E"},
    {"an XML declaration in capitals counts not",
     "<?XML version=\"1.0\" encoding=\"utf-8\"?><p>\"x\"", "&bdquo;"},
    {"an XML encoding in capitals counts not",
     "<?xml version=\"1.0\" ENCODING=\"utf-8\"?><p>\"x\"", "&bdquo;"},
    {"an XML encoding with a blank in its quotes counts not",
     "<?xml version=\"1.0\" encoding=\" utf-8\"?><p>\"x\"", "&bdquo;"},
    {"an XML declaration not at the start counts not",
     "\n<?xml version=\"1.0\" encoding=\"utf-8\"?><p>\"x\"", "&bdquo;"},
    {"an XML declaration inside SVG counts not",
     "<body><svg><?xml version=\"1.0\" encoding=\"UTF-8\"?></svg><p>\"x\"", "&bdquo;"},
    {"byte order mark", "\xEF\xBB\xBF<p>\"x\"", "\xE2\x80\x9E"},
    {"commented out", "<!-- <meta charset=\"utf-8\"> --><p>\"x\"", "&bdquo;"},
    {"after a comment ended by --!>", "<!-- a --!><meta charset=utf-8>\"x\"", "\xE2\x80\x9E"},
    {"not after <!--!>, which ends no comment", "<!--!><meta charset=utf-8>-->\"x\"", "&bdquo;"},
    {"UTF-16 declared in ASCII", "<meta charset=\"utf-16\">\"x\"", "\xE2\x80\x9E"},
    {"after the title", "<title>\"T\"</title><meta charset=utf-8>", "\xE2\x80\x9E"},
    {"beyond the first 1024 bytes", std::string(1020, ' ') + "<meta charset=utf-8>\"x\"",
     "&bdquo;"},
    {"just within the first 1024 bytes", std::string(1000, ' ') + "<meta charset=utf-8>\"x\"",
     "\xE2\x80\x9E"},
    {"the first declaration counts", "<meta charset=iso-8859-1><meta charset=utf-8>\"x\"", "\x84"},
    {"one written by a script counts not",
     "<script>m=\"<meta charset=iso-8859-1>\"</SCRIPT ><meta charset=\"utf-8\"><p>\"x\"",
     "\xE2\x80\x9E"},
    {"one in a script's <!--<script> counts not",
     "<script><!--<script></script><meta charset=utf-8>--></script><meta charset=windows-1252>\"x\"",
     "\x84"},
    {"one after a script's <!-- ... --> counts",
     "<script><!--x--></script><meta charset=utf-8>\"x\"", "\xE2\x80\x9E"},
    {"one in a title counts not", "<title><meta charset=iso-8859-1></title><meta charset=utf-8>\"x\"",
     "\xE2\x80\x9E"},
    {"one in a noscript counts", "<noscript><meta charset=iso-8859-1></noscript><meta charset=utf-8>\"x\"",
     "\x84"},
};

TEST(html_test, the_marks_follow_the_declared_encoding)
{
    for (const charset_case& c : CHARSET_CASES) {
        for (std::size_t read_size : {std::size_t{1}, std::size_t{100}, IN_BLOCK_SIZE}) {
            pass_options o;
            o.html = true;
            o.read_size = read_size;
            byte_source source;
            source.kind = io_kind::memory;
            source.data = reinterpret_cast<const unsigned char*>(c.page.data());
            source.size = c.page.size();
            byte_sink sink;
            run_pass(source, sink, o);
            const std::string out(reinterpret_cast<const char*>(sink.buffer), sink.length);
            std::free(sink.buffer);
            EXPECT_NE(out.find(c.open), std::string::npos)
                << c.name << ", read size " << read_size << ": " << shown(out);
        }
    }
}

// A page read from a pipe or file is looked at for its declaration as far
// as its head may run on, more bytes at a time. So wherever the bytes end,
// a look that says more could not change the answer must give the answer
// of the whole page.
TEST(html_test, a_prescan_that_stops_early_gives_the_whole_answer)
{
    const std::string comment = "<!--" + std::string(1100, 'c') + "-->\n";
    const std::string pages[] = {
        "<head>" + comment + "<meta charset=big5></head><p>x</p>",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<html><head>" + comment +
            "<meta charset=\"shift_jis\"></head>",
        "<html><head><title>T</title><script>m = '<meta charset=utf-8>';</script>\n<link rel=x>" +
            comment + "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">",
        "<head>" + comment + "</head>\n<meta charset=big5>",
        "<p>" + comment + "<meta charset=big5>",
    };
    for (const std::string& page : pages) {
        const auto* p = reinterpret_cast<const unsigned char*>(page.data());
        const encoding_declaration whole =
            find_declared_encoding(p, page.size(), prescan_reach::head);
        for (std::size_t n = 0; n <= page.size(); ++n) {
            const encoding_declaration part = find_declared_encoding(p, n, prescan_reach::head);
            if (!part.head_runs_on) {
                EXPECT_EQ(part.encoding, whole.encoding) << n << " bytes of " << page.substr(0, 30);
                EXPECT_EQ(part.line, whole.line) << n << " bytes of " << page.substr(0, 30);
            }
        }
    }
}

constexpr quib_spot_kind DIGIT = QUIB_SPOT_QUOTE_AFTER_DIGIT;
constexpr quib_spot_kind PARAGRAPH = QUIB_SPOT_PARAGRAPH_IN_QUOTE;
constexpr quib_spot_kind CUT_OFF = QUIB_SPOT_QUOTE_CUT_OFF;
constexpr quib_spot_kind ELEMENT = QUIB_SPOT_ELEMENT_UNCLOSED;
constexpr quib_spot_kind MARKUP = QUIB_SPOT_MARKUP_UNCLOSED;
constexpr quib_spot_kind UTF16 = QUIB_SPOT_UTF16_PAGE;
constexpr quib_spot_kind MULTIBYTE = QUIB_SPOT_MULTIBYTE_PAGE;

struct html_check_case {
    const char* name;
    std::string input;
    std::vector<found_spot> expected;
};

const html_check_case CHECK_CASES[] = {
    {"a quotation ended by a block", "<p>\"a</p>\n<p>\"b\"</p>", {{PARAGRAPH, 1, ""}}},
    {"a quotation ended by a heading", "\"a\n<h2>b</h2>", {{PARAGRAPH, 1, ""}}},
    {"an inline tag is no boundary", "<p>\"a <b>b</b> <br> c\"</p>", {}},
    {"an empty line in a quotation", "<p>\"a\n\nb\"</p>", {{PARAGRAPH, 1, ""}}},
    {"once per quotation", "<p>\"a\n\nb</p>", {{PARAGRAPH, 1, ""}}},
    {"an inch mark", "<p>Ein 24\" Monitor</p>\n<p>\"ja\"</p>", {{DIGIT, 1, ""}, {PARAGRAPH, 1, ""}}},
    {"an inch mark written as a reference", "<p>24&quot; Monitor</p>", {{DIGIT, 1, ""}, {PARAGRAPH, 1, ""}}},
    {"quotes in code are no quotations", "<p>\"a <code>\"</code> b\"</p>", {}},
    {"a blank line in code inside a quotation",
     "<p>\"a <code>" + std::string(70, 'x') + "\n\n" + std::string(70, 'x') + "</code>\"</p>",
     {{PARAGRAPH, 1, ""}}},
    {"a blank line in a long tag inside a quotation",
     "<p>\"a <span\n\n title=" + std::string(70, 'x') + ">b\"</p>", {{PARAGRAPH, 1, ""}}},
    {"a blank line in a long tag with values inside a quotation",
     "<p>\"a <span\n\n title=\"" + std::string(70, 'x') + "\">b\"</p>", {{PARAGRAPH, 1, ""}}},
    {"cut off", "x\n\"a", {{CUT_OFF, 2, ""}}},
    {"an unclosed script", "<p>x</p>\n<script>if (a<b) {", {{ELEMENT, 2, "script"}}},
    {"an unclosed script with a long tag",
     "<p>x</p>\n<script src=\"" + std::string(70, 'x') + "\" type=\"a\">if (a<b) {",
     {{ELEMENT, 2, "script"}}},
    {"an unclosed textarea", "<textarea>\"x\"", {{ELEMENT, 1, "textarea"}}},
    {"an unclosed title", "a\n<title>x <b>", {{ELEMENT, 2, "title"}}},
    {"an unclosed pre, the outermost", "a\n<pre>\n<code>x</code><code>", {{ELEMENT, 2, "pre"}}},
    {"a code left open in a pre that closed", "<pre>\n<code>x\n</pre>\n<p>\"a\"</p>",
     {{ELEMENT, 2, "code"}}},
    {"a tt left open in a style of svg that closed", "<svg><style>\n<tt></style>",
     {{ELEMENT, 2, "tt"}}},
    {"the element opened first of those left open", "<tt>\n<code>\n</tt>\n<pre>\n",
     {{ELEMENT, 2, "code"}}},
    {"template code in a tag left open", "<input value=\"<?php echo 1;", {{MARKUP, 1, "tag"}}},
    {"an unclosed comment", "a\n<!-- x --", {{MARKUP, 2, "comment"}}},
    {"an unclosed tag", "a\n<a href=\"y>", {{MARKUP, 2, "tag"}}},
    {"an unclosed instruction", "<?php echo 1;", {{MARKUP, 1, "instruction"}}},
    {"a tag and a quotation cut off", "\"a <b", {{MARKUP, 1, "tag"}, {CUT_OFF, 1, ""}}},
    {"nothing to report", "<p>Er sagte \"Hallo\".</p>\n\n<pre>\"x\"</pre><script>\"</script>", {}},
    {"a page in UTF-16 is copied as it is", std::string("\xFF\xFE<\0p\0>\0\"\0<\0!\0", 14),
     {{UTF16, 1, ""}}},
    {"a page in Shift_JIS, whose second byte of a character may be a backslash",
     "<p>\n<meta charset=\"SJIS\"><p>\"\x83\\\"</p><pre>", {{MULTIBYTE, 2, ""}}},
    {"a page in Big5 declared in its head after the first kilobyte",
     "<head><!--" + std::string(1100, 'c') + "-->\n<meta charset=big5></head><p>\"\xA5\\\"</p>",
     {{MULTIBYTE, 2, ""}}},
    {"a multibyte encoding declared after the head counts not",
     "<head><!--" + std::string(1100, 'c') + "--></head>\n<meta charset=big5><p>\"x\"</p>", {}},
};

TEST(html_test, check_reports_what_derails_a_page)
{
    for (const html_check_case& c : CHECK_CASES) {
        for (std::size_t read_size : {std::size_t{1}, std::size_t{3}, IN_BLOCK_SIZE}) {
            convert_setup s = html_setup(false, read_size, nullptr, nullptr);
            std::vector<found_spot> spots;
            const std::string out = scanner_check(c.input, s, spots);
            EXPECT_EQ(out, convert(c.input, s)) << c.name << ", read size " << read_size;
            EXPECT_EQ(spots, c.expected) << c.name << ", read size " << read_size;
            // A page reported as in UTF-16 or a multibyte encoding is copied
            // as it is.
            if (!c.expected.empty() &&
                (c.expected[0].kind == UTF16 || c.expected[0].kind == MULTIBYTE)) {
                EXPECT_EQ(out, c.input) << c.name << ", read size " << read_size;
            }
        }
    }
}

// The windows find the spots in bulk; each scanner must report exactly what
// the byte path reports, in the same order, on prose rich in what the check
// looks at, and on the table's cases at every distance from a window.
TEST(html_test, check_in_windows_reports_what_the_byte_path_reports)
{
    static const char* const tokens[] = {
        " Text und mehr ", " Text und mehr ", "\"", "\"", "5\"", "\n", "\n", "\n\n",
        "\n \t\r\n", "<p>", "</p>", "<h2>", "</H2>", "<br>", "<b>", "</b>", "&quot;",
        "7&quot;", "<pre>", "</pre>", "<code class=\"x\">", "</code>", "\\\"", "<a href=\"#\">",
        "\nEine Zeile, lang genug f\xC3\xBCr ein ganzes Fenster ohne Auszeichnung, \"ja\"\n\n"};
    struct run {
        std::string input;
        std::size_t read_size;
    };
    std::vector<run> runs;
    std::mt19937_64 rng(1209);
    for (std::size_t round = 0; round < 1000; ++round) {
        std::string s = round % 5 == 0 ? "<meta charset=\"utf-8\">\n" : "";
        s += std::string(rng() % 130, 'y');
        for (std::size_t n = rng() % 150; n > 0; --n) {
            s += rng() % 16 == 0 ? random_html(rng, 3) : tokens[rng() % std::size(tokens)];
        }
        runs.push_back({s + std::string(200, 'y'), READ_SIZES[round % std::size(READ_SIZES)]});
    }
    for (const html_check_case& c : CHECK_CASES) {
        for (std::size_t before = 0; before < 130; ++before) {
            for (std::size_t read_size : {std::size_t{200}, std::size_t{4096}, IN_BLOCK_SIZE}) {
                runs.push_back({std::string(before, 'x') + c.input + std::string(300, 'z'), read_size});
            }
        }
    }
    for (std::size_t round = 0; round < runs.size(); ++round) {
        convert_setup s = html_setup(false, runs[round].read_size, byte_path(), nullptr);
        std::vector<found_spot> expected;
        const std::string out = scanner_check(runs[round].input, s, expected);
        for (const implementation& impl : every_scanner()) {
            s.impl = &impl;
            std::vector<found_spot> spots;
            ASSERT_EQ(scanner_check(runs[round].input, s, spots), out) << impl.name << ", " << round;
            ASSERT_EQ(spots, expected) << impl.name << ", " << round;
        }
    }
}

TEST(html_test, check_converts_the_same_on_random_inputs)
{
    std::mt19937_64 rng(5);
    for (int round = 0; round < 1000; ++round) {
        const std::string input = random_html(rng, 200);
        convert_setup s = html_setup(round % 2 == 0, IN_BLOCK_SIZE, nullptr, nullptr);
        std::vector<found_spot> spots;
        ASSERT_EQ(scanner_check(input, s, spots), convert(input, s)) << "round " << round;
    }
}

} // namespace
