#ifndef QUIB_BLOCK_IO_H
#define QUIB_BLOCK_IO_H

// Reading and writing in blocks beneath the handlers: where the bytes come
// from (a descriptor, a stream, memory) and go to, and the blocks the pass
// works in. Errors are recorded, never acted on: the pass runs to the end of
// the input whatever happens, and its caller reports them.

#include <cstddef>
#include <cstdio>

inline constexpr std::size_t IN_BLOCK_SIZE = std::size_t{1} << 17;
inline constexpr std::size_t OUT_BLOCK_SIZE = std::size_t{1} << 17;
// Bytes after an input block that the chunk scanners may read (and ignore),
// so that they copy in whole chunks.
inline constexpr std::size_t IN_BLOCK_SLACK = 64;
// Room the chunk scanners need in the output block for one chunk.
inline constexpr std::size_t OUT_CHUNK_ROOM = 1024;

enum class io_kind { fd, stream, memory };

// Where the input comes from. A memory input is read in place; for a
// descriptor or stream, data holds what the caller already read from it,
// which is taken first.
struct byte_source {
    io_kind kind = io_kind::memory;
    int fd = -1;
    std::FILE* stream = nullptr;
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::size_t taken = 0;               // of data
};

// Where the output goes. A memory output grows in a buffer of its own,
// which the pass writes into directly.
struct byte_sink {
    io_kind kind = io_kind::memory;
    int fd = -1;
    std::FILE* stream = nullptr;
    unsigned char* buffer = nullptr;     // memory: malloc'd, handed to the caller
    std::size_t length = 0;              // bytes kept in buffer
    std::size_t capacity = 0;
};

struct input_blocks {
    // Bytes block[pos, len) are read but not yet taken; IN_BLOCK_SLACK bytes
    // after len may be read and mean nothing.
    const unsigned char* block = nullptr;
    std::size_t pos = 0;
    std::size_t len = 0;
    bool ended = false;              // a read has yielded the end; it stays so
    int error = 0;                   // errno of the first failed read
    std::size_t read_size = IN_BLOCK_SIZE; // bytes asked for at once (1..IN_BLOCK_SIZE)
    unsigned long refills = 0;       // blocks read so far
    bool last_read_full = false;     // the last read filled all read_size bytes
    byte_source source;
    unsigned char* storage = nullptr; // the block where the input is not read in place
};

struct output_blocks {
    unsigned char* block = nullptr;  // bytes [0, len) wait to be written
    std::size_t len = 0;
    std::size_t cap = 0;             // room in block
    int error = 0;                   // errno of the first failed write (or ENOMEM)
    byte_sink sink;
    unsigned char* storage = nullptr; // the block where the sink is not memory
};

struct scan_state;

// Gives the pass its blocks for source and sink; false (ENOMEM) where there
// is no memory for them. release_blocks frees them again; a memory sink's
// buffer stays with the sink.
bool acquire_blocks(scan_state& st, const byte_source& source, const byte_sink& sink);
void release_blocks(scan_state& st);

// Reads the next block; false once the input has ended.
bool refill_input(scan_state& st);
// Reads until at least min bytes are waiting or the input has ended, for a
// look at the start of the input before the pass.
void fill_input(scan_state& st, std::size_t min);
// Hands the waiting output on and makes room for more.
void flush_output(scan_state& st);

// One read or write of the source or sink, as the threads do it too: the
// bytes read (0 at the end, or on an error, which is then in error), and
// whether all len bytes were written.
// Whether a read from the source could wait for its writer: then what is
// converted goes on first, so a pipeline sees it as it comes.
bool could_wait(const byte_source& source);
// A descriptor is read only once it is ready or, where stop_fd is one
// (output_failed_fd), 0 when stop_fd becomes readable first: a source that
// may never end is not waited for once the output has failed.
std::size_t read_source(byte_source& source, unsigned char* into, std::size_t max, int& error,
                        int stop_fd = -1);
bool write_sink(byte_sink& sink, const unsigned char* from, std::size_t len, int& error);

// Inside a tag or a quotation: copies the bytes up to the next one that
// matters there (stops[byte] set), in bulk, without reading it.
void copy_run(scan_state& st, const bool (&stops)[256]);

struct byte_set_table {
    bool member[256];
};
constexpr byte_set_table byte_set(const char* bytes)
{
    byte_set_table t{};
    for (; *bytes != '\0'; ++bytes) {
        t.member[static_cast<unsigned char>(*bytes)] = true;
    }
    return t;
}

#endif
