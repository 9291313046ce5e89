// Writes a tree of generated German pages, as a web site holds them: 100
// pages to a folder, sizes between 2 and 200 KiB spread evenly over their
// logarithm, the same tree for the same arguments.
//
//   make_site <folder> <pages>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "corpus.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <folder> <pages>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const long pages = std::strtol(argv[2], nullptr, 10);
    ::mkdir(root.c_str(), 0755);
    std::uint64_t seed = 0x9E3779B97F4A7C15u;
    corpus_detail::rng sizes{12345};
    for (long i = 0; i < pages; ++i) {
        const std::string folder = root + "/s" + std::to_string(i / 100);
        if (i % 100 == 0 && ::mkdir(folder.c_str(), 0755) != 0) {
            std::perror(folder.c_str());
            return 1;
        }
        const double share = sizes.below(1u << 20) / double(1u << 20);
        const auto size = static_cast<std::size_t>(2048.0 * std::pow(100.0, share));
        std::string page;
        append_corpus(page, size, seed);
        page.resize(size);
        const std::string path = folder + "/seite-" + std::to_string(i) + ".html";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(page.data(), 1, page.size(), f) != page.size() ||
            std::fclose(f) != 0) {
            std::perror(path.c_str());
            return 1;
        }
    }
    return 0;
}
