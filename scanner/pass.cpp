// One conversion: the pass set up from its options, run, and taken down.

#include "pass.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "allocation.h"
#include "background_io.h"
#include "charset.h"
#include "check.h"
#include "chunk_dispatch.h"
#include "html.h"

namespace {

// The page's first bytes for its declared encoding: in place for memory,
// else read into the first block, only as far as a head still open asks
// (a pipe's first page is not held back for the whole reach).
encoding_declaration declared_encoding(scan_state& st, prescan_reach reach)
{
    const byte_source& s = st.in.source;
    if (s.kind == io_kind::memory) {
        return find_declared_encoding(s.data, s.size, reach);
    }
    for (std::size_t want = CHARSET_PRESCAN_BYTES;; want *= 2) {
        fill_input(st, want);
        const std::size_t have = st.in.len - st.in.pos;
        const encoding_declaration d = find_declared_encoding(st.in.block + st.in.pos, have, reach);
        if (!d.head_runs_on || have < want || want >= prescan_bytes(reach)) {
            return d;
        }
    }
}

mark_form form_for(page_encoding encoding)
{
    switch (encoding) {
    case page_encoding::utf8:
        return mark_form::utf8;
    case page_encoding::windows_1252:
        return mark_form::bytes;
    case page_encoding::none:
    case page_encoding::other:
    case page_encoding::multibyte:
        break;
    }
    return mark_form::entities;
}

// A byte order mark of UTF-16 (or UTF-32) at the start: every character of
// the page is two bytes or more, and quib's single bytes would damage it.
bool starts_as_utf16(scan_state& st)
{
    const byte_source& s = st.in.source;
    const unsigned char* p = s.data;
    std::size_t n = s.size;
    if (s.kind != io_kind::memory) {
        fill_input(st, 2);
        p = st.in.block + st.in.pos;
        n = st.in.len - st.in.pos;
    }
    return n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF));
}

thread_plan forced_plan(thread_choice choice)
{
    thread_plan plan;
    plan.writer = choice != thread_choice::none;
    plan.reader = choice == thread_choice::writer_and_reader;
    plan.touch_before_write = true;
    return plan;
}

} // namespace

pass_result run_pass(const byte_source& source, byte_sink& sink, const pass_options& options)
{
    pass_result result;
    int choice_error = 0;
    const implementation* impl =
        options.impl != nullptr ? options.impl : chosen_implementation(&choice_error);
    if (impl == nullptr) {
        result.setup_error = choice_error;
        return result;
    }
    const auto destroy_state = [](scan_state* s) { destroy_object(s); };
    const auto destroy_html = [](html_state* h) { destroy_object(h); };
    const std::unique_ptr<scan_state, decltype(destroy_state)> st(create_object<scan_state>(),
                                                                  destroy_state);
    const std::unique_ptr<html_state, decltype(destroy_html)> html(
        options.html ? create_object<html_state>() : nullptr, destroy_html);
    if (!st || (options.html && !html) || !acquire_blocks(*st, source, sink)) {
        if (st) {
            sink = st->out.sink; // a buffer it may have grown is the caller's to free
        }
        result.setup_error = ENOMEM;
        return result;
    }
    st->break_tags = options.break_tags;
    st->in.read_size = options.read_size == 0 || options.read_size > IN_BLOCK_SIZE
                           ? IN_BLOCK_SIZE
                           : options.read_size;
    st->scan_chunks = impl->scan;
    st->scan_html_chunks = impl->html_scan;

    // The marks: as asked, or with --html as the page declares.
    encoding_declaration declared;
    const bool look_at_page = options.html || options.check;
    const bool utf16 = look_at_page && starts_as_utf16(*st);
    if (look_at_page) {
        // --html follows a declaration in the first bytes; --check alone
        // warns of one wherever a browser still finds it.
        declared = declared_encoding(*st, options.html ? prescan_reach::first_bytes
                                                       : prescan_reach::head);
    }
    const mark_form form = options.form ? *options.form
                           : options.html ? form_for(declared.encoding)
                                          : mark_form::bytes;
    st->marks = marks_for(options.style, form);
    const bool byte_marks = st->marks.open.len == 1 && st->marks.close.len == 1;

    spot_report report{options.report, options.report_context, 0, &st->out.error};
    quote_check check;
    if (options.check) {
        check.out = &report;
        check.byte_marks = byte_marks;
        check.utf8_line = declared.encoding == page_encoding::utf8 ? declared.line : 0;
    }
    if (utf16 && options.check) {
        report_spot(report, QUIB_SPOT_UTF16_PAGE, 1);
    }
    // A browser that finds a multibyte encoding further in the head reads
    // the page in it: --html copies that page unchanged too.
    const encoding_declaration in_head =
        options.html && declared.encoding == page_encoding::none
            ? declared_encoding(*st, prescan_reach::head)
            : declared;
    const bool multibyte = !utf16 && in_head.encoding == page_encoding::multibyte;
    if (multibyte && options.check) {
        report_spot(report, QUIB_SPOT_MULTIBYTE_PAGE, in_head.line);
    }
    if (options.html) {
        st->html = html.get();
        if (utf16 || multibyte) {
            html->mode = html_mode::plaintext;
            html->untouched = true;
        }
        if (options.check) {
            html->report = &report;
            if (byte_marks && declared.encoding == page_encoding::utf8) {
                html->utf8_line = declared.line;
            }
        }
    } else if (options.check) {
        // The chunks find what the hooks note in bulk, except with -z.
        st->check = &check;
        if (options.break_tags) {
            st->scan_chunks = nullptr;
        }
    }

    // The threads: none with --check into a terminal, where the report keeps
    // its place among the output.
    if (options.threads == thread_choice::automatic) {
        st->threads = plan_threads(source, sink, options.check);
    } else {
        st->threads = sink.kind == io_kind::memory ? thread_plan{} : forced_plan(options.threads);
        start_writer(*st);
        if (st->in.len == 0) {
            start_reader(*st);
        }
    }

    if (options.html) {
        scan_html(*st);
    } else {
        scan_top_level(*st);
    }
    stop_background_io(*st);

    result.read_error = st->in.error;
    result.write_error = st->out.error;
    result.spots = report.spots;
    result.last_char = st->last_char;
    sink = st->out.sink;
    if (sink.kind == io_kind::memory && sink.buffer != nullptr) {
        sink.buffer[sink.length] = 0;
    }
    release_blocks(*st);
    return result;
}
