// libarchive's functions that Varko calls, each of the same name and type as in its headers,
// passing the call on to the library once it is loaded. It is loaded at the first call:
// most starts read no package, and loading it with the five libraries that only it needs
// was a tenth of the dynamic linker's work at every start. Should it fail to load, every
// call fails as libarchive's own calls fail, and the error string says why.
#include <archive.h>
#include <archive_entry.h>

#include <cstdarg>
#include <cstdio>

#include "format/loadedlibrary.h"

namespace {

template <varko::loaded::Name name, class Function, class Result, class... Arguments>
Result pass(Result failed, Arguments... arguments) {
    return varko::loaded::pass<VARKO_LIBARCHIVE, name, Function>(failed, arguments...);
}

}  // namespace

extern "C" {

archive* archive_read_new() {
    return pass<"archive_read_new", decltype(archive_read_new)>(static_cast<archive*>(nullptr));
}
int archive_read_free(archive* a) {
    return pass<"archive_read_free", decltype(archive_read_free)>(ARCHIVE_FATAL, a);
}
int archive_read_support_filter_bzip2(archive* a) {
    return pass<"archive_read_support_filter_bzip2", decltype(archive_read_support_filter_bzip2)>(
        ARCHIVE_FATAL, a);
}
int archive_read_support_filter_gzip(archive* a) {
    return pass<"archive_read_support_filter_gzip", decltype(archive_read_support_filter_gzip)>(
        ARCHIVE_FATAL, a);
}
int archive_read_support_filter_xz(archive* a) {
    return pass<"archive_read_support_filter_xz", decltype(archive_read_support_filter_xz)>(
        ARCHIVE_FATAL, a);
}
int archive_read_support_format_cpio(archive* a) {
    return pass<"archive_read_support_format_cpio", decltype(archive_read_support_format_cpio)>(
        ARCHIVE_FATAL, a);
}
int archive_read_support_format_raw(archive* a) {
    return pass<"archive_read_support_format_raw", decltype(archive_read_support_format_raw)>(
        ARCHIVE_FATAL, a);
}
int archive_read_support_format_tar(archive* a) {
    return pass<"archive_read_support_format_tar", decltype(archive_read_support_format_tar)>(
        ARCHIVE_FATAL, a);
}
int archive_read_support_format_xar(archive* a) {
    return pass<"archive_read_support_format_xar", decltype(archive_read_support_format_xar)>(
        ARCHIVE_FATAL, a);
}
int archive_read_open(archive* a, void* data, archive_open_callback* open,
                      archive_read_callback* read, archive_close_callback* close) {
    return pass<"archive_read_open", decltype(archive_read_open)>(ARCHIVE_FATAL, a, data, open,
                                                                  read, close);
}
int archive_read_open_filename(archive* a, const char* file, size_t blockSize) {
    return pass<"archive_read_open_filename", decltype(archive_read_open_filename)>(
        ARCHIVE_FATAL, a, file, blockSize);
}
int archive_read_next_header(archive* a, archive_entry** entry) {
    return pass<"archive_read_next_header", decltype(archive_read_next_header)>(ARCHIVE_FATAL, a,
                                                                                entry);
}
la_ssize_t archive_read_data(archive* a, void* buffer, size_t size) {
    return pass<"archive_read_data", decltype(archive_read_data)>(la_ssize_t(ARCHIVE_FATAL), a,
                                                                  buffer, size);
}
la_int64_t archive_filter_bytes(archive* a, int filter) {
    return pass<"archive_filter_bytes", decltype(archive_filter_bytes)>(la_int64_t(-1), a, filter);
}
const char* archive_error_string(archive* a) {
    return pass<"archive_error_string", decltype(archive_error_string)>(
        varko::loaded::failure<VARKO_LIBARCHIVE>(), a);
}
void archive_set_error(archive* a, int error, const char* format, ...) {
    auto* function = varko::loaded::resolved<VARKO_LIBARCHIVE, "archive_set_error",
                                             decltype(archive_set_error)>();
    if (function == nullptr) return;
    // The library's own call is variadic too; what reaches it is the finished text.
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    function(a, error, "%s", text);
}

// An entry comes only from a header the library read, so these never run without it.
__LA_MODE_T archive_entry_filetype(archive_entry* e) {
    return pass<"archive_entry_filetype", decltype(archive_entry_filetype)>(__LA_MODE_T(0), e);
}
__LA_MODE_T archive_entry_mode(archive_entry* e) {
    return pass<"archive_entry_mode", decltype(archive_entry_mode)>(__LA_MODE_T(0), e);
}
__LA_MODE_T archive_entry_perm(archive_entry* e) {
    return pass<"archive_entry_perm", decltype(archive_entry_perm)>(__LA_MODE_T(0), e);
}
la_int64_t archive_entry_gid(archive_entry* e) {
    return pass<"archive_entry_gid", decltype(archive_entry_gid)>(la_int64_t(0), e);
}
la_int64_t archive_entry_uid(archive_entry* e) {
    return pass<"archive_entry_uid", decltype(archive_entry_uid)>(la_int64_t(0), e);
}
la_int64_t archive_entry_size(archive_entry* e) {
    return pass<"archive_entry_size", decltype(archive_entry_size)>(la_int64_t(0), e);
}
int archive_entry_size_is_set(archive_entry* e) {
    return pass<"archive_entry_size_is_set", decltype(archive_entry_size_is_set)>(0, e);
}
const char* archive_entry_pathname(archive_entry* e) {
    return pass<"archive_entry_pathname", decltype(archive_entry_pathname)>(
        static_cast<const char*>(nullptr), e);
}
const char* archive_entry_hardlink(archive_entry* e) {
    return pass<"archive_entry_hardlink", decltype(archive_entry_hardlink)>(
        static_cast<const char*>(nullptr), e);
}
const char* archive_entry_symlink(archive_entry* e) {
    return pass<"archive_entry_symlink", decltype(archive_entry_symlink)>(
        static_cast<const char*>(nullptr), e);
}

}  // extern "C"
