#ifndef QUIB_CASE_FILE_H
#define QUIB_CASE_FILE_H

// Conversion cases kept as data files, so they read as the bytes they are and
// also seed the fuzzer. A file holds cases like this one:
//
//   # a comment line (only between cases)
//   case: quotation around a tag
//   options: -z
//   input:
//   Er sagte "Hallo <b class="x">Welt</b>".
//   output:
//   Er sagte [[OQ]]Hallo <b class="x">Welt</b>[[CQ]].
//   end
//
// A block's lines are joined with line ends; it ends without one unless its
// last line is empty. In a block, [[OQ]] and [[CQ]] stand for the opening and
// the closing mark (output only), [[xHH]] for the byte 0xHH; anything else
// stands for itself. options: holds the command line's options for the case
// (-z, --html, ...), or nothing.

#include <string>
#include <vector>

struct case_entry {
    std::string name;
    std::vector<std::string> options;
    std::string input;
    // The expected output as pieces: text, and the marks between them. The
    // marks are kept apart so one case serves every form of the marks.
    std::vector<std::string> output_text;  // one more than output_marks
    std::vector<bool> output_marks;        // true: opening mark, false: closing
    std::string file;
    int line = 0;                          // of the case: line

    bool has_option(const std::string& option) const;
    // The expected output with the given marks.
    std::string expected(const std::string& open, const std::string& close) const;
};

// Reads every case of a file; a malformed file ends the program with a
// message naming the file and line.
std::vector<case_entry> read_case_file(const std::string& path);

#endif
