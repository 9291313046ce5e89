#ifndef QUIB_HTML_TABLES_H
#define QUIB_HTML_TABLES_H

// The byte classes and the tag table of the --html reading, shared by the
// byte path and the chunk path. Internal to each file that includes it, as
// the chunk path is compiled for several instruction sets.

#include <cstdint>

#include "html.h"

namespace {

inline bool is_blank(unsigned char c)
{
    return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
}

inline unsigned char lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

inline bool is_letter(unsigned char c)
{
    return lower(c) >= 'a' && lower(c) <= 'z';
}

inline bool is_digit(int c)
{
    return c >= '0' && c <= '9';
}

inline bool is_reference_byte(unsigned char c)
{
    return is_letter(c) || is_digit(c) || c == '#';
}

// What a '<' before c starts: markup, or nothing (the '<' is text).
inline bool opens_markup(unsigned char c)
{
    return is_letter(c) || c == '/' || c == '!' || c == '?';
}

// The tag table of docs/html-mode.md: the state after a byte of each class.
enum byte_class : std::uint8_t { BLANK, SLASH, GT, EQ, DQ, SQ, OTHER, CLASSES };

inline byte_class class_of(unsigned char c)
{
    switch (c) {
    case '/':
        return SLASH;
    case '>':
        return GT;
    case '=':
        return EQ;
    case '"':
        return DQ;
    case '\'':
        return SQ;
    default:
        return is_blank(c) ? BLANK : OTHER;
    }
}

using T = tag_state;
constexpr T TAG_NEXT[8][CLASSES] = {
    // blank          /              >         =               "                 '                 other
    {T::before_name, T::before_name, T::ended, T::name, T::name, T::name, T::name},                     // N
    {T::before_name, T::before_name, T::ended, T::attribute, T::attribute, T::attribute, T::attribute}, // B
    {T::attribute, T::before_name, T::ended, T::before_value, T::attribute, T::attribute, T::attribute}, // A
    {T::before_value, T::unquoted, T::ended, T::unquoted, T::double_quoted, T::single_quoted, T::unquoted}, // V
    {T::before_name, T::unquoted, T::ended, T::unquoted, T::unquoted, T::unquoted, T::unquoted},        // U
    {T::double_quoted, T::double_quoted, T::double_quoted, T::double_quoted, T::after_quoted, T::double_quoted, T::double_quoted}, // D
    {T::single_quoted, T::single_quoted, T::single_quoted, T::single_quoted, T::single_quoted, T::after_quoted, T::single_quoted}, // S
    {T::before_name, T::before_name, T::ended, T::attribute, T::attribute, T::attribute, T::attribute}, // Q
};

inline tag_state tag_next(tag_state t, unsigned char c)
{
    return TAG_NEXT[static_cast<int>(t)][class_of(c)];
}

} // namespace

#endif
