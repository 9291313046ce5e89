#include "conversion_cases.h"

#include <string>

using namespace std::string_literals;

namespace {

std::string many(char c, std::size_t n)
{
    return std::string(n, c);
}

} // namespace

const std::vector<conversion_case>& conversion_cases()
{
    static const std::vector<conversion_case> cases = {
        // Top level and the -z rule
        {"empty input", "", false, ""},
        {"plain text with high bytes and line ends", "Gr\xFC\xDF" "e\r\nan alle\n\x80\xFE\x01",
         false, "Gr\xFC\xDF" "e\r\nan alle\n\x80\xFE\x01"},
        {"0xFF does not end the pass", "a\xFF\"b\"", false, "a\xFF" OQ "b" CQ},
        {"0x1A passes", "a\x1A\"b\"", false, "a\x1A" OQ "b" CQ},
        {"NUL passes", "a\0\"b\""s, false, "a\0" OQ "b" CQ ""s},
        {"stray > sets the marker", "x><b>", true, "x>\n<b>"},
        {"stray > without -z", "x><b>", false, "x><b>"},
        {"adjacent tags", "<p><b>", true, "<p>\n<b>"},
        {"adjacent tags without -z", "<p><b>", false, "<p><b>"},
        {"space between tags", "<p> <b>", true, "<p> <b>"},
        {"line end between tags", "<p>\n<b>", true, "<p>\n<b>"},
        {"entity keeps the marker", "<p>&amp;<b>", true, "<p>&amp;\n<b>"},
        {"quotation between tags", "<p>\"q\"<b>", true, "<p>" OQ "q" CQ "<b>"},
        {"ampersand name ended by space", "<p>& <b>", true, "<p>& \n<b>"},
        {"tag inside an ampersand window", "<p>&<b> x", true, "<p>&<b> x"},
        {"three adjacent tags", "<a><b><c>", true, "<a>\n<b>\n<c>"},
        {"nested tag then tag", "<a <b>><c>", true, "<a <b>>\n<c>"},
        {"no break inside a quotation", "\"<p><b>\"", true, OQ "<p><b>" CQ},
        {"no break after a quotation", "\"<p>\"<b>", true, OQ "<p>" CQ "<b>"},
        {"no break inside a tag", "<a <b><c>>", true, "<a <b><c>>"},
        {"break once only", "<p>\n<b><i>", true, "<p>\n<b>\n<i>"},

        // Escapes and tags
        {"attribute quotes stay", "<a href=\"x.html\">", false, "<a href=\"x.html\">"},
        {"nested tag", "<a <b> c>\"x\"", false, "<a <b> c>" OQ "x" CQ},
        {"escaped > in a tag", "<a \\> b>", false, "<a > b>"},
        {"escaped < in a tag", "<a \\<b> c>", false, "<a <b> c>"},
        {"text after an escaped < in a tag", "<a \\<b> c><i>", true, "<a <b> c>\n<i>"},
        {"tag cut off", "<a href=", false, "<a href="},
        {"escaped quote opens nothing", "\\\"a\"b\"", false, "\"a" OQ "b" CQ},
        {"escaped backslash", "\\\\", false, "\\"},
        {"escaped backslash before a quote", "\\\\\"x\"", false, "\\" OQ "x" CQ},
        {"escaped tag is text", "\\<b>", false, "<b>"},
        {"escaped tag sets the marker", "\\<b><i>", true, "<b>\n<i>"},
        {"escaped > at top level", "<p>\\><b>", true, "<p>>\n<b>"},
        {"escaped quote at top level", "<p>\\\"<b>", true, "<p>\"<b>"},
        {"escaped backslash between tags", "<p>\\\\<b>", true, "<p>\\<b>"},
        {"other backslash stays", "C:\\temp", false, "C:\\temp"},
        {"trailing backslash dropped", "a\\", false, "a"},
        {"escape in an attribute", "<a title=\"\\\"\">", false, "<a title=\"\"\">"},
        {"escape of an entity", "\\&quot;", false, "\\&quot;"},
        {"deep nesting", many('<', 100000), false, many('<', 100000)},
        {"deep nesting closed", many('<', 5000) + many('>', 5000) + "\"x\"", false,
         many('<', 5000) + many('>', 5000) + OQ "x" CQ},

        // Quotations and quote entities
        {"quotation", "Er sagte \"Hallo\" und ging.", false,
         "Er sagte " OQ "Hallo" CQ " und ging."},
        {"two quotations", "\"a\" \"b\"", false, OQ "a" CQ " " OQ "b" CQ},
        {"no nesting", "\"a \"b\" c\"", false, OQ "a " CQ "b" OQ " c" CQ},
        {"stray inch mark", "Ein 12\" Monitor.\nEr sagte \"ja\".", false,
         "Ein 12" OQ " Monitor.\nEr sagte " CQ "ja" OQ "."},
        {"unclosed tag in a quotation", "\"a <b c\" d", false, OQ "a <b c\" d"},
        {"tag in a quotation", "Er sagte \"Hallo <b class=\"x\">Welt</b>\".", false,
         "Er sagte " OQ "Hallo <b class=\"x\">Welt</b>" CQ "."},
        {"quotation cut off", "x \"abc", false, "x " OQ "abc"},
        {"quot entities", "&quot;Hallo&quot;", false, OQ "Hallo" CQ},
        {"bdquo ldquo", "&bdquo;Hallo&ldquo;", false, OQ "Hallo" CQ},
        {"ldquo bdquo", "&ldquo;Hallo&bdquo;", false, OQ "Hallo" CQ},
        {"quote then entity", "\"Hallo&quot;", false, OQ "Hallo" CQ},
        {"entity alone", "&quot;", false, OQ},
        {"two entities", "&quot;&quot;", false, OQ CQ},
        {"other entities", "&amp; &nbsp; &rdquo; &QUOT; &#34;", false,
         "&amp; &nbsp; &rdquo; &QUOT; &#34;"},
        {"ampersand and space", "A & B", false, "A & B"},
        {"ampersand semicolon", "&;", false, "&;"},
        {"tab does not end a name", "&a\tb;\"x\"", false, "&a\tb;" OQ "x" CQ},
        {"line end does not end a name", "&\nquot;\"x\"", false, "&\nquot;" OQ "x" CQ},
        {"long name", "&abcdefghijklm", false, "&abcdefghijklm"},
        {"quote as eleventh byte", "&abcdefghij\"x\"", false, "&abcdefghij\"x" OQ},
        {"quote as twelfth byte", "&abcdefghijk\"x\"", false, "&abcdefghijk" OQ "x" CQ},
        {"window swallows the closing quote", "Firma \"X&Y\" und \"Z\"", false,
         "Firma " OQ "X&Y\" und " CQ "Z" OQ},
        {"eleventh byte does not close", "\"x &abcdefghij\"y\" z\"", false,
         OQ "x &abcdefghij\"y" CQ " z" OQ},
        {"entity in a window", "&&quot;", false, "&&quot;"},
        {"entity in a later window", "Tom&Jerry&quot;", false, "Tom&Jerry&quot;"},
        {"window not interpreted", "&x\"abc\" z", false, "&x\"abc\" z"},
        {"ampersand at the end", "a&", false, "a&"},
        {"unfinished entity at the end", "&quot", false, "&quot"},
        {"entity in a tag", "<a title=\"&quot;\">", false, "<a title=\"&quot;\">"},
        {"entity closes a quotation", "\"a&ldquo; b", false, OQ "a" CQ " b"},
        {"entity closes then opens", "\"a&quot;&quot;", false, OQ "a" CQ OQ},
        {"escaped quote in a quotation", "\"a\\\"b\"", false, OQ "a\"b" CQ},
        {"escaped > in a quotation", "\"a\\>b\"<i>", true, OQ "a>b" CQ "<i>"},
        {"NUL in an unknown name", "&qu\0ot;x"s, false, "&qu\0ot;x"s},
        {"backslash in a window", "&\\\"x\"", false, "&\\\"x\""},
        {"CR LF kept", "a\r\n\"b\"\r\n", false, "a\r\n" OQ "b" CQ "\r\n"},
        {"quotation over lines", "\"a\n\nb\"", false, OQ "a\n\nb" CQ},
        {"road of one input", "Er sagte \"Hallo <b class=\"x\">Welt</b>\" &amp; ging.", false,
         "Er sagte " OQ "Hallo <b class=\"x\">Welt</b>" CQ " &amp; ging."},
    };
    return cases;
}
