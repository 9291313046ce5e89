#ifndef QUIB_CHARSET_H
#define QUIB_CHARSET_H

// The encoding a page declares at its start, found the way browsers look
// for it before they parse: a byte order mark, <meta charset>, <meta
// http-equiv="Content-Type" content="...; charset=...">, <?xml encoding?>.

#include <cstddef>

inline constexpr std::size_t CHARSET_PRESCAN_BYTES = 1024;
// How far a browser may still find a declaration in a page's head, at the
// most, as quib looks for one.
inline constexpr std::size_t HEAD_PRESCAN_MAX = std::size_t{1} << 17;

enum class page_encoding {
    none,          // nothing declared
    utf8,
    windows_1252,  // also what browsers make of ISO-8859-1, ASCII and their kin
    other,         // anything else: ISO-8859-15, an unknown label, ...
    // Shift_JIS, Big5, GBK, gb18030, ISO-2022-JP and the labels browsers
    // read as nothing (replacement): a character's bytes may be '\\', '"',
    // '<' ..., which quib would take for its own.
    multibyte,
};

struct encoding_declaration {
    page_encoding encoding = page_encoding::none;
    unsigned long line = 0; // where the declaration starts, from 1
    // No <meta> declared one, and the page may still be in its head where
    // the bytes looked at end: more of them might change the answer.
    bool head_runs_on = false;
};

// Which declarations count: those within the first CHARSET_PRESCAN_BYTES
// bytes (what --html follows), or also those later in the page's head,
// where browsers still find one: a <meta> after a long comment, read as
// long as no tag that cannot be in a head came and at most
// HEAD_PRESCAN_MAX bytes.
enum class prescan_reach { first_bytes, head };

// The most bytes a prescan of this reach looks at.
constexpr std::size_t prescan_bytes(prescan_reach reach)
{
    return reach == prescan_reach::head ? HEAD_PRESCAN_MAX : CHARSET_PRESCAN_BYTES;
}

// Looks at the first bytes at p (at most n) as reach says; a declaration that
// does not end within them does not count.
encoding_declaration find_declared_encoding(const unsigned char* p, std::size_t n,
                                            prescan_reach reach = prescan_reach::first_bytes);

// The encoding a label names, as browsers read labels.
page_encoding encoding_of_label(const unsigned char* label, std::size_t n);

#endif
