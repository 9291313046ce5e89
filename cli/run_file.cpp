// Opening, checking and closing the two files around the conversion.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace {

// "quib: Quelldatei 'x' kann nicht geoeffnet werden: <reason>"
void report(const char* program_name, const char* role, const char* file, const char* what,
            int error)
{
    std::fprintf(stderr, "%s: %s '%s' %s: %s\n", program_name, role, file, what,
                 std::strerror(error));
}

// A target that is the source under another spelling (./name, a symbolic or a
// hard link) would be truncated before it is read. Only regular files are
// compared: two names of one terminal or pipe are not a danger.
bool is_same_regular_file(const struct stat& source, const char* target)
{
    struct stat t {};
    return S_ISREG(source.st_mode) && ::stat(target, &t) == 0 && S_ISREG(t.st_mode) &&
           t.st_dev == source.st_dev && t.st_ino == source.st_ino;
}

struct spot_context {
    const char* source;
    bool html;
};

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

// One line per spot, in the form editors jump to: "<source>:<line>: <text>".
void print_spot(void* context, const quib_spot* spot)
{
    const auto& c = *static_cast<const spot_context*>(context);
    const char* element = spot->element != nullptr ? spot->element : "";
    std::fprintf(stderr, "%s:%lu: ", c.source, spot->line);
    switch (spot->kind) {
    case QUIB_SPOT_QUOTE_AFTER_DIGIT:
        std::fputs("Anfuehrungszeichen direkt nach einer Ziffer oeffnet eine Anfuehrung;"
                   " fuer ein Zollzeichen \\\" schreiben\n",
                   stderr);
        break;
    case QUIB_SPOT_PARAGRAPH_IN_QUOTE:
        std::fputs("Anfuehrung, die hier beginnt, geht ueber eine Absatzgrenze"
                   " (Leerzeile oder </p>)\n",
                   stderr);
        break;
    case QUIB_SPOT_QUOTE_CUT_OFF:
        std::fputs("Anfuehrung, die hier beginnt, wird bis zum Dateiende nicht geschlossen\n",
                   stderr);
        break;
    case QUIB_SPOT_ELEMENT_UNCLOSED:
        std::fprintf(stderr,
                     "Element <%s>, das hier beginnt, wird bis zum Dateiende nicht geschlossen;"
                     " der Rest blieb unveraendert\n",
                     element);
        break;
    case QUIB_SPOT_MARKUP_UNCLOSED:
        if (c.html) {
            std::fprintf(stderr,
                         "%s, der/das hier beginnt, wird bis zum Dateiende nicht geschlossen;"
                         " der Rest blieb unveraendert\n",
                         markup_kind(spot->element));
        } else {
            std::fputs("spitze Klammer, die hier ein Tag beginnt, wird bis zum Dateiende nicht"
                       " geschlossen; der Rest wurde nicht umgewandelt (fuer Webseiten --html"
                       " verwenden)\n",
                       stderr);
        }
        break;
    case QUIB_SPOT_QUOTE_IN_CODE:
        std::fprintf(stderr,
                     "Anfuehrungszeichen in <%s> umgewandelt; fuer Webseiten --html verwenden\n",
                     element);
        break;
    case QUIB_SPOT_UTF8_PAGE_BYTE_MARKS:
        std::fputs("Seite ist als UTF-8 deklariert, erhaelt aber Anfuehrungszeichen als"
                   " einzelne Bytes; --utf8 oder --html verwenden\n",
                   stderr);
        break;
    }
}

} // namespace

int run_file(const char* program_name, const char* source, const char* target,
             const run_options& options)
{
    const int in_fd = ::open(source, O_RDONLY | O_CLOEXEC);
    if (in_fd < 0) {
        report(program_name, "Quelldatei", source, "kann nicht geoeffnet werden", errno);
        return EXIT_FILE_ERROR;
    }
    struct stat source_stat {};
    if (::fstat(in_fd, &source_stat) != 0 || S_ISDIR(source_stat.st_mode)) {
        int error = S_ISDIR(source_stat.st_mode) ? EISDIR : errno;
        report(program_name, "Quelldatei", source, "kann nicht gelesen werden", error);
        ::close(in_fd);
        return EXIT_FILE_ERROR;
    }
    if (is_same_regular_file(source_stat, target)) {
        std::fprintf(stderr,
                     "%s: Zieldatei '%s' ist dieselbe Datei wie die Quelldatei '%s';"
                     " nichts geschrieben\n",
                     program_name, target, source);
        ::close(in_fd);
        return EXIT_FILE_ERROR;
    }
    const int out_fd = ::open(target, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out_fd < 0) {
        report(program_name, "Zieldatei", target, "kann nicht angelegt werden", errno);
        ::close(in_fd);
        return EXIT_FILE_ERROR;
    }

    spot_context context{source, options.html};
    quib_options q = QUIB_OPTIONS_INIT;
    q.break_tags = options.break_tags ? 1 : 0;
    q.style = options.style;
    q.form = options.form;
    q.html = options.html ? 1 : 0;
    unsigned long spots = 0;
    struct counting {
        spot_context* context;
        unsigned long* spots;
    } counter{&context, &spots};
    if (options.check) {
        q.check = [](void* c, const quib_spot* spot) {
            auto* k = static_cast<counting*>(c);
            ++*k->spots;
            print_spot(k->context, spot);
        };
        q.check_context = &counter;
    }
    const int rc = quib_convert_fd(in_fd, out_fd, &q);
    const int error = errno;

    int status = EXIT_CONVERTED;
    ::close(in_fd);
    int write_error = rc == QUIB_ERROR_WRITE ? error : 0;
    if (rc == QUIB_ERROR_READ) {
        report(program_name, "Quelldatei", source,
               "konnte nicht ganz gelesen werden, das Ziel ist unvollstaendig", error);
        status = EXIT_FILE_ERROR;
    } else if (rc == QUIB_ERROR_MEMORY || rc == QUIB_ERROR_IMPLEMENTATION ||
               rc == QUIB_ERROR_ARGUMENT) {
        report(program_name, "Quelldatei", source, "kann nicht umgewandelt werden", error);
        status = EXIT_FILE_ERROR;
    }
    if (::close(out_fd) != 0 && write_error == 0) {
        write_error = errno;
    }
    if (write_error != 0) {
        report(program_name, "Zieldatei", target, "konnte nicht geschrieben werden", write_error);
        status = EXIT_FILE_ERROR;
    }
    if (status == EXIT_CONVERTED && spots > 0) {
        status = EXIT_CHECK_FOUND;
    }
    return status;
}
