// Feeds one input through the public interface in memory and through every
// implementation this processor runs (the byte path included, at a read
// size taken from the input), and compares all with the reference model of
// the default conversion or of --html; on a fraction of the inputs also
// through the reading and writing threads; and with --check, whose spots
// must be the byte path's on every implementation. Any difference aborts
// with the input as a pasteable byte vector. The first byte chooses -z
// (bit 0), the read size (bits 1-3), --html (bit 4) and the marks (bits 5-7).

#include <quib/quib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "convert_helper.h"
#include "html_reference.h"
#include "reference_scanner.h"

namespace {

[[noreturn]] void report_difference(const char* way, std::string_view input,
                                    const convert_setup& s, const std::string& marks)
{
    std::fprintf(stderr,
                 "quib fuzz: %s differs from the reference (-z %s, --html %s, read size %zu,"
                 " marks %s)\n",
                 way, s.break_tags ? "on" : "off", s.html ? "on" : "off", s.read_size,
                 marks.c_str());
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
    static constexpr std::size_t READ_SIZES[8] = {1, 3, 20, 64, 65, 128, 4096, IN_BLOCK_SIZE};
    static const std::vector<mark_choice> choices = every_mark_choice();
    static const std::vector<implementation> implementations = every_scanner();
    convert_setup s;
    s.break_tags = (data[0] & 1) != 0;
    s.html = (data[0] & 0x10) != 0;
    s.read_size = READ_SIZES[(data[0] >> 1) & 7];
    const mark_choice& marks = choices[(data[0] >> 5) % choices.size()];
    s.marks = &marks;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::string expected =
        s.html ? html_reference_convert(input, s.break_tags, marks.open, marks.close)
               : reference_convert(input, s.break_tags, marks.open, marks.close);
    for (const implementation& impl : implementations) {
        s.impl = &impl;
        if (convert(input, s) != expected) {
            report_difference(impl.name, input, s, marks.name);
        }
    }
    // --check converts the same, and every implementation reports the spots
    // the byte path reports, in the same order.
    std::vector<found_spot> byte_spots;
    s.impl = byte_path();
    if (scanner_check(input, s, byte_spots) != expected) {
        report_difference("--check on the byte path", input, s, marks.name);
    }
    for (const implementation& impl : implementations) {
        s.impl = &impl;
        std::vector<found_spot> spots;
        if (scanner_check(input, s, spots) != expected || spots != byte_spots) {
            report_difference("--check", input, s, marks.name);
        }
    }
    s.impl = nullptr;
    // The public interface, in memory, as a program calls it.
    quib_options o = QUIB_OPTIONS_INIT;
    o.break_tags = s.break_tags ? 1 : 0;
    o.html = s.html ? 1 : 0;
    o.style = static_cast<quib_style>(static_cast<int>(marks.style));
    o.form = static_cast<quib_form>(static_cast<int>(marks.form) + 1);
    void* out = nullptr;
    std::size_t out_len = 0;
    if (quib_convert_buffer(input.data(), input.size(), &out, &out_len, &o) != QUIB_OK ||
        std::string_view(static_cast<const char*>(out), out_len) != expected) {
        report_difference("quib_convert_buffer", input, s, marks.name);
    }
    quib_free(out);
    // The threads, on one input in eight: their start costs more than the rest.
    if (size % 8 == 0) {
        s.threads = size % 16 == 0 ? io_threads::writer : io_threads::writer_and_reader;
        if (convert(input, s) != expected) {
            report_difference(s.threads == io_threads::writer ? "the writing thread"
                                                              : "both threads",
                              input, s, marks.name);
        }
    }
    return 0;
}
