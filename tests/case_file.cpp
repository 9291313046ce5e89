#include "case_file.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

[[noreturn]] void malformed(const std::string& path, int line, const std::string& what)
{
    std::fprintf(stderr, "%s:%d: %s\n", path.c_str(), line, what.c_str());
    std::exit(2);
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Decodes a block into text pieces separated by marks (marks_allowed) or
// into one piece.
void decode(const std::string& block, bool marks_allowed, std::vector<std::string>& text,
            std::vector<bool>& marks, const std::string& path, int line)
{
    text.assign(1, std::string());
    for (std::size_t i = 0; i < block.size();) {
        if (block.compare(i, 2, "[[") == 0) {
            if (block.compare(i, 6, "[[OQ]]") == 0 || block.compare(i, 6, "[[CQ]]") == 0) {
                if (!marks_allowed) {
                    malformed(path, line, "a mark in an input block");
                }
                marks.push_back(block[i + 2] == 'O');
                text.emplace_back();
                i += 6;
                continue;
            }
            if (i + 7 <= block.size() && block[i + 2] == 'x' && block.compare(i + 5, 2, "]]") == 0 &&
                hex_digit(block[i + 3]) >= 0 && hex_digit(block[i + 4]) >= 0) {
                text.back() += static_cast<char>(hex_digit(block[i + 3]) * 16 + hex_digit(block[i + 4]));
                i += 7;
                continue;
            }
        }
        text.back() += block[i++];
    }
}

} // namespace

bool case_entry::has_option(const std::string& option) const
{
    for (const std::string& o : options) {
        if (o == option) {
            return true;
        }
    }
    return false;
}

std::string case_entry::expected(const std::string& open, const std::string& close) const
{
    std::string r = output_text[0];
    for (std::size_t i = 0; i < output_marks.size(); ++i) {
        r += output_marks[i] ? open : close;
        r += output_text[i + 1];
    }
    return r;
}

std::vector<case_entry> read_case_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        malformed(path, 0, "cannot be read");
    }
    std::vector<case_entry> cases;
    std::string line;
    int number = 0;
    enum class part { between, header, input, output } at = part::between;
    case_entry c;
    std::string block;
    bool block_empty = true;
    const auto add_line = [&] {
        if (!block_empty) {
            block += '\n';
        }
        block += line;
        block_empty = false;
    };
    while (std::getline(f, line)) {
        ++number;
        switch (at) {
        case part::between:
            if (line.empty() || line[0] == '#') {
                break;
            }
            if (line.rfind("case: ", 0) != 0) {
                malformed(path, number, "expected 'case: <name>'");
            }
            c = case_entry{};
            c.name = line.substr(6);
            c.file = path;
            c.line = number;
            at = part::header;
            break;
        case part::header:
            if (line.rfind("options:", 0) == 0) {
                std::istringstream words(line.substr(8));
                for (std::string w; words >> w;) {
                    c.options.push_back(w);
                }
            } else if (line == "input:") {
                at = part::input;
                block.clear();
                block_empty = true;
            } else {
                malformed(path, number, "expected 'options:' or 'input:'");
            }
            break;
        case part::input:
            if (line == "output:") {
                std::vector<std::string> text;
                std::vector<bool> marks;
                decode(block, false, text, marks, path, number);
                c.input = text[0];
                at = part::output;
                block.clear();
                block_empty = true;
            } else {
                add_line();
            }
            break;
        case part::output:
            if (line == "end") {
                decode(block, true, c.output_text, c.output_marks, path, number);
                cases.push_back(c);
                at = part::between;
            } else {
                add_line();
            }
            break;
        }
    }
    if (at != part::between) {
        malformed(path, number, "file ends inside a case");
    }
    return cases;
}
