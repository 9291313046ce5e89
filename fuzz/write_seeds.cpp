// Writes the case tables' inputs as fuzzing seeds, one file each, with the
// options byte first as the fuzz target reads it: write_seeds <folder>

#include <cstdio>
#include <string>

#include "test_data.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    int n = 0;
    for (const char* table : {"conversion.cases", "html.cases"}) {
        for (const case_entry& c : read_case_file(test_data(table))) {
            const std::string path = std::string(argv[1]) + "/case-" + std::to_string(n++);
            std::FILE* f = std::fopen(path.c_str(), "wb");
            if (f == nullptr) {
                std::perror(path.c_str());
                return 1;
            }
            const char options = static_cast<char>((c.has_option("-z") ? 1 : 0) |
                                                   (c.has_option("--html") ? 0x10 : 0));
            std::fputc(options, f);
            std::fwrite(c.input.data(), 1, c.input.size(), f);
            if (std::fclose(f) != 0) {
                std::perror(path.c_str());
                return 1;
            }
        }
    }
    return 0;
}
