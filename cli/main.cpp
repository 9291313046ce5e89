// quib <source> <target> [options]: converts one file.

#include <cstring>

#include "cli.h"

int main(int argc, char** argv)
{
    const char* program_name = argc > 0 ? argv[0] : "quib";
    if (argc < 3) {
        print_help(program_name);
        return EXIT_HELP;
    }
    // Every argument counts for -z, the two file names included; any other
    // argument after them is ignored.
    bool break_tags = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-z") == 0) {
            break_tags = true;
        }
    }
    return run_file(program_name, argv[1], argv[2], break_tags);
}
