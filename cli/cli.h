#ifndef QUIB_CLI_H
#define QUIB_CLI_H

// The command line around the scanner: help screen, file handling, exit status.

inline constexpr int EXIT_CONVERTED = 0;
inline constexpr int EXIT_HELP = 1;
inline constexpr int EXIT_FILE_ERROR = 2;
inline constexpr int EXIT_CHECK_FOUND = 3; // --check listed suspicious quotes

// Writes the help screen to standard output; program_name as it arrived.
void print_help(const char* program_name);

#include "scanner.h"

// What the command line chose.
struct run_options {
    bool break_tags = false;              // -z
    mark_style style = mark_style::german; // --guillemets, --swiss
    mark_form form = mark_form::bytes;     // --utf8, --entities
    bool check = false;                    // --check
};

// Reads the options from the arguments after the program name. "-z" counts
// anywhere, the two file names included; the mark options only after them.
// Any other argument is ignored.
run_options parse_options(int argc, const char* const* argv);

// Opens source and target, makes the one pass and closes both; reports every
// failure on stderr under program_name and returns the exit status.
int run_file(const char* program_name, const char* source, const char* target,
             const run_options& options);

#endif
