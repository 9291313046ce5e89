// The public interface, quib/quib.h, as a program calls it: in memory,
// between descriptors and streams, its errors, the check callback, the C++
// layer, and conversions from several threads at once.

#include <quib/quib.h>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "random_html.h"
#include "random_input.h"

namespace {

std::string in_memory(const std::string& input, const quib_options* o, int* rc = nullptr)
{
    void* out = nullptr;
    std::size_t len = 0;
    const int r = quib_convert_buffer(input.data(), input.size(), &out, &len, o);
    if (rc != nullptr) {
        *rc = r;
    }
    std::string s = out != nullptr ? std::string(static_cast<const char*>(out), len) : "";
    quib_free(out);
    return s;
}

std::string read_all(int fd)
{
    std::string s;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
        s.append(buf, static_cast<std::size_t>(n));
    }
    return s;
}

TEST(library_test, converts_in_memory_with_a_nul_after_the_output)
{
    const std::string input = "Er sagte \"Hallo <b class=\"x\">Welt</b>\" &amp; ging.";
    void* out = nullptr;
    std::size_t len = 0;
    ASSERT_EQ(quib_convert_buffer(input.data(), input.size(), &out, &len, nullptr), QUIB_OK);
    EXPECT_EQ(std::string(static_cast<const char*>(out), len),
              "Er sagte \x84Hallo <b class=\"x\">Welt</b>\x93 &amp; ging.");
    EXPECT_EQ(static_cast<const char*>(out)[len], '\0');
    quib_free(out);
    ASSERT_EQ(quib_convert_buffer(nullptr, 0, &out, &len, nullptr), QUIB_OK);
    EXPECT_EQ(len, 0u);
    quib_free(out);
}

TEST(library_test, every_option_reaches_the_conversion)
{
    quib_options o = QUIB_OPTIONS_INIT;
    o.break_tags = 1;
    o.style = QUIB_STYLE_SWISS;
    o.form = QUIB_FORM_ENTITIES;
    EXPECT_EQ(in_memory("<p><b>\"x\"", &o), "<p>\n<b>&laquo;x&raquo;");
    o = QUIB_OPTIONS_INIT;
    o.html = 1;
    EXPECT_EQ(in_memory("<meta charset=utf-8><script>a=\"b\"</script>\"c\"", &o),
              "<meta charset=utf-8><script>a=\"b\"</script>\xE2\x80\x9E" "c\xE2\x80\x9C");
    o.form = QUIB_FORM_BYTES;
    EXPECT_EQ(in_memory("<meta charset=utf-8>\"c\"", &o), "<meta charset=utf-8>\x84" "c\x93");
}

TEST(library_test, wrong_arguments_are_refused_with_einval)
{
    void* out = nullptr;
    std::size_t len = 0;
    quib_options bad = QUIB_OPTIONS_INIT;
    // As a C caller may store it: no value of the enumeration.
    const int seven = 7;
    std::memcpy(&bad.style, &seven, sizeof seven);
    struct call {
        const char* what;
        int rc;
    };
    errno = 0;
    void* kept = &len; // a caller's old value: NULL after the failure
    std::size_t kept_len = 1;
    const call calls[] = {
        {"a style out of range, output", quib_convert_buffer("x", 1, &kept, &kept_len, &bad)},
        {"no output", quib_convert_buffer("x", 1, nullptr, &len, nullptr)},
        {"no input with a length", quib_convert_buffer(nullptr, 1, &out, &len, nullptr)},
        {"a style out of range", quib_convert_buffer("x", 1, &out, &len, &bad)},
        {"a negative descriptor", quib_convert_fd(-1, 1, nullptr)},
        {"no stream", quib_convert_file(nullptr, stdout, nullptr)},
        {"a head without bytes", quib_convert_fd_after(nullptr, 3, 0, 1, nullptr)},
    };
    for (const call& c : calls) {
        EXPECT_EQ(c.rc, QUIB_ERROR_ARGUMENT) << c.what;
    }
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(kept, nullptr);
    EXPECT_EQ(kept_len, 0u);
}

// A length no buffer can have fails for want of memory, whatever its size
// (doubling the output buffer towards it must not wrap around).
TEST(library_test, impossible_lengths_fail_for_want_of_memory)
{
    const char byte = 'x';
    for (const std::size_t length :
         {SIZE_MAX, SIZE_MAX / 2 + 1, (SIZE_MAX / 8) * 7, (SIZE_MAX / 9) * 8 + 4096}) {
        void* out = &out;
        std::size_t len = 0;
        errno = 0;
        EXPECT_EQ(quib_convert_buffer(&byte, length, &out, &len, nullptr), QUIB_ERROR_MEMORY)
            << length;
        EXPECT_EQ(errno, ENOMEM) << length;
        EXPECT_EQ(out, nullptr);
    }
}

TEST(library_test, converts_between_descriptors_after_a_head_already_read)
{
    int in[2];
    int out[2];
    ASSERT_EQ(::pipe(in), 0);
    ASSERT_EQ(::pipe(out), 0);
    const std::string rest = "b\" und \"c\"";
    ASSERT_EQ(::write(in[1], rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
    ::close(in[1]);
    // Descriptors opened without blocking are waited for.
    ::fcntl(in[0], F_SETFL, O_NONBLOCK);
    ASSERT_EQ(quib_convert_fd_after("\"a ", 3, in[0], out[1], nullptr), QUIB_OK);
    ::close(out[1]);
    EXPECT_EQ(read_all(out[0]), "\x84" "a b\x93 und \x84" "c\x93");
    ::close(in[0]);
    ::close(out[0]);
}

// Once the output has failed, a source that has not ended is not waited
// for: the conversion returns while the pipe's writer still holds it open
// (a keeper closes it after half a minute, so a fault fails, not hangs).
// Into /dev/full a thread reads ahead; into a pipe the pass reads itself.
TEST(library_test, a_failed_output_waits_for_no_more_input)
{
    const auto ignored = std::signal(SIGPIPE, SIG_IGN);
    for (const bool into_pipe : {false, true}) {
        int in[2];
        int out[2] = {-1, -1};
        ASSERT_EQ(::pipe(in), 0);
        const std::string text(1 << 16, 'x'); // what a pipe holds
        ASSERT_EQ(::write(in[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        if (into_pipe) {
            ASSERT_EQ(::pipe(out), 0);
            ::close(out[0]); // no one reads: writing fails with EPIPE
        } else {
            out[1] = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        }
        std::atomic<bool> returned{false};
        std::atomic<bool> closed{false};
        std::thread keeper([&] {
            for (int tenth = 0; tenth < 300 && !returned.load(); ++tenth) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            closed.store(!returned.load());
            ::close(in[1]);
        });
        errno = 0;
        EXPECT_EQ(quib_convert_fd(in[0], out[1], nullptr), QUIB_ERROR_WRITE) << into_pipe;
        EXPECT_EQ(errno, into_pipe ? EPIPE : ENOSPC);
        returned.store(true);
        keeper.join();
        EXPECT_FALSE(closed.load()) << "the conversion waited for the end of the input, pipe "
                                    << into_pipe;
        ::close(in[0]);
        ::close(out[1]);
    }
    std::signal(SIGPIPE, ignored);
}

// A stream that fails without a reason (a full fmemopen buffer) gives
// EIO, not what some earlier call left in errno.
TEST(library_test, a_stream_failing_without_a_reason_gives_eio)
{
    static char text[20000];
    std::memset(text, 'x', sizeof text);
    char room[100];
    std::FILE* in = ::fmemopen(text, sizeof text, "r");
    std::FILE* out = ::fmemopen(room, sizeof room, "w");
    errno = 0;
    EXPECT_EQ(quib_convert_file(in, out, nullptr), QUIB_ERROR_WRITE);
    EXPECT_EQ(errno, EIO);
    std::fclose(in);
    std::fclose(out);
}

TEST(library_test, converts_between_streams_and_flushes_the_output)
{
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::fputs("x \"y\"", in);
    std::rewind(in);
    ASSERT_EQ(quib_convert_file(in, out, nullptr), QUIB_OK);
    const int fd = ::dup(fileno(out));
    ::lseek(fd, 0, SEEK_SET);
    EXPECT_EQ(read_all(fd), "x \x84y\x93");
    ::close(fd);
    std::fclose(in);
    std::fclose(out);
}

TEST(library_test, read_and_write_errors_are_told_apart)
{
    const int mem = ::open("/proc/self/mem", O_RDONLY);
    const int null = ::open("/dev/null", O_WRONLY);
    ASSERT_GE(mem, 0);
    errno = 0;
    EXPECT_EQ(quib_convert_fd(mem, null, nullptr), QUIB_ERROR_READ);
    EXPECT_EQ(errno, EIO);
    const int full = ::open("/dev/full", O_WRONLY);
    const int zero = ::open("/dev/zero", O_RDONLY);
    ::close(mem);
    int in[2];
    ASSERT_EQ(::pipe(in), 0);
    ASSERT_EQ(::write(in[1], "\"x\"", 3), 3);
    ::close(in[1]);
    errno = 0;
    EXPECT_EQ(quib_convert_fd(in[0], full, nullptr), QUIB_ERROR_WRITE);
    EXPECT_EQ(errno, ENOSPC);
    for (int fd : {null, full, zero, in[0]}) {
        ::close(fd);
    }
}

TEST(library_test, the_check_function_hears_every_spot_and_changes_nothing)
{
    std::vector<quib_spot_kind> kinds;
    std::vector<unsigned long> lines;
    struct heard {
        std::vector<quib_spot_kind>* kinds;
        std::vector<unsigned long>* lines;
    } context{&kinds, &lines};
    quib_options o = QUIB_OPTIONS_INIT;
    o.check = [](void* c, const quib_spot* spot) {
        auto* h = static_cast<heard*>(c);
        h->kinds->push_back(spot->kind);
        h->lines->push_back(spot->line);
    };
    o.check_context = &context;
    const std::string input = "Ein 12\" Monitor.\nEr sagte \"ja\".\n";
    EXPECT_EQ(in_memory(input, &o), in_memory(input, nullptr));
    EXPECT_EQ(kinds, (std::vector<quib_spot_kind>{QUIB_SPOT_QUOTE_AFTER_DIGIT, QUIB_SPOT_QUOTE_CUT_OFF}));
    EXPECT_EQ(lines, (std::vector<unsigned long>{1, 2}));
}

TEST(library_test, the_cpp_layer_converts_and_passes_on_the_check_functions_exception)
{
    quib::options o;
    o.html = true;
    o.form = QUIB_FORM_UTF8;
    EXPECT_EQ(quib::convert("<p>\"Hallo\"</p>", o), "<p>\xE2\x80\x9EHallo\xE2\x80\x9C</p>");
    int calls = 0;
    o.check = [&calls](const quib_spot&) {
        ++calls;
        throw std::runtime_error("stop");
    };
    EXPECT_THROW(quib::convert("12\"a\n12\"b\n12\"c", o), std::runtime_error);
    EXPECT_EQ(calls, 1) << "after the exception the function is not called again";
}

TEST(library_test, version_and_implementation)
{
    EXPECT_STREQ(quib_version(), QUIB_VERSION_STRING);
    const char* impl = quib_implementation();
    ASSERT_NE(impl, nullptr);
    const std::vector<std::string> known{"bytes", "portable", "sse2", "avx2", "avx512"};
    EXPECT_NE(std::find(known.begin(), known.end(), impl), known.end()) << impl;
}

// Conversions share nothing: eight threads at once give what one gives.
TEST(library_test, conversions_from_several_threads_at_once)
{
    std::mt19937_64 rng(99);
    std::vector<std::string> inputs;
    std::vector<std::string> expected;
    std::vector<int> html;
    for (int i = 0; i < 64; ++i) {
        html.push_back(i % 2);
        inputs.push_back(i % 2 != 0 ? random_html(rng, 3000) : random_input(rng, 3000));
        quib_options o = QUIB_OPTIONS_INIT;
        o.html = html.back();
        expected.push_back(in_memory(inputs.back(), &o));
    }
    std::vector<int> wrong(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                for (std::size_t i = static_cast<std::size_t>(t); i < inputs.size(); i += 3) {
                    quib_options o = QUIB_OPTIONS_INIT;
                    o.html = html[i];
                    wrong[t] += in_memory(inputs[i], &o) != expected[i] ? 1 : 0;
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(wrong, std::vector<int>(8, 0));
}

} // namespace
