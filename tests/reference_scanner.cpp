#include "reference_scanner.h"

namespace {

constexpr int END = -1;

struct model {
    std::string_view in;
    std::size_t pos = 0;
    int pushed = END - 1;
    std::string out;
    int cur = 0;
    unsigned char last = 0;
    bool break_tags = false;
    std::string open;
    std::string close;

    int read()
    {
        if (pushed != END - 1) {
            cur = pushed;
            pushed = END - 1;
        } else {
            cur = pos < in.size() ? static_cast<unsigned char>(in[pos++]) : END;
        }
        return cur;
    }
    void put(int c) { out.push_back(static_cast<char>(c)); }

    void escape()
    {
        read();
        if (cur == '"' || cur == '<' || cur == '>' || cur == '\\') {
            put(cur);
        } else if (cur != END) {
            put('\\');
            put(cur);
        }
        last = static_cast<unsigned char>(cur);
    }

    void tag()
    {
        put('<');
        for (;;) {
            read();
            if (cur == '>') {
                put('>');
                last = '>';
                return;
            }
            if (cur == END) {
                return;
            }
            if (cur == '<') {
                tag();
            } else if (cur == '\\') {
                escape();
            } else {
                put(cur);
            }
        }
    }

    void entity()
    {
        std::string name;
        for (;;) {
            read();
            if (cur == END) {
                break;
            }
            name.push_back(static_cast<char>(cur));
            if (cur == ';' || cur == ' ' || name.size() == 11) {
                break;
            }
        }
        if (name == "quot;" || name == "bdquo;" || name == "ldquo;") {
            pushed = '"';
            return;
        }
        out += '&';
        out += name;
    }

    void quotation()
    {
        out += open;
        read();
        while (cur != '"' && cur != END) {
            if (cur == '<') {
                tag();
            } else if (cur == '\\') {
                escape();
            } else if (cur == '&') {
                entity();
            } else {
                put(cur);
            }
            read();
        }
        if (cur == '"') {
            out += close;
        }
        last = '"';
    }

    void top()
    {
        while (cur != END) {
            read();
            if (cur == '&') {
                entity();
            } else if (cur == '"') {
                quotation();
            } else if (cur == '<') {
                if (break_tags && last == '>') {
                    put('\n');
                    last = 0;
                }
                tag();
            } else if (cur == '\\') {
                escape();
            } else if (cur != END) {
                put(cur);
                last = static_cast<unsigned char>(cur);
            }
        }
    }
};

} // namespace

std::string reference_convert(std::string_view input, bool break_tags, const std::string& open,
                              const std::string& close)
{
    model m;
    m.in = input;
    m.break_tags = break_tags;
    m.open = open;
    m.close = close;
    m.top();
    return m.out;
}
