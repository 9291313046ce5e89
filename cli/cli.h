#ifndef QUIB_CLI_H
#define QUIB_CLI_H

// The command line around the library: help screen, arguments, file
// handling, exit status. It uses nothing but the public interface,
// quib/quib.h.

#include <quib/quib.h>

#include <string>
#include <vector>

inline constexpr int EXIT_CONVERTED = 0;
inline constexpr int EXIT_HELP = 1;
inline constexpr int EXIT_FILE_ERROR = 2;
inline constexpr int EXIT_CHECK_FOUND = 3; // --check listed something

// Writes the help screen to standard output; program_name as it arrived.
void print_help(const char* program_name);

// What the command line chose.
struct run_options {
    bool break_tags = false;               // -z
    quib_style style = QUIB_STYLE_GERMAN;  // --guillemets, --swiss
    quib_form form = QUIB_FORM_DEFAULT;    // --utf8, --entities
    bool html = false;                     // --html
    bool check = false;                    // --check
};

// Takes arg as an option if it is one (exactly as spelled); false if not.
bool take_option(const char* arg, run_options& options);
quib_options library_options(const run_options& options);

// quib <source> <target> [options]: the two-file form. closed_at_start: bit
// fd set where standard input (0) or output (1) was closed when quib
// started; "-" then names no stream.
int run_two_files(const char* program_name, int argc, char** argv, unsigned closed_at_start);
// quib --in-place [options] FILE...
int run_in_place(const char* program_name, int argc, char** argv);

// Room for a name with its control bytes written out (a longer one is cut).
inline constexpr std::size_t SHOWN_NAME_ROOM = 4096;
// A name as the messages show it: as it is, or, where it holds control
// bytes (a line end in a file name), with those written as \n, \t, \r or
// \ooo into room, so that every message stays one line.
const char* shown_name(const char* name, char (&room)[SHOWN_NAME_ROOM]);

// One line per --check spot, "<source>:<line>: <text>", appended to out.
void format_spot(std::string& out, const char* source, bool html, const quib_spot& spot);
// Waits until fd, left non-blocking by whoever opened it, is ready for
// events (POLLIN, POLLOUT); false where it cannot be waited for.
bool wait_until_ready(int fd, short events);
// Writes all n bytes to stderr, waiting where it is non-blocking and full;
// false where they could not all be written.
bool write_to_stderr(const char* data, std::size_t n);
// "<program>: <role> '<file>' <what>: <reason>\n"
std::string file_message(const char* program_name, const char* role, const char* file,
                         const char* what, int error);

#endif
