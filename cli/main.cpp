// quib <source> <target> [options], or quib --in-place [options] FILE...

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"

namespace {

// A descriptor 0, 1 or 2 that is closed would be taken by the first file
// opened, and a message or report meant for stderr would land in it. Returns
// bit fd set for each that was closed.
unsigned open_standard_descriptors()
{
    unsigned closed = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            closed |= 1u << fd;
            // open takes the lowest free number, which is fd.
            if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) {
                ::_exit(EXIT_FILE_ERROR);
            }
        }
    }
    return closed;
}

} // namespace

bool take_option(const char* arg, run_options& options)
{
    if (std::strcmp(arg, "-z") == 0) {
        options.break_tags = true;
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
    } else {
        return false;
    }
    return true;
}

quib_options library_options(const run_options& options)
{
    quib_options q = QUIB_OPTIONS_INIT;
    q.break_tags = options.break_tags ? 1 : 0;
    q.style = options.style;
    q.form = options.form;
    q.html = options.html ? 1 : 0;
    return q;
}

int main(int argc, char** argv)
{
    const unsigned closed_at_start = open_standard_descriptors();
    const char* program_name = argc > 0 ? argv[0] : "quib";
    if (argc < 3) {
        print_help(program_name);
        return EXIT_HELP;
    }
    if (quib_implementation() == nullptr) {
        // Before any file is opened: a target would be truncated for nothing.
        char room[SHOWN_NAME_ROOM];
        std::fprintf(stderr,
                     "%s: QUIB_IMPLEMENTATION='%s' ist unbekannt oder auf diesem Prozessor nicht"
                     " ausfuehrbar (bytes, portable, sse2, avx2, avx512)\n",
                     program_name, shown_name(std::getenv("QUIB_IMPLEMENTATION"), room));
        return EXIT_FILE_ERROR;
    }
    if (std::strcmp(argv[1], "--in-place") == 0) {
        return run_in_place(program_name, argc, argv);
    }
    return run_two_files(program_name, argc, argv, closed_at_start);
}
