// Reading and writing in blocks beneath the handlers. Errors are recorded,
// never acted on: the pass runs to the end of the input whatever happens.

#include <cerrno>

#include "scanner.h"

bool refill_input(scan_state& st)
{
    if (st.input_ended) {
        return false;
    }
    st.in_pos = 0;
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
    std::size_t written = std::fwrite(st.out_block, 1, st.out_len, st.out_file);
    if (written != st.out_len && st.write_errno == 0) {
        st.write_errno = errno != 0 ? errno : EIO;
    }
    st.out_len = 0;
}
