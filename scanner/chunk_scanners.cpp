// Which chunk scanner this processor runs, chosen once at run time.

#include <cstring>

#include "scanner.h"

open_context scan_chunks_portable(scan_state& st, open_context from);
#if defined(__x86_64__)
open_context scan_chunks_sse2(scan_state& st, open_context from);
open_context scan_chunks_avx2(scan_state& st, open_context from);
open_context scan_chunks_avx512(scan_state& st, open_context from);
#endif

namespace {

const chunk_scanner_info SCANNERS[] = {
    {"portable", scan_chunks_portable},
#if defined(__x86_64__)
    {"sse2", scan_chunks_sse2},
    {"avx2", scan_chunks_avx2},
    {"avx512", scan_chunks_avx512},
#endif
};

bool runs_here(const chunk_scanner_info& s)
{
#if defined(__x86_64__)
    if (s.scan == scan_chunks_avx2) {
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul");
    }
    if (s.scan == scan_chunks_avx512) {
        return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("pclmul");
    }
#endif
    (void)s;
    return true;
}

} // namespace

std::size_t usable_chunk_scanners(const chunk_scanner_info** list)
{
    static chunk_scanner_info usable[sizeof SCANNERS / sizeof SCANNERS[0]];
    static std::size_t count = 0;
    if (count == 0) {
        for (const chunk_scanner_info& s : SCANNERS) {
            if (runs_here(s)) {
                usable[count++] = s;
            }
        }
    }
    *list = usable;
    return count;
}

// AVX-512 is kept and tested, but measured no faster than AVX2 on the Xeons
// we run on (its wider compares do not pay for the lower clock), so AVX2 is
// preferred wherever both run.
chunk_scanner best_chunk_scanner()
{
    const chunk_scanner_info* list = nullptr;
    const std::size_t count = usable_chunk_scanners(&list);
    for (std::size_t i = 0; i < count; ++i) {
        if (std::strcmp(list[i].name, "avx2") == 0) {
            return list[i].scan;
        }
    }
    return list[count - 1].scan; // the list runs from the narrowest to the widest
}
