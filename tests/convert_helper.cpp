#include "convert_helper.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

std::string convert_with(std::string_view input, bool break_tags, std::size_t read_size,
                         std::optional<chunk_scanner> scanner, const quote_marks& marks,
                         quote_check* check, io_threads threads,
                         unsigned char* last_char = nullptr)
{
    // fmemopen cannot open an empty buffer for reading on every libc; a
    // temporary file works for any input.
    std::FILE* in = std::tmpfile();
    if (!input.empty()) {
        std::fwrite(input.data(), 1, input.size(), in);
    }
    std::rewind(in);
    char* out_data = nullptr;
    std::size_t out_size = 0;
    std::FILE* out = open_memstream(&out_data, &out_size);

    auto st = std::make_unique<scan_state>();
    st->read_size = read_size;
    start_scan(*st, in, out, break_tags);
    if (scanner) {
        st->scan_chunks = *scanner;
    }
    st->marks = marks;
    if (check != nullptr) {
        enable_check(*st, *check);
    }
    st->background = threads != io_threads::none;
    st->read_ahead = threads == io_threads::writer_and_reader;
    scan_top_level(*st);
    if (last_char != nullptr) {
        *last_char = st->last_char;
    }
    std::fclose(in);
    std::fclose(out);
    std::string result(out_data, out_size);
    std::free(out_data);
    return result;
}

void collect_spot(const void* context, check_spot spot, unsigned long line)
{
    auto* spots = static_cast<std::vector<found_spot>*>(const_cast<void*>(context));
    spots->push_back({spot, line});
}

} // namespace

std::string scanner_convert(std::string_view input, bool break_tags, std::size_t read_size,
                            std::optional<chunk_scanner> scanner, const quote_marks& marks,
                            io_threads threads)
{
    return convert_with(input, break_tags, read_size, scanner, marks, nullptr, threads);
}

unsigned char scanner_last_char(std::string_view input, bool break_tags,
                                std::optional<chunk_scanner> scanner)
{
    unsigned char last_char = 0;
    convert_with(input, break_tags, IN_BLOCK_SIZE, scanner, GERMAN_BYTE_MARKS, nullptr,
                 io_threads::none, &last_char);
    return last_char;
}

std::string scanner_check(std::string_view input, bool break_tags, std::size_t read_size,
                          std::vector<found_spot>& spots)
{
    quote_check check;
    check.report = collect_spot;
    check.context = &spots;
    return convert_with(input, break_tags, read_size, std::nullopt, GERMAN_BYTE_MARKS, &check,
                        io_threads::none);
}

std::vector<chunk_scanner_info> every_scanner()
{
    const chunk_scanner_info* list = nullptr;
    std::size_t count = usable_chunk_scanners(&list);
    std::vector<chunk_scanner_info> all(list, list + count);
    all.push_back({"bytes only", nullptr});
    return all;
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
            quote_marks m = marks_for(static_cast<mark_style>(style), static_cast<mark_form>(form));
            all.push_back({std::string(styles[style]) + "/" + forms[form], m, text(m.open),
                           text(m.close)});
        }
    }
    return all;
}
