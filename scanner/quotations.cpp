// Quotations and the quote entities: what the program is for.

#include <cstddef>

#include "entity_names.h"
#include "scanner.h"

namespace {

constexpr auto QUOTATION_STOPS = byte_set("\"<\\&");

} // namespace

void convert_quotation(scan_state& st)
{
    write_mark(st, st.marks.open);
    if (st.check != nullptr) {
        note_quotation_start(st);
    }
    finish_quotation(st);
}

void finish_quotation(scan_state& st)
{
    for (;;) {
        if (st.scan_chunks != nullptr && st.pushed_char == NO_PUSHED_CHAR &&
            st.scan_chunks(st, open_context::quotation) == open_context::tag_in_quotation) {
            finish_tag(st);
            continue;
        }
        copy_run(st, QUOTATION_STOPS.member);
        int c = read_char(st);
        if (c == '"' || c == END_OF_INPUT) {
            break;
        }
        switch (c) {
        case '<':
            copy_tag(st);
            break;
        case '\\':
            take_escape(st);
            break;
        case '&':
            read_entity(st);
            break;
        default:
            write_char(st, c);
            break;
        }
    }
    if (st.cur_char == '"') {
        write_mark(st, st.marks.close);
    }
    if (st.check != nullptr) {
        note_quotation_end(st);
    }
    st.last_char = '"';
}

namespace {

// A quote entity becomes a '"' read next; any other '&' and name are
// written as they are.
void take_entity_name(scan_state& st, const unsigned char* name, std::size_t len)
{
    if (is_quote_entity(name, len)) {
        push_back_char(st, '"');
        return;
    }
    write_char(st, '&');
    for (std::size_t i = 0; i < len; ++i) {
        write_char(st, name[i]);
    }
}

} // namespace

// The name is kept with its length, so a NUL among its bytes is written like
// any other byte.
void read_entity(scan_state& st)
{
    // Where the whole window is in the block, without --check: at once.
    if (st.check == nullptr && st.pushed_char == NO_PUSHED_CHAR &&
        st.in.len - st.in.pos >= ENTITY_NAME_MAX + 8) {
        const unsigned char* name = st.in.block + st.in.pos;
        const std::size_t len = entity_name_length(name, ENTITY_NAME_MAX);
        st.in.pos += len;
        st.cur_char = name[len - 1];
        take_entity_name(st, name, len);
        return;
    }
    unsigned char name[ENTITY_NAME_MAX] = {};
    std::size_t len = 0;
    while (len < ENTITY_NAME_MAX) {
        int c = read_char(st);
        if (c == END_OF_INPUT) {
            break;
        }
        name[len++] = static_cast<unsigned char>(c);
        if (c == ';' || c == ' ') {
            break;
        }
    }
    take_entity_name(st, name, len);
}

namespace {

constexpr quote_mark mark_of(const char* bytes)
{
    quote_mark m{};
    while (bytes[m.len] != '\0') {
        m.bytes[m.len] = static_cast<unsigned char>(bytes[m.len]);
        ++m.len;
    }
    return m;
}

// Opening and closing marks of each style, in each form.
constexpr const char* MARK_TEXT[3][3][2] = {
    // bytes                 UTF-8                            entities
    {{"\x84", "\x93"}, {"\xE2\x80\x9E", "\xE2\x80\x9C"}, {"&bdquo;", "&ldquo;"}}, // german
    {{"\xBB", "\xAB"}, {"\xC2\xBB", "\xC2\xAB"}, {"&raquo;", "&laquo;"}},           // guillemets
    {{"\xAB", "\xBB"}, {"\xC2\xAB", "\xC2\xBB"}, {"&laquo;", "&raquo;"}},           // swiss
};

} // namespace

quote_marks marks_for(mark_style style, mark_form form)
{
    const auto& text = MARK_TEXT[static_cast<int>(style)][static_cast<int>(form)];
    return {mark_of(text[0]), mark_of(text[1])};
}
