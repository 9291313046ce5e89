// The top-level loop and the line-break rule of option -z.

#include "scanner.h"

namespace {

constexpr std::size_t HANDLER_TURNS = 64;
constexpr std::size_t LITTLE_PROGRESS = 1;

} // namespace

void break_before_tag(scan_state& st)
{
    if (st.last_char == '>') {
        write_char(st, '\n');
        st.last_char = 0;
    }
}

void scan_top_level(scan_state& st)
{
    // Where the chunks made little progress (stopped again and again by
    // bytes they leave to the handlers), the handlers take a number of turns
    // first, rather than the chunks looking at the same bytes again.
    std::size_t handler_turns = 0;
    while (st.cur_char != END_OF_INPUT) {
        if (handler_turns == 0 && st.scan_chunks != nullptr && st.pushed_char == NO_PUSHED_CHAR) {
            const std::size_t at = st.in.pos;
            const unsigned char* block = st.in.block;
            const open_context in = st.scan_chunks(st, open_context::top_level);
            if (in == open_context::top_level && st.in.block == block &&
                st.in.pos - at < LITTLE_PROGRESS) {
                handler_turns = HANDLER_TURNS;
            }
            switch (in) {
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
        handler_turns -= handler_turns > 0 ? 1 : 0;
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
