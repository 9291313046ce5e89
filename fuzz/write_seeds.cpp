// Writes the conversion table's inputs as fuzzing seeds, one file each, with
// -z as the table gives it: write_seeds <folder>

#include <cstdio>
#include <string>

#include "conversion_cases.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    int n = 0;
    for (const conversion_case& c : conversion_cases()) {
        std::string path = std::string(argv[1]) + "/case-" + std::to_string(n++);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            std::perror(path.c_str());
            return 1;
        }
        const char options = c.break_tags ? 1 : 0;
        std::fputc(options, f);
        std::fwrite(c.input.data(), 1, c.input.size(), f);
        if (std::fclose(f) != 0) {
            std::perror(path.c_str());
            return 1;
        }
    }
    return 0;
}
