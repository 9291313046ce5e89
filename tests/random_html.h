#ifndef QUIB_RANDOM_HTML_H
#define QUIB_RANDOM_HTML_H

// Random inputs rich in what the --html reading reacts to.

#include <cstdint>
#include <random>
#include <string>

inline std::string random_html(std::mt19937_64& rng, std::size_t max_tokens)
{
    static const char* const tokens[] = {
        "\"", "\"", "\"", "'", "&", "<", "<", ">", ">", "\\", "=", "/", "-", "!", "?", "]", ";",
        "#", " ", " ", "\n", "\t", "a", "Q", "1", "x", "\xFF", "\x84",
        "<p>", "</p>", "<P class=x>", "<div id=\"a>b\">", "</div>", "<li>", "<br>", "<h2>",
        "<b>", "</b>", "<a href=\"x\" title='q\"'>", "</a>", "<span class=x don't>",
        "<a =\"x>\">", "<img alt=\"\" />", "<code>", "</code>", "<pre>", "</PRE>", "<kbd>",
        "</kbd>", "<tt>", "</tt>", "<samp>", "</samp>", "<script>", "</script>", "</SCRIPT >",
        "<script type=\"x\">", "<!--", "-->", "--!>", "<!-->", "<style>", "</style>",
        "<textarea>", "</textarea>", "<xmp>", "</xmp>", "<![CDATA[", "]]>", "<?php ", "<?= ", "?>",
        "<!DOCTYPE html>", "</>", "</ x>", "<!x>", "&quot;", "&QUOT;", "&#34;", "&#x22;",
        "&#X201e;", "&#8222;", "&#0000132;", "&ldquo;", "&rdquo;", "&ldquor;", "&bdquo;",
        "&amp;", "&nbsp;", "&#;", "&quot", "&abcdefghij;", "\\\"", "\\<", "\\\\", "\\>",
        "\\<b>", "i<n", "a <= b", "<3", "q\"", "<title>", "</title>",
        // svg and math, the HTML inside them, the tags that end them.
        "<svg>", "</svg>", "<MATH>", "</math>", "<svg/>", "<foreignObject>", "</foreignobject>",
        "<desc>", "</desc>", "<mtext>", "</mi>", "<span>", "<title/>", "<mi>", "</mtext>",
        "<foreignObject/>", "<input>", "</body>", "</br>",
        // Tags longer than a window.
        "<a class=\"reference internal\" href=\"../library/functions.html#print\" title=\"a > b\">",
        "<img src=\"bilder/eine-lange-datei.png\" alt=\"Ein &quot;Bild&quot;\" width=\"100\" />",
        "<svg width=\"100\" height=\"100\" viewBox=\"0 0 100 100\" xmlns=\"http://www.w3.org/2000/svg\"/>",
        // The inside of tags, piece by piece.
        "<a ", "<x y", "</a ", " b=", " b", "=", "='", "=\"", " =", "/=", " /", "/>", "\f",
        "\r", "\v"};
    constexpr std::size_t token_count = sizeof tokens / sizeof tokens[0];
    std::string s;
    const std::size_t n = rng() % (max_tokens + 1);
    for (std::size_t i = 0; i < n; ++i) {
        if (rng() % 24 == 0) {
            s += static_cast<char>(rng() % 256);
        } else {
            s += tokens[rng() % token_count];
        }
    }
    return s;
}

// Prose with quotes and simple inline tags, paragraphs whose quotations
// close inside them, no '&' and no backslash before '<': where --html and
// the default conversion must agree.
inline std::string random_simple_page(std::mt19937_64& rng, std::size_t paragraphs)
{
    static const char* const words[] = {"Er", "sagte", "Hallo", "Welt", "und", "ging",
                                        "gr\xFCn", "12", "x>y", "\\\"", "\\\\", "\\>"};
    static const char* const inline_tags[][2] = {
        {"<b>", "</b>"}, {"<i class=\"x\">", "</i>"}, {"<span>", "</span>"},
        {"<a href=\"s.html\">", "</a>"}};
    std::string s;
    for (std::size_t p = 0; p < paragraphs; ++p) {
        s += rng() % 2 == 0 ? "<p>" : "<li>";
        const std::size_t quotes = 2 * (rng() % 3);
        const std::size_t n = 3 + rng() % 12;
        std::size_t placed = 0;
        for (std::size_t w = 0; w < n; ++w) {
            s += words[rng() % std::size(words)];
            s += ' ';
            if (placed < quotes && rng() % 3 == 0) {
                s += '"';
                ++placed;
            }
            if (rng() % 5 == 0) {
                const auto& t = inline_tags[rng() % std::size(inline_tags)];
                s += t[0];
                s += words[rng() % std::size(words)];
                s += t[1];
            }
        }
        for (; placed < quotes; ++placed) {
            s += '"';
        }
        s += rng() % 2 == 0 ? "</p>\n" : "\n";
    }
    return s;
}

#endif
