// Writing behind and reading ahead. One thread writes the filled output
// blocks in order, so the kernel copies them on the second processor while
// the pass converts; where the driver asks, another reads the source block
// by block into a ring of blocks. The pass sees only refill_input and
// flush_output; each stream is used by exactly one thread while they run.

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>

#include "scanner.h"

namespace {

constexpr unsigned RING_SLOTS = 8;
constexpr std::size_t CACHE_LINE = 64;
constexpr int READER_NICENESS = 5;
// A side that had to wait sleeps until this many blocks are there for it:
// waking a thread costs the waker more than handing over a block.
constexpr unsigned WAKE_BATCH = RING_SLOTS / 2;

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
            changed.wait(hold, [this] { return ready_blocks() >= WAKE_BATCH || closed; });
            emptier_asleep = false;
        }
        return ready_blocks() != 0;
    }
    // After the filling side handed over a block or closed the ring.
    void wake_emptier()
    {
        if (emptier_asleep && (ready_blocks() >= WAKE_BATCH || closed)) {
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
    std::FILE* in_file = nullptr;
    std::FILE* out_file = nullptr;
    std::size_t read_size = 0;
    pthread_t reader{};
    pthread_t writer{};
    bool touch_before_write = true;
    unsigned char touched = 0; // the writer's reads ahead of the kernel's copy
    unsigned char* memory = nullptr;
};

namespace {

void* read_ahead(void* arg)
{
    background_io& io = *static_cast<background_io*>(arg);
#if defined(__linux__)
    // On Linux nice() changes the calling thread alone. The reader has the
    // ring to run ahead in; when all three threads want a processor, the
    // writer (the slowest of them into a file) and the pass go first. Into
    // a file this took a fifth off the time.
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
        }
        errno = 0;
        const std::size_t n = std::fread(block, 1, io.read_size, io.in_file);
        // A failed read counts as the end of the input.
        const int error = n == 0 && std::ferror(io.in_file) ? (errno != 0 ? errno : EIO) : 0;
        std::lock_guard<std::mutex> hold(r.lock);
        if (n == 0) {
            r.closed = true;
            r.error = error;
        } else {
            r.len[r.filled % RING_SLOTS] = n;
            ++r.filled;
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
        }
        // Read the block line by line before the kernel copies it: the pass
        // wrote it on the other processor, and the kernel's copy from there
        // takes twice as long as from this processor's cache. A device such
        // as /dev/null copies nothing; there the reads would only pull the
        // lines away from the pass, which writes them again.
        if (io.touch_before_write) {
            unsigned char lines = 0;
            for (std::size_t i = 0; i < len; i += CACHE_LINE) {
                lines ^= block[i];
            }
            io.touched ^= lines;
        }
        errno = 0;
        const bool failed = std::fwrite(block, 1, len, io.out_file) != len;
        std::lock_guard<std::mutex> hold(w.lock);
        if (failed && w.error == 0) {
            w.error = errno != 0 ? errno : EIO;
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

} // namespace

bool start_background_io(scan_state& st)
{
    // Only at the start of a pass: nothing read or waiting to be written.
    if (st.io != nullptr || st.in_len != 0 || st.out_len != 0 || st.input_ended) {
        return false;
    }
    auto* io = new (std::nothrow) background_io;
    if (io == nullptr) {
        return false;
    }
    // The ring for reading only where a thread reads ahead.
    constexpr std::size_t IN_SLOT = IN_BLOCK_SIZE + IN_BLOCK_SLACK;
    const std::size_t in_ring = st.read_ahead ? RING_SLOTS * IN_SLOT : 0;
    const std::size_t memory = in_ring + RING_SLOTS * OUT_BLOCK_SIZE;
    io->memory = new (std::nothrow) unsigned char[memory];
    if (io->memory == nullptr) {
        delete io;
        return false;
    }
    for (unsigned i = 0; i < RING_SLOTS; ++i) {
        if (st.read_ahead) {
            io->reads.slot[i] = io->memory + i * IN_SLOT;
        }
        io->writes.slot[i] = io->memory + in_ring + i * OUT_BLOCK_SIZE;
    }
    // Every page of the rings is touched here, once, by this thread: the
    // process's memory is then the same whichever thread gets to a block
    // first (the kernel counts each processor's new pages apart).
    std::memset(io->memory, 0, memory);
    io->in_file = st.in_file;
    io->out_file = st.out_file;
    struct stat target {};
    const bool known = ::fstat(fileno(st.out_file), &target) == 0;
    io->touch_before_write = !known || !S_ISCHR(target.st_mode);
#if defined(F_SETPIPE_SZ)
    // A pipe holds 64 KiB unless asked for more, and each block would wait
    // for the reader twice; as much as the ring holds is asked for. Where
    // the system allows less, the pipe stays as it is.
    if (known && S_ISFIFO(target.st_mode)) {
        ::fcntl(fileno(st.out_file), F_SETPIPE_SZ, static_cast<int>(RING_SLOTS * OUT_BLOCK_SIZE));
    }
#endif
    io->read_size = st.read_size;
    // The writer first: until it is handed a block it touches nothing, so
    // if the reader cannot start, the writer stops and the pass reads and
    // writes by itself. A reader started first could already have taken
    // input the pass could not get back.
    if (pthread_create(&io->writer, nullptr, write_behind, io) != 0) {
        delete[] io->memory;
        delete io;
        return false;
    }
    if (st.read_ahead && pthread_create(&io->reader, nullptr, read_ahead, io) != 0) {
        close_ring(io->writes);
        pthread_join(io->writer, nullptr);
        delete[] io->memory;
        delete io;
        return false;
    }
    st.io = io;
    st.out_block = io->writes.slot[0];
    return true;
}

void stop_background_io(scan_state& st)
{
    background_io* io = st.io;
    if (io == nullptr) {
        return;
    }
    close_ring(io->writes);
    pthread_join(io->writer, nullptr);
    if (st.read_ahead) {
        abandon_ring(io->reads);
        pthread_join(io->reader, nullptr);
    }
    if (st.write_errno == 0) {
        st.write_errno = io->writes.error;
    }
    st.io = nullptr;
    st.in_block = st.in_storage;
    st.out_block = st.out_storage;
    st.in_pos = 0;
    st.in_len = 0;
    st.out_len = 0;
    delete[] io->memory;
    delete io;
}

std::size_t take_read_block(scan_state& st)
{
    block_ring& r = st.io->reads;
    std::unique_lock<std::mutex> hold(r.lock);
    r.emptied = r.taken; // the block read so far goes back
    r.wake_filler();
    if (!r.wait_for_block(hold)) {
        if (st.read_errno == 0) {
            st.read_errno = r.error;
        }
        return 0;
    }
    st.in_block = r.slot[r.taken % RING_SLOTS];
    return r.len[r.taken++ % RING_SLOTS];
}

void hand_over_write_block(scan_state& st)
{
    block_ring& w = st.io->writes;
    std::unique_lock<std::mutex> hold(w.lock);
    w.len[w.filled % RING_SLOTS] = st.out_len;
    ++w.filled;
    w.wake_emptier();
    w.wait_for_free_slot(hold); // the writer empties every block it is given
    st.out_block = w.slot[w.filled % RING_SLOTS];
    st.out_len = 0;
}
