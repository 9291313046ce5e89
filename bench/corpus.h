#ifndef QUIB_CORPUS_H
#define QUIB_CORPUS_H

// A deterministic German HTML corpus: ISO-8859-1 letters, paragraphs,
// attributes, quotations around tags, entities and a few escapes.

#include <cstdint>
#include <string>

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

} // namespace corpus_detail

// Appends pages to out until it holds at least size bytes; the same seed gives
// the same pages.
inline void append_corpus(std::string& out, std::size_t size, std::uint64_t& seed)
{
    corpus_detail::rng r{seed};
    while (out.size() < size) {
        corpus_detail::page(r, out);
    }
    seed = r.s;
}

#endif
