/*
 * A C program built against an installed libquib, as any user builds one:
 * through the CMake package or pkg-config, shared or static. It converts
 * strings in memory and checks every byte, the check callback, an error and
 * that the library it runs with is the version its header announces.
 * Exit status 0 when every check passed.
 */
#include <quib/quib.h>

#include <errno.h>
#include <stdio.h>
#include <string.h>

static int checks;
static int failures;

static void check(int ok, const char* what)
{
    ++checks;
    if (!ok) {
        ++failures;
        fprintf(stderr, "consumer.c: FAILED: %s\n", what);
    }
}

/* Converts input with options and compares the output with expected, byte
 * for byte, and the NUL the library puts after it. */
static void expect(const char* input, const quib_options* options, const char* expected,
                   const char* what)
{
    void* out = NULL;
    size_t out_length = 0;
    const int rc = quib_convert_buffer(input, strlen(input), &out, &out_length, options);
    check(rc == QUIB_OK, what);
    if (rc != QUIB_OK) {
        return;
    }
    check(out_length == strlen(expected) && memcmp(out, expected, out_length) == 0, what);
    check(((const char*)out)[out_length] == '\0', "the output ends with a NUL");
    quib_free(out);
}

struct spots {
    int after_digit;
    int cut_off;
    unsigned long cut_off_line;
    int other;
};

static void record_spot(void* context, const quib_spot* spot)
{
    struct spots* s = context;
    switch (spot->kind) {
    case QUIB_SPOT_QUOTE_AFTER_DIGIT:
        ++s->after_digit;
        break;
    case QUIB_SPOT_QUOTE_CUT_OFF:
        ++s->cut_off;
        s->cut_off_line = spot->line;
        break;
    default:
        ++s->other;
        break;
    }
}

int main(void)
{
    /* The library that runs is the one the header describes. */
    const char* version = quib_version();
    check(version != NULL && strcmp(version, QUIB_VERSION_STRING) == 0,
          "quib_version() is QUIB_VERSION_STRING");
    check(QUIB_VERSION_MAJOR == 3, "QUIB_VERSION_MAJOR is 3");

    /* The default conversion: single windows-1252 bytes, markup untouched. */
    quib_options options = QUIB_OPTIONS_INIT;
    expect("Er sagte \"Hallo <b class=\"x\">Welt</b>\" &amp; ging.", &options,
           "Er sagte \x84Hallo <b class=\"x\">Welt</b>\x93 &amp; ging.",
           "default: bytes 0x84 and 0x93, the attribute's quotes kept");
    expect("C:\\temp \\\"zoll\\\" \"a\"", &options, "C:\\temp \"zoll\" \x84" "a\x93",
           "backslash escapes");

    /* UTF-8 guillemets, and entities in Swiss style. */
    options.form = QUIB_FORM_UTF8;
    options.style = QUIB_STYLE_GUILLEMETS;
    expect("a \"b\" c", &options, "a \xc2\xbb" "b\xc2\xab c", "UTF-8 guillemets");
    options.form = QUIB_FORM_ENTITIES;
    options.style = QUIB_STYLE_SWISS;
    expect("a \"b\" c", &options, "a &laquo;b&raquo; c", "entities, Swiss style");

    /* --html: only the prose changes, the script stays as it is. */
    quib_options html = QUIB_OPTIONS_INIT;
    html.html = 1;
    html.form = QUIB_FORM_UTF8;
    expect("<p>Er sagte \"Hallo\"</p><script>var s = \"x\";</script>", &html,
           "<p>Er sagte \xe2\x80\x9eHallo\xe2\x80\x9c</p><script>var s = \"x\";</script>",
           "html: prose converted, script unchanged");

    /* The check callback: an inch mark after a digit, a quotation left open. */
    struct spots spots = {0, 0, 0, 0};
    quib_options checked = QUIB_OPTIONS_INIT;
    checked.check = record_spot;
    checked.check_context = &spots;
    expect("Zeile eins\nEin 3,5\" Laufwerk", &checked, "Zeile eins\nEin 3,5\x84 Laufwerk",
           "check: the conversion is the same");
    check(spots.after_digit == 1, "check: one quote after a digit");
    check(spots.cut_off == 1 && spots.cut_off_line == 2, "check: a quotation cut off on line 2");
    check(spots.other == 0, "check: nothing else reported");

    /* Errors are codes with errno, never a crash. */
    size_t out_length = 0;
    errno = 0;
    check(quib_convert_buffer("x", 1, NULL, &out_length, &options) == QUIB_ERROR_ARGUMENT &&
              errno == EINVAL,
          "no output pointer: QUIB_ERROR_ARGUMENT, EINVAL");

    const char* implementation = quib_implementation();
    check(implementation != NULL, "quib_implementation() names a scanner");

    printf("consumer.c: libquib %s (%s): %d checks, %d failed\n", version ? version : "?",
           implementation ? implementation : "?", checks, failures);
    return failures == 0 ? 0 : 1;
}
