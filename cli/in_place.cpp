// quib --in-place [options] FILE...: each file converted into a new file in
// its folder, which replaces it only once the conversion is complete. The
// files are converted on all processors at once.

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <limits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"

namespace {

// Files up to this size are converted in memory, which tells whether the
// conversion changes anything; a file it would not change is left as it is.
// Larger ones are converted block by block into the new file, which is then
// compared with the original.
constexpr off_t IN_MEMORY_MAX = off_t{16} << 20;
constexpr unsigned MAX_WORKERS = 64;
constexpr std::size_t TEMP_PATH_MAX = PATH_MAX + 32;
// cachestat(2) (Linux 6.5), by its number where the headers are older: the
// same on every architecture but alpha, where it is not asked for.
#if defined(__NR_cachestat)
constexpr long CACHESTAT = __NR_cachestat;
#elif defined(__alpha__)
constexpr long CACHESTAT = -1;
#else
constexpr long CACHESTAT = 451;
#endif

// The new files being written, one slot per worker, for the signal handler:
// a batch that is killed leaves every original as it was or converted, and
// no new file behind. The handler runs on one thread while the others go
// on: while a worker makes or moves its file (busy), the path may not name
// it yet; the handler waits for that, and once it has begun nothing more is
// made.
struct temp_slot {
    std::atomic<bool> active{false};
    std::atomic<bool> busy{false};
    char path[TEMP_PATH_MAX] = {};
    // The file's folder, open, and where its name begins in path: it is
    // removed there also where the folder was renamed meanwhile.
    int folder_fd = -1;
    std::size_t name_at = 0;
};
temp_slot temp_slots[MAX_WORKERS];
std::atomic<bool> ending{false};

// Removes the file the slot names; safe in a signal handler.
void unlink_temp(const temp_slot& slot)
{
    if (slot.folder_fd >= 0) {
        ::unlinkat(slot.folder_fd, slot.path + slot.name_at, 0);
    } else {
        ::unlink(slot.path);
    }
}

// Names the slot's file: name, in the folder open as folder_fd, whose path
// is name's first folder_len bytes.
void name_temp(temp_slot& slot, const std::string& name, std::size_t folder_len, int folder_fd)
{
    std::memcpy(slot.path, name.c_str(), name.size() + 1);
    slot.name_at = folder_len;
    slot.folder_fd = folder_fd;
}

// Removes the file the slot names (a new version not given a name, a spare)
// and frees the slot.
void drop_temp(temp_slot& slot)
{
    unlink_temp(slot);
    slot.active.store(false);
}

extern "C" void remove_temp_files(int sig)
{
    ending.store(true);
    for (temp_slot& slot : temp_slots) {
        while (slot.busy.load()) {
        }
        if (slot.active.load()) {
            unlink_temp(slot);
        }
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// The signals that end the program by default and are sent to end it (by
// kill, timeout, the terminal, a reader gone from the pipe of stderr, a
// limit of processor time). One ignored at the start (nohup) stays ignored.
constexpr int ENDING_SIGNALS[] = {SIGTERM, SIGINT,  SIGHUP,    SIGQUIT, SIGALRM, SIGUSR1,
                                  SIGUSR2, SIGPIPE, SIGXCPU, SIGVTALRM, SIGPROF};

// Runs make, which makes or moves the slot's file and names it in the
// slot, with the slot busy and the ending signals held back from this
// thread (its own handler would wait for it forever). After the handler
// has begun, this thread makes nothing and waits for the end.
template <class Make>
auto while_busy(temp_slot& slot, Make make)
{
    sigset_t held;
    sigemptyset(&held);
    for (int sig : ENDING_SIGNALS) {
        sigaddset(&held, sig);
    }
    sigset_t before;
    ::pthread_sigmask(SIG_BLOCK, &held, &before);
    slot.busy.store(true);
    if (ending.load()) {
        slot.busy.store(false);
        for (;;) {
            ::pause();
        }
    }
    const auto result = make();
    slot.busy.store(false);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return result;
}

void catch_signals()
{
    struct sigaction action {};
    action.sa_handler = remove_temp_files;
    sigemptyset(&action.sa_mask);
    for (int sig : ENDING_SIGNALS) {
        sigaddset(&action.sa_mask, sig);
    }
    for (int sig : ENDING_SIGNALS) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
            ::sigaction(sig, &action, nullptr);
        }
    }
    // A file beyond the size limit (ulimit -f) fails with EFBIG, as one
    // file's failure, instead of ending the batch.
    ::signal(SIGXFSZ, SIG_IGN);
}

// A worker's part of the list: files [next, end), taken one by one.
struct share {
    std::size_t begin = 0;
    std::atomic<std::size_t> next{0};
    std::size_t end = 0;
    std::once_flag ordered; // by the first worker to come to it
};

struct batch {
    const char* program_name;
    run_options options;
    std::vector<const char*> files;
    share shares[MAX_WORKERS];
    std::atomic<bool> failed{false};
    std::atomic<bool> listed{false};
    // The files taken and the new versions made: a file named twice (or by
    // a link too) is converted once; a second conversion would change it
    // again (\" to ").
    std::mutex made_lock;
    std::set<std::pair<dev_t, ino_t>> made;
    std::set<std::string> named; // real paths, where inode numbers are loose
    std::mutex output; // whole messages, a file's --check lines together
};

// Notes the file of stat s as taken; false where it was already.
bool claim(batch& b, const struct stat& s)
{
    std::lock_guard<std::mutex> hold(b.made_lock);
    return b.made.insert({s.st_dev, s.st_ino}).second;
}

// The same by the file's real path, where its inode number may change.
bool claim_path(batch& b, const char* file)
{
    char resolved[PATH_MAX];
    if (::realpath(file, resolved) == nullptr) {
        return true;
    }
    std::lock_guard<std::mutex> hold(b.made_lock);
    return b.named.insert(resolved).second;
}

void release(batch& b, const struct stat& s)
{
    std::lock_guard<std::mutex> hold(b.made_lock);
    b.made.erase({s.st_dev, s.st_ino});
}

// Whether the file of stat now is the one of stat before, unchanged: its
// size, mode, owner and group, time of change, and where asked the time its
// inode changed (which a writer that puts the time of change back cannot
// keep, but which a rename changes too).
bool same_file(const struct stat& now, const struct stat& before, bool inode_time)
{
    return now.st_dev == before.st_dev && now.st_ino == before.st_ino &&
           now.st_size == before.st_size && now.st_mode == before.st_mode &&
           now.st_uid == before.st_uid && now.st_gid == before.st_gid &&
           now.st_mtim.tv_sec == before.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == before.st_mtim.tv_nsec &&
           (!inode_time || (now.st_ctim.tv_sec == before.st_ctim.tv_sec &&
                            now.st_ctim.tv_nsec == before.st_ctim.tv_nsec));
}

// File systems whose inode numbers may change while nobody has the file
// open, and whose times may be whole seconds (FAT, exFAT, FUSE, SMB): there
// a file is known by its real path too, and one read whole is compared by
// its bytes before its new version takes the name.
bool loose_identity(unsigned long fs_type)
{
    switch (fs_type) {
    case MSDOS_SUPER_MAGIC:
    case EXFAT_SUPER_MAGIC:
    case FUSE_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case CIFS_SUPER_MAGIC:
    case SMB2_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

// A descriptor closed when its holder goes.
struct open_file {
    int fd;
    explicit open_file(int f) : fd(f) {}
    ~open_file() { ::close(fd); }
    open_file(const open_file&) = delete;
    open_file& operator=(const open_file&) = delete;
};

// Whether the files a and b hold the same size bytes.
bool same_bytes(int a, int b, off_t size)
{
    constexpr std::size_t PART = std::size_t{1} << 20;
    std::string x(PART, '\0');
    std::string y(PART, '\0');
    for (off_t at = 0; at < size;) {
        const std::size_t n = static_cast<std::size_t>(std::min<off_t>(size - at, PART));
        if (::pread(a, x.data(), n, at) != static_cast<ssize_t>(n) ||
            ::pread(b, y.data(), n, at) != static_cast<ssize_t>(n) ||
            std::memcmp(x.data(), y.data(), n) != 0) {
            return false;
        }
        at += static_cast<off_t>(n);
    }
    return true;
}

void say(batch& b, const std::string& text)
{
    if (text.empty()) {
        return;
    }
    std::lock_guard<std::mutex> hold(b.output);
    if (!write_to_stderr(text.data(), text.size())) {
        b.failed.store(true); // a report or message lost is no success
    }
}

struct file_spots {
    const char* file;
    bool html;
    std::string lines;
};

void collect_spot(void* context, const quib_spot* spot)
{
    auto& s = *static_cast<file_spots*>(context);
    format_spot(s.lines, s.file, s.html, *spot);
}

bool read_all(int fd, std::string& data, off_t size_hint)
{
    data.resize(static_cast<std::size_t>(size_hint) + 1);
    std::size_t have = 0;
    for (;;) {
        if (have == data.size()) {
            data.resize(data.size() * 2);
        }
        const ssize_t n = ::read(fd, data.data() + have, data.size() - have);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        have += static_cast<std::size_t>(n);
    }
    data.resize(have);
    return true;
}

// Whether the file open as fd holds exactly text.
bool holds(int fd, const std::string& text)
{
    std::string now;
    return ::lseek(fd, 0, SEEK_SET) == 0 && read_all(fd, now, static_cast<off_t>(text.size())) &&
           now == text;
}

bool write_all(int fd, const char* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            if (w == 0) {
                errno = EIO;
            }
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

std::string folder_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A hidden name in folder for the new version of the file named base: the
// base cut where the name would pass NAME_MAX, so that every file name
// has one.
std::string hidden_name(const std::string& folder, const std::string& base,
                        const std::string& suffix)
{
    const std::size_t room = NAME_MAX - 1 - suffix.size();
    return folder + "." + base.substr(0, std::min(base.size(), room)) + suffix;
}

// The new file beside the original: hidden, so that a glob in the same
// folder does not take it up while the batch runs.
int create_temp(const std::string& real, temp_slot& slot, int folder_fd)
{
    const std::string folder = folder_of(real);
    const std::string name = hidden_name(folder, real.substr(folder.size()), ".quib-XXXXXX");
    if (name.size() >= TEMP_PATH_MAX) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return while_busy(slot, [&] {
        name_temp(slot, name, folder.size(), folder_fd);
        slot.active.store(true);
        const int fd = ::mkostemp(slot.path, O_CLOEXEC);
        if (fd < 0) {
            slot.active.store(false);
        }
        return fd;
    });
}

long inode_flags(int fd)
{
    long flags = 0;
    return ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 ? flags : -1;
}

// What a folder gives a new file in it: the inode flags it passes on (told
// by the folder's own flags) and a default access list.
struct folder_traits {
    long flags = -1;
    bool default_acl = true;
};

folder_traits traits_of(const std::string& folder)
{
    folder_traits t;
    const int fd = ::open(folder.empty() ? "." : folder.c_str(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        t.flags = inode_flags(fd);
        const ssize_t acl = ::fgetxattr(fd, "system.posix_acl_default", nullptr, 0);
        t.default_acl = acl >= 0 || (errno != ENODATA && errno != ENOTSUP);
        ::close(fd);
    }
    return t;
}

// A worker's spare inode. Where the file system can swap two names, a new
// version takes the original's name and the original's inode the new
// version's hidden name; that inode then takes the next file's new version
// (emptied first, so that pages of the old text already handed to a socket
// or pipe keep the old text). A new inode for every file and a freed one
// for every file cost more than the conversion itself: ext4 without a
// journal, for one, passes over every inode freed in the last minute when
// it looks for a free one.
struct spare_file {
    bool have = false;          // at the slot's path
    bool swapping = true;       // until the file system refuses an exchange
    dev_t dev = 0;
    ino_t ino = 0;
    std::string folder;         // where it is, with its '/'
    long fresh_flags = -1;      // the inode flags of the last new file made
    long fresh_folder_flags = -2; // its folder's flags
    std::string traits_folder;  // the folder last looked at, and what it gives
    folder_traits traits{-2, true};
    unsigned long moves = 0;    // names made for moves to other folders
    int folder_fd = -1;         // its folder, followed where that is renamed
    off_t cut_below = 0;        // a new version shorter is cut (empty_spare);
                                // 0 for a new file
    dev_t fs_dev = 0;           // the file system last looked at, and its kind
    struct statfs fs {};
    bool fs_known = false;

    spare_file() = default;
    spare_file(const spare_file&) = delete;
    spare_file& operator=(const spare_file&) = delete;
    ~spare_file()
    {
        if (folder_fd >= 0) {
            ::close(folder_fd);
        }
    }
};

// The spare is in folder from now on.
void spare_in(spare_file& sp, const std::string& folder)
{
    if (sp.folder_fd >= 0 && folder == sp.folder) {
        return;
    }
    if (sp.folder_fd >= 0) {
        ::close(sp.folder_fd);
    }
    sp.folder = folder;
    sp.folder_fd = ::open(folder.empty() ? "." : folder.c_str(),
                          O_PATH | O_DIRECTORY | O_CLOEXEC);
}

const folder_traits& traits_for(spare_file& sp, const std::string& folder)
{
    if (sp.traits_folder != folder || sp.traits.flags == -2) {
        sp.traits = traits_of(folder);
        sp.traits_folder = folder;
    }
    return sp.traits;
}

// Gives the spare, open as fd, a hidden name beside real, where it is in
// another folder; false where that fails (the name is taken, or there is
// no /proc to name the descriptor). The new name is linked to the inode
// through its descriptor, and then the old name removed: whoever may write
// the old folder may have put anything under that name meanwhile, which a
// rename would carry into real's folder.
bool move_spare(spare_file& sp, temp_slot& slot, const std::string& real, int fd)
{
    const std::string folder = folder_of(real);
    if (folder == sp.folder) {
        return true;
    }
    const std::string name =
        hidden_name(folder, real.substr(folder.size()),
                    ".quib-" + std::to_string(::getpid()) + "-" + std::to_string(++sp.moves));
    if (name.size() >= TEMP_PATH_MAX) {
        return false;
    }
    const std::string descriptor = "/proc/self/fd/" + std::to_string(fd);
    const bool moved = while_busy(slot, [&] {
        if (::linkat(AT_FDCWD, descriptor.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) !=
            0) {
            return false;
        }
        unlink_temp(slot);
        spare_in(sp, folder);
        name_temp(slot, name, folder.size(), sp.folder_fd);
        return true;
    });
    return moved;
}

// Whether the page cache holds any of the file open as fd from offset from
// on: past the end of its last page that is a page of several (a folio)
// kept across a cut because a pipe or a mapping held it. Unknown (a kernel
// before 6.5, without cachestat): yes.
bool cached_from(int fd, off_t from)
{
    struct {
        std::uint64_t off, len; // len 0: to the end
    } range{static_cast<std::uint64_t>(from), 0};
    struct {
        std::uint64_t cache, dirty, writeback, evicted, recently_evicted;
    } pages{};
    return CACHESTAT < 0 || ::syscall(CACHESTAT, fd, &range, &pages, 0) != 0 || pages.cache != 0;
}

// Empties the spare open as fd, under the lease (its length read before
// the lease could have grown meanwhile). Where the file system can, its
// text is zeroed and it keeps its blocks, and sp.cut_below tells where a
// new version is cut to its length once written: one shorter than the old
// text, or any where blocks lie past the range zeroed (reserved past the
// end, which the next file must not keep). Freeing blocks costs more than the
// conversion where the file system discards each freed block at once and
// waits for the disk (ext4 mounted with discard). Either way the old text's
// pages leave the file: the range zeroed ends on a page's and a block's
// end, and where a page of the cache reaches past it, the spare is
// truncated instead (a page cut in part would be zeroed where it is, with
// the pages handed out from it).
bool empty_spare(spare_file& sp, int fd)
{
    struct stat t {};
    if (::fstat(fd, &t) != 0) {
        return false;
    }
    const off_t page = std::max<off_t>(::sysconf(_SC_PAGESIZE), t.st_blksize);
    const off_t whole = (t.st_size + page - 1) / page * page;
    // Zeroed, the range holds blocks throughout (holes filled); any more
    // lie past it.
    struct stat zeroed {};
    if (whole == 0 ||
        (!cached_from(fd, whole) &&
         ::fallocate(fd, FALLOC_FL_ZERO_RANGE | FALLOC_FL_KEEP_SIZE, 0, whole) == 0 &&
         ::fstat(fd, &zeroed) == 0)) {
        constexpr off_t SECTOR = 512; // the unit of st_blocks
        const blkcnt_t blocks = whole == 0 ? t.st_blocks : zeroed.st_blocks;
        sp.cut_below = blocks * SECTOR > whole ? std::numeric_limits<off_t>::max() : t.st_size;
        return true;
    }
    sp.cut_below = 0;
    return ::ftruncate(fd, 0) == 0;
}

// Makes the spare, open as fd, what a new file for the file at real (stat
// s) would be, or returns false. Under a write lease, which is granted only
// while nobody else has the file open (a program that had the original
// open, a web server sending it, goes on reading the old text; the inode
// must not then take another file's text): emptied, given the owner and
// group and mode 0600, so that from then on only they may open it; no
// extended attributes (an access list, a label would carry over), a new
// file's inode flags, and a folder that gives a new file nothing else.
// One who opened it meanwhile waited for the lease and finds it empty.
bool make_spare_fresh(spare_file& sp, int fd, const std::string& real, const struct stat& s)
{
    const folder_traits& traits = traits_for(sp, folder_of(real));
    if (traits.default_acl || traits.flags != sp.fresh_folder_flags ||
        ::fcntl(fd, F_SETLEASE, F_WRLCK) != 0) {
        return false;
    }
    const bool fresh = empty_spare(sp, fd) && ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 &&
                       ::fchown(fd, s.st_uid, s.st_gid) == 0 &&
                       ::flistxattr(fd, nullptr, 0) == 0 && inode_flags(fd) == sp.fresh_flags &&
                       ::fcntl(fd, F_GETLEASE) == F_WRLCK; // no one waiting
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    return fresh;
}

// Ends the new version written into fd at its length end, where the spare
// it went into holds more (empty_spare).
bool cut_to(const spare_file& sp, int fd, off_t end)
{
    return end >= sp.cut_below || ::ftruncate(fd, end) == 0;
}

// Whether path names the inode t describes (not a link to it).
bool names_inode(const char* path, const struct stat& t)
{
    struct stat n {};
    return ::lstat(path, &n) == 0 && n.st_dev == t.st_dev && n.st_ino == t.st_ino;
}

// Whether the file open as fd has one name.
bool has_one_name(int fd)
{
    struct stat t {};
    return ::fstat(fd, &t) == 0 && t.st_nlink == 1;
}

// The spare, open for the new version of the file at real (stat s), or -1
// (then its name is removed, and a new file is made). Only a spare of the
// file's own owner and group is taken: no one who could open or link the
// last file gains anything by holding on to its inode. It is opened by its
// name in a folder others may write to, so at the end that name must still
// hold it, and nothing else may: a name kept elsewhere would show the new
// text to whoever made it.
int take_spare(spare_file& sp, temp_slot& slot, const std::string& real, const struct stat& s)
{
    sp.cut_below = 0;
    if (!sp.have) {
        return -1;
    }
    sp.have = false;
    // For reading too: a streamed conversion compares it with the original.
    const int fd = ::open(slot.path, O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    struct stat t {};
    const bool fits = fd >= 0 && ::fstat(fd, &t) == 0 && S_ISREG(t.st_mode) &&
                      t.st_dev == sp.dev && t.st_ino == sp.ino && t.st_nlink == 1 &&
                      t.st_dev == s.st_dev && t.st_uid == s.st_uid && t.st_gid == s.st_gid &&
                      make_spare_fresh(sp, fd, real, s) && move_spare(sp, slot, real, fd) &&
                      names_inode(slot.path, t) && has_one_name(fd);
    if (!fits) {
        if (fd >= 0) {
            ::close(fd);
        }
        drop_temp(slot);
        sp.cut_below = 0;
        return -1;
    }
    return fd;
}

// The original's extended attributes on its new version: its access list
// above all, without which the mode's group bits (the list's mask) would
// give its group the rights of the list's widest entry; and no access list
// where the original has none (a new file takes one from its folder's
// default list, which would give others rights the original never gave;
// a bare file, a spare made fresh, has none to take).
// false where the access list cannot be given or taken; other attributes go
// where permitted. The file's capabilities are kept in capability: the
// kernel takes them off at a change of owner and at a write, so they are
// given last (give_capability).
bool copy_attributes(int from, int to, bool bare, std::string& capability)
{
    constexpr const char* ACCESS_LIST = "system.posix_acl_access";
    constexpr const char* CAPABILITY = "security.capability";
    capability.clear();
    bool had_list = false;
    std::string names;
    if (const ssize_t size = ::flistxattr(from, nullptr, 0); size > 0) {
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::flistxattr(from, names.data(), names.size());
        if (got < 0) {
            return false;
        }
        names.resize(static_cast<std::size_t>(got));
    }
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
        const char* name = names.c_str() + at;
        const bool acl = std::strcmp(name, ACCESS_LIST) == 0;
        had_list = had_list || acl;
        const ssize_t n = ::fgetxattr(from, name, nullptr, 0);
        std::string value(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
        const ssize_t v = n < 0 ? -1 : ::fgetxattr(from, name, value.data(), value.size());
        if (v >= 0 && std::strcmp(name, CAPABILITY) == 0) {
            capability.assign(value.data(), static_cast<std::size_t>(v));
            continue;
        }
        if ((v < 0 || ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(v), 0) != 0) &&
            acl) {
            return false;
        }
    }
    return had_list || bare || ::fremovexattr(to, ACCESS_LIST) == 0 || errno == ENODATA ||
           errno == ENOTSUP;
}

// The capabilities copy_attributes kept, where permitted.
void give_capability(int to, const std::string& capability)
{
    if (!capability.empty()) {
        ::fsetxattr(to, "security.capability", capability.data(), capability.size(), 0);
    }
}

// Opens a file to be converted. O_NONBLOCK: a FIFO among the files must not
// wait for a writer (it is refused later); a regular file opens at once,
// unless another worker holds a lease on it while it empties it as its
// spare (the file's name was taken by its new version after this worker
// looked it up): that is given back within moments.
int open_source(const char* path, int flags)
{
    constexpr auto LEASE_WAIT = std::chrono::seconds(2);
    const auto until = std::chrono::steady_clock::now() + LEASE_WAIT;
    for (;;) {
        const int fd = ::open(path, flags | O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0 || errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= until) {
            return fd;
        }
        ::usleep(1000);
    }
}

// One file; false (with a message) where it failed and the original stays.
bool convert_file(batch& b, const char* file, temp_slot& slot, spare_file& sp)
{
    const auto fail = [&](const char* what, int error) {
        say(b, file_message(b.program_name, "Datei", file, what, error));
        return false;
    };
    // "<program>: Datei '<file>'" and the rest of the line.
    const auto note = [&](const std::string& rest) {
        char room[SHOWN_NAME_ROOM];
        say(b, std::string(b.program_name) + ": Datei '" + shown_name(file, room) + "'" + rest);
    };
    // What is not a regular file is refused, and before it is opened where
    // its name shows it: opening a FIFO would let a writer waiting on it go
    // on into a pipe that is closed at once, and opening a device may act
    // on it. A link is followed below.
    const auto regular_or_link = [&](const struct stat& t) {
        if (S_ISREG(t.st_mode) || S_ISLNK(t.st_mode)) {
            return true;
        }
        return fail("ist keine gewoehnliche Datei, nicht umgewandelt",
                    S_ISDIR(t.st_mode) ? EISDIR : EINVAL);
    };
    struct stat named {};
    if (::lstat(file, &named) == 0 && !regular_or_link(named)) {
        return false;
    }
    // A symbolic link stays a link: the file it points to is converted, and
    // its new version made in that file's folder. Any other name is used as
    // given (its folders may be links: the new file goes where the name
    // leads).
    std::string real = file;
    int in_fd = open_source(file, O_NOFOLLOW);
    if (in_fd < 0 && errno == ELOOP) {
        char resolved[PATH_MAX];
        if (::realpath(file, resolved) == nullptr) {
            return fail("kann nicht geoeffnet werden", errno);
        }
        real = resolved;
        if (::stat(real.c_str(), &named) == 0 && !regular_or_link(named)) {
            return false;
        }
        in_fd = open_source(real.c_str(), 0);
    }
    if (in_fd < 0) {
        return fail("kann nicht geoeffnet werden", errno);
    }
    // Open until the new version has its name: the inode keeps its number.
    const open_file original(in_fd);
    struct stat s {};
    if (::fstat(in_fd, &s) != 0) {
        return fail("kann nicht gelesen werden", errno);
    }
    if (!regular_or_link(s)) { // never a link, opened: one put in place meanwhile
        return false;
    }
    if (s.st_nlink > 1) {
        // A new file would leave the other names with the old text.
        note(" hat " + std::to_string(s.st_nlink) +
             " harte Links und wird nicht an Ort und Stelle umgewandelt\n");
        return false;
    }
    // The file is this worker's from here: another name for it, met by
    // any worker, is passed over, as is the new version once it is made.
    // The file system's kind; unknown, it is taken for the loosest.
    if (!sp.fs_known || sp.fs_dev != s.st_dev) {
        sp.fs_known = ::fstatfs(in_fd, &sp.fs) == 0;
        sp.fs_dev = s.st_dev;
    }
    const bool known = sp.fs_known;
    const struct statfs& fs = sp.fs;
    const bool loose = !known || loose_identity(static_cast<unsigned long>(fs.f_type));
    // Times in whole seconds (ext2 with small inodes, and others): a write
    // in the same second as the last change keeps them, so the bytes tell.
    const bool whole_seconds = s.st_mtim.tv_nsec == 0 && s.st_ctim.tv_nsec == 0;
    const bool overlay = known && fs.f_type == OVERLAYFS_SUPER_MAGIC;
    if (!claim(b, s) || (loose && !claim_path(b, real.c_str()))) {
        return true; // converted by this batch already
    }

    file_spots spots{file, b.options.html, {}};
    quib_options q = library_options(b.options);
    if (b.options.check) {
        q.check = collect_spot;
        q.check_context = &spots;
    }
    std::string input;
    void* output = nullptr;
    std::size_t output_len = 0;
    const bool in_memory = s.st_size <= IN_MEMORY_MAX;
    if (in_memory) {
        if (!read_all(in_fd, input, s.st_size)) {
            return fail("kann nicht gelesen werden", errno);
        }
        if (quib_convert_buffer(input.data(), input.size(), &output, &output_len, &q) != QUIB_OK) {
            return fail("kann nicht umgewandelt werden", errno);
        }
        if (!spots.lines.empty()) {
            b.listed.store(true);
            say(b, spots.lines);
        }
        if (output_len == input.size() && std::memcmp(output, input.data(), output_len) == 0) {
            quib_free(output);
            return true; // nothing to change: the original stays as it is
        }
    }

    // A folder that takes new names but gives none up (chattr +a) would
    // keep the new version under its hidden name.
    const long folder_flags = traits_for(sp, folder_of(real)).flags;
    if (folder_flags >= 0 && (folder_flags & FS_APPEND_FL) != 0) {
        quib_free(output);
        return fail("kann nicht umgewandelt werden, der Ordner nimmt nur Neues an", EPERM);
    }
    int temp_fd = take_spare(sp, slot, real, s);
    const bool recycled = temp_fd >= 0;
    if (!recycled) {
        spare_in(sp, folder_of(real));
        temp_fd = create_temp(real, slot, sp.folder_fd);
        if (temp_fd >= 0 && sp.swapping) {
            sp.fresh_flags = inode_flags(temp_fd);
            sp.fresh_folder_flags = traits_for(sp, folder_of(real)).flags;
        }
    }
    if (temp_fd < 0) {
        const int error = errno;
        quib_free(output);
        return fail("kann nicht umgewandelt werden, keine neue Datei im Ordner", error);
    }
    const auto abandon = [&](const char* what, int error) {
        ::close(temp_fd);
        drop_temp(slot);
        return fail(what, error);
    };
    std::string capability;
    if (!copy_attributes(in_fd, temp_fd, recycled, capability)) {
        const int error = errno;
        quib_free(output);
        return abandon("kann nicht umgewandelt werden, Zugriffsliste nicht uebertragbar", error);
    }
    // Owner and group where permitted, before the text; the mode after it
    // (a change of owner, and a write by anyone but root, clear the
    // set-user-ID bit). Until then the new file is its owner's alone.
    // Where the group cannot be kept, the new file's group (another one)
    // gets none of the old group's rights. A file system that gives every
    // file one owner and mode (FAT) has given them already.
    mode_t mode = s.st_mode & 07777;
    struct stat given {};
    if (!recycled && ::fchown(temp_fd, s.st_uid, s.st_gid) != 0 &&
        ::fchown(temp_fd, static_cast<uid_t>(-1), s.st_gid) != 0 &&
        (::fstat(temp_fd, &given) != 0 || given.st_gid != s.st_gid)) {
        mode &= ~static_cast<mode_t>(S_IRWXG | S_ISGID);
    }
    if (in_memory) {
        const bool written = write_all(temp_fd, static_cast<const char*>(output), output_len) &&
                             cut_to(sp, temp_fd, static_cast<off_t>(output_len));
        const int error = errno;
        quib_free(output);
        if (!written) {
            return abandon("konnte nicht geschrieben werden", error);
        }
    } else {
        int rc = quib_convert_fd(in_fd, temp_fd, &q);
        if (rc == QUIB_OK && sp.cut_below > 0) {
            const off_t end = ::lseek(temp_fd, 0, SEEK_CUR);
            if (end < 0 || !cut_to(sp, temp_fd, end)) {
                rc = QUIB_ERROR_WRITE;
            }
        }
        const int error = errno;
        // Whether the conversion changed nothing, told here by the bytes.
        struct stat out {};
        const bool unchanged = rc == QUIB_OK && ::fstat(temp_fd, &out) == 0 &&
                               out.st_size == s.st_size && same_bytes(in_fd, temp_fd, s.st_size);
        if (!spots.lines.empty()) {
            b.listed.store(true);
            say(b, spots.lines);
        }
        if (rc == QUIB_ERROR_READ) {
            return abandon("kann nicht gelesen werden", error);
        }
        if (rc != QUIB_OK) {
            return abandon("konnte nicht umgewandelt werden", error);
        }
        if (unchanged) {
            ::close(temp_fd);
            drop_temp(slot);
            return true; // the original stays as it is
        }
    }
    if (::fchmod(temp_fd, mode) != 0) {
        const int error = errno;
        if (::fstat(temp_fd, &given) != 0 || (given.st_mode & 07777) != mode) {
            return abandon("kann nicht umgewandelt werden, Rechte nicht uebertragbar", error);
        }
    }
    give_capability(temp_fd, capability);
    // The new text goes to the disk before it takes the original's name, as
    // a rename over the original would start it on ext4: where the file
    // system writes a file's blocks before the names that point to them
    // (ext4's default), a power loss then leaves the name with the old text
    // or the whole new one, never with blocks that were not written yet.
    // An exchange of names starts nothing by itself; a spare emptied for
    // this text would start it at its close, so each file pays once.
    // A file system without it says so (EINVAL and the like); any other
    // error is one of writing.
    if (::sync_file_range(temp_fd, 0, 0, SYNC_FILE_RANGE_WRITE) != 0 && errno != EINVAL &&
        errno != ENOSYS && errno != ESPIPE && errno != EOPNOTSUPP) {
        return abandon("konnte nicht geschrieben werden", errno);
    }
    // An overlay (a container's file system) passes that call to no file
    // beneath it, but passes on advice, which starts the writing too. The
    // new version is in the original's folder, on its file system.
    if (overlay) {
        ::posix_fadvise(temp_fd, 0, 0, POSIX_FADV_DONTNEED);
    }
    struct stat made {};
    ::fstat(temp_fd, &made);
    if (::close(temp_fd) != 0) {
        const int error = errno;
        drop_temp(slot);
        return fail("konnte nicht geschrieben werden", error);
    }
    // From here a worker that meets the new version under the file's name
    // passes it over.
    claim(b, made);
    const auto changed = [&] {
        release(b, made);
        note(" wurde waehrend der Umwandlung geaendert und bleibt, wie sie ist\n");
        return false;
    };
    // The name must still hold the file as it was read: the same inode,
    // size, time of change and time its inode changed (which a writer that
    // puts the time of change back cannot keep), and where times and
    // numbers are loose the same bytes. Another program may have written to
    // it, or put another file or a folder in its place, meanwhile.
    struct stat there {};
    if (::lstat(real.c_str(), &there) != 0 || !same_file(there, s, true) ||
        ((loose || whole_seconds) && in_memory && !holds(in_fd, input))) {
        drop_temp(slot);
        return changed();
    }
    if (sp.swapping) {
        // What the exchange took must still be that file (the exchange
        // changes the time its inode changed), and what it gave the file's
        // name the new version, not a file or link put in its place under
        // its hidden name; else it goes back. Held back from the signal
        // handler, which would remove what it took.
        int swapped = 0; // 1: done, -1, -3: put back, -2: not put back
        int error = 0;
        while_busy(slot, [&] {
            if (::renameat2(AT_FDCWD, slot.path, AT_FDCWD, real.c_str(), RENAME_EXCHANGE) != 0) {
                error = errno;
                return 0;
            }
            struct stat gone {};
            const bool taken = ::lstat(slot.path, &gone) == 0 && same_file(gone, s, false);
            if (taken && names_inode(real.c_str(), made)) {
                swapped = 1;
            } else if (::renameat2(AT_FDCWD, slot.path, AT_FDCWD, real.c_str(),
                                   RENAME_EXCHANGE) == 0) {
                drop_temp(slot); // the new version, or what took its name
                swapped = taken ? -3 : -1;
            } else {
                slot.active.store(false); // what was there stays, hidden
                swapped = -2;
            }
            return 0;
        });
        if (swapped == 1) {
            // The slot now names the old text, the next file's spare.
            sp.have = true;
            sp.dev = s.st_dev;
            sp.ino = s.st_ino;
            spare_in(sp, folder_of(real));
            return true;
        }
        if (swapped == -1) {
            return changed();
        }
        if (swapped == -3) {
            release(b, made);
            note(" bleibt, wie sie ist: ihre neue Fassung wurde unter ihrem verborgenen Namen"
                 " ersetzt\n");
            return false;
        }
        if (swapped == -2) {
            char room[SHOWN_NAME_ROOM];
            note(std::string(" wurde waehrend der Umwandlung ersetzt; was dort stand, liegt unter '") +
                 shown_name(slot.path, room) + "'\n");
            return false;
        }
        if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
            sp.swapping = false;
        }
    }
    if (::rename(slot.path, real.c_str()) != 0) {
        const int error = errno;
        drop_temp(slot);
        release(b, made);
        return fail("kann nicht ersetzt werden", error);
    }
    slot.active.store(false);
    return true;
}

// Puts the names of each run of files in one folder smallest first. A
// worker's spare holds the last file's old text, and the next new version
// takes its blocks: a larger one adds to them, a smaller one frees the
// rest. A name that cannot be looked up counts as empty; it fails later.
void smallest_first(const char** files, std::size_t count)
{
    std::vector<std::pair<off_t, const char*>> sized;
    sized.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        struct stat t {};
        sized.emplace_back(::stat(files[i], &t) == 0 ? t.st_size : 0, files[i]);
    }
    for (std::size_t i = 0, j = 0; i < sized.size(); i = j) {
        const std::string folder = folder_of(sized[i].second);
        for (j = i + 1; j < sized.size() && folder_of(sized[j].second) == folder; ++j) {
        }
        std::stable_sort(sized.begin() + static_cast<std::ptrdiff_t>(i),
                         sized.begin() + static_cast<std::ptrdiff_t>(j),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
    }
    for (std::size_t i = 0; i < count; ++i) {
        files[i] = sized[i].second;
    }
}

// Each worker puts the files of its own share of the list in order and
// takes them one by one, then
// helps with the others' rests: files named together mostly share a folder,
// and two workers creating and renaming files in one folder wait for each
// other in the kernel.
void work(batch& b, std::size_t worker, std::size_t workers, temp_slot& slot)
{
    spare_file sp;
    for (std::size_t k = 0; k < workers; ++k) {
        share& s = b.shares[(worker + k) % workers];
        std::call_once(s.ordered,
                       [&] { smallest_first(b.files.data() + s.begin, s.end - s.begin); });
        for (;;) {
            const std::size_t i = s.next.fetch_add(1);
            if (i >= s.end) {
                break;
            }
            if (!convert_file(b, b.files[i], slot, sp)) {
                b.failed.store(true);
            }
        }
    }
    if (sp.have) {
        drop_temp(slot);
    }
}

} // namespace

int run_in_place(const char* program_name, int argc, char** argv)
{
    batch b;
    b.program_name = program_name;
    bool options_end = false;
    for (int i = 2; i < argc; ++i) {
        const char* arg = argv[i];
        if (!options_end && std::strcmp(arg, "--") == 0) {
            options_end = true;
        } else if (!options_end && take_option(arg, b.options)) {
        } else if (!options_end && arg[0] == '-') {
            // A mistyped option must not be taken for a file name, nor "-"
            // for standard input, which has no place to be written back.
            char room[SHOWN_NAME_ROOM];
            const char* shown = shown_name(arg, room);
            std::fprintf(stderr,
                         "%s: '%s' ist keine Option von --in-place (eine Datei dieses Namens:"
                         " ./%s)\n",
                         program_name, shown, shown);
            return EXIT_FILE_ERROR;
        } else {
            b.files.push_back(arg);
        }
    }
    if (b.files.empty()) {
        std::fprintf(stderr, "%s: --in-place ohne Datei\n", program_name);
        return EXIT_FILE_ERROR;
    }
    catch_signals();
    // A lease taken on a spare is broken by anyone who opens it; quib looks
    // for that itself (F_GETLEASE) and is not to be ended by the signal.
    ::signal(SIGIO, SIG_IGN);
    // The processors quib may run on (taskset, a container's share).
    cpu_set_t allowed;
    const unsigned processors = ::sched_getaffinity(0, sizeof allowed, &allowed) == 0
                                    ? static_cast<unsigned>(CPU_COUNT(&allowed))
                                    : std::thread::hardware_concurrency();
    std::size_t workers = processors == 0 ? 1 : processors;
    workers = std::min<std::size_t>({workers, b.files.size(), MAX_WORKERS});
    for (std::size_t w = 0; w < workers; ++w) {
        b.shares[w].begin = b.files.size() * w / workers;
        b.shares[w].next.store(b.shares[w].begin);
        b.shares[w].end = b.files.size() * (w + 1) / workers;
    }
    std::vector<std::thread> pool;
    for (std::size_t w = 1; w < workers; ++w) {
        try {
            pool.emplace_back(work, std::ref(b), w, workers, std::ref(temp_slots[w]));
        } catch (const std::system_error&) {
            break; // this thread goes through every share in the end
        }
    }
    work(b, 0, workers, temp_slots[0]);
    for (std::thread& t : pool) {
        t.join();
    }
    if (b.failed.load()) {
        return EXIT_FILE_ERROR;
    }
    return b.listed.load() ? EXIT_CHECK_FOUND : EXIT_CONVERTED;
}
