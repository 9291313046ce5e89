// The built executable, run as a user runs it: arguments, files, exit status.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct run_result {
    int status = -1;
    std::string out;
    std::string err;
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

// Runs the executable with argv[0] = program_name in directory dir; stdin is
// stdin_data through a pipe. stderr goes to a file so that a large stdout
// cannot block the child.
// as_user, if not 0, is the user the program runs as (the test must be root);
// exe is the program file.
run_result run(const std::vector<std::string>& args, const fs::path& dir,
               const std::string& program_name = QUIB_EXE, const std::string& stdin_data = "",
               uid_t as_user = 0, const std::string& exe = QUIB_EXE,
               rlim_t address_space = RLIM_INFINITY)
{
    int out_pipe[2];
    int in_pipe[2];
    if (::pipe(out_pipe) != 0 || ::pipe(in_pipe) != 0) {
        std::abort();
    }
    fs::path err_path = dir / ".stderr";
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in_pipe[0], 0);
        ::dup2(out_pipe[1], 1);
        int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(err_fd, 2);
        ::close(in_pipe[1]);
        ::close(out_pipe[0]);
        if (as_user != 0 && (::setgid(as_user) != 0 || ::setuid(as_user) != 0)) {
            ::_exit(125);
        }
        if (::chdir(dir.c_str()) != 0) {
            ::_exit(126);
        }
        const rlimit limit{address_space, address_space};
        if (address_space != RLIM_INFINITY && ::setrlimit(RLIMIT_AS, &limit) != 0) {
            ::_exit(124);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program_name.c_str()));
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    if (!stdin_data.empty()) {
        (void)!::write(in_pipe[1], stdin_data.data(), stdin_data.size());
    }
    ::close(in_pipe[1]);
    run_result r;
    r.out = read_fd(out_pipe[0]);
    ::close(out_pipe[0]);
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    std::ifstream err(err_path, std::ios::binary);
    r.err.assign(std::istreambuf_iterator<char>(err), {});
    fs::remove(err_path);
    return r;
}

std::string slurp(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

void spit(const fs::path& p, const std::string& data)
{
    std::ofstream f(p, std::ios::binary);
    f << data;
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

class cli_test : public testing::Test {
protected:
    fs::path dir;
    void SetUp() override
    {
        char tmpl[] = "/tmp/quib-cli-XXXXXX";
        dir = ::mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir); }
};

const std::string help_screen(const std::string& name)
{
    return "\n"
           " ************************\n"
           " ***       Quib       ***\n"
           " ***  HTML und Text   ***\n"
           " ************************\n"
           "\n"
           " Version 3.3, 15.01.2009\n"
           "\n"
           " Ersetzt in Text- und HTML-Dateien einfache durch typographische\n"
           " Anf\x81hrungszeichen. Damit diese richtig dargestellt werden,\n"
           " mu\xE1 im HTML-Dateikopf folgende Zeile vorkommen:\n"
           "\n"
           " <meta http-equiv=\"content-type\" content=\"text/html; charset=ISO-8859-1\">\n"
           "\n"
           " Syntax: " +
           name +
           " <Quelldatei> <Zieldatei> [<Optionen>]\n"
           "\n"
           " Optionen:\n"
           "  -z\tZwischen schlie\xE1"
           "ende und \x94"
           "ffnende spitze Klammern (><)\n"
           "  \twird ein Zeilenumbruch eingef\x81gt.\n";
}

TEST_F(cli_test, help_screen_is_exact_and_touches_no_file)
{
    struct help_case {
        std::vector<std::string> args;
        std::string program_name;
    };
    const help_case cases[] = {
        {{}, QUIB_EXE},
        {{"only-source.html"}, QUIB_EXE},
        {{}, "quib"},
        {{"-z"}, "./some dir/quib.exe"},
    };
    spit(dir / "only-source.html", "\"x\"");
    for (const help_case& c : cases) {
        run_result r = run(c.args, dir, c.program_name);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, help_screen(c.program_name));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(names_in(dir), std::vector<std::string>{"only-source.html"});
        EXPECT_EQ(slurp(dir / "only-source.html"), "\"x\"");
    }
    for (char c : help_screen("q")) {
        // The banner's lines are 25 characters wide, the help has no CR.
        ASSERT_NE(c, '\r');
    }
}

TEST_F(cli_test, option_z_in_every_position)
{
    const std::string input = "<p><b>\"x\"</b>";
    const std::string with_z = "<p>\n<b>\x84x\x93</b>";
    struct z_case {
        std::vector<std::string> args;
        const char* target;
        bool z_on;
    };
    const z_case cases[] = {
        {{"in.html", "out.html"}, "out.html", false},
        {{"in.html", "out.html", "-z"}, "out.html", true},
        {{"in.html", "out.html", "x", "-z"}, "out.html", true},
        {{"in.html", "out.html", "-z", "x"}, "out.html", true},
        {{"in.html", "out.html", "-Z"}, "out.html", false},
        {{"in.html", "out.html", "z"}, "out.html", false},
        {{"in.html", "out.html", "--z"}, "out.html", false},
        {{"in.html", "out.html", "-z "}, "out.html", false},
        {{"in.html", "-z"}, "-z", true},
        {{"in.html", "-z", "-z"}, "-z", true},
    };
    for (const z_case& c : cases) {
        spit(dir / "in.html", input);
        run_result r = run(c.args, dir);
        EXPECT_EQ(r.status, 0) << c.args.back();
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(slurp(dir / c.target), c.z_on ? with_z : "<p><b>\x84x\x93</b>") << c.args.back();
        fs::remove(dir / c.target);
    }
}

TEST_F(cli_test, mark_options_after_the_file_names)
{
    const std::string input = "<a title=\"t\">\"x\"</a>";
    struct marks_case {
        std::vector<std::string> options;
        std::string open;
        std::string close;
    };
    const marks_case cases[] = {
        {{}, "\x84", "\x93"},
        {{"--utf8"}, "\xE2\x80\x9E", "\xE2\x80\x9C"},
        {{"--entities"}, "&bdquo;", "&ldquo;"},
        {{"--guillemets"}, "\xBB", "\xAB"},
        {{"--swiss"}, "\xAB", "\xBB"},
        {{"--guillemets", "--utf8"}, "\xC2\xBB", "\xC2\xAB"},
        {{"--utf8", "--swiss"}, "\xC2\xAB", "\xC2\xBB"},
        {{"--entities", "--guillemets"}, "&raquo;", "&laquo;"},
        {{"--swiss", "--entities"}, "&laquo;", "&raquo;"},
        {{"--utf8", "--entities"}, "&bdquo;", "&ldquo;"},
        {{"--entities", "--utf8"}, "\xE2\x80\x9E", "\xE2\x80\x9C"},
        {{"--swiss", "--guillemets"}, "\xBB", "\xAB"},
        {{"--UTF8", "--utf-8", "-utf8", "--swiss=1", "x"}, "\x84", "\x93"},
        {{"--utf8", "-z"}, "\xE2\x80\x9E", "\xE2\x80\x9C"},
    };
    spit(dir / "in", input);
    for (const marks_case& c : cases) {
        std::vector<std::string> args{"in", "out"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        run_result r = run(args, dir);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(slurp(dir / "out"), "<a title=\"t\">" + c.open + "x" + c.close + "</a>")
            << testing::PrintToString(c.options);
    }
}

TEST_F(cli_test, mark_options_in_a_file_name_position_are_file_names)
{
    spit(dir / "--utf8", "\"x\"");
    run_result r = run({"--utf8", "--swiss"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(slurp(dir / "--swiss"), "\x84x\x93");
}

TEST_F(cli_test, check_reports_spots_with_status_3_and_the_same_target)
{
    const std::string input = "Ein 12\" Monitor.\r\nEr sagte \"ja\".\r\n";
    spit(dir / "in.txt", input);
    run_result plain = run({"in.txt", "plain.txt"}, dir, "quib");
    run_result checked = run({"in.txt", "checked.txt", "--check"}, dir, "quib");
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(checked.status, 3);
    EXPECT_EQ(slurp(dir / "checked.txt"), slurp(dir / "plain.txt"));
    EXPECT_EQ(checked.err,
              "in.txt:1: Anfuehrungszeichen direkt nach einer Ziffer oeffnet eine Anfuehrung;"
              " fuer ein Zollzeichen \\\" schreiben\n"
              "in.txt:2: Anfuehrung, die hier beginnt, wird bis zum Dateiende nicht"
              " geschlossen\n");
    for (char c : checked.err) {
        ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "messages are plain ASCII";
    }
}

TEST_F(cli_test, check_without_findings_and_with_errors)
{
    spit(dir / "good.txt", "Er sagte \"Hallo\".\n\n\"Zweiter\" Absatz.\n");
    run_result r = run({"good.txt", "out.txt", "--check"}, dir, "quib");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");

    spit(dir / "bad.txt", "12\"");
    r = run({"bad.txt", "/dev/full", "--check"}, dir, "quib");
    EXPECT_EQ(r.status, 2) << "an error outranks the findings";
    r = run({"missing.txt", "out2.txt", "--check"}, dir, "quib");
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(fs::exists(dir / "out2.txt"));

    r = run({"bad.txt", "--check"}, dir, "quib");
    EXPECT_EQ(r.status, 0) << "--check as the target is a file name";
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(slurp(dir / "--check"), "12\x84");
}

TEST_F(cli_test, source_named_z_switches_the_option_on)
{
    spit(dir / "-z", "<a><b>");
    run_result r = run({"-z", "out"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(slurp(dir / "out"), "<a>\n<b>");
}

TEST_F(cli_test, existing_target_is_overwritten)
{
    spit(dir / "in", "\"kurz\"");
    spit(dir / "out", std::string(10000, 'x'));
    run_result r = run({"in", "out"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(slurp(dir / "out"), "\x84kurz\x93");
}

TEST_F(cli_test, unreadable_source_is_reported_and_target_not_created)
{
    fs::create_directory(dir / "folder");
    struct source_case {
        const char* source;
        const char* reason;
    };
    const source_case cases[] = {
        {"missing.html", "No such file or directory"},
        {"folder", "Is a directory"},
    };
    for (const source_case& c : cases) {
        run_result r = run({c.source, "out.html"}, dir, "quib");
        EXPECT_EQ(r.status, 2) << c.source;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("quib: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.source), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.html"));
    }
}

TEST_F(cli_test, source_without_permission_is_reported)
{
    // Root reads every file, so as root the program runs as nobody.
    const uid_t nobody = 65534;
    const uid_t as_user = ::geteuid() == 0 ? nobody : 0;
    fs::permissions(dir, fs::perms::all);
    // A copy in the test's own folder, which nobody may enter, unlike perhaps
    // the build folder.
    fs::copy_file(QUIB_EXE, dir / "quib-copy");
    fs::permissions(dir / "quib-copy", fs::perms::all);
    spit(dir / "secret", "x");
    fs::permissions(dir / "secret", fs::perms::none);
    run_result r = run({"secret", "out"}, dir, "quib", "", as_user, (dir / "quib-copy").string());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Permission denied"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST_F(cli_test, target_that_cannot_be_created_is_reported)
{
    spit(dir / "in", "\"x\"");
    fs::create_directory(dir / "folder");
    for (const char* target : {"no/such/dir/out", "folder"}) {
        run_result r = run({"in", target}, dir, "quib");
        EXPECT_EQ(r.status, 2) << target;
        EXPECT_EQ(r.err.rfind("quib: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(target), std::string::npos) << r.err;
        EXPECT_EQ(slurp(dir / "in"), "\"x\"");
    }
}

TEST_F(cli_test, target_that_is_the_source_is_refused)
{
    const std::string original = "Er sagte \"Hallo\".\n";
    spit(dir / "in.html", original);
    fs::create_symlink("in.html", dir / "link.html");
    fs::create_hard_link(dir / "in.html", dir / "hard.html");
    fs::create_directory(dir / "sub");
    struct same_case {
        const char* source;
        const char* target;
    };
    const same_case cases[] = {
        {"in.html", "in.html"},   {"in.html", "./in.html"},  {"in.html", "sub/../in.html"},
        {"in.html", "link.html"}, {"link.html", "in.html"},  {"in.html", "hard.html"},
        {"hard.html", "in.html"}, {"in.html", "-z"},
    };
    fs::create_symlink("in.html", dir / "-z");
    for (const same_case& c : cases) {
        run_result r = run({c.source, c.target}, dir, "quib");
        EXPECT_EQ(r.status, 2) << c.source << " " << c.target;
        EXPECT_EQ(r.err.rfind("quib: ", 0), 0u) << r.err;
        EXPECT_EQ(slurp(dir / "in.html"), original) << c.source << " " << c.target;
    }
}

TEST_F(cli_test, pipes_and_terminals_by_name_are_not_refused)
{
    run_result r = run({"/dev/stdin", "/dev/stdout"}, dir, QUIB_EXE, "<p><b>\"x\"");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "<p><b>\x84x\x93");
}

TEST_F(cli_test, write_error_is_reported)
{
    spit(dir / "in", std::string(300000, 'a') + "\"x\"");
    run_result r = run({"in", "/dev/full"}, dir, "quib");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("/dev/full"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;

    spit(dir / "small", "x");
    r = run({"small", "/dev/full"}, dir, "quib");
    EXPECT_EQ(r.status, 2) << "a write that fails only when the target is closed";
}

TEST_F(cli_test, read_error_is_reported)
{
    // Reading a process's memory at address 0 fails with an I/O error.
    run_result r = run({"/proc/self/mem", "out"}, dir, "quib");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("/proc/self/mem"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Input/output error"), std::string::npos) << r.err;
}

TEST_F(cli_test, a_million_open_brackets_are_copied_whole)
{
    const std::string input(1000000, '<');
    spit(dir / "in", input);
    run_result r = run({"in", "out", "-z"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(slurp(dir / "out") == input);
}

// With too little memory for the reading and writing threads (their stacks,
// then the rings, then the pass itself) quib converts on one thread or
// reports the lack; it never writes anything but the whole conversion. The
// sanitizers need more address space than any of these limits.
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
        run_result r = run({"in", "out"}, dir, QUIB_EXE, "", 0, QUIB_EXE, mib << 20);
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
    run_result r = run({example.string(), "out.html", "-z"}, dir);
    EXPECT_EQ(r.status, 0);
    std::string out = slurp(dir / "out.html");
    EXPECT_NE(out.find('\x84'), std::string::npos);
    EXPECT_NE(out.find('\x93'), std::string::npos);
    EXPECT_EQ(out, slurp(fs::path(QUIB_SOURCE_DIR) / "examples" / "beispiel.z.expected"));
}

} // namespace
