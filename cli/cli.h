#ifndef QUIB_CLI_H
#define QUIB_CLI_H

// The command line around the scanner: help screen, file handling, exit status.

inline constexpr int EXIT_CONVERTED = 0;
inline constexpr int EXIT_HELP = 1;
inline constexpr int EXIT_FILE_ERROR = 2;

// Writes the help screen to standard output; program_name as it arrived.
void print_help(const char* program_name);

// Opens source and target, makes the one pass and closes both; reports every
// failure on stderr under program_name and returns the exit status.
int run_file(const char* program_name, const char* source, const char* target,
             bool break_tags);

#endif
