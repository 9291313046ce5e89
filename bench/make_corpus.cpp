// Writes a deterministic German HTML corpus of the requested size to stdout.
//
//   make_corpus <megabytes> > corpus.html

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "corpus.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <megabytes>\n", argv[0]);
        return 2;
    }
    const std::uint64_t total = std::strtoull(argv[1], nullptr, 10) << 20;
    std::uint64_t seed = 0x9E3779B97F4A7C15u;
    std::string out;
    std::uint64_t written = 0;
    while (written < total) {
        out.clear();
        append_corpus(out, std::size_t{1} << 20, seed);
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), total - written));
        if (std::fwrite(out.data(), 1, n, stdout) != n) {
            std::perror("make_corpus");
            return 1;
        }
        written += n;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
