// The help screen, written for a console with code page 850: the letters
// ü, ß and ö are the single bytes 0x81, 0xE1 and 0x94.

#include <cstdio>

#include "cli.h"

namespace {

constexpr const char* VERSION = "3.3"; // as the help screen has always shown it
constexpr const char* VERSION_DATE = "15.01.2009";

constexpr const char* BANNER =
    "\n"
    " ************************\n"
    " ***       Quib       ***\n"
    " ***  HTML und Text   ***\n"
    " ************************\n"
    "\n";

constexpr const char* SYNTAX =
    " Ersetzt in Text- und HTML-Dateien einfache durch typographische\n"
    " Anf\x81hrungszeichen. Damit diese richtig dargestellt werden,\n"
    " mu\xE1 im HTML-Dateikopf folgende Zeile vorkommen:\n"
    "\n"
    " <meta http-equiv=\"content-type\" content=\"text/html; charset=ISO-8859-1\">\n"
    "\n"
    " Syntax: %s <Quelldatei> <Zieldatei> [<Optionen>]\n"
    "\n";

constexpr const char* OPTIONS =
    " Optionen:\n"
    "  -z\tZwischen schlie\xE1"
    "ende und \x94"
    "ffnende spitze Klammern (><)\n"
    "  \twird ein Zeilenumbruch eingef\x81gt.\n";

} // namespace

void print_help(const char* program_name)
{
    std::fputs(BANNER, stdout);
    std::printf(" Version %s, %s\n\n", VERSION, VERSION_DATE);
    std::printf(SYNTAX, program_name);
    std::fputs(OPTIONS, stdout);
}
