// Feeds one input through every way the scanner has (each chunk scanner and
// the byte path, at a read size taken from the input, and the default way
// with a writing thread, or a writing and a reading one) and through the
// reference model; any difference aborts with the input as a pasteable byte
// vector. The first byte chooses -z, the read size and the marks.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "convert_helper.h"
#include "reference_scanner.h"

namespace {

void report_difference(const char* scanner, std::string_view input, bool break_tags,
                       std::size_t read_size, const std::string& marks)
{
    std::fprintf(stderr,
                 "quib fuzz: %s differs from the reference (-z %s, read size %zu, marks %s)\n",
                 scanner, break_tags ? "on" : "off", read_size, marks.c_str());
    std::fprintf(stderr, "const unsigned char input[] = {");
    for (std::size_t i = 0; i < input.size(); ++i) {
        std::fprintf(stderr, "%s0x%02x", i == 0 ? "" : ", ", static_cast<unsigned char>(input[i]));
    }
    std::fprintf(stderr, "};\n");
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const bool break_tags = (data[0] & 1) != 0;
    static constexpr std::size_t READ_SIZES[] = {1, 3, 20, 63, 64, 65, 100, 128, 4096,
                                                 IN_BLOCK_SIZE};
    const std::size_t read_size = READ_SIZES[(data[0] >> 1) % std::size(READ_SIZES)];
    static const std::vector<mark_choice> choices = every_mark_choice();
    const mark_choice& marks = choices[(data[0] >> 5) % choices.size()];
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::string expected = reference_convert(input, break_tags, marks.open, marks.close);
    for (const chunk_scanner_info& s : every_scanner()) {
        if (scanner_convert(input, break_tags, read_size, s.scan, marks.marks) != expected) {
            report_difference(s.name, input, break_tags, read_size, marks.name);
        }
    }
    // The threads as the program has them: a writer, and a reader too into
    // a device; which one by the input's length.
    const io_threads threads = size % 2 == 0 ? io_threads::writer : io_threads::writer_and_reader;
    if (scanner_convert(input, break_tags, read_size, std::nullopt, marks.marks, threads) !=
        expected) {
        report_difference(threads == io_threads::writer ? "the default way with a writing thread"
                                                        : "the default way with both threads",
                          input, break_tags, read_size, marks.name);
    }
    return 0;
}
