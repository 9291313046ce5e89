#ifndef QUIB_PASS_H
#define QUIB_PASS_H

// One conversion from a source to a sink, with everything it needs given
// once at its start: the options, the blocks, the threads, the marks.

#include <quib/quib.h>

#include <cstddef>
#include <optional>

#include "block_io.h"
#include "scanner.h"

struct implementation;

// The threads a pass may use; tests force them, to run them on small inputs.
enum class thread_choice { automatic, none, writer, writer_and_reader };

struct pass_options {
    bool break_tags = false;
    bool html = false;
    mark_style style = mark_style::german;
    std::optional<mark_form> form;   // none: bytes, or with html what the page declares
    bool check = false;
    quib_check_function report = nullptr; // --check: where the spots go
    void* report_context = nullptr;
    const implementation* impl = nullptr; // nullptr: chosen_implementation()
    std::size_t read_size = IN_BLOCK_SIZE;
    thread_choice threads = thread_choice::automatic;
};

struct pass_result {
    int setup_error = 0;       // nothing converted: ENOMEM, ENOTSUP, EINVAL
    int read_error = 0;        // the first failed read
    int write_error = 0;       // the first failed write
    unsigned long spots = 0;   // --check
    unsigned char last_char = 0;
};

// Converts everything from source into sink. A memory sink's buffer is the
// caller's afterwards (with a NUL after its length), also after errors.
pass_result run_pass(const byte_source& source, byte_sink& sink, const pass_options& options);

#endif
