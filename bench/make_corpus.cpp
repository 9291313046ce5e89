// Writes a deterministic German HTML corpus of the requested size to stdout:
// the bench pages, prose-dense pages, documentation pages or pages with
// scripts and code samples (see corpus.h).
//
//   make_corpus <megabytes> [bench|dense|docs|scripts] > corpus.html

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "corpus.h"

int main(int argc, char** argv)
{
    corpus_kind kind = corpus_kind::bench;
    if (!corpus_kind_named(argc == 3 ? argv[2] : "bench", kind)) {
        argc = 0;
    }
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s <megabytes> [bench|dense|docs|scripts]\n", argv[0]);
        return 2;
    }
    const std::uint64_t total = std::strtoull(argv[1], nullptr, 10) << 20;
    std::uint64_t seed = 0x9E3779B97F4A7C15u;
    std::string out;
    std::uint64_t written = 0;
    while (written < total) {
        out.clear();
        append_corpus(out, std::size_t{1} << 20, seed, kind);
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), total - written));
        if (std::fwrite(out.data(), 1, n, stdout) != n) {
            std::perror("make_corpus");
            return 1;
        }
        written += n;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
