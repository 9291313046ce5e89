// The messages of the command line: file errors and --check spots, each one
// whole line, in ASCII German (the console's code page is unknown).

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace {

const char* markup_kind(const char* element)
{
    if (element == nullptr) {
        return "Markup";
    }
    if (std::strcmp(element, "comment") == 0) {
        return "Kommentar";
    }
    if (std::strcmp(element, "cdata") == 0) {
        return "CDATA-Abschnitt";
    }
    if (std::strcmp(element, "instruction") == 0) {
        return "Verarbeitungsanweisung";
    }
    if (std::strcmp(element, "declaration") == 0) {
        return "Deklaration";
    }
    return "Tag";
}

void append(std::string& out, const char* format, const char* a = "", const char* b = "")
{
    char line[512];
    std::snprintf(line, sizeof line, format, a, b);
    out += line;
}

} // namespace

const char* shown_name(const char* name, char (&room)[SHOWN_NAME_ROOM])
{
    const auto is_control = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
    const char* c = name;
    while (*c != '\0' && !is_control(static_cast<unsigned char>(*c))) {
        ++c;
    }
    if (*c == '\0') {
        return name;
    }
    std::size_t n = 0;
    for (c = name; *c != '\0'; ++c) {
        const auto b = static_cast<unsigned char>(*c);
        char written[5] = {*c, '\0'};
        if (b == '\n' || b == '\t' || b == '\r') {
            written[0] = '\\';
            written[1] = b == '\n' ? 'n' : b == '\t' ? 't' : 'r';
            written[2] = '\0';
        } else if (is_control(b)) {
            std::snprintf(written, sizeof written, "\\%03o", b);
        }
        const std::size_t len = std::strlen(written);
        if (n + len >= SHOWN_NAME_ROOM) {
            break;
        }
        std::memcpy(room + n, written, len);
        n += len;
    }
    room[n] = '\0';
    return room;
}

std::string file_message(const char* program_name, const char* role, const char* file,
                         const char* what, int error)
{
    std::string out;
    out += program_name;
    out += ": ";
    out += role;
    char room[SHOWN_NAME_ROOM];
    out += " '";
    out += shown_name(file, room);
    out += "' ";
    out += what;
    out += ": ";
    out += std::strerror(error);
    out += '\n';
    return out;
}

void format_spot(std::string& out, const char* source, bool html, const quib_spot& spot)
{
    const char* element = spot.element != nullptr ? spot.element : "";
    char room[SHOWN_NAME_ROOM];
    out += shown_name(source, room);
    out += ':';
    out += std::to_string(spot.line);
    out += ": ";
    switch (spot.kind) {
    case QUIB_SPOT_QUOTE_AFTER_DIGIT:
        out += "Anfuehrungszeichen direkt nach einer Ziffer oeffnet eine Anfuehrung;"
               " fuer ein Zollzeichen \\\" schreiben\n";
        break;
    case QUIB_SPOT_PARAGRAPH_IN_QUOTE:
        out += html ? "Anfuehrung, die hier beginnt, geht ueber eine Absatzgrenze"
                      " (Leerzeile oder Blockelement)\n"
                    : "Anfuehrung, die hier beginnt, geht ueber eine Absatzgrenze"
                      " (Leerzeile oder </p>)\n";
        break;
    case QUIB_SPOT_QUOTE_CUT_OFF:
        out += "Anfuehrung, die hier beginnt, wird bis zum Dateiende nicht geschlossen\n";
        break;
    case QUIB_SPOT_ELEMENT_UNCLOSED:
        // A title's text is prose: the rest was converted, as its text.
        append(out,
               std::strcmp(element, "title") == 0
                   ? "Element <%s>, das hier beginnt, wird bis zum Dateiende nicht geschlossen;"
                     " der Rest wurde als sein Text gelesen\n"
                   : "Element <%s>, das hier beginnt, wird bis zum Dateiende nicht geschlossen;"
                     " der Rest blieb unveraendert\n",
               element);
        break;
    case QUIB_SPOT_MARKUP_UNCLOSED:
        if (html) {
            append(out,
                   "%s ab hier wird bis zum Dateiende nicht geschlossen;"
                   " der Rest blieb unveraendert\n",
                   markup_kind(spot.element));
        } else {
            out += "spitze Klammer, die hier ein Tag beginnt, wird bis zum Dateiende nicht"
                   " geschlossen; der Rest wurde nicht umgewandelt (fuer Webseiten --html"
                   " verwenden)\n";
        }
        break;
    case QUIB_SPOT_QUOTE_IN_CODE:
        append(out, "Anfuehrungszeichen in <%s> umgewandelt; fuer Webseiten --html verwenden\n",
               element);
        break;
    case QUIB_SPOT_ESCAPE_IN_CODE:
        append(out, "Backslash in <%s> entfernt; fuer Webseiten --html verwenden\n", element);
        break;
    case QUIB_SPOT_UTF16_PAGE:
        out += html ? "Seite in UTF-16 (Byte-Order-Mark): unveraendert kopiert\n"
                    : "Seite in UTF-16 (Byte-Order-Mark): quib wandelt einzelne Bytes um und"
                      " beschaedigt sie (--html kopiert sie unveraendert)\n";
        break;
    case QUIB_SPOT_MULTIBYTE_PAGE:
        out += html ? "Seite in einer Mehrbyte-Kodierung (Shift_JIS, Big5, GBK, gb18030,"
                      " ISO-2022-JP): unveraendert kopiert\n"
                    : "Seite in einer Mehrbyte-Kodierung (Shift_JIS, Big5, GBK, gb18030,"
                      " ISO-2022-JP): quib kann Zeichen beschaedigen, deren Bytes es fuer"
                      " seine eigenen haelt (--html kopiert sie unveraendert)\n";
        break;
    case QUIB_SPOT_UTF8_PAGE_BYTE_MARKS:
        out += "Seite ist als UTF-8 deklariert, erhaelt aber Anfuehrungszeichen als einzelne"
               " Bytes; --utf8 oder --html verwenden\n";
        break;
    }
}

bool wait_until_ready(int fd, short events)
{
    pollfd ready{fd, events, 0};
    int n = 0;
    while ((n = ::poll(&ready, 1, -1)) < 0 && errno == EINTR) {
    }
    return n > 0;
}

bool write_to_stderr(const char* data, std::size_t n)
{
    std::fflush(stderr); // whatever stdio holds goes first
    while (n > 0) {
        const ssize_t k = ::write(STDERR_FILENO, data, n);
        if (k > 0) {
            data += k;
            n -= static_cast<std::size_t>(k);
        } else if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_until_ready(STDERR_FILENO, POLLOUT)) {
                return false;
            }
        } else if (k == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}
