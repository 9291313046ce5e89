#ifndef QUIB_BACKGROUND_IO_H
#define QUIB_BACKGROUND_IO_H

// Writing behind and reading ahead on threads of their own, so the kernel's
// copying runs on another processor while the pass converts. The pass sees
// only refill_input and flush_output (block_io.h); the threads start there,
// the first time the output or the input outgrows one block, so a small
// input never pays for them.

#include <cstddef>

struct scan_state;
struct byte_source;
struct byte_sink;
struct background_io;

// Which threads a pass may start.
struct thread_plan {
    bool writer = false;             // writes the output blocks in order
    bool reader = false;             // reads the input blocks ahead
    bool touch_before_write = false; // the kernel copies what the writer writes
    bool pipe_target = false;        // the target is a pipe, which may be widened
};

// The one decision, from the target (one fstat): a writer wherever the output
// goes to a descriptor or stream; into a device (such as /dev/null), which
// costs the kernel nothing, also a reader, as the second processor is free.
// Into a file or pipe the kernel's copy of the output takes that processor.
thread_plan plan_threads(const byte_source& source, const byte_sink& sink, bool reporting);

// From flush_output, while the input goes on: starts the writer if the plan
// has one and it is not running; false where it is not running afterwards
// (no thread or memory to be had: the pass then writes by itself).
bool start_writer(scan_state& st);
// From refill_input after a full block: starts the reader likewise.
bool start_reader(scan_state& st);
// Every block written, the threads gone, their memory freed.
void stop_background_io(scan_state& st);

// While they run: the next block read (its length, 0 at the end of the
// input) becomes in.block; out.block goes to the writer and a free block
// takes its place.
bool reader_running(const scan_state& st);
bool writer_running(const scan_state& st);
// Whether take_read_block would not wait.
bool read_block_ready(scan_state& st);
std::size_t take_read_block(scan_state& st);
void hand_over_write_block(scan_state& st);
// Before the pass waits for input: the writer writes the blocks it has,
// not waiting for a batch of them.
void hurry_writer(scan_state& st);
// Readable once the writer's write has failed; -1 without a writer.
int output_failed_fd(const scan_state& st);

#endif
