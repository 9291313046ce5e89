// The two-file form: checking the arguments, opening, checking and closing
// source and target around the conversion. "-" is standard input or output,
// used as it is.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "cli.h"

namespace {

// The first block is read before the target is touched: a source that opens
// but cannot be read must leave an existing target as it was. As long as
// the conversion's own first read: no page more than that is touched.
constexpr std::size_t FIRST_BLOCK = std::size_t{16} << 10;

bool is_dash(const char* name)
{
    return std::strcmp(name, "-") == 0;
}

// The standard stream (0, 1 or 2) a name leads to through the names /dev
// and /proc give it: /dev/stdout, /dev/fd/1, /proc/self/fd/1,
// /proc/thread-self/fd/1, in any spelling (/dev//stdout, /dev/./stdout)
// and through symbolic links; -1 for any other name, and where /proc
// cannot tell (then only the plain names count).
int stream_named(const char* name)
{
    static const char* const STREAMS[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
    for (int fd = 0; fd <= 2; ++fd) {
        const std::string n = std::to_string(fd);
        if (std::strcmp(name, STREAMS[fd]) == 0 || name == "/dev/fd/" + n ||
            name == "/proc/self/fd/" + n) {
            return fd;
        }
    }
    constexpr int MAX_LINKS = 8;
    const std::string own = "/proc/" + std::to_string(::getpid());
    const std::string own_fds = own + "/fd/";
    const std::string thread_fds = own + "/task/" + std::to_string(::gettid()) + "/fd/";
    std::string path = name;
    for (int link = 0; link <= MAX_LINKS; ++link) {
        // The folder resolved, the last name as it is: /proc/<pid>/fd/1
        // is itself a link, to the file the stream is.
        const std::size_t slash = path.rfind('/');
        const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : path.substr(0, slash);
        char real[PATH_MAX];
        if (base.empty() || base == "." || base == ".." ||
            ::realpath(folder.c_str(), real) == nullptr) {
            return -1;
        }
        const std::string full = std::string(real) + (real[1] == '\0' ? "" : "/") + base;
        for (int fd = 0; fd <= 2; ++fd) {
            const std::string n = std::to_string(fd);
            if (full == own_fds + n || full == thread_fds + n) {
                return fd;
            }
        }
        char target[PATH_MAX];
        const ssize_t len = ::readlink(full.c_str(), target, sizeof target - 1);
        if (len <= 0) {
            return -1; // no symbolic link: a file of its own
        }
        target[len] = '\0';
        path = target[0] == '/' ? std::string(target) : std::string(real) + "/" + target;
    }
    return -1;
}

// Whether name stands for a standard stream that was closed when quib
// started ("-" for the stream dash_fd): what names it now is the stand-in
// from /dev/null, which would give an empty source or swallow the output.
bool names_closed_stream(const char* name, unsigned closed_at_start, int dash_fd)
{
    const int fd = is_dash(name) ? dash_fd : stream_named(name);
    return fd >= 0 && (closed_at_start >> fd & 1u) != 0;
}

// The descriptor a target stands for as it is: standard output for "-",
// and standard output or standard error for their names (stream_named),
// which opened anew would truncate the file the shell opened for
// appending (quib in /dev/stdout >> log). -1 for any other name.
int stream_target(const char* name)
{
    if (is_dash(name)) {
        return 1;
    }
    const int fd = stream_named(name);
    return fd == 1 || fd == 2 ? fd : -1;
}

// /dev/null's device number: read, it is empty, so it may be both.
constexpr unsigned NULL_MAJOR = 1;
constexpr unsigned NULL_MINOR = 3;

// Source and target are the same file or device: converting would truncate
// or overwrite what is still to be read. Regular files by inode, block and
// character devices by device number; a terminal may be both (quib - -
// typed at it), and so may /dev/null. A pipe or FIFO by inode: written to,
// it would hand quib its own output to read, and its end would never come.
bool same_file(const struct stat& a, const struct stat& b, bool both_terminals)
{
    if ((S_ISREG(a.st_mode) && S_ISREG(b.st_mode)) || (S_ISFIFO(a.st_mode) && S_ISFIFO(b.st_mode))) {
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    }
    const bool devices = (S_ISBLK(a.st_mode) && S_ISBLK(b.st_mode)) ||
                         (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode));
    const bool null_device = S_ISCHR(a.st_mode) && a.st_rdev == makedev(NULL_MAJOR, NULL_MINOR);
    return devices && a.st_rdev == b.st_rdev && !both_terminals && !null_device;
}

// The --check lines, written in blocks (a page may have tens of thousands
// of them), line by line to a terminal.
constexpr std::size_t SPOT_BLOCK = std::size_t{64} << 10;

struct spot_printer {
    const char* source;
    bool html;
    bool to_terminal = false;
    unsigned long spots = 0;
    std::string pending;
    bool lost = false; // lines that could not be written
};

void flush_spots(spot_printer& p)
{
    if (!write_to_stderr(p.pending.data(), p.pending.size())) {
        p.lost = true;
    }
    p.pending.clear();
}

void print_spot(void* context, const quib_spot* spot)
{
    auto& p = *static_cast<spot_printer*>(context);
    ++p.spots;
    format_spot(p.pending, p.source, p.html, *spot);
    if (p.to_terminal || p.pending.size() >= SPOT_BLOCK) {
        flush_spots(p);
    }
}

// Straight to stderr, without allocating: with no memory left, the message
// that says so must still get out.
void say(const char* program_name, const char* role, const char* file, const char* what,
         int error)
{
    char room[SHOWN_NAME_ROOM];
    std::fprintf(stderr, "%s: %s '%s' %s: %s\n", program_name, role, shown_name(file, room), what,
                 std::strerror(error));
}

} // namespace

int run_two_files(const char* program_name, int argc, char** argv, unsigned closed_at_start)
{
    const char* source = argv[1];
    const char* target = argv[2];
    run_options options;
    // -z counts anywhere, the file names included; the other options only
    // after them. Any other argument is ignored, unless it names a file:
    // that is what a glob such as *.html gives, and its files would be
    // silently left out or overwritten.
    unsigned long ignored = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-z") == 0) {
            options.break_tags = true;
        } else if (i > 2 && !take_option(argv[i], options)) {
            struct stat s {};
            if (::lstat(argv[i], &s) == 0) {
                char room[SHOWN_NAME_ROOM];
                std::fprintf(stderr,
                             "%s: weiteres Argument '%s' ist eine vorhandene Datei; quib wandelt"
                             " nur <Quelldatei> in <Zieldatei> um, fuer mehrere Dateien:"
                             " %s --in-place DATEI...\n",
                             program_name, shown_name(argv[i], room), program_name);
                return EXIT_FILE_ERROR;
            }
            ++ignored;
        }
    }
    if (options.check) {
        run_options o;
        for (int i = 3; i < argc; ++i) {
            if (std::strcmp(argv[i], "-z") != 0 && !take_option(argv[i], o)) {
                char room[SHOWN_NAME_ROOM];
                std::fprintf(stderr, "%s: Argument '%s' ignoriert\n", program_name,
                             shown_name(argv[i], room));
            }
        }
    }

    if (names_closed_stream(source, closed_at_start, 0)) {
        say(program_name, "Quelldatei", source, "kann nicht geoeffnet werden", EBADF);
        return EXIT_FILE_ERROR;
    }
    if (names_closed_stream(target, closed_at_start, 1)) {
        say(program_name, "Zieldatei", target, "kann nicht angelegt werden", EBADF);
        return EXIT_FILE_ERROR;
    }
    const int in_fd = is_dash(source) ? 0 : ::open(source, O_RDONLY | O_CLOEXEC);
    if (in_fd < 0) {
        say(program_name, "Quelldatei", source, "kann nicht geoeffnet werden", errno);
        return EXIT_FILE_ERROR;
    }
    const auto close_source = [in_fd] {
        if (in_fd != 0) {
            ::close(in_fd);
        }
    };
    struct stat source_stat {};
    if (::fstat(in_fd, &source_stat) != 0 || S_ISDIR(source_stat.st_mode)) {
        const int error = S_ISDIR(source_stat.st_mode) ? EISDIR : errno;
        say(program_name, "Quelldatei", source, "kann nicht gelesen werden", error);
        close_source();
        return EXIT_FILE_ERROR;
    }
    const int stream = stream_target(target);
    struct stat target_stat {};
    const bool target_exists = stream >= 0 ? ::fstat(stream, &target_stat) == 0
                                           : ::stat(target, &target_stat) == 0;
    const bool terminals = ::isatty(in_fd) && stream >= 0 && ::isatty(stream);
    if (target_exists && same_file(source_stat, target_stat, terminals)) {
        char target_room[SHOWN_NAME_ROOM];
        char source_room[SHOWN_NAME_ROOM];
        std::fprintf(stderr,
                     "%s: Zieldatei '%s' ist dieselbe Datei wie die Quelldatei '%s';"
                     " nichts geschrieben\n",
                     program_name, shown_name(target, target_room), shown_name(source, source_room));
        close_source();
        return EXIT_FILE_ERROR;
    }

    // malloc, not new: with no memory left, new may end the process.
    const std::unique_ptr<unsigned char, void (*)(void*)> head(
        static_cast<unsigned char*>(std::malloc(FIRST_BLOCK)), std::free);
    ssize_t head_len = -1;
    if (head) {
        // A source left non-blocking (a shell's pipe, a socket) that has
        // nothing yet is waited for, as every later read is.
        for (;;) {
            head_len = ::read(in_fd, head.get(), FIRST_BLOCK);
            if (head_len >= 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
                break;
            }
            if (errno != EINTR && !wait_until_ready(in_fd, POLLIN)) {
                break; // reported as the source unreadable
            }
        }
    } else {
        errno = ENOMEM;
    }
    if (head_len < 0) {
        say(program_name, "Quelldatei", source, "kann nicht gelesen werden", errno);
        close_source();
        return EXIT_FILE_ERROR;
    }

    // Beyond the size limit (ulimit -f) a write fails with EFBIG and is
    // reported, instead of the signal ending quib without a word.
    ::signal(SIGXFSZ, SIG_IGN);
    const int out_fd =
        stream >= 0 ? stream : ::open(target, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out_fd < 0) {
        say(program_name, "Zieldatei", target, "kann nicht angelegt werden", errno);
        close_source();
        return EXIT_FILE_ERROR;
    }

    spot_printer printer{source, options.html, false, 0, {}};
    quib_options q = library_options(options);
    if (options.check) {
        q.check = print_spot;
        q.check_context = &printer;
        printer.to_terminal = ::isatty(2) != 0;
    }
    const int rc = quib_convert_fd_after(head.get(), static_cast<std::size_t>(head_len), in_fd,
                                         out_fd, &q);
    const int error = errno;
    flush_spots(printer);
    close_source();

    int status = EXIT_CONVERTED;
    int write_error = rc == QUIB_ERROR_WRITE ? error : 0;
    if (rc == QUIB_ERROR_READ) {
        say(program_name, "Quelldatei", source,
            "konnte nicht ganz gelesen werden, das Ziel ist unvollstaendig", error);
        status = EXIT_FILE_ERROR;
    } else if (rc != QUIB_OK && rc != QUIB_ERROR_WRITE) {
        say(program_name, "Quelldatei", source, "kann nicht umgewandelt werden", error);
        status = EXIT_FILE_ERROR;
    }
    if (stream < 0 && ::close(out_fd) != 0 && write_error == 0) {
        write_error = errno;
    }
    if (write_error != 0) {
        say(program_name, "Zieldatei", target, "konnte nicht geschrieben werden", write_error);
        status = EXIT_FILE_ERROR;
    }
    if (printer.lost) {
        status = EXIT_FILE_ERROR; // the report is incomplete: stderr refused it
    } else if (status == EXIT_CONVERTED && printer.spots + (options.check ? ignored : 0) > 0) {
        status = EXIT_CHECK_FOUND;
    }
    return status;
}
