// quib <source> <target> [options]: converts one file.

#include <cstring>

#include "cli.h"

run_options parse_options(int argc, const char* const* argv)
{
    run_options options;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool after_names = i > 2;
        if (std::strcmp(arg, "-z") == 0) {
            options.break_tags = true;
        } else if (!after_names) {
            continue;
        } else if (std::strcmp(arg, "--utf8") == 0) {
            options.form = QUIB_FORM_UTF8;
        } else if (std::strcmp(arg, "--entities") == 0) {
            options.form = QUIB_FORM_ENTITIES;
        } else if (std::strcmp(arg, "--guillemets") == 0) {
            options.style = QUIB_STYLE_GUILLEMETS;
        } else if (std::strcmp(arg, "--swiss") == 0) {
            options.style = QUIB_STYLE_SWISS;
        } else if (std::strcmp(arg, "--html") == 0) {
            options.html = true;
        } else if (std::strcmp(arg, "--check") == 0) {
            options.check = true;
        }
    }
    return options;
}

int main(int argc, char** argv)
{
    const char* program_name = argc > 0 ? argv[0] : "quib";
    if (argc < 3) {
        print_help(program_name);
        return EXIT_HELP;
    }
    return run_file(program_name, argv[1], argv[2], parse_options(argc, argv));
}
