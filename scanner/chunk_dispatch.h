#ifndef QUIB_CHUNK_DISPATCH_H
#define QUIB_CHUNK_DISPATCH_H

// Which chunk scanner runs: every implementation built in, which of them this
// processor can run, and the one the conversions use, chosen once.

#include <cstddef>
#include <span>

#include "scanner.h"

struct implementation {
    const char* name;        // "bytes", "portable", "sse2", "avx2", "avx512"
    chunk_scanner scan;      // nullptr: the byte-at-a-time handlers alone
    html_scanner html_scan;  // nullptr: the html reading byte at a time
};

// Every implementation built in, from the byte path to the widest.
std::span<const implementation> known_implementations();
bool runs_here(const implementation& impl);

// The one the conversions use: the one the environment variable
// QUIB_IMPLEMENTATION names, else the widest this processor runs. Decided
// once, on the first call from any thread. nullptr where the variable names
// an implementation that is unknown (error EINVAL) or that this processor
// cannot run (ENOTSUP): never a silent fallback.
const implementation* chosen_implementation(int* error = nullptr);

#endif
