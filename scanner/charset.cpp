// The prescan of a page's first bytes for its declared encoding, after the
// algorithm browsers use, reduced to the three answers quib needs.

#include "charset.h"

#include <cstring>

#include "html.h"

namespace {

bool is_blank(unsigned char c)
{
    return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
}

unsigned char lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool is_letter(unsigned char c)
{
    return lower(c) >= 'a' && lower(c) <= 'z';
}

// Whether the bytes at p (n of them) start with word exactly, in its case.
bool starts_with_exactly(const unsigned char* p, std::size_t n, const char* word)
{
    const std::size_t len = std::strlen(word);
    return n >= len && std::memcmp(p, word, len) == 0;
}

// Whether the bytes at p (n of them) start with word, in any case.
bool starts_with(const unsigned char* p, std::size_t n, const char* word)
{
    const std::size_t len = std::strlen(word);
    if (n < len) {
        return false;
    }
    for (std::size_t i = 0; i < len; ++i) {
        if (lower(p[i]) != static_cast<unsigned char>(word[i])) {
            return false;
        }
    }
    return true;
}

constexpr const char* UTF8_LABELS[] = {
    "unicode-1-1-utf-8", "unicode11utf8", "unicode20utf8", "utf-8", "utf8", "x-unicode20utf8",
    // A page that declares UTF-16 in ASCII bytes is not UTF-16; browsers
    // read it as UTF-8.
    "csunicode", "iso-10646-ucs-2", "ucs-2", "unicode", "unicodefeff", "utf-16", "utf-16le",
    "unicodefffe", "utf-16be"};
// The labels of the encodings whose characters may hold bytes below 0x80:
// Shift_JIS, Big5, GBK, gb18030, ISO-2022-JP, and those read as nothing
// (replacement).
constexpr const char* MULTIBYTE_LABELS[] = {
    "csshiftjis", "ms932",       "ms_kanji",    "shift-jis",       "shift_jis",  "sjis",
    "windows-31j", "x-sjis",     "big5",        "big5-hkscs",      "cn-big5",    "csbig5",
    "x-x-big5",   "chinese",     "csgb2312",    "csiso58gb231280", "gb2312",     "gb_2312",
    "gb_2312-80", "gbk",         "iso-ir-58",   "x-gbk",           "gb18030",    "csiso2022jp",
    "iso-2022-jp", "csiso2022kr", "hz-gb-2312", "iso-2022-cn",     "iso-2022-cn-ext",
    "iso-2022-kr", "replacement"};
constexpr const char* WINDOWS_1252_LABELS[] = {
    "ansi_x3.4-1968", "ascii",      "cp1252",     "cp819",           "csisolatin1",
    "ibm819",         "iso-8859-1", "iso-ir-100", "iso8859-1",       "iso88591",
    "iso_8859-1",     "iso_8859-1:1987", "l1",    "latin1",          "us-ascii",
    "windows-1252",   "x-cp1252",   "x-user-defined"};

// A page being read from the prescan's bytes.
struct reader {
    const unsigned char* p;
    std::size_t n;
    std::size_t pos = 0;
    bool cut_off = false; // a step needed a byte beyond the bytes looked at

    bool at_end()
    {
        if (pos >= n) {
            cut_off = true;
            return true;
        }
        return false;
    }
};

struct attribute {
    unsigned char name[16];
    std::size_t name_len = 0;
    unsigned char value[64];
    std::size_t value_len = 0;
    bool value_too_long = false;
};

void append(unsigned char* to, std::size_t& len, std::size_t cap, unsigned char c, bool* too_long)
{
    if (len < cap) {
        to[len++] = lower(c);
    } else if (too_long != nullptr) {
        *too_long = true;
    } else {
        ++len; // a name longer than any looked for
    }
}

// The prescan's "get an attribute"; false where there is none (or the
// bytes ran out).
bool get_attribute(reader& r, attribute& a)
{
    a = attribute{};
    while (!r.at_end() && (is_blank(r.p[r.pos]) || r.p[r.pos] == '/')) {
        ++r.pos;
    }
    if (r.at_end() || r.p[r.pos] == '>') {
        return false;
    }
    for (;;) { // the name
        if (r.at_end()) {
            return false;
        }
        const unsigned char c = r.p[r.pos];
        if (c == '=' && a.name_len > 0) {
            ++r.pos;
            break;
        }
        if (is_blank(c)) {
            while (!r.at_end() && is_blank(r.p[r.pos])) {
                ++r.pos;
            }
            if (r.at_end()) {
                return false;
            }
            if (r.p[r.pos] != '=') {
                return true;
            }
            ++r.pos;
            break;
        }
        if (c == '/' || c == '>') {
            return true;
        }
        append(a.name, a.name_len, sizeof a.name, c, nullptr);
        ++r.pos;
    }
    while (!r.at_end() && is_blank(r.p[r.pos])) {
        ++r.pos;
    }
    if (r.at_end()) {
        return false;
    }
    const unsigned char first = r.p[r.pos];
    if (first == '"' || first == '\'') {
        for (;;) {
            ++r.pos;
            if (r.at_end()) {
                return false;
            }
            if (r.p[r.pos] == first) {
                ++r.pos;
                return true;
            }
            append(a.value, a.value_len, sizeof a.value, r.p[r.pos], &a.value_too_long);
        }
    }
    if (first == '>') {
        return true;
    }
    for (;;) {
        if (r.at_end()) {
            return false;
        }
        const unsigned char c = r.p[r.pos];
        if (is_blank(c) || c == '>') {
            return true;
        }
        append(a.value, a.value_len, sizeof a.value, c, &a.value_too_long);
        ++r.pos;
    }
}

bool name_is(const attribute& a, const char* name)
{
    return a.name_len == std::strlen(name) && std::memcmp(a.name, name, a.name_len) == 0;
}

// "Extracting a character encoding from a meta element": the label after
// "charset=" in a content attribute's value, or none.
page_encoding encoding_in_content(const unsigned char* v, std::size_t n, bool& found)
{
    found = false;
    std::size_t pos = 0;
    for (;;) {
        while (pos + 7 <= n && !starts_with(v + pos, n - pos, "charset")) {
            ++pos;
        }
        if (pos + 7 > n) {
            return page_encoding::none;
        }
        pos += 7;
        std::size_t at = pos;
        while (at < n && is_blank(v[at])) {
            ++at;
        }
        if (at >= n || v[at] != '=') {
            continue;
        }
        ++at;
        while (at < n && is_blank(v[at])) {
            ++at;
        }
        if (at >= n) {
            return page_encoding::none;
        }
        if (v[at] == '"' || v[at] == '\'') {
            const unsigned char quote = v[at];
            const std::size_t start = at + 1;
            std::size_t end = start;
            while (end < n && v[end] != quote) {
                ++end;
            }
            if (end >= n) {
                return page_encoding::none;
            }
            found = true;
            return encoding_of_label(v + start, end - start);
        }
        const std::size_t start = at;
        while (at < n && !is_blank(v[at]) && v[at] != ';') {
            ++at;
        }
        if (at == start) {
            return page_encoding::none;
        }
        found = true;
        return encoding_of_label(v + start, at - start);
    }
}

// The attributes of a <meta> tag: the encoding it declares, if it declares
// one as browsers take it.
bool meta_declaration(reader& r, page_encoding& encoding)
{
    bool seen_http_equiv = false;
    bool seen_content = false;
    bool seen_charset = false;
    bool got_pragma = false;
    enum { not_set, needed, not_needed } need_pragma = not_set;
    bool have_charset = false;
    page_encoding charset = page_encoding::none;
    attribute a;
    while (get_attribute(r, a)) {
        if (name_is(a, "http-equiv")) {
            if (seen_http_equiv) {
                continue;
            }
            seen_http_equiv = true;
            got_pragma = !a.value_too_long && a.value_len == 12 &&
                         std::memcmp(a.value, "content-type", 12) == 0;
        } else if (name_is(a, "content")) {
            if (seen_content) {
                continue;
            }
            seen_content = true;
            bool found = false;
            const page_encoding e = encoding_in_content(a.value, a.value_len, found);
            if (found && !have_charset) {
                have_charset = true;
                charset = e;
                need_pragma = needed;
            }
        } else if (name_is(a, "charset")) {
            if (seen_charset) {
                continue;
            }
            seen_charset = true;
            have_charset = true;
            charset = a.value_too_long ? page_encoding::other
                                       : encoding_of_label(a.value, a.value_len);
            need_pragma = not_needed;
        }
    }
    if (r.cut_off || need_pragma == not_set || (need_pragma == needed && !got_pragma) ||
        !have_charset) {
        return false;
    }
    encoding = charset;
    return true;
}

// <?xml version="1.0" encoding="..."?>: the encoding pseudo-attribute,
// spelt in lowercase, its value without a blank at either end inside its
// quotes, as browsers take it (they ignore "<?XML", "ENCODING" and
// " utf-8").
bool xml_declaration(reader& r, page_encoding& encoding)
{
    while (!r.at_end()) {
        if (r.p[r.pos] == '?' && r.pos + 1 < r.n && r.p[r.pos + 1] == '>') {
            return false;
        }
        if (starts_with_exactly(r.p + r.pos, r.n - r.pos, "encoding")) {
            r.pos += 8;
            while (!r.at_end() && is_blank(r.p[r.pos])) {
                ++r.pos;
            }
            if (r.at_end() || r.p[r.pos] != '=') {
                continue;
            }
            ++r.pos;
            while (!r.at_end() && is_blank(r.p[r.pos])) {
                ++r.pos;
            }
            if (r.at_end() || (r.p[r.pos] != '"' && r.p[r.pos] != '\'')) {
                return false;
            }
            const unsigned char quote = r.p[r.pos++];
            const std::size_t start = r.pos;
            while (!r.at_end() && r.p[r.pos] != quote) {
                ++r.pos;
            }
            if (r.at_end()) {
                return false;
            }
            const std::size_t len = r.pos - start;
            if (len == 0 || is_blank(r.p[start]) || is_blank(r.p[r.pos - 1])) {
                return false;
            }
            encoding = encoding_of_label(r.p + start, len);
            return true;
        }
        ++r.pos;
    }
    return false;
}

// Past the text of the raw text element (its index in raw_name), to the
// '<' of its end tag, read as the conversion reads it (in a script, a
// "</script>" inside "<!--<script>" is still text); to the end of the bytes
// looked at where none comes.
void skip_raw_text(reader& r, unsigned element)
{
    html_state h;
    h.raw = raw_state::data;
    h.raw_element = static_cast<std::uint8_t>(element);
    for (; r.pos < r.n; ++r.pos) {
        if (html_raw_advance(h, r.p[r.pos])) {
            r.pos -= 2 + raw_name_length(element); // "</name" before the byte
            return;
        }
    }
}

void skip_past(reader& r, unsigned char c)
{
    while (!r.at_end() && r.p[r.pos] != c) {
        ++r.pos;
    }
    ++r.pos;
}

// Whether a tag of this name leaves the reader in the page's head, as
// browsers read it when they look for a declaration: the head's own
// elements, and the start tags of html and head.
bool may_be_in_head(const unsigned char* name, std::size_t n, bool end_tag)
{
    static const char* const HEAD_NAMES[] = {"script", "noscript", "style", "link",
                                             "meta",   "object",   "title", "base"};
    for (const char* h : HEAD_NAMES) {
        if (std::strlen(h) == n && starts_with(name, n, h)) {
            return true;
        }
    }
    return !end_tag && n == 4 && (starts_with(name, n, "html") || starts_with(name, n, "head"));
}

// Past the comment whose "<!--" is at start: past the first '>' after
// "--", the dashes of "<!--" counted (so "<!-->" is whole), or after "--!"
// whose dashes come after them, as browsers end comments; n where none
// comes.
std::size_t comment_end(const unsigned char* p, std::size_t n, std::size_t start)
{
    for (std::size_t at = start + 4; at < n;) {
        const void* gt = std::memchr(p + at, '>', n - at);
        if (gt == nullptr) {
            break;
        }
        const std::size_t j = static_cast<std::size_t>(static_cast<const unsigned char*>(gt) - p);
        if ((p[j - 2] == '-' && p[j - 1] == '-') ||
            (j >= start + 7 && p[j - 3] == '-' && p[j - 2] == '-' && p[j - 1] == '!')) {
            return j + 1;
        }
        at = j + 1;
    }
    return n;
}

unsigned long line_of(const unsigned char* p, std::size_t pos)
{
    unsigned long line = 1;
    for (std::size_t i = 0; i < pos; ++i) {
        line += p[i] == '\n' ? 1 : 0;
    }
    return line;
}

// Whether the label (blanks around it dropped) is one of labels.
template <class Labels>
bool label_is_one_of(const unsigned char* label, std::size_t n, const Labels& labels)
{
    while (n > 0 && is_blank(label[0])) {
        ++label;
        --n;
    }
    while (n > 0 && is_blank(label[n - 1])) {
        --n;
    }
    for (const char* l : labels) {
        if (std::strlen(l) == n && starts_with(label, n, l)) {
            return true;
        }
    }
    return false;
}

} // namespace

page_encoding encoding_of_label(const unsigned char* label, std::size_t n)
{
    if (label_is_one_of(label, n, UTF8_LABELS)) {
        return page_encoding::utf8;
    }
    if (label_is_one_of(label, n, WINDOWS_1252_LABELS)) {
        return page_encoding::windows_1252;
    }
    if (label_is_one_of(label, n, MULTIBYTE_LABELS)) {
        return page_encoding::multibyte;
    }
    return page_encoding::other;
}

encoding_declaration find_declared_encoding(const unsigned char* p, std::size_t n,
                                            prescan_reach reach)
{
    if (n > prescan_bytes(reach)) {
        n = prescan_bytes(reach);
    }
    // Past the first bytes, only while the page may still be in its head.
    bool in_head = true;
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        return {page_encoding::utf8, 1};
    }
    reader r{p, n};
    // An XML declaration counts only at the very start, and only where no
    // <meta> declares anything: as browsers read pages.
    encoding_declaration xml;
    if (starts_with_exactly(p, n, "<?xml") && n > 5 && is_blank(p[5])) {
        r.pos = 6;
        page_encoding found = page_encoding::none;
        if (xml_declaration(r, found)) {
            xml = {found, 1};
        }
        r.cut_off = false;
        r.pos = 0;
    }
    while (r.pos < n && !r.cut_off && (in_head || r.pos < CHARSET_PRESCAN_BYTES)) {
        const std::size_t start = r.pos;
        const unsigned char* here = p + r.pos;
        const std::size_t left = n - r.pos;
        page_encoding found = page_encoding::none;
        if (starts_with(here, left, "<!--")) {
            r.pos = comment_end(p, n, start);
        } else if (starts_with(here, left, "<meta") && left > 5 &&
                   (is_blank(here[5]) || here[5] == '/')) {
            r.pos += 6;
            if (meta_declaration(r, found)) {
                return {found, line_of(p, start)};
            }
        } else if (left > 1 && here[0] == '<' &&
                   (is_letter(here[1]) || (here[1] == '/' && left > 2 && is_letter(here[2])))) {
            // Any other tag: past its name and attributes, and past the
            // text of an element that holds no markup (a script that
            // writes a <meta> declares nothing, as browsers read it).
            const bool end_tag = here[1] == '/';
            r.pos += end_tag ? 2 : 1;
            const std::size_t name_at = r.pos;
            while (!r.at_end() && !is_blank(p[r.pos]) && p[r.pos] != '>' && p[r.pos] != '/') {
                ++r.pos;
            }
            const std::size_t name_len = r.pos - name_at;
            attribute a;
            while (get_attribute(r, a)) {
            }
            ++r.pos;
            // A tag the bytes cut off may have a longer name: it tells
            // nothing of the head.
            in_head = in_head && (r.cut_off || may_be_in_head(p + name_at, name_len, end_tag));
            // Not noscript: browsers take a <meta> inside it as a declaration.
            for (unsigned raw = 0; !end_tag && raw < RAW_ELEMENTS; ++raw) {
                if (raw_name_length(raw) == name_len &&
                    starts_with(p + name_at, name_len, raw_name(raw))) {
                    skip_raw_text(r, raw);
                    break;
                }
            }
        } else if (left > 1 && here[0] == '<' &&
                   (here[1] == '!' || here[1] == '/' || here[1] == '?')) {
            skip_past(r, '>');
        } else {
            // To the next '<': a page's text may be long (a plain text
            // has no tag to end the head).
            const void* lt = std::memchr(p + r.pos + 1, '<', n - r.pos - 1);
            r.pos = lt != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(lt) - p)
                                  : n;
        }
    }
    // A <meta> further on would count before the XML declaration.
    xml.head_runs_on = in_head && (r.pos >= n || r.cut_off);
    return xml;
}
