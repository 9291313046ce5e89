// A C++ program built against an installed libquib: quib::convert checked
// byte for byte, an exception from the check callback carried through the C
// library, and conversions from four threads at once, each checking all of
// its results. Exit status 0 when every check passed.
#include <quib/quib.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

std::atomic<int> checks{0};
std::atomic<int> failures{0};

void check(bool ok, std::string_view what)
{
    ++checks;
    if (!ok) {
        ++failures;
        std::fprintf(stderr, "consumer.cpp: FAILED: %.*s\n", static_cast<int>(what.size()),
                     what.data());
    }
}

struct marks {
    quib_style style;
    const char* open;
    const char* close;
};

// UTF-8 marks of the three styles.
const marks styles[] = {
    {QUIB_STYLE_GERMAN, "\xe2\x80\x9e", "\xe2\x80\x9c"},
    {QUIB_STYLE_GUILLEMETS, "\xc2\xbb", "\xc2\xab"},
    {QUIB_STYLE_SWISS, "\xc2\xab", "\xc2\xbb"},
};

// One thread's work: many small conversions and a large one, each input
// different, each result compared with the one expected.
void convert_many(int thread)
{
    const marks& m = styles[thread % 3];
    quib::options o;
    o.form = QUIB_FORM_UTF8;
    o.style = m.style;
    int wrong = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string n = std::to_string(thread) + "/" + std::to_string(i);
        const std::string input = "Faden " + n + " sagt \"Zitat " + n + "\" <a href=\"" + n + "\">.";
        const std::string expected = "Faden " + n + " sagt " + m.open + "Zitat " + n + m.close +
                                     " <a href=\"" + n + "\">.";
        if (quib::convert(input, o) != expected) {
            ++wrong;
        }
    }
    std::string big;
    std::string big_expected;
    for (int i = 0; i < 20000; ++i) {
        const std::string n = std::to_string(thread * 100000 + i);
        big += "Absatz " + n + ": \"" + n + "\" <i class=\"q\">und</i> \\\"zoll\\\"\n";
        big_expected += "Absatz " + n + ": " + m.open + n + m.close +
                        " <i class=\"q\">und</i> \"zoll\"\n";
    }
    if (quib::convert(big, o) != big_expected) {
        ++wrong;
    }
    check(wrong == 0, "thread " + std::to_string(thread) + ": every conversion as expected");
}

} // namespace

int main()
{
    check(std::string_view(quib_version()) == QUIB_VERSION_STRING,
          "quib_version() is QUIB_VERSION_STRING");

    // The defaults: single windows-1252 bytes.
    check(quib::convert("Er sagte \"Hallo <b class=\"x\">Welt</b>\" &amp; ging.") ==
              "Er sagte \x84Hallo <b class=\"x\">Welt</b>\x93 &amp; ging.",
          "quib::convert with the defaults");

    quib::options html;
    html.html = true;
    html.form = QUIB_FORM_ENTITIES;
    check(quib::convert("<p>\"Hallo\"</p><script>var s = \"x\";</script>", html) ==
              "<p>&bdquo;Hallo&ldquo;</p><script>var s = \"x\";</script>",
          "quib::convert of HTML to entities");

    // Input with NUL bytes: a string_view, not a C string.
    const std::string with_nul("a\0\"b\"", 5);
    check(quib::convert(with_nul) == std::string("a\0\x84" "b\x93", 5), "input with a NUL byte");

    // The check callback sees the spot; an exception it throws comes out of
    // quib::convert, after the library has returned.
    quib::options checked;
    int after_digit = 0;
    checked.check = [&](const quib_spot& spot) {
        if (spot.kind == QUIB_SPOT_QUOTE_AFTER_DIGIT) {
            ++after_digit;
        }
    };
    check(quib::convert("Ein 3,5\" Laufwerk\"", checked) == "Ein 3,5\x84 Laufwerk\x93",
          "quib::convert with a check");
    check(after_digit == 1, "the check saw the quote after a digit");
    checked.check = [](const quib_spot&) { throw std::runtime_error("from the check"); };
    bool thrown = false;
    try {
        quib::convert("Ein 3,5\" Laufwerk", checked);
    } catch (const std::runtime_error& e) {
        thrown = std::string_view(e.what()) == "from the check";
    }
    check(thrown, "an exception of the check reaches the caller");

    // Four threads converting at once.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back(convert_many, t);
    }
    for (std::thread& t : threads) {
        t.join();
    }

    std::printf("consumer.cpp: libquib %s (%s): %d checks, %d failed\n", quib_version(),
                quib_implementation() ? quib_implementation() : "?", checks.load(),
                failures.load());
    return failures == 0 ? 0 : 1;
}
