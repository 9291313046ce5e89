// The chunk scanners for any processor.

#include "chunk_scan.h"
#include "html_scan.h"

namespace {

// A window of the --html reading, compared eight bytes at a time.
struct portable_window {
    // Eight bytes at a time, the masks cost more than the tags' state
    // machine saves: no reading of a window's tags at once.
    static constexpr bool READS_TAGS_AT_ONCE = false;
    static constexpr unsigned REGISTERS_PER_MASK = 8;
    const unsigned char* p;
    explicit portable_window(const unsigned char* bytes) : p(bytes) {}
    std::uint64_t equal(unsigned char c) const
    {
        std::uint64_t m = 0;
        for_each_word(p, [&m, c](std::uint64_t w, unsigned shift) { m |= bytes_equal(w, c) << shift; });
        return m;
    }
    std::uint64_t blanks() const
    {
        return equal(' ') | equal('\t') | equal('\n') | equal('\f') | equal('\r');
    }
};

} // namespace

open_context scan_chunks_portable(scan_state& st, open_context from)
{
    return scan_chunks<scalar_parts>(st, from);
}

void scan_html_portable(scan_state& st)
{
    scan_html_windows<scalar_parts, portable_window>(st);
}
