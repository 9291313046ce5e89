// Which chunk scanner this processor runs, chosen once at run time.

#include "chunk_dispatch.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

open_context scan_chunks_portable(scan_state& st, open_context from);
void scan_html_portable(scan_state& st);
#if defined(__x86_64__)
open_context scan_chunks_sse2(scan_state& st, open_context from);
open_context scan_chunks_avx2(scan_state& st, open_context from);
open_context scan_chunks_avx512(scan_state& st, open_context from);
void scan_html_sse2(scan_state& st);
void scan_html_avx2(scan_state& st);
void scan_html_avx512(scan_state& st);
#endif

namespace {

const implementation IMPLEMENTATIONS[] = {
    {"bytes", nullptr, nullptr},
    {"portable", scan_chunks_portable, scan_html_portable},
#if defined(__x86_64__)
    {"sse2", scan_chunks_sse2, scan_html_sse2},
    {"avx2", scan_chunks_avx2, scan_html_avx2},
    {"avx512", scan_chunks_avx512, scan_html_avx512},
#endif
};

struct choice {
    const implementation* impl;
    int error;
};

choice choose()
{
    const char* wanted = std::getenv("QUIB_IMPLEMENTATION");
    const implementation* widest = nullptr;
    for (const implementation& impl : IMPLEMENTATIONS) {
        if (runs_here(impl)) {
            widest = &impl;
        }
    }
    if (wanted == nullptr || *wanted == '\0') {
        return {widest, 0};
    }
    for (const implementation& impl : IMPLEMENTATIONS) {
        if (std::strcmp(impl.name, wanted) == 0) {
            return runs_here(impl) ? choice{&impl, 0} : choice{nullptr, ENOTSUP};
        }
    }
    return {nullptr, EINVAL};
}

} // namespace

std::span<const implementation> known_implementations()
{
    return IMPLEMENTATIONS;
}

bool runs_here(const implementation& impl)
{
#if defined(__x86_64__)
    // The files for AVX2 and AVX-512 are also compiled for BMI1 and BMI2,
    // which every processor with either has.
    const bool bmi = __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    if (impl.scan == scan_chunks_avx2) {
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul") && bmi;
    }
    if (impl.scan == scan_chunks_avx512) {
        return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("pclmul") && bmi;
    }
#endif
    (void)impl;
    return true;
}

const implementation* chosen_implementation(int* error)
{
    // A function's static is set up once, whichever thread comes first.
    static const choice chosen = choose();
    if (error != nullptr) {
        *error = chosen.error;
    }
    return chosen.impl;
}
