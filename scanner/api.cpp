// The public functions of quib.h: each one pass, set up from the caller's
// options, with the result turned into a return code and errno.

#include <quib/quib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "chunk_dispatch.h"
#include "pass.h"

namespace {

const quib_options DEFAULT_OPTIONS = QUIB_OPTIONS_INIT;

// An enumeration's value as the caller stored it: a C caller may store any
// int, which C++ must not read as the enumeration.
template <class Enum>
int stored_value(const Enum& field)
{
    static_assert(sizeof(Enum) == sizeof(int));
    int value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

bool read_options(const quib_options* given, pass_options& o)
{
    const quib_options& q = given != nullptr ? *given : DEFAULT_OPTIONS;
    const int style = stored_value(q.style);
    const int form = stored_value(q.form);
    if (style < QUIB_STYLE_GERMAN || style > QUIB_STYLE_SWISS || form < QUIB_FORM_DEFAULT ||
        form > QUIB_FORM_ENTITIES) {
        return false;
    }
    o.break_tags = q.break_tags != 0;
    o.html = q.html != 0;
    o.style = static_cast<mark_style>(style - QUIB_STYLE_GERMAN);
    switch (static_cast<quib_form>(form)) {
    case QUIB_FORM_DEFAULT:
        if (!o.html) {
            o.form = mark_form::bytes;
        }
        break;
    case QUIB_FORM_BYTES:
        o.form = mark_form::bytes;
        break;
    case QUIB_FORM_UTF8:
        o.form = mark_form::utf8;
        break;
    case QUIB_FORM_ENTITIES:
        o.form = mark_form::entities;
        break;
    }
    o.check = q.check != nullptr;
    o.report = q.check;
    o.report_context = q.check_context;
    return true;
}

int fail(int code, int error)
{
    errno = error;
    return code;
}

int outcome(const pass_result& r, bool in_memory)
{
    if (r.setup_error == ENOMEM) {
        return fail(QUIB_ERROR_MEMORY, ENOMEM);
    }
    if (r.setup_error != 0) {
        return fail(QUIB_ERROR_IMPLEMENTATION, r.setup_error);
    }
    if (r.read_error != 0) {
        return fail(QUIB_ERROR_READ, r.read_error);
    }
    if (r.write_error != 0) {
        return fail(in_memory ? QUIB_ERROR_MEMORY : QUIB_ERROR_WRITE, r.write_error);
    }
    return QUIB_OK;
}

} // namespace

extern "C" {

int quib_convert_buffer(const void* input, size_t length, void** output, size_t* output_length,
                        const quib_options* options)
{
    // NULL and 0 after any failure, a wrong argument among them.
    if (output != nullptr) {
        *output = nullptr;
    }
    if (output_length != nullptr) {
        *output_length = 0;
    }
    pass_options o;
    if (output == nullptr || output_length == nullptr || (input == nullptr && length != 0) ||
        !read_options(options, o)) {
        return fail(QUIB_ERROR_ARGUMENT, EINVAL);
    }
    byte_source source;
    source.kind = io_kind::memory;
    source.data = static_cast<const unsigned char*>(input);
    source.size = length;
    byte_sink sink;
    sink.kind = io_kind::memory;
    const int rc = outcome(run_pass(source, sink, o), true);
    if (rc != QUIB_OK) {
        const int error = errno;
        std::free(sink.buffer);
        errno = error;
        return rc;
    }
    *output = sink.buffer;
    *output_length = sink.length;
    return QUIB_OK;
}

void quib_free(void* buffer)
{
    std::free(buffer);
}

int quib_convert_fd_after(const void* head, size_t head_length, int input_fd, int output_fd,
                          const quib_options* options)
{
    pass_options o;
    if (input_fd < 0 || output_fd < 0 || (head == nullptr && head_length != 0) ||
        !read_options(options, o)) {
        return fail(QUIB_ERROR_ARGUMENT, EINVAL);
    }
    byte_source source;
    source.kind = io_kind::fd;
    source.fd = input_fd;
    source.data = static_cast<const unsigned char*>(head);
    source.size = head_length;
    byte_sink sink;
    sink.kind = io_kind::fd;
    sink.fd = output_fd;
    return outcome(run_pass(source, sink, o), false);
}

int quib_convert_fd(int input_fd, int output_fd, const quib_options* options)
{
    return quib_convert_fd_after(nullptr, 0, input_fd, output_fd, options);
}

int quib_convert_file(FILE* input, FILE* output, const quib_options* options)
{
    pass_options o;
    if (input == nullptr || output == nullptr || !read_options(options, o)) {
        return fail(QUIB_ERROR_ARGUMENT, EINVAL);
    }
    byte_source source;
    source.kind = io_kind::stream;
    source.stream = input;
    byte_sink sink;
    sink.kind = io_kind::stream;
    sink.stream = output;
    pass_result r = run_pass(source, sink, o);
    // What the stream still holds is part of the output.
    errno = 0;
    if (r.setup_error == 0 && std::fflush(output) != 0 && r.write_error == 0) {
        r.write_error = errno != 0 ? errno : EIO;
    }
    return outcome(r, false);
}

const char* quib_version(void)
{
    return QUIB_VERSION_STRING;
}

const char* quib_implementation(void)
{
    const implementation* impl = chosen_implementation();
    return impl != nullptr ? impl->name : nullptr;
}

} // extern "C"
