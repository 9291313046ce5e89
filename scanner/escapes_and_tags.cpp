// Backslash escapes and markup: both keep characters away from the quote
// conversion.

#include <cstddef>
#include <cstring>

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

namespace {

// Inside a tag: the bytes up to the next backslash (or the block's end, or
// the tag's end) in one loop, nested levels counted as they come, copied at
// once, and told to --check at once. Returns true where the tag has ended.
bool copy_tag_run(scan_state& st, std::size_t& depth)
{
    const unsigned char* b = st.in.block;
    const std::size_t start = st.in.pos;
    std::size_t i = start;
    bool ended = false;
    bool saw_end = false;
    for (; i < st.in.len; ++i) {
        const unsigned char c = b[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            saw_end = true;
            if (--depth == 0) {
                ++i;
                ended = true;
                break;
            }
        } else if (c == '\\') {
            break;
        }
    }
    for (std::size_t at = start; at < i;) {
        if (st.out.len == st.out.cap) {
            flush_output(st);
        }
        const std::size_t n = i - at < st.out.cap - st.out.len ? i - at : st.out.cap - st.out.len;
        std::memcpy(st.out.block + st.out.len, b + at, n);
        st.out.len += n;
        at += n;
    }
    st.in.pos = i;
    if (saw_end) {
        st.last_char = '>';
    }
    if (st.check != nullptr) {
        note_tag_run(st, b + start, b + i, ended);
    }
    return ended;
}

} // namespace

void finish_tag(scan_state& st)
{
    std::size_t depth = 1;
    for (;;) {
        // With --check the byte path stays a byte at a time: what the
        // others are proved against.
        if (st.pushed_char == NO_PUSHED_CHAR &&
            (st.check == nullptr || st.scan_chunks != nullptr)) {
            if (copy_tag_run(st, depth)) {
                return;
            }
        } else {
            copy_run(st, TAG_STOPS.member);
        }
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
