#ifndef QUIB_CLI_H
#define QUIB_CLI_H

// The command line around the library: help screen, file handling, exit
// status. It uses nothing but the public interface, quib/quib.h.

#include <quib/quib.h>

inline constexpr int EXIT_CONVERTED = 0;
inline constexpr int EXIT_HELP = 1;
inline constexpr int EXIT_FILE_ERROR = 2;
inline constexpr int EXIT_CHECK_FOUND = 3; // --check listed suspicious spots

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

// Reads the options from the arguments after the program name. "-z" counts
// anywhere, the two file names included; the others only after them. Any
// other argument is ignored.
run_options parse_options(int argc, const char* const* argv);

// Opens source and target, converts and closes both; reports every failure
// on stderr under program_name and returns the exit status.
int run_file(const char* program_name, const char* source, const char* target,
             const run_options& options);

#endif
