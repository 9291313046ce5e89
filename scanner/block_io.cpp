// Reading and writing in blocks beneath the handlers. Errors are recorded,
// never acted on: the pass runs to the end of the input whatever happens.

#include "block_io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "allocation.h"
#include "scanner.h"

namespace {

// A memory input is read in place except for its last bytes, which go
// through a small block of their own with slack behind it.
constexpr std::size_t MEMORY_TAIL = IN_BLOCK_SLACK;
constexpr std::size_t MEMORY_SINK_MIN = 4096;
// The first read and the first write of a descriptor or stream take this
// much; each later one twice the last, up to a whole block. A page's first
// touch costs more than a read or write call, so a short input touches
// only the pages it needs of either block.
constexpr std::size_t FIRST_BLOCK = std::size_t{16} << 10;

std::size_t grown(std::size_t size, std::size_t limit)
{
    return size < limit / 2 ? 2 * size : limit;
}

// The most the next read of a descriptor or stream asks for.
std::size_t read_ask(const input_blocks& in)
{
    std::size_t ask = FIRST_BLOCK;
    for (unsigned long k = 0; k < in.refills && ask < IN_BLOCK_SIZE; ++k) {
        ask = grown(ask, IN_BLOCK_SIZE);
    }
    return ask < in.read_size ? ask : in.read_size;
}

void note_error(int& first, int error)
{
    if (first == 0) {
        first = error != 0 ? error : EIO;
    }
}

// Waits until fd is ready, for a descriptor that was opened without blocking.
void wait_until_ready(int fd, short events)
{
    pollfd p{fd, events, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
}

bool grow_memory_sink(byte_sink& sink, std::size_t room)
{
    if (sink.capacity - sink.length >= room) {
        return true;
    }
    // Past half the address space no buffer can grow (nor could the input
    // be that long): doubling would wrap around.
    if (room > SIZE_MAX / 2 - sink.length) {
        errno = ENOMEM;
        return false;
    }
    std::size_t capacity = sink.capacity < MEMORY_SINK_MIN ? MEMORY_SINK_MIN : sink.capacity;
    while (capacity - sink.length < room) {
        capacity *= 2;
    }
    // One byte more for the NUL after the output.
    auto* grown = static_cast<unsigned char*>(std::realloc(sink.buffer, capacity + 1));
    if (grown == nullptr) {
        return false;
    }
    sink.buffer = grown;
    sink.capacity = capacity;
    return true;
}

} // namespace

bool could_wait(const byte_source& source)
{
    if (source.kind != io_kind::fd || source.taken < source.size) {
        return false;
    }
    pollfd p{source.fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
}

std::size_t read_source(byte_source& source, unsigned char* into, std::size_t max, int& error,
                        int stop_fd)
{
    if (source.taken < source.size) {
        const std::size_t n = max < source.size - source.taken ? max : source.size - source.taken;
        std::memcpy(into, source.data + source.taken, n);
        source.taken += n;
        return n;
    }
    switch (source.kind) {
    case io_kind::memory:
        return 0;
    case io_kind::stream: {
        // A stream may fail without a reason (fmemopen's does): then EIO,
        // not what an earlier call left in errno.
        errno = 0;
        const std::size_t n = std::fread(into, 1, max, source.stream);
        if (n == 0 && std::ferror(source.stream)) {
            note_error(error, errno);
        }
        return n;
    }
    case io_kind::fd:
        for (;;) {
            if (stop_fd >= 0) {
                pollfd ready[2] = {{source.fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
                while (::poll(ready, 2, -1) < 0 && errno == EINTR) {
                }
                if ((ready[1].revents & POLLIN) != 0) {
                    return 0;
                }
            }
            const ssize_t n = ::read(source.fd, into, max);
            if (n >= 0) {
                return static_cast<std::size_t>(n);
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                wait_until_ready(source.fd, POLLIN);
            } else if (errno != EINTR) {
                note_error(error, errno);
                return 0;
            }
        }
    }
    return 0;
}

bool write_sink(byte_sink& sink, const unsigned char* from, std::size_t len, int& error)
{
    switch (sink.kind) {
    case io_kind::memory:
        if (!grow_memory_sink(sink, len)) {
            note_error(error, ENOMEM);
            return false;
        }
        std::memcpy(sink.buffer + sink.length, from, len);
        sink.length += len;
        return true;
    case io_kind::stream:
        errno = 0; // as for reading
        if (std::fwrite(from, 1, len, sink.stream) != len) {
            note_error(error, errno);
            return false;
        }
        return true;
    case io_kind::fd:
        while (len > 0) {
            const ssize_t n = ::write(sink.fd, from, len);
            if (n > 0) {
                from += n;
                len -= static_cast<std::size_t>(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                wait_until_ready(sink.fd, POLLOUT);
            } else if (n == 0 || errno != EINTR) {
                note_error(error, n == 0 ? EIO : errno);
                return false;
            }
        }
        return true;
    }
    return false;
}

bool acquire_blocks(scan_state& st, const byte_source& source, const byte_sink& sink)
{
    st.in = input_blocks{};
    st.out = output_blocks{};
    st.in.source = source;
    st.out.sink = sink;
    const bool in_memory = source.kind == io_kind::memory;
    st.in.storage = allocate_bytes((in_memory ? MEMORY_TAIL : IN_BLOCK_SIZE) + IN_BLOCK_SLACK);
    if (st.in.storage == nullptr) {
        return false;
    }
    // The slack after what a read brings is zeroed after each read, so no
    // page of the block is touched before a read needs it (a first touch is
    // the dearest part of converting a page).
    std::memset(st.in.storage, 0, (in_memory ? MEMORY_TAIL : 0) + IN_BLOCK_SLACK);
    st.in.block = st.in.storage;
    if (sink.kind == io_kind::memory) {
        // Room for about the input and its marks, so a conversion in memory
        // rarely grows its buffer. An input past half the address space
        // cannot be, and the sum would wrap around.
        const std::size_t expected = source.size + source.size / 8 + 2 * OUT_CHUNK_ROOM;
        if (source.size > SIZE_MAX / 2 || !grow_memory_sink(st.out.sink, expected)) {
            errno = ENOMEM;
            release_blocks(st);
            return false;
        }
        st.out.block = st.out.sink.buffer + st.out.sink.length;
        st.out.cap = st.out.sink.capacity - st.out.sink.length;
        return true;
    }
    st.out.storage = allocate_bytes(OUT_BLOCK_SIZE);
    if (st.out.storage == nullptr) {
        release_blocks(st);
        return false;
    }
    st.out.block = st.out.storage;
    st.out.cap = FIRST_BLOCK;
    return true;
}

void release_blocks(scan_state& st)
{
    free_bytes(st.in.storage);
    free_bytes(st.out.storage);
    st.in.storage = nullptr;
    st.out.storage = nullptr;
    st.in.block = nullptr;
    st.out.block = nullptr;
}

bool refill_input(scan_state& st)
{
    input_blocks& in = st.in;
    if (in.ended) {
        return false;
    }
    if (st.out.error != 0) {
        // The output is lost: reading on would only wait for a source that
        // may never end (a pipe whose reader has gone, /dev/zero).
        in.ended = true;
        in.pos = 0;
        in.len = 0;
        return false;
    }
    in.pos = 0;
    std::size_t n = 0;
    std::size_t asked = in.read_size;
    if (reader_running(st) || (in.refills > 0 && in.last_read_full && start_reader(st))) {
        if (!read_block_ready(st)) {
            flush_output(st); // before a wait for more
            hurry_writer(st);
        }
        n = take_read_block(st);
    } else if (in.source.kind == io_kind::memory) {
        const byte_source& s = in.source;
        const std::size_t remaining = s.size - s.taken;
        if (remaining > MEMORY_TAIL) {
            n = remaining - MEMORY_TAIL < in.read_size ? remaining - MEMORY_TAIL : in.read_size;
            in.block = s.data + s.taken;
        } else {
            n = remaining < in.read_size ? remaining : in.read_size;
            if (n > 0) { // an empty input may have no bytes at all: s.data is then null
                std::memcpy(in.storage, s.data + s.taken, n);
            }
            in.block = in.storage;
        }
        in.source.taken += n;
    } else {
        // What is converted goes out before a wait for more.
        if ((st.out.len > 0 || writer_running(st)) && could_wait(in.source)) {
            flush_output(st);
            hurry_writer(st);
        }
        asked = read_ask(in);
        n = read_source(in.source, in.storage, asked, in.error, output_failed_fd(st));
        std::memset(in.storage + n, 0, IN_BLOCK_SLACK);
        in.block = in.storage;
    }
    if (n == 0) {
        // A failed read counts as the end of the input.
        in.ended = true;
        in.len = 0;
        return false;
    }
    in.len = n;
    ++in.refills;
    in.last_read_full = n == asked;
    return true;
}

void fill_input(scan_state& st, std::size_t min)
{
    input_blocks& in = st.in;
    if (in.source.kind == io_kind::memory || in.pos != 0 || in.block != in.storage) {
        return;
    }
    while (!in.ended && in.len < min && in.len < IN_BLOCK_SIZE) {
        const std::size_t room = IN_BLOCK_SIZE - in.len;
        const std::size_t most = read_ask(in);
        const std::size_t n =
            read_source(in.source, in.storage + in.len, room < most ? room : most, in.error);
        if (n == 0) {
            in.ended = true;
        }
        in.len += n;
    }
    std::memset(in.storage + in.len, 0, IN_BLOCK_SLACK);
    in.refills = in.len > 0 ? 1 : 0;
}

void flush_output(scan_state& st)
{
    output_blocks& out = st.out;
    if (out.sink.kind == io_kind::memory) {
        out.sink.length += out.len;
        if (!grow_memory_sink(out.sink, 2 * OUT_CHUNK_ROOM)) {
            // The output is lost; the pass goes on in the room there is.
            note_error(out.error, ENOMEM);
            out.sink.length = 0;
        }
        out.block = out.sink.buffer + out.sink.length;
        out.cap = out.sink.capacity - out.sink.length;
        out.len = 0;
        return;
    }
    if (out.len == 0) {
        return;
    }
    out.cap = grown(out.cap, OUT_BLOCK_SIZE);
    if (writer_running(st) || (!st.in.ended && start_writer(st))) {
        hand_over_write_block(st);
        return;
    }
    write_sink(out.sink, out.block, out.len, out.error);
    out.len = 0;
}

void copy_run(scan_state& st, const bool (&stops)[256])
{
    if (st.pushed_char != NO_PUSHED_CHAR || st.check != nullptr) {
        return;
    }
    std::size_t end = st.in.pos;
    while (end < st.in.len && !stops[st.in.block[end]]) {
        ++end;
    }
    while (st.in.pos < end) {
        if (st.out.len == st.out.cap) {
            flush_output(st);
        }
        std::size_t n = end - st.in.pos;
        if (n > st.out.cap - st.out.len) {
            n = st.out.cap - st.out.len;
        }
        std::memcpy(st.out.block + st.out.len, st.in.block + st.in.pos, n);
        st.out.len += n;
        st.in.pos += n;
    }
}
