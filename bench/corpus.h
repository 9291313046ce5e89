#ifndef QUIB_CORPUS_H
#define QUIB_CORPUS_H

// A deterministic German HTML corpus: ISO-8859-1 letters, paragraphs,
// attributes, quotations around tags, entities and a few escapes.

#include <cstdint>
#include <string>
#include <utility>

namespace corpus_detail {

struct rng {
    std::uint64_t s = 0x9E3779B97F4A7C15u;
    std::uint32_t next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<std::uint32_t>(s >> 11);
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }
};

inline const char* const WORDS[] = {
    "der", "die", "das", "und", "ist", "nicht", "mit", "f\xFCr", "auf", "dem", "Stra\xDF" "e",
    "Gr\xF6\xDF" "e", "M\xFCller", "\xC4rger", "\xFC" "ber", "sch\xF6n", "Br\xFC" "cke",
    "Wei\xDF" "bier", "K\xE4se", "Haus", "Stadt", "Zeitung", "Sonntag", "B\xFCrger",
    "Gem\xFCse", "Fr\xFChling", "w\xE4hrend", "au\xDF" "erdem", "Ma\xDF", "h\xF6ren",
    "sagte", "Regierung", "Bahnhof", "M\xE4rchen", "\xD6sterreich", "Z\xFCrich",
    "Erkl\xE4rung", "vielleicht", "zwischen", "immer", "wieder", "gr\xFCn"};
inline constexpr std::uint32_t WORD_COUNT = sizeof WORDS / sizeof WORDS[0];

inline const char* const INLINE_TAGS[][2] = {
    {"<b>", "</b>"},
    {"<i>", "</i>"},
    {"<em class=\"hervor\">", "</em>"},
    {"<a href=\"/artikel/seite.html\" title=\"Mehr lesen\">", "</a>"},
    {"<span style=\"color: #336699\">", "</span>"}};
inline constexpr std::uint32_t TAG_COUNT = sizeof INLINE_TAGS / sizeof INLINE_TAGS[0];

inline const char* const ENTITIES[] = {"&amp;", "&nbsp;", "&ndash;", "&quot;", "&euro;"};
inline constexpr std::uint32_t ENTITY_COUNT = sizeof ENTITIES / sizeof ENTITIES[0];

inline void words(rng& r, std::string& out, std::uint32_t n)
{
    for (std::uint32_t i = 0; i < n; ++i) {
        if (i > 0) {
            out += ' ';
        }
        out += WORDS[r.below(WORD_COUNT)];
    }
}

inline void sentence(rng& r, std::string& out)
{
    words(r, out, 3 + r.below(8));
    switch (r.below(10)) {
    case 0:
    case 1: { // a quotation, sometimes around a tag
        out += " \"";
        words(r, out, 1 + r.below(4));
        if (r.below(2) == 0) {
            const char* const* tag = INLINE_TAGS[r.below(TAG_COUNT)];
            out += ' ';
            out += tag[0];
            words(r, out, 1 + r.below(3));
            out += tag[1];
        }
        out += '"';
        break;
    }
    case 2: {
        const char* const* tag = INLINE_TAGS[r.below(TAG_COUNT)];
        out += ' ';
        out += tag[0];
        words(r, out, 1 + r.below(3));
        out += tag[1];
        break;
    }
    case 3:
        out += ' ';
        out += ENTITIES[r.below(ENTITY_COUNT)];
        out += ' ';
        words(r, out, 1 + r.below(2));
        break;
    case 4:
        if (r.below(20) == 0) {
            out += " 24\\\" Monitor";
        }
        break;
    default:
        break;
    }
    out += ' ';
    words(r, out, 2 + r.below(6));
    out += ". ";
}

inline void page(rng& r, std::string& out)
{
    out += "<!DOCTYPE html>\n<html lang=\"de\"><head>\n"
           "<meta http-equiv=\"content-type\" content=\"text/html; charset=ISO-8859-1\">\n"
           "<title>";
    words(r, out, 4);
    out += "</title>\n</head><body>\n<div class=\"inhalt\"><h1>";
    words(r, out, 5);
    out += "</h1>\n";
    std::uint32_t paragraphs = 5 + r.below(20);
    for (std::uint32_t p = 0; p < paragraphs; ++p) {
        out += "<p>";
        std::uint32_t sentences = 2 + r.below(6);
        for (std::uint32_t s = 0; s < sentences; ++s) {
            sentence(r, out);
        }
        out += "</p>\n";
        if (r.below(8) == 0) {
            out += "<ul><li>";
            words(r, out, 3);
            out += "</li><li>";
            words(r, out, 3);
            out += "</li></ul>\n";
        }
    }
    out += "</div></body></html>\n";
}


// Prose-dense pages: most umlauts written as entities, non-breaking spaces
// and dashes, a quotation in most paragraphs, some of them as &quot;.
inline const char* const ENTITY_WORDS[] = {
    "f&uuml;r", "Stra&szlig;e", "Gr&ouml;&szlig;e", "M&uuml;ller", "&Auml;rger", "&uuml;ber",
    "sch&ouml;n", "Br&uuml;cke", "K&auml;se", "B&uuml;rger", "w&auml;hrend", "h&ouml;ren",
    "M&auml;rchen", "&Ouml;sterreich", "Z&uuml;rich", "gr&uuml;n"};
inline constexpr std::uint32_t ENTITY_WORD_COUNT = sizeof ENTITY_WORDS / sizeof ENTITY_WORDS[0];

inline void dense_words(rng& r, std::string& out, std::uint32_t n)
{
    for (std::uint32_t i = 0; i < n; ++i) {
        if (i > 0) {
            out += r.below(40) == 0 ? "&nbsp;" : " ";
        }
        out += r.below(18) == 0 ? ENTITY_WORDS[r.below(ENTITY_WORD_COUNT)] : WORDS[r.below(WORD_COUNT)];
    }
}

inline void dense_page(rng& r, std::string& out)
{
    out += "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"iso-8859-1\">"
           "<title>Zeitung</title></head><body>\n<article>\n";
    const std::uint32_t paragraphs = 8 + r.below(16);
    for (std::uint32_t p = 0; p < paragraphs; ++p) {
        out += "<p>";
        const std::uint32_t sentences = 3 + r.below(5);
        for (std::uint32_t s = 0; s < sentences; ++s) {
            dense_words(r, out, 4 + r.below(8));
            if (r.below(3) == 0) {
                const bool entity = r.below(10) == 0;
                out += entity ? " &quot;" : " \"";
                dense_words(r, out, 2 + r.below(5));
                out += entity ? "&quot;" : "\"";
            }
            out += r.below(6) == 0 ? " &ndash; " : ". ";
        }
        out += "</p>\n";
    }
    out += "</article></body></html>\n";
}

// Pages like generated documentation: navigation, tables and highlighted
// code with an attribute at almost every tag, so a '"' and a '<' come every
// few words, mostly inside tags.
inline void doc_page(rng& r, std::string& out)
{
    out += "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"utf-8\">"
           "<link rel=\"stylesheet\" href=\"/_static/basic.css\" type=\"text/css\">"
           "<title>Handbuch</title></head><body>\n<nav class=\"sidebar\"><ul>";
    for (std::uint32_t i = 0; i < 6 + r.below(10); ++i) {
        out += "<li class=\"toctree-l1\"><a class=\"reference internal\" href=\"kapitel";
        out += std::to_string(r.below(50));
        out += ".html\">";
        words(r, out, 1 + r.below(3));
        out += "</a></li>";
    }
    out += "</ul></nav>\n<div class=\"body\" role=\"main\"><section id=\"abschnitt\">\n";
    for (std::uint32_t p = 0; p < 6 + r.below(10); ++p) {
        out += "<p>";
        for (std::uint32_t s = 0; s < 2 + r.below(3); ++s) {
            words(r, out, 2 + r.below(4));
            out += " <code class=\"docutils literal notranslate\"><span class=\"pre\">";
            words(r, out, 1);
            out += "</span></code> ";
            words(r, out, 2 + r.below(4));
            if (r.below(3) == 0) {
                out += " \"";
                words(r, out, 1 + r.below(3));
                out += "\"";
            }
            out += ". ";
        }
        out += "</p>\n";
        if (r.below(3) == 0) {
            out += "<table class=\"docutils align-default\"><tr class=\"row-odd\"><td><p>";
            words(r, out, 1);
            out += "</p></td><td><p>";
            words(r, out, 2);
            out += "</p></td></tr></table>\n";
        }
    }
    out += "</section></div></body></html>\n";
}

// Pages with inline scripts, styles and code samples: what --html keeps.
inline void script_page(rng& r, std::string& out)
{
    out += "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"utf-8\"><title>Blog</title>\n"
           "<style>a[href^=\"http\"]::after { content: \" \\2197\"; } .x > p { margin: 0 }</style>\n"
           "<script>var cfg = {\"lang\": \"de\", \"n\": 3}; function f(a, b) { return a < b ? \"klein\" : \"gro\xDF\"; }</script>\n"
           "</head><body>\n";
    for (std::uint32_t p = 0; p < 5 + r.below(10); ++p) {
        out += "<p>";
        for (std::uint32_t s = 0; s < 2 + r.below(4); ++s) {
            sentence(r, out);
        }
        out += "</p>\n";
        switch (r.below(4)) {
        case 0:
            out += "<pre><code class=\"language-js\">const s = &quot;Hallo&quot;;\n"
                   "if (i &lt; n) { pfad = \"C:\\\\temp\\\\\"; }\n</code></pre>\n";
            break;
        case 1:
            out += "<script>for (var i = 0; i < 10; i++) { document.title = \"Seite \" + i; }</script>\n";
            break;
        default:
            break;
        }
    }
    out += "</body></html>\n";
}

} // namespace corpus_detail

enum class corpus_kind { bench, dense, docs, scripts };

// The kind a name gives (bench, dense, docs, scripts); false for another.
inline bool corpus_kind_named(const std::string& name, corpus_kind& kind)
{
    static const std::pair<const char*, corpus_kind> kinds[] = {
        {"bench", corpus_kind::bench},
        {"dense", corpus_kind::dense},
        {"docs", corpus_kind::docs},
        {"scripts", corpus_kind::scripts}};
    for (const auto& [n, k] : kinds) {
        if (name == n) {
            kind = k;
            return true;
        }
    }
    return false;
}

// Appends pages to out until it holds at least size bytes; the same seed gives
// the same pages.
inline void append_corpus(std::string& out, std::size_t size, std::uint64_t& seed,
                          corpus_kind kind = corpus_kind::bench)
{
    corpus_detail::rng r{seed};
    while (out.size() < size) {
        switch (kind) {
        case corpus_kind::bench:
            corpus_detail::page(r, out);
            break;
        case corpus_kind::dense:
            corpus_detail::dense_page(r, out);
            break;
        case corpus_kind::docs:
            corpus_detail::doc_page(r, out);
            break;
        case corpus_kind::scripts:
            corpus_detail::script_page(r, out);
            break;
        }
    }
    seed = r.s;
}

#endif
