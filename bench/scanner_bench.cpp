// Throughput of each implementation in memory, one thread, on 64 MiB of the
// corpus: the default conversion, with -z, with UTF-8 marks, --html, and
// each of the two with --check (the spots counted, not printed). And one
// part of --html's cost on its own: the look-up of every tag's name (the
// names found beforehand), per byte of the corpus's first MiB, which stays
// in the cache as the bytes of a conversion's current block do.
// QUIB_BENCH_CORPUS=bench|dense|docs|scripts picks the kind of pages.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "chunk_dispatch.h"
#include "corpus.h"
#include "html_tables.h"
#include "pass.h"

namespace {

const std::string& corpus()
{
    static const std::string text = [] {
        std::string s;
        std::uint64_t seed = 0x9E3779B97F4A7C15u;
        corpus_kind kind = corpus_kind::bench;
        const char* name = std::getenv("QUIB_BENCH_CORPUS");
        if (name != nullptr && !corpus_kind_named(name, kind)) {
            std::fprintf(stderr, "QUIB_BENCH_CORPUS: no corpus '%s'\n", name);
            std::exit(2);
        }
        append_corpus(s, std::size_t{64} << 20, seed, kind);
        return s;
    }();
    return text;
}

void scan(benchmark::State& state, const implementation* impl, pass_options o)
{
    const std::string& text = corpus();
    o.impl = impl;
    o.threads = thread_choice::none;
    // One output buffer for every run, so its pages are faulted in once.
    byte_sink sink;
    for (auto _ : state) {
        byte_source source;
        source.kind = io_kind::memory;
        source.data = reinterpret_cast<const unsigned char*>(text.data());
        source.size = text.size();
        sink.length = 0;
        const pass_result r = run_pass(source, sink, o);
        benchmark::DoNotOptimize(sink.buffer);
        if (r.setup_error != 0) {
            state.SkipWithError("the pass could not start");
        }
    }
    std::free(sink.buffer);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// Where each tag's name begins and how long it is, as --html reads tags: a
// '<' or "</" before a letter, the name up to a blank, '/' or '>'.
struct tag_name {
    std::uint32_t at;
    std::uint8_t len;
};

constexpr std::size_t TAG_SAMPLE = std::size_t{1} << 20;

std::vector<tag_name> tag_names(const unsigned char* p, std::size_t n)
{
    std::vector<tag_name> names;
    for (std::size_t i = 0; i + 2 < n; ++i) {
        if (p[i] != '<') {
            continue;
        }
        const std::size_t at = i + (p[i + 1] == '/' ? 2 : 1);
        if (!is_letter(p[at])) {
            continue;
        }
        std::size_t end = at;
        while (end < n && !is_blank(p[end]) && p[end] != '/' && p[end] != '>') {
            ++end;
        }
        if (end - at <= HTML_NAME_MAX) {
            names.push_back({static_cast<std::uint32_t>(at), static_cast<std::uint8_t>(end - at)});
        }
    }
    return names;
}

void look_up_tag_names(benchmark::State& state)
{
    const std::string& text = corpus();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t sample = std::min(text.size(), TAG_SAMPLE);
    const std::vector<tag_name> names = tag_names(p, sample);
    for (auto _ : state) {
        unsigned kinds = 0;
        for (const tag_name& t : names) {
            const element_kind k = element_at(p + t.at, t.len);
            kinds += static_cast<unsigned>(k.block) + static_cast<unsigned>(k.verbatim + 1) +
                     static_cast<unsigned>(k.raw + 1);
        }
        benchmark::DoNotOptimize(kinds);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sample));
    state.counters["bytes_per_tag"] =
        static_cast<double>(sample) / static_cast<double>(names.size());
}

const bool registered = [] {
    benchmark::RegisterBenchmark("tag-names", look_up_tag_names)->Unit(benchmark::kMillisecond);
    for (const implementation& impl : known_implementations()) {
        if (!runs_here(impl)) {
            continue;
        }
        const std::string name = impl.name;
        pass_options plain;
        plain.form = mark_form::bytes;
        pass_options z = plain;
        z.break_tags = true;
        pass_options utf8 = plain;
        utf8.form = mark_form::utf8;
        pass_options html = plain;
        html.html = true;
        pass_options check = plain;
        check.check = true;
        pass_options html_check = html;
        html_check.check = true;
        benchmark::RegisterBenchmark(("default/" + name).c_str(), scan, &impl, plain)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("z/" + name).c_str(), scan, &impl, z)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("utf8/" + name).c_str(), scan, &impl, utf8)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("html/" + name).c_str(), scan, &impl, html)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("check/" + name).c_str(), scan, &impl, check)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("html-check/" + name).c_str(), scan, &impl, html_check)
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
