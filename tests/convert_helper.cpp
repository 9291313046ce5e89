#include "convert_helper.h"

#include <cstdio>
#include <cstdlib>

namespace {

pass_options options_of(const convert_setup& s)
{
    pass_options o;
    o.break_tags = s.break_tags;
    o.html = s.html;
    const mark_choice& m = s.marks != nullptr ? *s.marks : german_bytes();
    o.style = m.style;
    o.form = m.form;
    o.impl = s.impl;
    o.read_size = s.read_size;
    switch (s.threads) {
    case io_threads::none:
        o.threads = thread_choice::none;
        break;
    case io_threads::writer:
        o.threads = thread_choice::writer;
        break;
    case io_threads::writer_and_reader:
        o.threads = thread_choice::writer_and_reader;
        break;
    }
    return o;
}

std::string run(std::string_view input, const pass_options& o, io_threads threads,
                unsigned char* last_char = nullptr)
{
    byte_source source;
    source.kind = io_kind::memory;
    source.data = reinterpret_cast<const unsigned char*>(input.data());
    source.size = input.size();
    byte_sink sink;
    char* stream_data = nullptr;
    std::size_t stream_size = 0;
    std::FILE* stream = nullptr;
    if (threads != io_threads::none) {
        // The threads write to a descriptor or stream, never to memory.
        stream = open_memstream(&stream_data, &stream_size);
        sink.kind = io_kind::stream;
        sink.stream = stream;
    }
    const pass_result r = run_pass(source, sink, o);
    if (r.setup_error != 0) {
        std::fprintf(stderr, "the pass could not start: %d\n", r.setup_error);
        std::abort();
    }
    if (last_char != nullptr) {
        *last_char = r.last_char;
    }
    std::string out;
    if (stream != nullptr) {
        std::fclose(stream);
        out.assign(stream_data, stream_size);
        std::free(stream_data);
    } else {
        out.assign(reinterpret_cast<const char*>(sink.buffer), sink.length);
        std::free(sink.buffer);
    }
    return out;
}

void collect_spot(void* context, const quib_spot* spot)
{
    static_cast<std::vector<found_spot>*>(context)->push_back(
        {spot->kind, spot->line, spot->element != nullptr ? spot->element : ""});
}

} // namespace

std::string convert(std::string_view input, const convert_setup& setup)
{
    return run(input, options_of(setup), setup.threads);
}

std::string scanner_convert(std::string_view input, bool break_tags, std::size_t read_size,
                            const implementation* impl, const mark_choice* marks,
                            io_threads threads)
{
    convert_setup s;
    s.break_tags = break_tags;
    s.read_size = read_size;
    s.impl = impl;
    s.marks = marks;
    s.threads = threads;
    return convert(input, s);
}

unsigned char scanner_last_char(std::string_view input, bool break_tags,
                                const implementation* impl)
{
    convert_setup s;
    s.break_tags = break_tags;
    s.impl = impl;
    unsigned char last_char = 0;
    run(input, options_of(s), io_threads::none, &last_char);
    return last_char;
}

std::string scanner_check(std::string_view input, const convert_setup& setup,
                          std::vector<found_spot>& spots)
{
    pass_options o = options_of(setup);
    o.check = true;
    o.report = collect_spot;
    o.report_context = &spots;
    return run(input, o, io_threads::none);
}

std::vector<implementation> every_scanner()
{
    std::vector<implementation> all;
    for (const implementation& impl : known_implementations()) {
        if (runs_here(impl)) {
            all.push_back(impl);
        }
    }
    return all;
}

const implementation* byte_path()
{
    return &known_implementations()[0];
}

const mark_choice& german_bytes()
{
    static const mark_choice m{"german/bytes", mark_style::german, mark_form::bytes, "\x84",
                               "\x93"};
    return m;
}

std::vector<mark_choice> every_mark_choice()
{
    const auto text = [](const quote_mark& m) {
        return std::string(reinterpret_cast<const char*>(m.bytes), m.len);
    };
    std::vector<mark_choice> all;
    const char* const styles[] = {"german", "guillemets", "swiss"};
    const char* const forms[] = {"bytes", "utf8", "entities"};
    for (int style = 0; style < 3; ++style) {
        for (int form = 0; form < 3; ++form) {
            const auto st = static_cast<mark_style>(style);
            const auto fo = static_cast<mark_form>(form);
            const quote_marks m = marks_for(st, fo);
            all.push_back({std::string(styles[style]) + "/" + forms[form], st, fo, text(m.open),
                           text(m.close)});
        }
    }
    return all;
}
