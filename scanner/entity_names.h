#ifndef QUIB_ENTITY_NAMES_H
#define QUIB_ENTITY_NAMES_H

// The entity names that stand for a quotation mark. Internal to each file
// that includes it (the chunk scanners are compiled for several instruction
// sets).

#include <cstddef>
#include <cstring>

namespace {

// The name after an '&' whose bytes are all at hand: up to and including the
// first ';' or space, at most max bytes.
inline std::size_t entity_name_length(const unsigned char* name, std::size_t max)
{
    std::size_t len = 0;
    while (len < max) {
        const unsigned char c = name[len++];
        if (c == ';' || c == ' ') {
            break;
        }
    }
    return len;
}

inline bool is_quote_entity(const unsigned char* name, std::size_t len)
{
    static const char* const names[] = {"quot;", "bdquo;", "ldquo;"};
    for (const char* known : names) {
        if (len == std::strlen(known) && std::memcmp(name, known, len) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

#endif
