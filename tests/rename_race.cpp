// Loaded into the program by a command-line test: plays someone who may
// write to a folder, acting on the name of the file the program is about
// to rename or link. At the program's QUIB_TEST_RACE_AT-th call of
// renameat2 or linkat, that name is first exchanged with QUIB_TEST_RACE_WITH
// or, where QUIB_TEST_RACE_HOW is "link", linked to it as a second name. A
// link made from a descriptor (/proc/self/fd/N) acts on the name the
// descriptor's file has.

#include <fcntl.h>
#include <limits.h>
#include <cstdlib>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<long> calls{0};

void race(const char* name)
{
    const char* at = std::getenv("QUIB_TEST_RACE_AT");
    const char* with = std::getenv("QUIB_TEST_RACE_WITH");
    if (at == nullptr || with == nullptr || ++calls != std::atol(at)) {
        return;
    }
    char path[PATH_MAX];
    const ssize_t n = ::readlink(name, path, sizeof path - 1);
    if (std::strncmp(name, "/proc/self/fd/", 14) == 0 && n > 0) {
        path[n] = '\0';
        name = path;
    }
    const char* how = std::getenv("QUIB_TEST_RACE_HOW");
    if (how != nullptr && std::strcmp(how, "link") == 0) {
        ::syscall(SYS_linkat, AT_FDCWD, name, AT_FDCWD, with, 0);
    } else {
        ::syscall(SYS_renameat2, AT_FDCWD, name, AT_FDCWD, with, RENAME_EXCHANGE);
    }
}

} // namespace

extern "C" int renameat2(int from_dir, const char* from, int to_dir, const char* to,
                         unsigned flags)
{
    race(from);
    return static_cast<int>(::syscall(SYS_renameat2, from_dir, from, to_dir, to, flags));
}

extern "C" int linkat(int from_dir, const char* from, int to_dir, const char* to, int flags)
{
    race(from);
    return static_cast<int>(::syscall(SYS_linkat, from_dir, from, to_dir, to, flags));
}
