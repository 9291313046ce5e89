// Backslash escapes and markup: both keep characters away from the quote
// conversion.

#include <cstddef>

#include "check.h"
#include "scanner.h"

void take_escape(scan_state& st)
{
    int c = read_char(st);
    switch (c) {
    case '"':
    case '<':
    case '>':
    case '\\':
        write_char(st, c);
        break;
    case END_OF_INPUT:
        return; // a trailing backslash is dropped
    default:
        write_char(st, '\\');
        write_char(st, c);
        break;
    }
    st.last_char = static_cast<unsigned char>(c);
}

namespace {

constexpr auto TAG_STOPS = byte_set("<>\\");

} // namespace

// Nested tags are counted, not recursed into: each '<' inside a tag opens one
// more level and each unescaped '>' closes one, so no input can exhaust the
// stack.
void copy_tag(scan_state& st)
{
    write_char(st, '<');
    if (st.check != nullptr) {
        note_tag_start(st);
    }
    finish_tag(st);
}

void finish_tag(scan_state& st)
{
    std::size_t depth = 1;
    for (;;) {
        copy_run(st, TAG_STOPS.member);
        int c = read_char(st);
        switch (c) {
        case '>':
            write_char(st, '>');
            st.last_char = '>';
            --depth;
            if (st.check != nullptr) {
                note_tag_end(st, depth);
            }
            if (depth == 0) {
                return;
            }
            break;
        case END_OF_INPUT:
            if (st.check != nullptr) {
                note_tag_cut_off(st);
            }
            return;
        case '<':
            write_char(st, '<');
            ++depth;
            if (st.check != nullptr) {
                note_tag_byte(st, c);
            }
            break;
        case '\\':
            take_escape(st);
            break;
        default:
            write_char(st, c);
            if (st.check != nullptr) {
                note_tag_byte(st, c);
            }
            break;
        }
    }
}
