// SQLite's functions that the privacy database reader calls, each of the same name and type
// as in its header, passing the call on to the library once it is loaded. It is loaded at
// the first call: only a privacy database opened by hand needs it, and loading it at every
// start was a twentieth of the dynamic linker's work. Should it fail to load, the database
// fails to open, and the error string says why.
#include <sqlite3.h>

#include <cstdarg>

#include "format/loadedlibrary.h"

namespace {

template <varko::loaded::Name name, class Function, class Result, class... Arguments>
Result pass(Result failed, Arguments... arguments) {
    return varko::loaded::pass<VARKO_LIBSQLITE, name, Function>(failed, arguments...);
}

}  // namespace

extern "C" {

int sqlite3_open_v2(const char* file, sqlite3** db, int flags, const char* vfs) {
    if (varko::loaded::library<VARKO_LIBSQLITE>() == nullptr) {
        *db = nullptr;
        return SQLITE_CANTOPEN;
    }
    return pass<"sqlite3_open_v2", decltype(sqlite3_open_v2)>(SQLITE_CANTOPEN, file, db, flags,
                                                              vfs);
}
int sqlite3_close(sqlite3* db) {
    return pass<"sqlite3_close", decltype(sqlite3_close)>(SQLITE_OK, db);
}
const char* sqlite3_errstr(int result) {
    return pass<"sqlite3_errstr", decltype(sqlite3_errstr)>(
        varko::loaded::failure<VARKO_LIBSQLITE>(), result);
}

// The rest take a database that the library opened, so never run without it.
int sqlite3_db_config(sqlite3* db, int op, ...) {
    // Only the switches, which take a value and where to write the new state: the only
    // kind this reader sets.
    va_list arguments;
    va_start(arguments, op);
    const int value = va_arg(arguments, int);
    int* state = va_arg(arguments, int*);
    va_end(arguments);
    return pass<"sqlite3_db_config", decltype(sqlite3_db_config)>(SQLITE_MISUSE, db, op, value,
                                                                  state);
}
const char* sqlite3_errmsg(sqlite3* db) {
    return pass<"sqlite3_errmsg", decltype(sqlite3_errmsg)>(
        varko::loaded::failure<VARKO_LIBSQLITE>(), db);
}
int sqlite3_system_errno(sqlite3* db) {
    return pass<"sqlite3_system_errno", decltype(sqlite3_system_errno)>(0, db);
}
int sqlite3_limit(sqlite3* db, int id, int value) {
    return pass<"sqlite3_limit", decltype(sqlite3_limit)>(-1, db, id, value);
}
void sqlite3_progress_handler(sqlite3* db, int steps, int (*callback)(void*), void* context) {
    if (auto* function = varko::loaded::resolved<VARKO_LIBSQLITE, "sqlite3_progress_handler",
                                                 decltype(sqlite3_progress_handler)>())
        function(db, steps, callback, context);
}
int sqlite3_prepare_v2(sqlite3* db, const char* sql, int bytes, sqlite3_stmt** statement,
                       const char** tail) {
    return pass<"sqlite3_prepare_v2", decltype(sqlite3_prepare_v2)>(SQLITE_MISUSE, db, sql, bytes,
                                                                    statement, tail);
}
int sqlite3_step(sqlite3_stmt* s) {
    return pass<"sqlite3_step", decltype(sqlite3_step)>(SQLITE_MISUSE, s);
}
int sqlite3_finalize(sqlite3_stmt* s) {
    return pass<"sqlite3_finalize", decltype(sqlite3_finalize)>(SQLITE_OK, s);
}
int sqlite3_column_type(sqlite3_stmt* s, int column) {
    return pass<"sqlite3_column_type", decltype(sqlite3_column_type)>(SQLITE_NULL, s, column);
}
int sqlite3_column_bytes(sqlite3_stmt* s, int column) {
    return pass<"sqlite3_column_bytes", decltype(sqlite3_column_bytes)>(0, s, column);
}
sqlite3_int64 sqlite3_column_int64(sqlite3_stmt* s, int column) {
    return pass<"sqlite3_column_int64", decltype(sqlite3_column_int64)>(sqlite3_int64(0), s,
                                                                        column);
}
const void* sqlite3_column_blob(sqlite3_stmt* s, int column) {
    return pass<"sqlite3_column_blob", decltype(sqlite3_column_blob)>(
        static_cast<const void*>(nullptr), s, column);
}
const unsigned char* sqlite3_column_text(sqlite3_stmt* s, int column) {
    return pass<"sqlite3_column_text", decltype(sqlite3_column_text)>(
        static_cast<const unsigned char*>(nullptr), s, column);
}

}  // extern "C"
