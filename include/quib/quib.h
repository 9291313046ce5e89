/*
 * quib: German typographic quotes for text and HTML.
 *
 * The conversion turns the straight double quotes of running text into
 * typographic marks („…“ by default), copies markup unchanged, resolves the
 * backslash escapes \" \< \> \\ and takes the quote entities as quotes;
 * everything else passes byte for byte. With html set, the input is read as
 * a browser reads HTML and only its prose is converted.
 *
 * The functions keep no global state and may be called from several threads
 * at once; two conversions never share anything. Errors are returned as
 * negative codes with errno set to the system's reason; nothing throws.
 */
#ifndef QUIB_QUIB_H
#define QUIB_QUIB_H

#include <stddef.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(QUIB_BUILDING_LIBRARY) && defined(__GNUC__)
#define QUIB_EXPORT __attribute__((visibility("default")))
#else
#define QUIB_EXPORT
#endif

#define QUIB_VERSION_MAJOR 3
#define QUIB_VERSION_MINOR 3
#define QUIB_VERSION_STRING "3.3"

/* The marks' style. */
typedef enum quib_style {
    QUIB_STYLE_GERMAN = 0, /* „…“ */
    QUIB_STYLE_GUILLEMETS, /* »…« */
    QUIB_STYLE_SWISS       /* «…» */
} quib_style;

/* The marks' form. */
typedef enum quib_form {
    QUIB_FORM_DEFAULT = 0, /* bytes; with html, the form the page declares */
    QUIB_FORM_BYTES,       /* single windows-1252 bytes, e.g. 0x84 0x93 */
    QUIB_FORM_UTF8,        /* UTF-8 */
    QUIB_FORM_ENTITIES     /* HTML entities, e.g. &bdquo; &ldquo; */
} quib_form;

/* What a check reports (the conversion is the same with and without). */
typedef enum quib_spot_kind {
    QUIB_SPOT_QUOTE_AFTER_DIGIT = 1, /* an opening quote right after a digit: an inch mark? */
    QUIB_SPOT_PARAGRAPH_IN_QUOTE,    /* a quotation over an empty line or a paragraph end */
    QUIB_SPOT_QUOTE_CUT_OFF,         /* a quotation the end of the input cuts off */
    QUIB_SPOT_ELEMENT_UNCLOSED,      /* html: raw text or a code element open at the end */
    QUIB_SPOT_MARKUP_UNCLOSED,       /* a tag or comment the end of the input cuts off */
    QUIB_SPOT_QUOTE_IN_CODE,         /* not html: a mark written inside script, pre, ... */
    QUIB_SPOT_UTF8_PAGE_BYTE_MARKS,  /* a page declaring UTF-8 gets single-byte marks */
    QUIB_SPOT_UTF16_PAGE,            /* a page in UTF-16 (byte order mark): with html
                                        copied unchanged, without it damaged */
    QUIB_SPOT_MULTIBYTE_PAGE,        /* a page declaring Shift_JIS, Big5, GBK, gb18030 or
                                        ISO-2022-JP: with html copied unchanged, without
                                        it damaged where a character holds '\\', '"', ... */
    QUIB_SPOT_ESCAPE_IN_CODE         /* not html: a backslash dropped inside script, pre, ...
                                        (\\" \\< \\> \\\\ lose it) */
} quib_spot_kind;

typedef struct quib_spot {
    quib_spot_kind kind;
    unsigned long line;  /* counted from 1 by line ends (0x0A) */
    /* The element concerned (e.g. "script"), "comment", "tag", or NULL. */
    const char* element;
} quib_spot;

typedef void (*quib_check_function)(void* context, const quib_spot* spot);

/* All zero is the default conversion: „German“ single-byte marks. */
typedef struct quib_options {
    int break_tags;                /* -z: a line end between adjacent tags */
    quib_style style;
    quib_form form;
    int html;                      /* read the input as HTML, convert only prose */
    quib_check_function check;     /* called for every suspicious spot, or NULL */
    void* check_context;
} quib_options;

#define QUIB_OPTIONS_INIT {0, QUIB_STYLE_GERMAN, QUIB_FORM_DEFAULT, 0, NULL, NULL}

/* Return codes; errno holds the system's reason on every failure. */
#define QUIB_OK 0
#define QUIB_ERROR_READ (-1)           /* reading the input failed */
#define QUIB_ERROR_WRITE (-2)          /* writing the output failed */
#define QUIB_ERROR_MEMORY (-3)         /* ENOMEM */
#define QUIB_ERROR_ARGUMENT (-4)       /* EINVAL: a null pointer or an invalid option */
#define QUIB_ERROR_IMPLEMENTATION (-5) /* QUIB_IMPLEMENTATION names one this processor
                                          cannot run (ENOTSUP) or none (EINVAL) */

/* Converts length bytes at input into a new buffer, which the caller frees
 * with quib_free. The buffer has a NUL after its output_length bytes. */
QUIB_EXPORT int quib_convert_buffer(const void* input, size_t length, void** output, size_t* output_length,
                        const quib_options* options);
QUIB_EXPORT void quib_free(void* buffer);

/* Converts everything readable from input_fd to output_fd. Neither is
 * closed. Where it pays, the conversion reads ahead and writes behind on
 * threads of its own, all joined before it returns. */
QUIB_EXPORT int quib_convert_fd(int input_fd, int output_fd, const quib_options* options);

/* As quib_convert_fd, for an input whose first head_length bytes the caller
 * has already read from input_fd into head (to see that the input can be
 * read before creating the output, say). */
QUIB_EXPORT int quib_convert_fd_after(const void* head, size_t head_length, int input_fd, int output_fd,
                          const quib_options* options);

/* Converts everything readable from input to output through the streams. */
QUIB_EXPORT int quib_convert_file(FILE* input, FILE* output, const quib_options* options);

/* "3.3" */
QUIB_EXPORT const char* quib_version(void);

/* The chunk scanner the conversions use here: "avx512", "avx2", "sse2",
 * "portable" or "bytes"; chosen once from the processor, or from the
 * environment variable QUIB_IMPLEMENTATION. NULL if that variable names an
 * implementation that is unknown or that this processor cannot run. */
QUIB_EXPORT const char* quib_implementation(void);

#ifdef __cplusplus
} /* extern "C" */

/* The C++ wrapper needs C++17 and exceptions; without them the header
 * gives the C functions alone. */
#if __cplusplus >= 201703L && (defined(__cpp_exceptions) || defined(__EXCEPTIONS))
#include <cerrno>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>

namespace quib {

struct options {
    bool break_tags = false;
    quib_style style = QUIB_STYLE_GERMAN;
    quib_form form = QUIB_FORM_DEFAULT;
    bool html = false;
    std::function<void(const quib_spot&)> check; /* empty: no check */
};

namespace detail {
struct check_forward {
    const std::function<void(const quib_spot&)>* check;
    std::exception_ptr failure;
};
/* An exception must not cross the C library: it is kept and thrown again */
/* once the conversion has returned. */
inline void forward_spot(void* context, const quib_spot* spot)
{
    auto* f = static_cast<check_forward*>(context);
    if (f->failure) {
        return;
    }
    try {
        (*f->check)(*spot);
    } catch (...) {
        f->failure = std::current_exception();
    }
}
} /* namespace detail */

/* The conversion in memory; throws std::bad_alloc or std::system_error. */
inline std::string convert(std::string_view input, const options& o = {})
{
    detail::check_forward forward{&o.check, nullptr};
    const quib_options c{o.break_tags ? 1 : 0, o.style, o.form, o.html ? 1 : 0,
                         o.check ? detail::forward_spot : nullptr, &forward};
    void* out = nullptr;
    std::size_t len = 0;
    const int rc = quib_convert_buffer(input.data(), input.size(), &out, &len, &c);
    if (rc == QUIB_ERROR_MEMORY) {
        throw std::bad_alloc();
    }
    if (rc != QUIB_OK) {
        throw std::system_error(errno, std::generic_category(), "quib::convert");
    }
    const std::unique_ptr<void, void (*)(void*)> owned(out, quib_free);
    std::string result(static_cast<const char*>(out), len);
    if (forward.failure) {
        std::rethrow_exception(forward.failure);
    }
    return result;
}

} /* namespace quib */
#endif /* C++17 with exceptions */
#endif /* __cplusplus */

#endif /* QUIB_QUIB_H */
