#include "html_reference.h"

#include <array>
#include <cstdint>
#include <vector>

#include "charset.h"

namespace {

constexpr std::size_t none = std::string_view::npos;

bool is_blank(char c)
{
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

bool is_letter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lower(std::string_view s)
{
    std::string r;
    for (char c : s) {
        r += lower(c);
    }
    return r;
}

bool is_one_of(const std::string& name, std::initializer_list<const char*> names)
{
    for (const char* n : names) {
        if (name == n) {
            return true;
        }
    }
    return false;
}

// Whether the byte at i (if any) makes a '<' before it start markup.
bool starts_markup_at(std::string_view in, std::size_t i)
{
    if (i >= in.size()) {
        return false;
    }
    const char c = in[i];
    return is_letter(c) || c == '/' || c == '!' || c == '?';
}

// Whether in[i..] begins with word, ASCII-case-insensitively.
bool starts_with_nocase(std::string_view in, std::size_t i, std::string_view word)
{
    if (in.size() - i < word.size()) {
        return false;
    }
    for (std::size_t k = 0; k < word.size(); ++k) {
        if (lower(in[i + k]) != word[k]) {
            return false;
        }
    }
    return true;
}

// Whether in[i..] is "</" + name + a blank, '/' or '>' (name in lower case).
bool end_tag_of(std::string_view in, std::size_t i, std::string_view name)
{
    if (in.compare(i, 2, "</") != 0 || !starts_with_nocase(in, i + 2, name)) {
        return false;
    }
    const std::size_t after = i + 2 + name.size();
    return after < in.size() && (is_blank(in[after]) || in[after] == '/' || in[after] == '>');
}

// As end_tag_of, for "<" + name + terminator.
bool start_tag_of(std::string_view in, std::size_t i, std::string_view name)
{
    if (in[i] != '<' || !starts_with_nocase(in, i + 1, name)) {
        return false;
    }
    const std::size_t after = i + 1 + name.size();
    return after < in.size() && (is_blank(in[after]) || in[after] == '/' || in[after] == '>');
}

// The name of a quote reference, as listed in the rules.
bool is_quote_name(std::string_view name)
{
    for (std::string_view n : {"quot", "QUOT", "bdquo", "ldquo", "ldquor", "rdquo", "rdquor"}) {
        if (name == n) {
            return true;
        }
    }
    if (name.size() < 2 || name[0] != '#') {
        return false;
    }
    const bool hex = name[1] == 'x' || name[1] == 'X';
    std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) {
        return false;
    }
    // At most 9 digits fit in the name, so the value fits in 64 bits.
    std::uint64_t value = 0;
    for (char c : digits) {
        int d = -1;
        if (is_digit(c)) {
            d = c - '0';
        } else if (hex && lower(c) >= 'a' && lower(c) <= 'f') {
            d = lower(c) - 'a' + 10;
        }
        if (d < 0) {
            return false;
        }
        value = value * (hex ? 16 : 10) + static_cast<std::uint64_t>(d);
    }
    for (std::uint64_t v : {34, 132, 147, 148, 8220, 8221, 8222}) {
        if (value == v) {
            return true;
        }
    }
    return false;
}

// The length of the quote reference at in[i] == '&', or 0 if none starts there.
std::size_t quote_reference_length(std::string_view in, std::size_t i)
{
    std::size_t j = i + 1;
    while (j < in.size() && j - (i + 1) < 10 && (is_letter(in[j]) || is_digit(in[j]) || in[j] == '#')) {
        ++j;
    }
    if (j == i + 1 || j >= in.size() || in[j] != ';') {
        return 0;
    }
    return is_quote_name(in.substr(i + 1, j - (i + 1))) ? j + 1 - i : 0;
}

// Whether template code, "<?php" (any case) or "<?=", starts at in[i].
bool template_code_at(std::string_view in, std::size_t i)
{
    const auto at = [&in](std::size_t k) { return k < in.size() ? lower(in[k]) : '\0'; };
    return at(i) == '<' && at(i + 1) == '?' &&
           (at(i + 2) == '=' || (at(i + 2) == 'p' && at(i + 3) == 'h' && at(i + 4) == 'p'));
}

// Where a tag starting at in[i] == '<' ends (one past its '>'), or none; its
// name goes to name, whether it ends in the self-closing "/>" to
// self_closing. The states are the table of section 2.
std::size_t tag_end(std::string_view in, std::size_t i, std::string& name, bool& self_closing)
{
    enum class st { n, b, a, v, u, d, s, q } state = st::n;
    std::size_t j = i + (in[i + 1] == '/' ? 2 : 1);
    const std::size_t name_start = j;
    std::size_t name_end = none;
    for (; j < in.size(); ++j) {
        const char c = in[j];
        const bool blank = is_blank(c);
        // Template code after the name is skipped whole.
        if (state != st::n && template_code_at(in, j)) {
            const std::size_t q = in.find("?>", j + 2);
            if (q == none) {
                return none;
            }
            j = q + 1;
            continue;
        }
        if (c == '>' && state != st::d && state != st::s) {
            if (name_end == none) {
                name_end = j;
            }
            name = lower(in.substr(name_start, name_end - name_start));
            self_closing = state == st::b && in[j - 1] == '/';
            return j + 1;
        }
        switch (state) {
        case st::n:
            if (blank || c == '/') {
                name_end = j;
                state = st::b;
            }
            break;
        case st::b:
            if (!blank && c != '/') {
                state = st::a;
            }
            break;
        case st::a:
            if (c == '/') {
                state = st::b;
            } else if (c == '=') {
                state = st::v;
            }
            break;
        case st::v:
            if (c == '"') {
                state = st::d;
            } else if (c == '\'') {
                state = st::s;
            } else if (!blank) {
                state = st::u;
            }
            break;
        case st::u:
            if (blank) {
                state = st::b;
            }
            break;
        case st::d:
            if (c == '"') {
                state = st::q;
            }
            break;
        case st::s:
            if (c == '\'') {
                state = st::q;
            }
            break;
        case st::q:
            if (blank || c == '/') {
                state = st::b;
            } else {
                state = st::a;
            }
            break;
        }
    }
    return none;
}

// Where the markup starting at in[i] == '<' ends (one past its last byte),
// or none if the input ends first. is_tag and is_end_tag tell what it was.
std::size_t markup_end(std::string_view in, std::size_t i, bool foreign, std::string& name,
                       bool& is_tag, bool& is_end_tag, bool& self_closing)
{
    is_tag = false;
    is_end_tag = false;
    self_closing = false;
    const char next = in[i + 1];
    if (is_letter(next)) {
        is_tag = true;
        return tag_end(in, i, name, self_closing);
    }
    if (next == '/') {
        if (i + 2 < in.size() && is_letter(in[i + 2])) {
            is_tag = true;
            is_end_tag = true;
            return tag_end(in, i, name, self_closing);
        }
        const std::size_t gt = in.find('>', i + 2);
        return gt == none ? none : gt + 1;
    }
    if (next == '?') {
        // Template code, <?php or <?=, ends at "?>"; any other <? at '>'.
        if (template_code_at(in, i)) {
            const std::size_t q = in.find("?>", i + 2);
            return q == none ? none : q + 2;
        }
        const std::size_t gt = in.find('>', i + 2);
        return gt == none ? none : gt + 1;
    }
    // next == '!'
    if (in.compare(i, 4, "<!--") == 0) {
        for (std::size_t j = i + 4; j < in.size(); ++j) {
            if (in[j] != '>') {
                continue;
            }
            // The dashes of "<!--" count for "-->", not for "--!>".
            if (in[j - 1] == '-' && in[j - 2] == '-') {
                return j + 1;
            }
            if (in[j - 1] == '!' && in[j - 2] == '-' && in[j - 3] == '-' && j - 3 >= i + 4) {
                return j + 1;
            }
        }
        return none;
    }
    // CDATA only in svg and math; elsewhere a bogus comment, to the first '>'.
    if (foreign && in.compare(i, 9, "<![CDATA[") == 0) {
        const std::size_t e = in.find("]]>", i + 9);
        return e == none ? none : e + 3;
    }
    const std::size_t gt = in.find('>', i + 2);
    return gt == none ? none : gt + 1;
}

// Where the raw text of a script starting at in[i] ends: at the '<' of the
// closing "</script", or at the end of the input. The script data states of
// section 3; dashes counts the '-' right before the current byte.
std::size_t script_end(std::string_view in, std::size_t i)
{
    enum class st { data, escaped, double_escaped } state = st::data;
    int dashes = 0;
    std::size_t j = i;
    while (j < in.size()) {
        const char c = in[j];
        if (state == st::data) {
            if (end_tag_of(in, j, "script")) {
                return j;
            }
            if (in.compare(j, 4, "<!--") == 0) {
                state = st::escaped;
                dashes = 2;
                j += 4;
                continue;
            }
            ++j;
            continue;
        }
        if (c == '>' && dashes >= 2) {
            state = st::data;
            dashes = 0;
            ++j;
            continue;
        }
        if (c == '<') {
            if (end_tag_of(in, j, "script")) {
                if (state == st::escaped) {
                    return j;
                }
                state = st::escaped;
                dashes = 0;
                j += 9;  // "</script" and its terminator
                continue;
            }
            if (state == st::escaped && start_tag_of(in, j, "script")) {
                state = st::double_escaped;
                dashes = 0;
                j += 8;  // "<script" and its terminator
                continue;
            }
        }
        dashes = c == '-' ? dashes + 1 : 0;
        ++j;
    }
    return in.size();
}

// Where the raw text of a non-script element starting at in[i] ends.
std::size_t raw_text_end(std::string_view in, std::size_t i, const std::string& name)
{
    if (name == "script") {
        return script_end(in, i);
    }
    for (std::size_t j = i; j < in.size(); ++j) {
        if (in[j] == '<' && end_tag_of(in, j, name)) {
            return j;
        }
    }
    return in.size();
}

// The HTML start tags that end svg and math.
bool is_breakout(const std::string& name)
{
    return is_one_of(name, {"b", "big", "blockquote", "body", "br", "center", "code", "dd", "div",
                            "dl", "dt", "em", "embed", "h1", "h2", "h3", "h4", "h5", "h6", "head",
                            "hr", "i", "img", "li", "listing", "menu", "meta", "nobr", "ol", "p",
                            "pre", "ruby", "s", "small", "span", "strong", "strike", "sub", "sup",
                            "table", "tt", "u", "ul", "var"});
}

bool is_block_boundary(const std::string& name)
{
    return is_one_of(name, {"p", "div", "li", "dt", "dd", "td", "th", "tr", "table", "ul", "ol", "dl",
                            "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "section", "article",
                            "header", "footer", "nav", "aside", "main", "figure", "figcaption", "form",
                            "fieldset", "body", "pre", "html", "head", "title", "address", "caption",
                            "details", "summary", "dialog", "hr", "menu", "thead", "tbody", "tfoot",
                            "hgroup", "legend", "center", "option"});
}

constexpr std::array<const char*, 6> verbatim_names = {"pre", "code", "kbd", "samp", "tt", "listing"};

} // namespace

std::string html_reference_convert(std::string_view in, bool break_tags,
                                   const std::string& open, const std::string& close)
{
    // A page in UTF-16 (its byte order mark first) is copied as it is.
    if (in.size() >= 2 &&
        ((in[0] == '\xFF' && in[1] == '\xFE') || (in[0] == '\xFE' && in[1] == '\xFF'))) {
        return std::string(in);
    }
    // So is one that declares an encoding whose characters may hold ASCII
    // bytes, in its first bytes or, declaring nothing there, further in its
    // head (the declaration found as the program finds it: the charset
    // tables test that).
    const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
    encoding_declaration declared = find_declared_encoding(bytes, in.size());
    if (declared.encoding == page_encoding::none) {
        declared = find_declared_encoding(bytes, in.size(), prescan_reach::head);
    }
    if (declared.encoding == page_encoding::multibyte) {
        return std::string(in);
    }
    std::string out;
    bool quoted = false;
    std::array<int, verbatim_names.size()> verbatim_count{};
    // svg and math (foreign content) and the HTML of their integration
    // points, innermost last, eight at the most; script and style inside
    // svg and math, whose text is kept and whose tags are tags.
    struct level {
        bool html;
        std::string name; // svg or math; the integration point's
        int open;         // elements of the name open; HTML elements open inside
    };
    std::vector<level> levels;
    const auto in_foreign = [&] { return !levels.empty() && !levels.back().html; };
    const auto reads_cdata = [&] {
        return !levels.empty() && (!levels.back().html || levels.back().open == 0);
    };
    std::array<int, 2> foreign_code{};
    char last_char = 0;
    // Set after raw text: its end tag belongs to the element, so no line end goes before it.
    bool closing_raw_text = false;
    // A title's text, up to its end tag, is prose in which '<' starts no markup.
    std::size_t title_end = 0;
    // Whether the '<' at q starts markup; in a title only its end tag does.
    const auto markup_at = [&](std::size_t q) {
        return q < title_end ? false : starts_markup_at(in, q + 1);
    };

    const auto verbatim = [&] {
        for (int count : verbatim_count) {
            if (count > 0) {
                return true;
            }
        }
        return foreign_code[0] > 0 || foreign_code[1] > 0;
    };
    // A prose byte written outside a quotation and outside verbatim prose.
    const auto write_prose = [&](char c) {
        out += c;
        if (!quoted) {
            last_char = c;
        }
    };

    std::size_t i = 0;
    while (i < in.size()) {
        const char c = in[i];
        if (c == '<' && markup_at(i)) {
            if (break_tags && !closing_raw_text && !quoted && !verbatim() && last_char == '>') {
                out += '\n';
                last_char = 0;
            }
            closing_raw_text = false;
            std::string name;
            bool is_tag = false;
            bool is_end_tag = false;
            bool self_closing = false;
            const std::size_t end =
                markup_end(in, i, reads_cdata(), name, is_tag, is_end_tag, self_closing);
            if (end == none) {
                out += in.substr(i);  // cut off: copied, and nothing happens
                break;
            }
            out += in.substr(i, end - i);
            last_char = '>';
            i = end;
            if (!is_tag) {
                continue;
            }
            if (is_block_boundary(name)) {
                quoted = false;
            }
            // Names longer than any looked for change no level.
            const bool counted = name.size() <= 13;
            if (counted && in_foreign()) {
                const std::size_t n = levels.size();
                level* below = n >= 2 ? &levels[n - 2] : nullptr;
                if ((!is_end_tag && is_breakout(name)) || (is_end_tag && name == "br")) {
                    levels.pop_back();
                } else if (is_end_tag && is_block_boundary(name) &&
                           !is_one_of(name, {"title", "html", "head", "body"})) {
                    // Closes the element around the svg, if that is open.
                    if (below == nullptr) {
                        levels.pop_back();
                    } else if (below->open > 0) {
                        levels.pop_back();
                        --levels.back().open;
                    }
                } else if (is_end_tag && below != nullptr && below->name == name && below->open == 0) {
                    levels.resize(n - 2);
                }
            }
            const bool foreign = in_foreign();
            if (foreign && self_closing && !is_end_tag) {
                continue;  // opens nothing
            }
            for (int k = 0; k < 2; ++k) {
                if (name == (k == 0 ? "script" : "style") && (foreign || is_end_tag)) {
                    if (!is_end_tag) {
                        ++foreign_code[static_cast<std::size_t>(k)];
                    } else if (foreign_code[static_cast<std::size_t>(k)] > 0) {
                        --foreign_code[static_cast<std::size_t>(k)];
                    }
                }
            }
            const bool svg_or_math = name == "svg" || name == "math";
            if (counted && !foreign) {
                if (svg_or_math && !is_end_tag) {
                    if (!self_closing && levels.size() < 8) {
                        levels.push_back({false, name, 1});
                    }
                } else if (!levels.empty()) {
                    // In the HTML of an integration point.
                    level& l = levels.back();
                    level& root = levels[levels.size() - 2];
                    if (!is_end_tag) {
                        if (!is_one_of(name, {"area", "base", "br", "col", "embed", "hr", "img",
                                              "input", "link", "meta", "param", "source", "track",
                                              "wbr"})) {
                            ++l.open;
                        }
                    } else if (l.open > 0) {
                        if (!svg_or_math && name != l.name) {
                            --l.open;
                        }
                    } else if (name == l.name) {
                        levels.pop_back();
                    } else if (name == root.name) {
                        levels.pop_back();
                        if (--levels.back().open == 0) {
                            levels.pop_back();
                        }
                    }
                }
            } else if (counted && name == levels.back().name) {
                if (!is_end_tag) {
                    ++levels.back().open;
                } else if (--levels.back().open == 0) {
                    levels.pop_back();
                }
            } else if (counted && !is_end_tag && levels.size() < 8 &&
                       (levels.back().name == "svg"
                            ? is_one_of(name, {"foreignobject", "desc", "title"})
                            : is_one_of(name, {"mi", "mo", "mn", "ms", "mtext"}))) {
                levels.push_back({true, name, 0});
            }
            for (std::size_t k = 0; k < verbatim_names.size(); ++k) {
                if (name == verbatim_names[k]) {
                    if (!is_end_tag) {
                        ++verbatim_count[k];
                    } else if (verbatim_count[k] > 0) {
                        --verbatim_count[k];
                    }
                }
            }
            if (is_end_tag || foreign) {
                continue;
            }
            if (name == "plaintext") {
                out += in.substr(i);
                break;
            }
            if (name == "title") {
                title_end = raw_text_end(in, i, name);
                closing_raw_text = true;
                continue;
            }
            if (is_one_of(name, {"script", "style", "textarea", "xmp", "iframe", "noembed", "noframes"})) {
                const std::size_t raw_end = raw_text_end(in, i, name);
                out += in.substr(i, raw_end - i);
                i = raw_end;
                closing_raw_text = true;
            }
            continue;
        }
        if (verbatim()) {
            out += c;  // only '<' means anything in verbatim prose
            ++i;
            continue;
        }
        if (c == '"') {
            out += quoted ? close : open;
            if (quoted) {
                last_char = '"';
            }
            quoted = !quoted;
            ++i;
            continue;
        }
        if (c == '&') {
            const std::size_t length = quote_reference_length(in, i);
            if (length > 0) {
                out += quoted ? close : open;
                if (quoted) {
                    last_char = '"';
                }
                quoted = !quoted;
                i += length;
            } else {
                write_prose(c);
                ++i;
            }
            continue;
        }
        if (c == '\\') {
            if (i + 1 == in.size()) {
                break;  // a backslash at the end writes nothing
            }
            const char e = in[i + 1];
            if (e == '"' || e == '>' || e == '\\') {
                write_prose(e);
                i += 2;
            } else if (e == '<' && (i + 1 < title_end ? i + 2 < in.size() && in[i + 2] == '/' : markup_at(i + 1))) {
                // The browser reads that '<' as markup, so the markup stays whole.
                write_prose('\\');
                i += 1;
            } else if (e == '<') {
                write_prose('<');
                i += 2;
            } else {
                // The byte after the backslash loses its meaning.
                write_prose('\\');
                write_prose(e);
                i += 2;
            }
            continue;
        }
        write_prose(c);  // text, '<' that starts no markup included
        ++i;
    }
    return out;
}
