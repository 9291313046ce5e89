// The top-level loop and the line-break rule of option -z.

#include "scanner.h"

void start_scan(scan_state& st, std::FILE* in, std::FILE* out, bool break_tags)
{
    st.in_file = in;
    st.out_file = out;
    st.cur_char = 0;
    st.last_char = 0;
    st.break_tags = break_tags;
    st.in_pos = 0;
    st.in_len = 0;
    st.input_ended = false;
    st.pushed_char = NO_PUSHED_CHAR;
    st.scan_chunks = best_chunk_scanner();
    st.in_block = st.in_storage;
    st.out_block = st.out_storage;
    st.out_len = 0;
    st.read_errno = 0;
    st.write_errno = 0;
    if (st.read_size == 0 || st.read_size > IN_BLOCK_SIZE) {
        st.read_size = IN_BLOCK_SIZE;
    }
}

void break_before_tag(scan_state& st)
{
    if (st.last_char == '>') {
        write_char(st, '\n');
        st.last_char = 0;
    }
}

void scan_top_level(scan_state& st)
{
    if (st.background) {
        start_background_io(st);
    }
    while (st.cur_char != END_OF_INPUT) {
        if (st.scan_chunks != nullptr && st.pushed_char == NO_PUSHED_CHAR) {
            switch (st.scan_chunks(st, open_context::top_level)) {
            case open_context::top_level:
                break;
            case open_context::quotation:
                finish_quotation(st);
                continue;
            case open_context::tag:
                finish_tag(st);
                continue;
            case open_context::tag_in_quotation:
                finish_tag(st);
                finish_quotation(st);
                continue;
            }
        }
        switch (read_char(st)) {
        case '&':
            read_entity(st);
            break;
        case '"':
            convert_quotation(st);
            break;
        case '<':
            if (st.break_tags) {
                break_before_tag(st);
            }
            copy_tag(st);
            break;
        case '\\':
            take_escape(st);
            break;
        case END_OF_INPUT:
            break;
        default:
            write_char(st, st.cur_char);
            st.last_char = static_cast<unsigned char>(st.cur_char);
            break;
        }
    }
    flush_output(st);
    stop_background_io(st);
}
