// Throughput of each way through the scanner on 64 MiB of the corpus, from a
// memory-backed stream into /dev/null: the chunk scanners (with -z, and with
// UTF-8 marks) and the byte path.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "corpus.h"
#include "scanner.h"

namespace {

const std::string& corpus()
{
    static const std::string text = [] {
        std::string s;
        std::uint64_t seed = 0x9E3779B97F4A7C15u;
        append_corpus(s, std::size_t{64} << 20, seed);
        return s;
    }();
    return text;
}

void scan(benchmark::State& state, chunk_scanner scanner, bool break_tags, quote_marks marks)
{
    const std::string& text = corpus();
    auto st = std::make_unique<scan_state>();
    std::FILE* out = std::fopen("/dev/null", "w");
    for (auto _ : state) {
        std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
        start_scan(*st, in, out, break_tags);
        st->scan_chunks = scanner;
        st->marks = marks;
        scan_top_level(*st);
        std::fclose(in);
    }
    std::fclose(out);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

const bool registered = [] {
    const chunk_scanner_info* list = nullptr;
    const std::size_t count = usable_chunk_scanners(&list);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string name = list[i].name;
        benchmark::RegisterBenchmark(("chunks/" + name).c_str(), scan, list[i].scan, false,
                                     GERMAN_BYTE_MARKS)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("chunks-z/" + name).c_str(), scan, list[i].scan, true,
                                     GERMAN_BYTE_MARKS)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("chunks-utf8/" + name).c_str(), scan, list[i].scan, false,
                                     marks_for(mark_style::german, mark_form::utf8))
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("bytes only", scan, nullptr, false, GERMAN_BYTE_MARKS)
        ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace

BENCHMARK_MAIN();
