// Every way through the scanner against the reference model: random inputs,
// every read size of short inputs, and the table's cases at every offset
// from a chunk boundary.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "background_io.h"
#include "block_io.h"
#include "convert_helper.h"
#include "random_input.h"
#include "reference_scanner.h"
#include "test_data.h"

namespace {

constexpr std::size_t READ_SIZES[] = {1, 2, 3, 5, 17, 63, 64, 65, 100, 127, 128, 129, 200, 1000,
                                      IN_BLOCK_SIZE};

TEST(differential_test, every_scanner_equals_reference_on_random_inputs)
{
    std::mt19937_64 rng(20261208);
    const auto scanners = every_scanner();
    for (int round = 0; round < 3000; ++round) {
        std::string input = random_input(rng, round % 3 == 0 ? 600 : 80);
        bool break_tags = round % 2 == 1;
        std::size_t read_size = READ_SIZES[rng() % std::size(READ_SIZES)];
        std::string expected = reference_convert(input, break_tags);
        for (const implementation& s : scanners) {
            ASSERT_EQ(scanner_convert(input, break_tags, read_size, &s), expected)
                << s.name << ", round " << round << ", read size " << read_size;
        }
    }
}

TEST(differential_test, every_block_split_of_short_inputs)
{
    std::mt19937_64 rng(77);
    const auto scanners = every_scanner();
    for (int round = 0; round < 40; ++round) {
        std::string input = random_input(rng, 70);
        for (bool break_tags : {false, true}) {
            std::string expected = reference_convert(input, break_tags);
            for (std::size_t read_size = 1; read_size <= input.size() + 1; ++read_size) {
                for (const implementation& s : scanners) {
                    ASSERT_EQ(scanner_convert(input, break_tags, read_size, &s), expected)
                        << s.name << ", round " << round << ", read size " << read_size;
                }
            }
        }
    }
}

// A case's bytes only reach the chunk scanners with 64 bytes behind them and
// at varying distances from a chunk boundary: pad before with plain text and
// after with more to convert.
TEST(differential_test, table_cases_padded_to_reach_the_chunks)
{
    const auto scanners = every_scanner();
    const std::string after = " und \"noch\" <i>etwas</i> Text &amp; \"mehr\" <b>x</b><p>zum Schluss.";
    for (const case_entry& c : conversion_cases()) {
        const bool z = c.has_option("-z");
        for (std::size_t before : {0, 1, 31, 63, 64, 65, 100}) {
            for (const std::string& tail : {std::string(), after + after}) {
                std::string input = std::string(before, 'x') + c.input + tail;
                std::string expected = reference_convert(input, z);
                for (const implementation& s : scanners) {
                    for (std::size_t read_size : {std::size_t{64}, std::size_t{97}, IN_BLOCK_SIZE}) {
                        ASSERT_EQ(scanner_convert(input, z, read_size, &s), expected)
                            << s.name << ", " << c.name << ", " << before << " before, read size "
                            << read_size;
                    }
                }
            }
        }
    }
}

TEST(differential_test, every_style_and_form_equals_reference)
{
    std::mt19937_64 rng(1852);
    const auto scanners = every_scanner();
    const auto choices = every_mark_choice();
    for (int round = 0; round < 1500; ++round) {
        std::string input = random_input(rng, round % 3 == 0 ? 600 : 80);
        bool break_tags = round % 2 == 1;
        const mark_choice& m = choices[rng() % choices.size()];
        std::size_t read_size = READ_SIZES[rng() % std::size(READ_SIZES)];
        std::string expected = reference_convert(input, break_tags, m.open, m.close);
        for (const implementation& s : scanners) {
            ASSERT_EQ(scanner_convert(input, break_tags, read_size, &s, &m), expected)
                << s.name << ", " << m.name << ", round " << round << ", read size " << read_size;
        }
    }
}

TEST(differential_test, long_inputs_cross_many_blocks)
{
    std::mt19937_64 rng(4242);
    const auto scanners = every_scanner();
    for (int round = 0; round < 6; ++round) {
        std::string input = random_input(rng, 200000);
        bool break_tags = round % 2 == 0;
        std::string expected = reference_convert(input, break_tags);
        for (const implementation& s : scanners) {
            ASSERT_EQ(scanner_convert(input, break_tags, IN_BLOCK_SIZE, &s), expected)
                << s.name << ", round " << round;
            ASSERT_EQ(scanner_convert(input, break_tags, 4099, &s), expected)
                << s.name << ", round " << round;
        }
    }
}

// Prose with an entity every few dozen bytes, long enough that the chunks
// settle entities without testing each chunk for an '&' first.
TEST(differential_test, long_prose_dense_with_entities)
{
    static const char* const tokens[] = {"Haus ", "der ", ("Stra\xDF" "e "), "und ", "&amp; ",
                                         "&uuml;", "&ndash; ", "&auml;ber ", "\"", "<p>",
                                         "</p>\n", "<b class=\"x\">", "</b> ", "\n",
                                         "&unknownname "};
    // Quote entities end the plain chunks' loop: rarer.
    static const char* const rare[] = {"&quot;", "&bdquo;", "&#8222;", "\\\""};
    std::mt19937_64 rng(75);
    const auto scanners = every_scanner();
    for (int round = 0; round < 4; ++round) {
        std::string input;
        while (input.size() < 300000) {
            input += rng() % 32 == 0 ? rare[rng() % std::size(rare)] : tokens[rng() % std::size(tokens)];
        }
        const bool break_tags = round == 3;
        const std::string expected = reference_convert(input, break_tags);
        for (const implementation& s : scanners) {
            ASSERT_EQ(scanner_convert(input, break_tags, IN_BLOCK_SIZE, &s), expected)
                << s.name << ", round " << round;
            ASSERT_EQ(scanner_convert(input, break_tags, 4099, &s), expected)
                << s.name << ", round " << round;
        }
    }
}

// Reading ahead and writing behind on threads must not change a byte: short
// inputs at every read size (the ring of blocks wraps many times), long ones
// that fill it, every mark choice, with and without -z and the chunks.
TEST(differential_test, background_threads_give_the_same_output)
{
    std::mt19937_64 rng(8128);
    const auto choices = every_mark_choice();
    const implementation* const ways[] = {nullptr, byte_path()};
    for (io_threads threads : {io_threads::writer, io_threads::writer_and_reader}) {
        EXPECT_EQ(scanner_convert("", false, IN_BLOCK_SIZE, nullptr, nullptr, threads), "");
    }
    for (int round = 0; round < 600; ++round) {
        const bool long_input = round % 50 == 0;
        std::string input = random_input(rng, long_input ? 1500000 : round % 3 == 0 ? 600 : 80);
        bool break_tags = round % 2 == 1;
        const mark_choice& m = choices[rng() % choices.size()];
        std::size_t read_size =
            long_input ? (round % 100 == 0 ? IN_BLOCK_SIZE : 4099) : READ_SIZES[rng() % std::size(READ_SIZES)];
        std::string expected = reference_convert(input, break_tags, m.open, m.close);
        const io_threads threads = round % 4 < 2 ? io_threads::writer_and_reader : io_threads::writer;
        for (const auto& way : ways) {
            ASSERT_EQ(scanner_convert(input, break_tags, read_size, way, &m, threads), expected)
                << (way != nullptr ? "bytes only" : "chunks") << ", " << m.name << ", round " << round
                << ", read size " << read_size
                << (threads == io_threads::writer ? ", writer" : ", writer and reader");
        }
    }
}

// A thread and its ring cost more than they save on a page: a regular file
// of a page's size is converted on the pass's own thread; a long one, or a
// pipe whose length is not known, gets the writer.
TEST(differential_test, threads_only_for_long_inputs)
{
    struct {
        const char* source;
        off_t size;
        bool writer;
    } const cases[] = {{"empty file", 0, false},
                       {"page", 200 << 10, false},
                       {"long file", off_t{64} << 20, true},
                       {"pipe", -1, true}};
    std::FILE* target = std::tmpfile();
    ASSERT_NE(target, nullptr);
    for (const auto& c : cases) {
        int fds[2] = {-1, -1};
        std::FILE* file = nullptr;
        byte_source source;
        source.kind = io_kind::fd;
        if (c.size < 0) {
            ASSERT_EQ(::pipe(fds), 0);
            source.fd = fds[0];
        } else {
            file = std::tmpfile();
            ASSERT_NE(file, nullptr);
            ASSERT_EQ(::ftruncate(fileno(file), c.size), 0); // sparse: no bytes written
            source.fd = fileno(file);
        }
        byte_sink sink;
        sink.kind = io_kind::fd;
        sink.fd = fileno(target);
        EXPECT_EQ(plan_threads(source, sink, false).writer, c.writer) << c.source;
        if (file != nullptr) {
            std::fclose(file);
        } else {
            ::close(fds[0]);
            ::close(fds[1]);
        }
    }
    std::fclose(target);
}

// last_char is only consulted by -z, so only a direct look shows it kept
// exactly: after inputs that end without a later event (in an open tag, a
// nested one, or an entity), from chunks that passed entities reaching into the next chunk
// or followed by more letters than a name takes.
TEST(differential_test, last_char_is_kept_exactly)
{
    std::mt19937_64 rng(1312);
    const auto scanners = every_scanner();
    std::vector<std::string> inputs;
    for (std::size_t at = 40; at < 70; ++at) {
        for (const char* tail : {"<i unterminated", "&unknown", "\\", "<i open \\\"q",
                                 "\"open \\\\x"}) {
            inputs.push_back(std::string(at, 'x') + "&abcdefgh;" + std::string(5, 'y') + "&ab;" +
                             tail + std::string(70, 'z'));
            inputs.push_back(std::string(at, 'x') + "&abcdefgh;" + tail + std::string(70, 'z'));
        }
    }
    // A nested tag left open at the end, a '>' of it far from the stops.
    for (std::size_t at = 0; at < 260; at += 13) {
        inputs.push_back("<a <b " + std::string(at, 'x') + ">" + std::string(260, 'y'));
    }
    // Names of up to ENTITY_NAME_MAX bytes and longer runs of letters after
    // an '&': the letters past the name are text again.
    for (std::size_t at = 0; at < 64; ++at) {
        for (std::size_t letters = 9; letters <= 14; ++letters) {
            inputs.push_back(std::string(at, 'x') + "&" + std::string(letters, 'n') + "<i open" +
                             std::string(70, 'z'));
        }
    }
    for (int round = 0; round < 2000; ++round) {
        inputs.push_back(random_input(rng, round % 3 == 0 ? 600 : 150));
    }
    for (const std::string& input : inputs) {
        for (bool break_tags : {false, true}) {
            const unsigned char expected = scanner_last_char(input, break_tags, byte_path());
            for (const implementation& s : scanners) {
                ASSERT_EQ(scanner_last_char(input, break_tags, &s), expected)
                    << s.name << ", input " << input.substr(0, 200);
            }
        }
    }
}

} // namespace

namespace {

bool cpu_has(const std::string& flag)
{
    std::FILE* f = std::fopen("/proc/cpuinfo", "r");
    if (f == nullptr) {
        return false;
    }
    char line[8192];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, "flags", 5) == 0) {
            found = std::strstr(line, (" " + flag + " ").c_str()) != nullptr ||
                    std::strstr(line, (" " + flag + "\n").c_str()) != nullptr;
        }
    }
    std::fclose(f);
    return found;
}

// Which implementations this run tests and which this processor cannot run,
// so that an untested path shows in the log; the default is the widest, and
// the choice agrees with what the processor says of itself.
TEST(implementations, every_one_this_processor_runs_is_tested)
{
    std::string ran;
    std::string not_here;
    for (const implementation& impl : known_implementations()) {
        (runs_here(impl) ? ran : not_here) += std::string(" ") + impl.name;
    }
    std::printf("implementations tested here:%s; not on this processor:%s\n", ran.c_str(),
                not_here.empty() ? " none" : not_here.c_str());
    const auto scanners = every_scanner();
    ASSERT_GE(scanners.size(), 2u);
    EXPECT_STREQ(scanners.front().name, "bytes");
    if (std::getenv("QUIB_IMPLEMENTATION") == nullptr) {
        EXPECT_STREQ(chosen_implementation()->name, scanners.back().name);
    }
#if defined(__x86_64__)
    for (const implementation& impl : known_implementations()) {
        const std::string name = impl.name;
        if (name == "avx2") {
            EXPECT_EQ(runs_here(impl), cpu_has("avx2") && cpu_has("bmi2"));
        } else if (name == "avx512") {
            EXPECT_EQ(runs_here(impl), cpu_has("avx512bw") && cpu_has("bmi2"));
        } else {
            EXPECT_TRUE(runs_here(impl)) << name;
        }
    }
#endif
}

} // namespace
