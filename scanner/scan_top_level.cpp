// The top-level loop and the line-break rule of option -z.

#include "scanner.h"

void break_before_tag(scan_state& st)
{
    if (st.last_char == '>') {
        write_char(st, '\n');
        st.last_char = 0;
    }
}

void scan_top_level(scan_state& st)
{
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
}
