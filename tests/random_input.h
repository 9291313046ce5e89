#ifndef QUIB_RANDOM_INPUT_H
#define QUIB_RANDOM_INPUT_H

// Random inputs rich in the bytes and names the scanner reacts to.

#include <cstdint>
#include <random>
#include <string>

inline std::string random_input(std::mt19937_64& rng, std::size_t max_tokens)
{
    static const char* const tokens[] = {
        "\"", "\"", "\"", "&", "&", "<", "<", ">", ">", "\\", "\\", ";", " ", "a", "b", "\n",
        "\r\n", "\xFF", "\x84", "\t", "quot;", "bdquo;", "ldquo;", "&quot;", "&bdquo;",
        "&ldquo;", "&amp;", "&rdquo;", "<p>", "</p>", "<b class=\"x\">", "\\\"", "\\<",
        "\\>", "\\\\", "abcdefghij", ("Gr\xFC\xDF" "e")};
    constexpr std::size_t token_count = sizeof tokens / sizeof tokens[0];
    std::string s;
    std::size_t n = rng() % (max_tokens + 1);
    for (std::size_t i = 0; i < n; ++i) {
        if (rng() % 16 == 0) {
            s += static_cast<char>(rng() % 256);
        } else {
            s += tokens[rng() % token_count];
        }
    }
    return s;
}

#endif
