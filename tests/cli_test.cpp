// The built program, run as a user runs it: the cases of tests/data/
// cli.cases, and what needs control of the process itself (other users,
// closed descriptors, signals, memory limits).

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_data.h"

namespace fs = std::filesystem;

namespace {

struct run_result {
    int status = -1;
    std::string out;
    std::string err;
};

struct run_setup {
    std::string program_name = QUIB_EXE; // argv[0]
    std::string stdin_data;
    std::string stdin_file;              // empty: a pipe with stdin_data
    std::string stdout_file;             // empty: a pipe
    bool stdout_append = false;
    uid_t as_user = 0;                   // not 0: run as this user (the test must be root)
    std::string exe = QUIB_EXE;
    rlim_t address_space = RLIM_INFINITY;
    std::vector<std::string> environment; // NAME=value, added to the test's own
    std::function<void()> in_child;      // last thing before exec
};

std::string read_fd(int fd)
{
    std::string s;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) {
        s.append(buf, static_cast<std::size_t>(n));
    }
    return s;
}

std::string slurp(const fs::path& p)
{
    std::string s;
    const int fd = ::open(p.c_str(), O_RDONLY);
    if (fd >= 0) {
        s = read_fd(fd);
        ::close(fd);
    }
    return s;
}

void spit(const fs::path& p, const std::string& data)
{
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (f != nullptr) {
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
}

constexpr unsigned CHILD_SECONDS = 300;

// Writes text to a pipe whose reader may already have quit (a program that
// refuses its arguments never reads its input). The SIGPIPE of that write is
// blocked and taken back, so it cannot end the test itself.
void write_unless_closed(int fd, const std::string& text)
{
    sigset_t pipe_signal;
    sigset_t before;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
    (void)!::write(fd, text.data(), text.size());
    const timespec no_wait{};
    while (::sigtimedwait(&pipe_signal, nullptr, &no_wait) == SIGPIPE) {
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// Runs the program with args in dir. stderr goes to a file so that a large
// stdout cannot block the child.
run_result run(const std::vector<std::string>& args, const fs::path& dir, const run_setup& s = {})
{
    int out_pipe[2];
    int in_pipe[2];
    if (::pipe(out_pipe) != 0 || ::pipe(in_pipe) != 0) {
        std::abort();
    }
    const fs::path err_path = dir / ".stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(s.stdin_file.empty() ? in_pipe[0] : ::open((dir / s.stdin_file).c_str(), O_RDONLY), 0);
        if (s.stdout_file.empty()) {
            ::dup2(out_pipe[1], 1);
        } else {
            const int fd = ::open((dir / s.stdout_file).c_str(),
                                  O_WRONLY | O_CREAT | (s.stdout_append ? O_APPEND : O_TRUNC), 0644);
            ::dup2(fd, 1);
        }
        const int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(err_fd, 2);
        ::close(in_pipe[1]);
        ::close(out_pipe[0]);
        if (s.as_user != 0 && (::setgid(s.as_user) != 0 || ::setuid(s.as_user) != 0)) {
            ::_exit(125);
        }
        if (::chdir(dir.c_str()) != 0) {
            ::_exit(126);
        }
        const rlimit limit{s.address_space, s.address_space};
        if (s.address_space != RLIM_INFINITY && ::setrlimit(RLIMIT_AS, &limit) != 0) {
            ::_exit(124);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(s.program_name.c_str()));
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        for (const std::string& e : s.environment) {
            ::putenv(const_cast<char*>(e.c_str()));
        }
        // A program that would wait for ever fails its test instead of
        // holding up the run (in_child may set a shorter alarm).
        ::alarm(CHILD_SECONDS);
        if (s.in_child) {
            s.in_child();
        }
        ::execv(s.exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    // The input is written while the output is read, so that neither pipe
    // can fill up and hold the other side.
    std::thread feeder([&] {
        if (!s.stdin_data.empty()) {
            write_unless_closed(in_pipe[1], s.stdin_data);
        }
        ::close(in_pipe[1]);
    });
    run_result r;
    r.out = read_fd(out_pipe[0]);
    feeder.join();
    ::close(out_pipe[0]);
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.err = slurp(err_path);
    fs::remove(err_path);
    return r;
}

std::vector<std::string> names_in(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

fs::path new_folder()
{
    char tmpl[] = "/tmp/quib-cli-XXXXXX";
    return ::mkdtemp(tmpl);
}

// ---- The cases of tests/data/cli.cases ----

struct file_spec {
    std::string name;
    int mode = -1; // -1: not given
    std::string content;
};

struct cli_case {
    std::string name;
    int line = 0;
    run_setup setup;
    std::vector<std::string> args;
    std::vector<file_spec> files;
    std::vector<std::pair<std::string, int>> folders;
    std::vector<std::pair<std::string, std::string>> symlinks;
    std::vector<std::pair<std::string, std::string>> hardlinks;
    int status = 0;
    bool stdout_given = false;
    std::string stdout_data;
    std::vector<std::string> stdout_has;
    bool stderr_given = false;
    std::string stderr_data;
    std::vector<std::string> stderr_has;
    std::vector<file_spec> after;
    std::vector<std::string> absent;
    bool only_given = false;
    std::vector<std::string> only;
};

void PrintTo(const cli_case& c, std::ostream* os)
{
    *os << "cli.cases:" << c.line << " " << c.name;
}

std::string decode(const std::string& text)
{
    std::string r;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 3, "[[x") == 0 && i + 7 <= text.size() && text.compare(i + 5, 2, "]]") == 0) {
            r += static_cast<char>(std::stoi(text.substr(i + 3, 2), nullptr, 16));
            i += 7;
        } else {
            r += text[i++];
        }
    }
    return r;
}

// "<name> [<mode>] = <content>"
file_spec file_of(const std::string& rest)
{
    file_spec f;
    const std::size_t eq = rest.find(" = ");
    std::istringstream head(rest.substr(0, eq));
    head >> f.name;
    std::string mode;
    if (head >> mode) {
        f.mode = std::stoi(mode, nullptr, 8);
    }
    f.content = eq == std::string::npos ? "" : decode(rest.substr(eq + 3));
    return f;
}

std::vector<cli_case> read_cli_cases()
{
    const std::string path = test_data("cli.cases");
    std::ifstream in(path, std::ios::binary);
    std::vector<cli_case> cases;
    cli_case c;
    bool inside = false;
    std::string line;
    int number = 0;
    const auto fail = [&](const std::string& what) {
        ADD_FAILURE() << path << ":" << number << ": " << what;
    };
    while (std::getline(in, line)) {
        ++number;
        if (!inside) {
            if (line.empty() || line[0] == '#') {
                continue;
            }
            if (line.rfind("case: ", 0) != 0) {
                fail("expected 'case: '");
                continue;
            }
            c = cli_case{};
            c.name = line.substr(6);
            c.line = number;
            inside = true;
            continue;
        }
        const auto value = [&line](std::size_t n) { return line.substr(n); };
        if (line == "end") {
            cases.push_back(c);
            inside = false;
        } else if (line.rfind("program: ", 0) == 0) {
            c.setup.program_name = value(9);
        } else if (line.rfind("args:", 0) == 0) {
            std::istringstream words(value(5));
            for (std::string w; words >> w;) {
                std::string arg = decode(w);
                c.args.push_back(arg);
            }
        } else if (line.rfind("file: ", 0) == 0) {
            c.files.push_back(file_of(value(6)));
        } else if (line.rfind("folder: ", 0) == 0) {
            std::istringstream words(value(8));
            std::string name;
            std::string mode;
            words >> name;
            c.folders.emplace_back(name, words >> mode ? std::stoi(mode, nullptr, 8) : -1);
        } else if (line.rfind("symlink: ", 0) == 0) {
            const std::size_t arrow = line.find(" -> ");
            c.symlinks.emplace_back(line.substr(9, arrow - 9), line.substr(arrow + 4));
        } else if (line.rfind("hardlink: ", 0) == 0) {
            const std::size_t eq = line.find(" = ");
            c.hardlinks.emplace_back(line.substr(10, eq - 10), line.substr(eq + 3));
        } else if (line.rfind("stdin = ", 0) == 0) {
            c.setup.stdin_data = decode(value(8));
        } else if (line.rfind("env: ", 0) == 0) {
            c.setup.environment.push_back(value(5));
        } else if (line.rfind("stdin-file: ", 0) == 0) {
            c.setup.stdin_file = value(12);
        } else if (line.rfind("stdout-file: ", 0) == 0) {
            c.setup.stdout_file = value(13);
        } else if (line.rfind("stdout-append: ", 0) == 0) {
            c.setup.stdout_file = value(15);
            c.setup.stdout_append = true;
        } else if (line.rfind("status: ", 0) == 0) {
            c.status = std::stoi(value(8));
        } else if (line.rfind("stdout = ", 0) == 0) {
            c.stdout_given = true;
            c.stdout_data = decode(value(9));
        } else if (line == "stdout:") {
            c.stdout_given = true;
            while (std::getline(in, line) && line != ".") {
                ++number;
                c.stdout_data += decode(line) + "\n";
            }
            ++number;
        } else if (line.rfind("stdout has: ", 0) == 0) {
            c.stdout_has.push_back(decode(value(12)));
        } else if (line.rfind("stderr = ", 0) == 0) {
            c.stderr_given = true;
            c.stderr_data = decode(value(9));
        } else if (line.rfind("stderr has: ", 0) == 0) {
            c.stderr_has.push_back(decode(value(12)));
        } else if (line.rfind("after: ", 0) == 0) {
            c.after.push_back(file_of(value(7)));
        } else if (line.rfind("absent: ", 0) == 0) {
            c.absent.push_back(value(8));
        } else if (line.rfind("only:", 0) == 0) {
            c.only_given = true;
            std::istringstream words(value(5));
            for (std::string w; words >> w;) {
                c.only.push_back(w);
            }
            std::sort(c.only.begin(), c.only.end());
        } else {
            fail("unknown line: " + line);
        }
    }
    return cases;
}

const std::vector<cli_case>& cli_cases()
{
    static const std::vector<cli_case> cases = read_cli_cases();
    return cases;
}

std::string with_program(std::string text, const std::string& program)
{
    for (std::size_t at; (at = text.find("[[PROGRAM]]")) != std::string::npos;) {
        text.replace(at, 11, program);
    }
    return text;
}

class cli_case_test : public testing::TestWithParam<cli_case> {};

TEST_P(cli_case_test, runs_as_the_case_says)
{
    const cli_case& c = GetParam();
    const fs::path dir = new_folder();
    for (const auto& [name, mode] : c.folders) {
        fs::create_directories(dir / name);
        if (mode >= 0) {
            ::chmod((dir / name).c_str(), static_cast<mode_t>(mode));
        }
    }
    for (const file_spec& f : c.files) {
        spit(dir / f.name, f.content);
        if (f.mode >= 0) {
            ::chmod((dir / f.name).c_str(), static_cast<mode_t>(f.mode));
        }
    }
    for (const auto& [name, target] : c.symlinks) {
        fs::create_symlink(target, dir / name);
    }
    for (const auto& [name, existing] : c.hardlinks) {
        fs::create_hard_link(dir / existing, dir / name);
    }
    const run_result r = run(c.args, dir, c.setup);
    const std::string& program = c.setup.program_name;
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.stdout_given) {
        EXPECT_EQ(r.out, with_program(c.stdout_data, program));
    }
    for (const std::string& part : c.stdout_has) {
        EXPECT_NE(r.out.find(with_program(part, program)), std::string::npos) << r.out;
    }
    if (c.stderr_given || c.stderr_has.empty()) {
        EXPECT_EQ(r.err, with_program(c.stderr_data, program));
    }
    for (const std::string& part : c.stderr_has) {
        EXPECT_NE(r.err.find(with_program(part, program)), std::string::npos) << r.err;
    }
    for (char ch : r.err) {
        ASSERT_LT(static_cast<unsigned char>(ch), 0x80) << "messages are plain ASCII: " << r.err;
    }
    for (const file_spec& f : c.after) {
        EXPECT_EQ(slurp(dir / f.name), f.content) << f.name;
        if (f.mode >= 0) {
            struct stat s {};
            ::stat((dir / f.name).c_str(), &s);
            EXPECT_EQ(s.st_mode & 07777, static_cast<mode_t>(f.mode)) << f.name;
        }
    }
    for (const std::string& name : c.absent) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / name))) << name;
    }
    if (c.only_given) {
        std::vector<std::string> left = names_in(dir);
        left.erase(std::remove(left.begin(), left.end(), std::string(".stderr")), left.end());
        EXPECT_EQ(left, c.only);
    }
    for (const auto& [name, mode] : c.folders) {
        ::chmod((dir / name).c_str(), 0755);
    }
    fs::remove_all(dir);
}

std::string case_name(const testing::TestParamInfo<cli_case>& info)
{
    return "line_" + std::to_string(info.param.line);
}

INSTANTIATE_TEST_SUITE_P(data, cli_case_test, testing::ValuesIn(cli_cases()), case_name);

// ---- What needs control of the process ----

class cli_test : public testing::Test {
protected:
    fs::path dir;
    void SetUp() override { dir = new_folder(); }
    void TearDown() override { fs::remove_all(dir); }
};

// Root reads and writes every file, so as root the program runs as nobody,
// from a copy in the test's folder, which nobody may enter.
uid_t unprivileged_user()
{
    return ::geteuid() == 0 ? 65534 : 0;
}

// One processor: one worker of --in-place, which takes the files in order
// (of one folder the smaller first), each into the last one's inode.
run_setup on_one_processor()
{
    run_setup s;
    s.in_child = [] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(0, &one);
        ::sched_setaffinity(0, sizeof one, &one);
    };
    return s;
}

run_setup as_nobody(const fs::path& dir)
{
    fs::permissions(dir, fs::perms::all);
    fs::copy_file(QUIB_EXE, dir / "quib-copy", fs::copy_options::overwrite_existing);
    fs::permissions(dir / "quib-copy", fs::perms::all);
    run_setup s;
    s.program_name = "quib";
    s.as_user = unprivileged_user();
    s.exe = (dir / "quib-copy").string();
    return s;
}

// Someone who may write to a folder acts on the hidden name of the new
// version the program is about to rename or link: the last file's inode,
// given to the next file in another folder, or the new version of a file
// in the same folder. A link or folder of theirs swapped in never comes
// into the file's folder nor takes the file's name, and no name they keep
// holds the new text: the new version is made afresh, or the file is left
// as it was and said to.
TEST_F(cli_test, in_place_never_renames_what_another_put_under_its_hidden_name)
{
    const struct {
        const char* second;    // the file converted after a/a.html
        const char* how;       // what is done to the hidden name
        bool folder;           // a folder is swapped in, not a link
        int status;
        const char* after;     // its text "x" after the run
    } rows[] = {
        {"www/p.html", "swap", false, 0, "\x84x\x93"},
        {"www/p.html", "swap", true, 0, "\x84x\x93"},
        {"www/p.html", "link", false, 0, "\x84x\x93"},
        {"a/b.html", "swap", false, 2, "\"x\""},
    };
    for (const auto& row : rows) {
        fs::remove_all(dir / "a");
        fs::remove_all(dir / "www");
        fs::create_directories(dir / "a");
        fs::create_directories(dir / "www");
        spit(dir / "a" / "a.html", "\"a\"");
        spit(dir / row.second, "\"x\"");
        spit(dir / "secret", "geheim");
        if (row.folder) {
            fs::create_directories(dir / "a" / "evil");
        } else if (std::string(row.how) == "swap") {
            fs::create_symlink(dir / "secret", dir / "a" / "evil");
        }
        run_setup s = on_one_processor();
        s.environment = {std::string("LD_PRELOAD=") + RENAME_RACE, "QUIB_TEST_RACE_AT=2",
                         "QUIB_TEST_RACE_WITH=" + (dir / "a" / "evil").string(),
                         std::string("QUIB_TEST_RACE_HOW=") + row.how,
                         "ASAN_OPTIONS=verify_asan_link_order=0"};
        const run_result r = run({"--in-place", "a/a.html", row.second}, dir, s);
        const fs::path second = dir / row.second;
        EXPECT_EQ(r.status, row.status) << row.second << ": " << r.err;
        EXPECT_FALSE(fs::is_symlink(second)) << row.second;
        EXPECT_EQ(slurp(second), row.after) << row.second;
        EXPECT_EQ(slurp(dir / "secret"), "geheim");
        if (second.parent_path() == dir / "www") {
            EXPECT_EQ(names_in(dir / "www"), std::vector<std::string>{"p.html"}) << row.how;
        }
        EXPECT_FALSE(fs::exists(dir / "a" / "evil") && fs::equivalent(dir / "a" / "evil", second))
            << row.how;
    }
}

// The last file's inode takes the next file's new version only where both
// have one owner: its owner could still hold it open or linked.
TEST_F(cli_test, in_place_gives_no_file_the_inode_of_another_owner)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root gives files away";
    }
    // An inode freed may come back with its number: its time of birth tells.
    bool births = true;
    const auto born = [&](const char* name) {
        struct statx x {};
        EXPECT_EQ(::statx(AT_FDCWD, (dir / name).c_str(), 0, STATX_INO | STATX_BTIME, &x), 0);
        births = births && (x.stx_mask & STATX_BTIME) != 0;
        return std::pair(x.stx_ino, std::pair(x.stx_btime.tv_sec, x.stx_btime.tv_nsec));
    };
    for (const bool other_owner : {false, true}) {
        spit(dir / "a.html", "\"a\"");
        spit(dir / "b.html", "\"bb\"");
        ASSERT_EQ(::chown((dir / "a.html").c_str(), other_owner ? unprivileged_user() : 0, 0), 0);
        const auto a = born("a.html");
        const run_result r = run({"--in-place", "a.html", "b.html"}, dir, on_one_processor());
        EXPECT_EQ(r.status, 0) << r.err;
        const auto b = born("b.html");
        if (!births) {
            GTEST_SKIP() << "no times of birth here";
        }
        EXPECT_EQ(b == a, !other_owner) << "another owner: " << other_owner;
    }
}

// Read from a pipe, a page's head is looked at past its first kilobyte for
// a declaration, as browsers look: a page in Big5 is copied as it is, a
// page in UTF-8 that gets byte marks is reported. The declaration lies
// beyond what a pipe holds, so the first read cannot bring it.
TEST_F(cli_test, a_declaration_late_in_the_head_of_a_piped_page_counts)
{
    const std::string head = "<head><!--" + std::string(100000, 'c') + "-->\n";
    const struct {
        std::string page;
        std::vector<std::string> args;
        const char* report;
        bool copied;
    } rows[] = {
        {head + "<meta charset=big5></head><p>\"\xA5\\\"</p>", {"-", "-", "--html", "--check"},
         "-:2: Seite in einer Mehrbyte-Kodierung", true},
        {head + "<meta charset=utf-8></head><p>\"x\"</p>", {"-", "-", "--check"},
         "-:2: Seite ist als UTF-8", false},
    };
    for (const auto& row : rows) {
        run_setup s;
        s.stdin_data = row.page;
        const run_result r = run(row.args, dir, s);
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_EQ(r.err.rfind(row.report, 0), 0u) << r.err;
        EXPECT_EQ(r.out == row.page, row.copied) << row.report;
    }
}

TEST_F(cli_test, source_without_permission_is_reported)
{
    const run_setup s = as_nobody(dir);
    spit(dir / "secret", "x");
    fs::permissions(dir / "secret", fs::perms::none);
    const run_result r = run({"secret", "out"}, dir, s);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST_F(cli_test, in_place_in_a_folder_without_write_permission_leaves_the_files)
{
    const run_setup s = as_nobody(dir);
    fs::create_directory(dir / "ro");
    spit(dir / "ro" / "a.html", "\"a\"");
    fs::permissions(dir / "ro" / "a.html", fs::perms::all);
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    spit(dir / "b.html", "\"b\"");
    fs::permissions(dir / "b.html", fs::perms::all);
    const run_result r = run({"--in-place", "ro/a.html", "b.html"}, dir, s);
    fs::permissions(dir / "ro", fs::perms::all);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("'ro/a.html'"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line per failure: " << r.err;
    EXPECT_EQ(slurp(dir / "ro" / "a.html"), "\"a\"");
    EXPECT_EQ(names_in(dir / "ro"), std::vector<std::string>{"a.html"});
    EXPECT_EQ(slurp(dir / "b.html"), "\x84" "b\x93");
}

// With 1 and 2 closed, the files opened first would take those numbers and
// the report or a message would land in the target.
TEST_F(cli_test, closed_standard_descriptors_are_not_taken_by_the_files)
{
    spit(dir / "in", "12\"x");
    for (const auto& args : {std::vector<std::string>{"in", "out", "--check"},
                             std::vector<std::string>{"missing", "out2"}}) {
        run_setup s;
        s.in_child = [] {
            ::close(1);
            ::close(2);
        };
        const run_result r = run(args, dir, s);
        if (args[0] == "in") {
            EXPECT_EQ(r.status, 3);
            EXPECT_EQ(slurp(dir / "out"), "12\x84x");
        } else {
            EXPECT_EQ(r.status, 2);
            EXPECT_FALSE(fs::exists(dir / "out2"));
        }
    }
}

// "-" for a stream that was closed at the start names nothing, nor does any
// other name of it: an error, not an empty source that empties the target
// or output swallowed by the stand-in for the stream.
TEST_F(cli_test, a_closed_stream_by_any_name_is_an_error)
{
    spit(dir / "in", "\"a\"");
    spit(dir / "out", "old");
    const struct {
        int fd;
        std::vector<std::string> args;
    } cases[] = {{0, {"-", "out"}},         {0, {"/dev/stdin", "out"}},
                 {0, {"/proc/self/fd/0", "out"}}, {1, {"in", "-"}},
                 {1, {"in", "/dev/stdout"}}, {1, {"in", "/dev/fd/1"}}};
    for (const auto& c : cases) {
        run_setup s;
        const int fd = c.fd;
        s.in_child = [fd] { ::close(fd); };
        const run_result r = run(c.args, dir, s);
        EXPECT_EQ(r.status, 2) << c.args[0] << " " << c.args[1] << ": " << r.err;
        EXPECT_NE(r.err.find("'" + c.args[c.fd] + "'"), std::string::npos) << r.err;
        EXPECT_EQ(slurp(dir / "out"), "old");
    }
}

// A new version gets no rights the file had not: no access list from its
// folder's default list where the file has none. It keeps its capabilities,
// which the kernel takes off at each write and change of owner.
TEST_F(cli_test, in_place_gives_no_rights_from_the_folder_and_keeps_capabilities)
{
    fs::create_directory(dir / "d");
    // A default list: the owner, nobody (65534) read and write, the group,
    // the mask, others.
    const std::uint32_t list[] = {2,          0x00060001, 0xFFFFFFFF, 0x00060002, 65534,
                                  0x00040004, 0xFFFFFFFF, 0x00060010, 0xFFFFFFFF, 0x00000020,
                                  0xFFFFFFFF};
    if (::setxattr((dir / "d").c_str(), "system.posix_acl_default", list, sizeof list, 0) != 0) {
        GTEST_SKIP() << "no access lists here";
    }
    spit(dir / "d" / "private.html", "\"p\"");
    ASSERT_EQ(::removexattr((dir / "d" / "private.html").c_str(), "system.posix_acl_access"), 0);
    ::chmod((dir / "d" / "private.html").c_str(), 0640);
    // Version 2, effective: permitted CAP_NET_RAW.
    const std::uint32_t capability[] = {0x02000001, 1u << 13, 0, 0, 0};
    const bool capable = ::setxattr((dir / "d" / "private.html").c_str(), "security.capability",
                                    capability, sizeof capability, 0) == 0;
    const run_result r = run({"--in-place", "d/private.html"}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir / "d" / "private.html"), "\x84p\x93");
    EXPECT_LT(::getxattr((dir / "d" / "private.html").c_str(), "system.posix_acl_access", nullptr, 0),
              0) << "the folder's default list was given to the file";
    if (capable) {
        EXPECT_GT(::getxattr((dir / "d" / "private.html").c_str(), "security.capability", nullptr, 0),
                  0) << "the capability was lost";
    }
}

// A folder that takes new names but gives none up (chattr +a) would keep
// the new version under its hidden name: the file is refused, nothing left.
TEST_F(cli_test, in_place_refuses_a_file_in_an_append_only_folder)
{
    fs::create_directory(dir / "a");
    spit(dir / "a" / "f.html", "\"f\"");
    const int folder = ::open((dir / "a").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    long flags = 0;
    const bool append_only = ::ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 &&
                             (flags |= FS_APPEND_FL, ::ioctl(folder, FS_IOC_SETFLAGS, &flags) == 0);
    if (!append_only) {
        ::close(folder);
        GTEST_SKIP() << "no append-only folders here";
    }
    const run_result r = run({"--in-place", "a/f.html"}, dir);
    flags &= ~static_cast<long>(FS_APPEND_FL);
    ::ioctl(folder, FS_IOC_SETFLAGS, &flags);
    ::close(folder);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("'a/f.html'"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir / "a" / "f.html"), "\"f\"");
    EXPECT_EQ(names_in(dir / "a"), std::vector<std::string>{"f.html"});
}

// A FIFO among the files is refused at once, not waited on for a writer;
// the others are converted. The alarm ends a program that would wait.
TEST_F(cli_test, in_place_refuses_a_fifo_without_waiting)
{
    ASSERT_EQ(::mkfifo((dir / "fifo.html").c_str(), 0644), 0);
    spit(dir / "a.html", "\"a\"");
    // A writer waiting for the FIFO's reader: refused unopened, the FIFO
    // lets it go on into no one.
    const pid_t writer = ::fork();
    if (writer == 0) {
        ::alarm(20);
        const int fd = ::open((dir / "fifo.html").c_str(), O_WRONLY);
        ::_exit(fd >= 0 && ::write(fd, "Meldung\n", 8) == 8 ? 0 : 1);
    }
    run_setup s;
    s.in_child = [] { ::alarm(20); };
    const run_result r = run({"--in-place", "fifo.html", "a.html"}, dir, s);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("'fifo.html'"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir / "a.html"), "\x84" "a\x93");
    int wstatus = 0;
    const pid_t ended = ::waitpid(writer, &wstatus, WNOHANG);
    EXPECT_EQ(ended, 0) << "the writer went on";
    if (ended == 0) {
        EXPECT_EQ(slurp(dir / "fifo.html"), "Meldung\n");
        ::waitpid(writer, &wstatus, 0);
    }
}

// Pipes that whoever started quib left non-blocking: an input with nothing
// yet is waited for, and a full stderr loses no line of the report.
TEST_F(cli_test, non_blocking_pipes_are_waited_for)
{
    std::string text;
    for (int i = 0; i < 4000; ++i) {
        text += "Ein 12\" Monitor und ein 24\" Monitor.\n";
    }
    run_setup blocking;
    blocking.stdin_data = text;
    const run_result expected = run({"-", "blocking.txt", "--check"}, dir, blocking);
    ASSERT_GT(expected.err.size(), std::size_t{1} << 17) << "more than two pipes' worth";
    int in[2];
    int err[2];
    ASSERT_EQ(::pipe2(in, O_NONBLOCK), 0);
    ASSERT_EQ(::pipe2(err, O_NONBLOCK), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(20);
        ::dup2(in[0], 0);
        ::dup2(err[1], 2);
        ::close(in[1]);
        ::close(err[0]);
        if (::chdir(dir.c_str()) != 0) {
            ::_exit(126);
        }
        ::execl(QUIB_EXE, QUIB_EXE, "-", "out.txt", "--check", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(err[1]);
    ::fcntl(in[1], F_SETFL, 0); // this side blocks; quib's side stays as it is
    ::fcntl(err[0], F_SETFL, 0);
    std::string report;
    std::thread reader([&] {
        ::usleep(300000);
        report = read_fd(err[0]);
    });
    ::usleep(200000);
    EXPECT_EQ(::write(in[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(in[1]);
    reader.join();
    ::close(err[0]);
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    EXPECT_EQ(WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus), 3);
    EXPECT_EQ(report, expected.err);
    EXPECT_EQ(slurp(dir / "out.txt"), slurp(dir / "blocking.txt"));
}

// In a pipeline, what is converted comes out while the input waits for
// more: the writing thread takes the blocks there are, however few.
TEST_F(cli_test, a_pipeline_sees_the_output_while_the_input_waits)
{
    int in[2];
    int out[2];
    ASSERT_EQ(::pipe(in), 0);
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(60);
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::close(in[1]);
        ::close(out[0]);
        ::execl(QUIB_EXE, QUIB_EXE, "-", "-", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    // Twice: the second time the writing thread has gone to sleep.
    const std::string text(20000, 'x'); // more than the first block
    for (int burst = 0; burst < 2; ++burst) {
        ASSERT_EQ(::write(in[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        std::size_t got = 0;
        pollfd ready{out[0], POLLIN, 0};
        while (got < text.size() && ::poll(&ready, 1, 20000) == 1) {
            char buf[65536];
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        EXPECT_EQ(got, text.size()) << "burst " << burst << " shown before the input ended";
    }
    ::close(in[1]);
    ::close(out[0]);
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    EXPECT_EQ(WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, 0);
}

// A failed write ends the reading: an endless source must not keep the
// program running (the alarm ends one that would).
TEST_F(cli_test, a_write_error_ends_an_endless_source)
{
    const std::vector<std::vector<std::string>> calls = {
        {"/dev/zero", "/dev/full"},
        {"/dev/zero", "/dev/full", "--html"},
        {"/dev/zero", "/dev/full", "--check"},
    };
    for (const char* implementation : {"QUIB_IMPLEMENTATION=bytes", "QUIB_IMPLEMENTATION=sse2"}) {
        for (const std::vector<std::string>& args : calls) {
            run_setup s;
            s.in_child = [] { ::alarm(20); };
            s.environment = {implementation};
            const run_result r = run(args, dir, s);
            EXPECT_EQ(r.status, 2) << implementation << " " << args.back() << ": " << r.err;
            EXPECT_NE(r.err.find("/dev/full"), std::string::npos) << r.err;
        }
    }
    // Where the reading stopped is no end of the input: a quotation open
    // there is no spot.
    spit(dir / "q.txt", std::string(200000, 'a') + '"' + std::string(400000, 'b') + '"');
    for (const char* html : {"--check", "--html"}) {
        const run_result r = run({"q.txt", "/dev/full", "--check", html}, dir);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << html << ": " << r.err;
    }
}

// Where the group cannot be kept, the new file's group must not gain the
// old group's rights.
TEST_F(cli_test, in_place_without_the_group_gives_the_new_group_no_rights)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "runs the program as another user: needs root";
    }
    const run_setup s = as_nobody(dir);
    spit(dir / "s", "\"a\"");
    const gid_t other_group = 1; // not the unprivileged user's
    ASSERT_EQ(::chown((dir / "s").c_str(), unprivileged_user(), other_group), 0);
    ASSERT_EQ(::chmod((dir / "s").c_str(), 0640), 0);
    const run_result r = run({"--in-place", "s"}, dir, s);
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(::stat((dir / "s").c_str(), &st), 0);
    EXPECT_NE(st.st_gid, other_group);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// A file beyond the size limit (ulimit -f) fails alone, with a message; the
// batch goes on and leaves no new file behind. The two-file form fails
// with a message.
TEST_F(cli_test, in_place_beyond_the_file_size_limit_fails_one_file)
{
    const std::string big(4096, '"');
    spit(dir / "big.html", big);
    spit(dir / "a.html", "\"a\"");
    run_setup s;
    s.in_child = [] {
        const rlimit limit{1024, 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    const run_result r = run({"--in-place", "big.html", "a.html"}, dir, s);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("'big.html'"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir / "big.html"), big);
    EXPECT_EQ(slurp(dir / "a.html"), "\x84" "a\x93");
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"a.html", "big.html"}));
    // The two-file form says so too, instead of dying of the signal.
    const run_result two = run({"big.html", "out.html"}, dir, s);
    EXPECT_EQ(two.status, 2) << two.err;
    EXPECT_NE(two.err.find("'out.html' konnte nicht geschrieben werden"), std::string::npos)
        << two.err;
}

// A batch puts each new version into an inode another file had: not where
// a program still reads the old text from it (an open file, pages of it in
// a pipe), and no attribute of that file may carry over, while each file
// keeps its own; a shorter text must not keep the end of a longer one, also
// where the file is too big to be converted in memory. One processor: one
// worker, the files in order (of one folder the smaller first).
TEST_F(cli_test, in_place_gives_no_file_what_another_had)
{
    spit(dir / "s.html", "\"s\"");
    spit(dir / "t.html", "\"t\"");
    char value[8];
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const int spliced = ::open((dir / "s.html").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::splice(spliced, nullptr, pipe_fds[1], nullptr, 3, 0), 3);
    ::close(spliced);
    spit(dir / "x.html", "\"x\"");
    if (::setxattr((dir / "x.html").c_str(), "user.quib", "1", 1, 0) != 0) {
        GTEST_SKIP() << "no extended attributes here";
    }
    const std::string big(20 << 20, 'b');
    const std::string less(17 << 20, 'l');
    spit(dir / "y.html", "\"y\"");
    spit(dir / "big.html", "\"" + big);
    fs::create_directory(dir / "sub");
    spit(dir / "sub/less.html", "\"" + less);
    const int reader = ::open((dir / "y.html").c_str(), O_RDONLY | O_CLOEXEC);
    const run_result r = run(
        {"--in-place", "s.html", "t.html", "x.html", "y.html", "big.html", "sub/less.html"}, dir,
        on_one_processor());
    EXPECT_EQ(r.status, 0) << r.err;
    char piped[4] = {};
    EXPECT_EQ(::read(pipe_fds[0], piped, 3), 3);
    EXPECT_STREQ(piped, "\"s\"") << "the old text in a pipe was overwritten";
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    EXPECT_EQ(::getxattr((dir / "x.html").c_str(), "user.quib", value, sizeof value), 1);
    EXPECT_EQ(slurp(dir / "y.html"), "\x84y\x93");
    char old[4] = {};
    EXPECT_EQ(::pread(reader, old, sizeof old, 0), 3);
    EXPECT_STREQ(old, "\"y\"") << "the old text a reader holds was overwritten";
    ::close(reader);
    EXPECT_LT(::getxattr((dir / "y.html").c_str(), "user.quib", value, sizeof value), 0);
    EXPECT_TRUE(slurp(dir / "sub/less.html") == "\x84" + less) << "less.html differs";
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"big.html", "s.html", "sub", "t.html",
                                                       "x.html", "y.html"}));
    EXPECT_EQ(names_in(dir / "sub"), (std::vector<std::string>{"less.html"}));
}

// Converted by its owner, who is not root, a file keeps its set-user-ID
// bit, which any write by such a user clears: the mode comes after the text.
TEST_F(cli_test, in_place_by_the_owner_keeps_the_set_user_id_bit)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "runs the program as another user: needs root";
    }
    const run_setup s = as_nobody(dir);
    spit(dir / "s", "\"a\"");
    ASSERT_EQ(::chown((dir / "s").c_str(), unprivileged_user(), unprivileged_user()), 0);
    ASSERT_EQ(::chmod((dir / "s").c_str(), 04755), 0);
    const run_result r = run({"--in-place", "s"}, dir, s);
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(::stat((dir / "s").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 04755u);
    EXPECT_EQ(slurp(dir / "s"), "\x84" "a\x93");
}

// A new version has a place on the disk before it takes the file's name:
// none of its blocks is left for the kernel to place later, which a power
// loss right after the rename would find never written. Where the file
// system maps no extents (tmpfs), there is nothing to see.
TEST_F(cli_test, in_place_places_each_new_version_before_it_takes_the_name)
{
    spit(dir / "a.html", std::string(1 << 20, 'x') + "\"a\"");
    const run_result r = run({"--in-place", "a.html"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const int fd = ::open((dir / "a.html").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    constexpr unsigned EXTENTS = 64;
    alignas(fiemap) unsigned char map[sizeof(fiemap) + EXTENTS * sizeof(fiemap_extent)] = {};
    auto* m = reinterpret_cast<fiemap*>(map);
    m->fm_length = FIEMAP_MAX_OFFSET;
    m->fm_extent_count = EXTENTS;
    const int mapped = ::ioctl(fd, FS_IOC_FIEMAP, m);
    ::close(fd);
    if (mapped != 0 || m->fm_mapped_extents == 0) {
        GTEST_SKIP() << "this file system maps no extents";
    }
    for (unsigned i = 0; i < m->fm_mapped_extents; ++i) {
        EXPECT_EQ(m->fm_extents[i].fe_flags & FIEMAP_EXTENT_DELALLOC, 0u) << "extent " << i;
    }
}

// Starts quib with args in dir; returns its process.
pid_t start(std::vector<std::string> args, const fs::path& dir)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) {
            ::_exit(126);
        }
        std::vector<char*> argv{const_cast<char*>(QUIB_EXE)};
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(QUIB_EXE, argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits (at most ten seconds) until a new file is being written in dir,
// with more than at_least bytes.
bool wait_for_new_file(const fs::path& dir, std::uintmax_t at_least = 0)
{
    for (int waited = 0; waited < 50000; ++waited) {
        for (const std::string& name : names_in(dir)) {
            std::error_code gone;
            if (name.find(".quib-") != std::string::npos &&
                (at_least == 0 || fs::file_size(dir / name, gone) > at_least)) {
                return true;
            }
        }
        ::usleep(200);
    }
    return false;
}

// A file named twice, in both workers' shares of the list, is converted
// once, however the workers meet on it (a second conversion turns the
// escaped \" into a mark). The meeting is a matter of timing: three
// batches of a thousand files give it many chances.
TEST_F(cli_test, in_place_converts_a_file_in_two_shares_of_the_list_once)
{
    for (int round = 0; round < 3; ++round) {
        std::vector<std::string> args{"--in-place"};
        for (int i = 0; i < 1000; ++i) {
            std::string name = std::to_string(i);
            name.insert(name.begin(), 'f');
            spit(dir / name, "a \\\"b\\\" \"c\"\n");
            args.push_back(name);
        }
        for (std::size_t i = 1; i <= 1000; ++i) {
            args.push_back("./" + args[i]);
        }
        const run_result r = run(args, dir);
        ASSERT_EQ(r.status, 0) << r.err;
        for (std::size_t i = 1; i <= 1000; ++i) {
            ASSERT_EQ(slurp(dir / args[i]), "a \"b\" \x84" "c\x93\n") << args[i];
        }
    }
}

// A file written to while it is converted keeps what was written: the
// conversion of what was read before does not take its name. The writer
// puts the time of change back, as cp -p and rsync -t do.
TEST_F(cli_test, in_place_leaves_a_file_written_to_meanwhile)
{
    std::string page; // beyond what is converted in memory: read as it goes
    while (page.size() < (std::size_t{20} << 20)) {
        page += "<p>Er sagte \"Hallo\".</p>\n";
    }
    spit(dir / "a.html", page);
    const pid_t pid = start({"--in-place", "a.html"}, dir);
    const bool converting = wait_for_new_file(dir, 1 << 20); // the bytes written to read already
    struct stat before {};
    ASSERT_EQ(::stat((dir / "a.html").c_str(), &before), 0);
    const int fd = ::open((dir / "a.html").c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, "<P>", 3, 0), 3);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ::futimens(fd, times);
    ::close(fd);
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    EXPECT_TRUE(converting) << "the conversion was over before the write: the test proved nothing";
    // Left as it was, or converted before the write came.
    EXPECT_EQ(slurp(dir / "a.html").substr(0, 8), "<P>Er sa");
    for (const std::string& name : names_in(dir)) {
        EXPECT_EQ(name, "a.html");
    }
}

// A file beyond what is converted in memory that the conversion would not
// change is left as it is too: the same inode, not a copy, also where its
// new version went into the inode of the file converted before it.
TEST_F(cli_test, in_place_leaves_a_large_file_without_quotes_as_it_is)
{
    spit(dir / "a.txt", std::string((std::size_t{17} << 20) + 1, 'x'));
    spit(dir / "b.txt", "\"b\"");
    struct stat before {};
    ASSERT_EQ(::stat((dir / "a.txt").c_str(), &before), 0);
    const run_result r = run({"--in-place", "a.txt", "b.txt"}, dir, on_one_processor());
    ASSERT_EQ(r.status, 0) << r.err;
    struct stat after {};
    ASSERT_EQ(::stat((dir / "a.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

// A file's inode that takes the next file's new version gives it none of
// its blocks reserved past its end, and pages of it in a pipe keep their
// text also where the file was cut while they were there (the kernel may
// keep a page of several pages across the cut).
TEST_F(cli_test, in_place_gives_no_reserved_block_and_zeroes_no_page_in_a_pipe)
{
    // In this order, the smaller first: a.txt, p.txt, b.txt; each takes the
    // inode of the one before.
    spit(dir / "p.txt", "\"p\"" + std::string(4097, 'p'));
    const int reserving = ::open((dir / "p.txt").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(reserving, 0);
    const bool reserved = ::fallocate(reserving, FALLOC_FL_KEEP_SIZE, 0, 10 << 20) == 0;
    ::close(reserving);
    std::string cut;
    while (cut.size() < 8192) {
        cut += "AAAA \"alt\" ";
    }
    cut.resize(8192);
    spit(dir / "a.txt", cut); // one write: the kernel may cache it as one page of two
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const int spliced = ::open((dir / "a.txt").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::splice(spliced, nullptr, pipe_fds[1], nullptr, 16, 0), 16);
    ::close(spliced);
    ASSERT_EQ(::truncate((dir / "a.txt").c_str(), 4000), 0);
    spit(dir / "b.txt", std::string(9000, 'b') + "\"b\"");
    const run_result r = run({"--in-place", "p.txt", "a.txt", "b.txt"}, dir, on_one_processor());
    EXPECT_EQ(r.status, 0) << r.err;
    char piped[17] = {};
    EXPECT_EQ(::read(pipe_fds[0], piped, 16), 16);
    EXPECT_EQ(std::string(piped), cut.substr(0, 16)) << "the old text in a pipe was zeroed";
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    EXPECT_EQ(slurp(dir / "b.txt"), std::string(9000, 'b') + "\x84" "b\x93");
    struct stat b {};
    ASSERT_EQ(::stat((dir / "b.txt").c_str(), &b), 0);
    if (reserved) {
        EXPECT_LT(b.st_blocks * 512, 1 << 20) << "b.txt kept the blocks reserved past p.txt's end";
    }
}

// A batch killed at any moment leaves each original as it was or fully
// converted, and no new file behind.
TEST_F(cli_test, an_interrupted_batch_leaves_each_file_whole)
{
    std::string page;
    while (page.size() < 3000000) {
        page += "<p>Er sagte \"Hallo\" und ging.</p>\n";
    }
    std::string converted = page;
    bool open = false;
    for (char& c : converted) {
        if (c == '"') {
            c = open ? '\x93' : '\x84';
            open = !open;
        }
    }
    // A kill, and the end of a processor time limit.
    for (const int sig : {SIGTERM, SIGXCPU}) {
        std::vector<std::string> args{"--in-place"};
        for (int i = 0; i < 40; ++i) {
            std::string name = std::to_string(i); // "f" + to_string(i) trips GCC 12's -Wrestrict
            name.insert(name.begin(), 'f');
            name += ".html";
            spit(dir / name, page);
            args.push_back(name);
        }
        const pid_t pid = start(args, dir);
        // The signal comes while a file is being converted: once a temporary
        // file is there (the whole batch takes far longer than finding it).
        wait_for_new_file(dir);
        ::kill(pid, sig);
        int wstatus = 0;
        ::waitpid(pid, &wstatus, 0);
        int done = 0;
        for (const std::string& name : names_in(dir)) {
            ASSERT_EQ(name.find(".quib-"), std::string::npos)
                << "a new file left behind after signal " << sig << ": " << name;
            const std::string now = slurp(dir / name);
            ASSERT_TRUE(now == page || now == converted) << name << " is neither";
            done += now == converted ? 1 : 0;
            fs::remove(dir / name);
        }
        EXPECT_LT(done, 40) << "the batch ended before the signal; the test proved nothing";
    }
}

// A folder renamed while a batch converts its files: those left fail, and
// the new file being made there is removed by the folder, not by its old
// path.
TEST_F(cli_test, in_place_leaves_no_new_file_in_a_folder_renamed_meanwhile)
{
    std::string page;
    while (page.size() < 3000000) {
        page += "<p>Er sagte \"Hallo\" und ging.</p>\n";
    }
    fs::create_directory(dir / "B");
    std::vector<std::string> args{"--in-place"};
    for (int i = 0; i < 20; ++i) {
        std::string name = std::to_string(i);
        name.insert(0, "B/f");
        name += ".html";
        spit(dir / name, page);
        args.push_back(name);
    }
    const pid_t pid = start(args, dir);
    ASSERT_TRUE(wait_for_new_file(dir / "B"));
    fs::rename(dir / "B", dir / "B2");
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    EXPECT_EQ(WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, 2);
    for (const std::string& name : names_in(dir / "B2")) {
        EXPECT_EQ(name.find(".quib-"), std::string::npos) << "left behind: " << name;
    }
}

// The same block device as source and target would be overwritten while it
// is read. Loop devices need root and a kernel that has them.
TEST_F(cli_test, the_same_block_device_is_refused)
{
    spit(dir / "disk", std::string(1 << 20, 'x') + "\"x\"");
    const std::string attach = "losetup --find --show " + (dir / "disk").string() + " 2>/dev/null";
    std::FILE* p = ::popen(attach.c_str(), "r");
    char device[256] = {};
    const bool attached = p != nullptr && std::fgets(device, sizeof device, p) != nullptr;
    if (p != nullptr) {
        ::pclose(p);
    }
    if (!attached) {
        GTEST_SKIP() << "no loop device here";
    }
    std::string dev = device;
    dev.erase(dev.find_last_not_of('\n') + 1);
    const run_result r = run({dev, dev}, dir);
    (void)!std::system(("losetup -d " + dev).c_str());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("dieselbe Datei"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir / "disk"), std::string(1 << 20, 'x') + "\"x\"");
}

TEST_F(cli_test, a_million_open_brackets_are_copied_whole)
{
    const std::string input(1000000, '<');
    spit(dir / "in", input);
    const run_result r = run({"in", "out", "-z"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(slurp(dir / "out") == input);
}

// With too little memory for the threads (their stacks, then the rings, then
// the pass itself) quib converts on one thread or reports the lack; it never
// writes anything but the whole conversion. The sanitizers need more address
// space than any of these limits.
TEST_F(cli_test, little_memory_gives_the_same_output_or_an_error)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "address space limits and sanitizers do not mix";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    GTEST_SKIP() << "address space limits and sanitizers do not mix";
#endif
#endif
    const std::string page = slurp(fs::path(QUIB_SOURCE_DIR) / "examples" / "beispiel.html");
    std::string input;
    while (input.size() < 3 * 1024 * 1024) {
        input += page;
    }
    spit(dir / "in", input);
    ASSERT_EQ(run({"in", "expected"}, dir).status, 0);
    const std::string expected = slurp(dir / "expected");
    int converted = 0;
    for (rlim_t mib = 4; mib <= 40; mib += 2) {
        fs::remove(dir / "out");
        run_setup s;
        s.address_space = mib << 20;
        const run_result r = run({"in", "out"}, dir, s);
        ASSERT_LT(r.status, 128) << mib << " MiB: killed by a signal";
        if (r.status == 0) {
            ++converted;
            EXPECT_TRUE(slurp(dir / "out") == expected) << mib << " MiB: output differs";
        } else {
            EXPECT_FALSE(r.err.empty()) << mib << " MiB: status " << r.status << " without a word";
        }
    }
    EXPECT_GT(converted, 0);
}

TEST_F(cli_test, bundled_example_converts)
{
    const fs::path example = fs::path(QUIB_SOURCE_DIR) / "examples" / "beispiel.html";
    const run_result r = run({example.string(), "out.html", "-z"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(slurp(dir / "out.html"),
              slurp(fs::path(QUIB_SOURCE_DIR) / "examples" / "beispiel.z.expected"));
}

} // namespace
