// Reading and writing in blocks beneath the handlers. Errors are recorded,
// never acted on: the pass runs to the end of the input whatever happens.

#include <cerrno>
#include <cstring>

#include "scanner.h"

bool refill_input(scan_state& st)
{
    if (st.input_ended) {
        return false;
    }
    st.in_pos = 0;
    if (st.io != nullptr && st.read_ahead) {
        st.in_len = take_read_block(st);
        st.input_ended = st.in_len == 0;
        return !st.input_ended;
    }
    st.in_len = std::fread(st.in_block, 1, st.read_size, st.in_file);
    if (st.in_len == 0) {
        // A failed read counts as the end of the input.
        if (std::ferror(st.in_file) && st.read_errno == 0) {
            st.read_errno = errno != 0 ? errno : EIO;
        }
        st.input_ended = true;
        return false;
    }
    return true;
}

void flush_output(scan_state& st)
{
    if (st.out_len == 0) {
        return;
    }
    if (st.io != nullptr) {
        hand_over_write_block(st);
        return;
    }
    std::size_t written = std::fwrite(st.out_block, 1, st.out_len, st.out_file);
    if (written != st.out_len && st.write_errno == 0) {
        st.write_errno = errno != 0 ? errno : EIO;
    }
    st.out_len = 0;
}

void copy_run(scan_state& st, const bool (&stops)[256])
{
    if (st.pushed_char != NO_PUSHED_CHAR || st.check != nullptr) {
        return;
    }
    std::size_t end = st.in_pos;
    while (end < st.in_len && !stops[st.in_block[end]]) {
        ++end;
    }
    while (st.in_pos < end) {
        if (st.out_len == OUT_BLOCK_SIZE) {
            flush_output(st);
        }
        std::size_t n = end - st.in_pos;
        if (n > OUT_BLOCK_SIZE - st.out_len) {
            n = OUT_BLOCK_SIZE - st.out_len;
        }
        std::memcpy(st.out_block + st.out_len, st.in_block + st.in_pos, n);
        st.out_len += n;
        st.in_pos += n;
    }
}
