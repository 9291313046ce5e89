#ifndef QUIB_ENTITY_NAMES_H
#define QUIB_ENTITY_NAMES_H

// The entity names that stand for a quotation mark. Internal to each file
// that includes it (the chunk scanners are compiled for several instruction
// sets).

#include <cstddef>
#include <cstdint>
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

// Up to 8 bytes as a word, the first byte lowest, on every machine.
constexpr std::uint64_t word_of(const unsigned char* bytes, std::size_t n)
{
    std::uint64_t w = 0;
    for (std::size_t i = 0; i < n; ++i) {
        w |= std::uint64_t{bytes[i]} << 8 * i;
    }
    return w;
}

constexpr std::uint64_t word_of(const char* text)
{
    std::uint64_t w = 0;
    for (std::size_t i = 0; text[i] != '\0'; ++i) {
        w |= std::uint64_t{static_cast<unsigned char>(text[i])} << 8 * i;
    }
    return w;
}

// "quot;", "bdquo;" or "ldquo;", decided without branches; 8 bytes at name
// must be readable.
inline bool is_quote_entity(const unsigned char* name, std::size_t len)
{
    const std::uint64_t w = word_of(name, 8);
    constexpr std::uint64_t FIVE = (std::uint64_t{1} << 40) - 1;
    constexpr std::uint64_t SIX = (std::uint64_t{1} << 48) - 1;
    const int five = len == 5 ? 1 : 0;
    const int six = len == 6 ? 1 : 0;
    const int quot = (w & FIVE) == word_of("quot;") ? 1 : 0;
    const int bdquo = (w & SIX) == word_of("bdquo;") ? 1 : 0;
    const int ldquo = (w & SIX) == word_of("ldquo;") ? 1 : 0;
    return ((five & quot) | (six & (bdquo | ldquo))) != 0;
}

} // namespace

#endif
