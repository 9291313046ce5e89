// Loaded into the program by a command-line test: plays someone who may
// write to a folder and swaps a file of theirs with the name the program
// is about to rename. At the program's QUIB_TEST_RACE_AT-th call of
// renameat2, the source's name is first exchanged with QUIB_TEST_RACE_WITH.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/syscall.h>

#include <atomic>

namespace {
std::atomic<long> calls{0};
}

extern "C" int renameat2(int from_dir, const char* from, int to_dir, const char* to,
                         unsigned flags)
{
    const char* at = std::getenv("QUIB_TEST_RACE_AT");
    const char* with = std::getenv("QUIB_TEST_RACE_WITH");
    if (at != nullptr && with != nullptr && ++calls == std::atol(at)) {
        ::syscall(SYS_renameat2, from_dir, from, AT_FDCWD, with, RENAME_EXCHANGE);
    }
    return static_cast<int>(::syscall(SYS_renameat2, from_dir, from, to_dir, to, flags));
}
