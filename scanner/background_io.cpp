// Writing behind and reading ahead. One thread writes the filled output
// blocks in order; where the plan says so, another reads the source block
// by block into a ring of blocks. Each source and sink is used by exactly
// one thread while they run.

#include "background_io.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "allocation.h"
#include "scanner.h"

namespace {

constexpr unsigned RING_SLOTS = 8;
constexpr std::size_t CACHE_LINE = 64;
constexpr int READER_NICENESS = 5;
// A regular file shorter than this goes through the pass's own thread: its
// conversion and writing together take less than starting a thread and its
// ring does.
constexpr off_t THREADED_INPUT_MIN = off_t{4} << 20;
// A side that had to wait sleeps until this many blocks are there for it:
// waking a thread costs the waker more than handing over a block.
constexpr unsigned WAKE_BATCH = RING_SLOTS / 2;
constexpr std::size_t IN_SLOT = IN_BLOCK_SIZE + IN_BLOCK_SLACK;

// Blocks handed over in order from the thread that fills them to the thread
// that empties them. Block k lives in slot[k % RING_SLOTS]; the counts only
// grow. The emptying side works on the blocks it has taken and gives them
// back when it is done with them. All fields are guarded by lock.
struct block_ring {
    unsigned char* slot[RING_SLOTS] = {};
    std::size_t len[RING_SLOTS] = {};
    unsigned long filled = 0;   // blocks handed over by the filling side
    unsigned long taken = 0;    // blocks the emptying side has taken
    unsigned long emptied = 0;  // blocks it has given back
    bool closed = false;        // the filling side hands over no more
    bool abandoned = false;     // the emptying side takes no more
    bool filler_asleep = false;
    bool emptier_asleep = false;
    // The filling side waits for its own input: the emptying side takes
    // the blocks there are, however few, until the next is handed over.
    bool hurry = false;
    int error = 0;              // first errno of the thread doing the I/O
    std::mutex lock;
    std::condition_variable changed;

    unsigned free_slots() const { return RING_SLOTS - static_cast<unsigned>(filled - emptied); }
    unsigned ready_blocks() const { return static_cast<unsigned>(filled - taken); }

    // The filling side: waits for a free slot; false if the emptying side
    // takes no more.
    bool wait_for_free_slot(std::unique_lock<std::mutex>& hold)
    {
        if (free_slots() == 0 && !abandoned) {
            filler_asleep = true;
            changed.wait(hold, [this] { return free_slots() >= WAKE_BATCH || abandoned; });
            filler_asleep = false;
        }
        return !abandoned;
    }
    // The emptying side: waits for a block to take; false if there is none
    // and will be none.
    bool wait_for_block(std::unique_lock<std::mutex>& hold)
    {
        if (ready_blocks() == 0 && !closed) {
            emptier_asleep = true;
            changed.wait(hold, [this] {
                return ready_blocks() >= WAKE_BATCH || closed || (hurry && ready_blocks() != 0);
            });
            emptier_asleep = false;
        }
        return ready_blocks() != 0;
    }
    // After the filling side handed over a block or closed the ring, or
    // hurried the emptying side.
    void wake_emptier()
    {
        if (emptier_asleep && (ready_blocks() >= WAKE_BATCH || closed ||
                               (hurry && ready_blocks() != 0))) {
            changed.notify_all();
        }
    }
    // After the emptying side gave back a block or abandoned the ring.
    void wake_filler()
    {
        if (filler_asleep && (free_slots() >= WAKE_BATCH || abandoned)) {
            changed.notify_all();
        }
    }
};

} // namespace

struct background_io {
    block_ring reads;   // filled by the reader, emptied by the pass
    block_ring writes;  // filled by the pass, emptied by the writer
    byte_source* source = nullptr;
    byte_sink* sink = nullptr;
    std::size_t read_size = 0;
    pthread_t reader{};
    pthread_t writer{};
    bool reading = false;
    bool writing = false;
    bool touch_before_write = false;
    unsigned char touched = 0; // the writer's reads ahead of the kernel's copy
    unsigned char* read_memory = nullptr;
    unsigned char* write_memory = nullptr;
    // A descriptor other than a regular file: a read may wait for its writer.
    bool source_may_wait = false;
    // Made readable by the writer when a write fails, so that a read of a
    // source that may wait stops waiting; else -1.
    int output_failed = -1;
};

namespace {

void* read_ahead(void* arg)
{
    background_io& io = *static_cast<background_io*>(arg);
#if defined(__linux__)
    // On Linux nice() changes the calling thread alone. The reader has the
    // ring to run ahead in; when all three threads want a processor, the
    // writer and the pass go first.
    [[maybe_unused]] const int niceness = nice(READER_NICENESS);
#endif
    block_ring& r = io.reads;
    for (;;) {
        unsigned char* block;
        {
            std::unique_lock<std::mutex> hold(r.lock);
            if (!r.wait_for_free_slot(hold)) {
                return nullptr;
            }
            block = r.slot[r.filled % RING_SLOTS];
            // The pass takes the blocks there are while this read waits.
            if (io.source_may_wait && could_wait(*io.source)) {
                r.hurry = true;
                r.wake_emptier();
            }
        }
        int error = 0;
        const std::size_t n = read_source(*io.source, block, io.read_size, error, io.output_failed);
        std::lock_guard<std::mutex> hold(r.lock);
        if (n == 0) {
            r.closed = true;
            r.error = error;
        } else {
            r.len[r.filled % RING_SLOTS] = n;
            ++r.filled;
            r.hurry = false;
        }
        r.wake_emptier();
        if (n == 0) {
            return nullptr;
        }
    }
}

void* write_behind(void* arg)
{
    background_io& io = *static_cast<background_io*>(arg);
    block_ring& w = io.writes;
    for (;;) {
        const unsigned char* block;
        std::size_t len;
        {
            std::unique_lock<std::mutex> hold(w.lock);
            if (!w.wait_for_block(hold)) {
                return nullptr;
            }
            block = w.slot[w.taken % RING_SLOTS];
            len = w.len[w.taken % RING_SLOTS];
            ++w.taken;
            if (w.error != 0) {
                // After a failed write the output is lost: the blocks
                // still handed over are given back unwritten.
                w.emptied = w.taken;
                w.wake_filler();
                continue;
            }
        }
        // Read the block line by line before the kernel copies it: the pass
        // wrote it on the other processor, and the kernel's copy from there
        // is slower than from this processor's cache. A device such as
        // /dev/null copies nothing; there the reads would only pull the
        // lines away from the pass, which writes them again.
        if (io.touch_before_write) {
            unsigned char lines = 0;
            for (std::size_t i = 0; i < len; i += CACHE_LINE) {
                lines ^= block[i];
            }
            io.touched ^= lines;
        }
        int error = 0;
        const bool written = write_sink(*io.sink, block, len, error);
        std::lock_guard<std::mutex> hold(w.lock);
        if (!written && w.error == 0) {
            w.error = error;
            if (io.output_failed >= 0) {
                ::eventfd_write(io.output_failed, 1);
            }
        }
        w.emptied = w.taken;
        w.wake_filler();
    }
}

void close_ring(block_ring& ring)
{
    std::lock_guard<std::mutex> hold(ring.lock);
    ring.closed = true;
    ring.wake_emptier();
}

void abandon_ring(block_ring& ring)
{
    std::lock_guard<std::mutex> hold(ring.lock);
    ring.abandoned = true;
    ring.wake_filler();
}

// The descriptor of a source or sink, or -1 in memory.
template <class End>
int descriptor_of(const End& end)
{
    switch (end.kind) {
    case io_kind::fd:
        return end.fd;
    case io_kind::stream:
        return fileno(end.stream);
    case io_kind::memory:
        break;
    }
    return -1;
}

background_io* io_of(scan_state& st)
{
    if (st.io == nullptr) {
        st.io = create_object<background_io>();
        if (st.io != nullptr) {
            st.io->source = &st.in.source;
            st.io->sink = &st.out.sink;
            st.io->read_size = st.in.read_size;
            st.io->touch_before_write = st.threads.touch_before_write;
            // Told before either thread starts, these never change while
            // they run. Where the descriptor cannot be made, reads wait for
            // the source's end.
            const int from = st.in.source.kind == io_kind::fd ? st.in.source.fd : -1;
            struct stat in {};
            st.io->source_may_wait = from >= 0 && (::fstat(from, &in) != 0 || !S_ISREG(in.st_mode));
            if (st.io->source_may_wait) {
                st.io->output_failed = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            }
        }
    }
    return st.io;
}

// Every page of a ring is touched here, once, by the pass's thread: the
// process's memory is then the same whichever thread gets to a block first
// (the kernel counts each processor's new pages apart).
unsigned char* ring_memory(std::size_t bytes)
{
    unsigned char* memory = allocate_bytes(bytes);
    if (memory != nullptr) {
        std::memset(memory, 0, bytes);
    }
    return memory;
}

} // namespace

thread_plan plan_threads(const byte_source& source, const byte_sink& sink, bool reporting)
{
    thread_plan plan;
    const int target = descriptor_of(sink);
    struct stat s {};
    if (target < 0 || ::fstat(target, &s) != 0 || (reporting && ::isatty(target) == 1)) {
        return plan;
    }
    const int from = descriptor_of(source);
    struct stat in {};
    if (from >= 0 && ::fstat(from, &in) == 0 && S_ISREG(in.st_mode) &&
        in.st_size < THREADED_INPUT_MIN) {
        return plan;
    }
    plan.writer = true;
    plan.reader = S_ISCHR(s.st_mode) && source.kind != io_kind::memory;
    plan.touch_before_write = !S_ISCHR(s.st_mode);
    plan.pipe_target = S_ISFIFO(s.st_mode);
    return plan;
}

bool reader_running(const scan_state& st)
{
    return st.io != nullptr && st.io->reading;
}

bool writer_running(const scan_state& st)
{
    return st.io != nullptr && st.io->writing;
}

void hurry_writer(scan_state& st)
{
    if (!writer_running(st)) {
        return;
    }
    block_ring& w = st.io->writes;
    std::lock_guard<std::mutex> hold(w.lock);
    w.hurry = true;
    w.wake_emptier();
}

int output_failed_fd(const scan_state& st)
{
    return writer_running(st) ? st.io->output_failed : -1;
}

bool start_writer(scan_state& st)
{
    if (writer_running(st)) {
        return true;
    }
    if (!st.threads.writer) {
        return false;
    }
    st.threads.writer = false; // one try
    background_io* io = io_of(st);
    if (io == nullptr) {
        return false;
    }
    // The block the pass fills now is the ring's first; the others are new.
    io->write_memory = ring_memory((RING_SLOTS - 1) * OUT_BLOCK_SIZE);
    if (io->write_memory == nullptr) {
        return false;
    }
    io->writes.slot[0] = st.out.block;
    for (unsigned i = 1; i < RING_SLOTS; ++i) {
        io->writes.slot[i] = io->write_memory + (i - 1) * OUT_BLOCK_SIZE;
    }
#if defined(F_SETPIPE_SZ)
    // A pipe holds 64 KiB unless asked for more, and each block would wait
    // for the reader twice; as much as the ring holds is asked for. Where
    // the system allows less, the pipe stays as it is.
    if (st.threads.pipe_target) {
        ::fcntl(descriptor_of(st.out.sink), F_SETPIPE_SZ,
                static_cast<int>(RING_SLOTS * OUT_BLOCK_SIZE));
    }
#endif
    if (pthread_create(&io->writer, nullptr, write_behind, io) != 0) {
        free_bytes(io->write_memory);
        io->write_memory = nullptr;
        return false;
    }
    io->writing = true;
    return true;
}

bool start_reader(scan_state& st)
{
    if (reader_running(st)) {
        return true;
    }
    if (!st.threads.reader) {
        return false;
    }
    st.threads.reader = false; // one try
    background_io* io = io_of(st);
    if (io == nullptr) {
        return false;
    }
    io->read_memory = ring_memory(RING_SLOTS * IN_SLOT);
    if (io->read_memory == nullptr) {
        return false;
    }
    for (unsigned i = 0; i < RING_SLOTS; ++i) {
        io->reads.slot[i] = io->read_memory + i * IN_SLOT;
    }
    // Until it is started, the source is the pass's alone: if the thread
    // cannot start, nothing is lost and the pass reads on by itself.
    if (pthread_create(&io->reader, nullptr, read_ahead, io) != 0) {
        free_bytes(io->read_memory);
        io->read_memory = nullptr;
        return false;
    }
    io->reading = true;
    return true;
}

void stop_background_io(scan_state& st)
{
    background_io* io = st.io;
    if (io == nullptr) {
        return;
    }
    if (io->writing) {
        close_ring(io->writes);
        pthread_join(io->writer, nullptr);
        if (st.out.error == 0) {
            st.out.error = io->writes.error;
        }
        st.out.block = st.out.storage;
        st.out.len = 0;
    }
    if (io->reading) {
        abandon_ring(io->reads);
        pthread_join(io->reader, nullptr);
        st.in.block = st.in.storage;
        st.in.pos = 0;
        st.in.len = 0;
    }
    free_bytes(io->read_memory);
    free_bytes(io->write_memory);
    if (io->output_failed >= 0) {
        ::close(io->output_failed);
    }
    destroy_object(io);
    st.io = nullptr;
}

bool read_block_ready(scan_state& st)
{
    block_ring& r = st.io->reads;
    std::lock_guard<std::mutex> hold(r.lock);
    return r.ready_blocks() != 0 || r.closed;
}

std::size_t take_read_block(scan_state& st)
{
    block_ring& r = st.io->reads;
    std::unique_lock<std::mutex> hold(r.lock);
    r.emptied = r.taken; // the block read so far goes back
    r.wake_filler();
    if (!r.wait_for_block(hold)) {
        if (st.in.error == 0) {
            st.in.error = r.error;
        }
        return 0;
    }
    st.in.block = r.slot[r.taken % RING_SLOTS];
    return r.len[r.taken++ % RING_SLOTS];
}

void hand_over_write_block(scan_state& st)
{
    block_ring& w = st.io->writes;
    std::unique_lock<std::mutex> hold(w.lock);
    w.len[w.filled % RING_SLOTS] = st.out.len;
    ++w.filled;
    w.hurry = false;
    w.wake_emptier();
    w.wait_for_free_slot(hold); // the writer empties every block it is given
    st.out.block = w.slot[w.filled % RING_SLOTS];
    st.out.len = 0;
    if (st.out.error == 0) {
        st.out.error = w.error; // the pass then reads no more
    }
}
