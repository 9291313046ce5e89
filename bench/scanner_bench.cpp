// Throughput of each implementation in memory, one thread, on 64 MiB of the
// corpus: the default conversion, with -z, with UTF-8 marks, --html, and
// each of the two with --check (the spots counted, not printed).
// QUIB_BENCH_CORPUS=bench|dense|docs|scripts picks the kind of pages.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "chunk_dispatch.h"
#include "corpus.h"
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

const bool registered = [] {
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
