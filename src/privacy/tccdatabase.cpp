#include "privacy/tccdatabase.h"

#include <sqlite3.h>
#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>
#include <system_error>

namespace varko::privacy {

namespace {

// Every row is read whole into memory: together they stay under this.
constexpr std::size_t maxTotalBytes = 32 * 1024 * 1024;
// A progress callback every thousand virtual machine steps; a scan of the largest table
// allowed takes a few thousand. A view or generated column that never ends is cut off.
constexpr int stepsPerCallback = 1000;
constexpr int maxCallbacks = 200000;

Error refusal(std::string why, ErrorCode code = ErrorCode::malformed) {
    return Error{0, std::move(why), code};
}

struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct Finalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Db = std::unique_ptr<sqlite3, Closer>;
using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;

/// SQLite's complaint in words a user can act on.
Error sqliteError(sqlite3* db, int result) {
    switch (result & 0xff) {
        case SQLITE_NOTADB:
            return refusal("not a SQLite database");
        case SQLITE_CORRUPT:
            return refusal(std::string("the database is damaged: ") + sqlite3_errmsg(db));
        case SQLITE_INTERRUPT:
            return refusal("reading it took longer than any privacy database needs",
                           ErrorCode::tooLarge);
        case SQLITE_TOOBIG:
            return refusal("it holds a value larger than any privacy database does",
                           ErrorCode::tooLarge);
        case SQLITE_NOMEM:
            return refusal("it needs more memory than any privacy database does",
                           ErrorCode::tooLarge);
        default:
            return refusal(std::string("SQLite could not read it: ") + sqlite3_errmsg(db),
                           ErrorCode::unreadable);
    }
}

/// Why the file could not be opened, by the system's error.
Error openError(sqlite3* db, int result) {
    const int system = db != nullptr ? sqlite3_system_errno(db) : 0;
    if (system == EACCES || system == EPERM) {
#ifdef __APPLE__
        return refusal(
            "permission denied: reading a privacy database in place needs Full Disk Access "
            "(System Settings › Privacy & Security › Full Disk Access)",
            ErrorCode::refused);
#else
        return refusal("permission denied", ErrorCode::refused);
#endif
    }
    if (system == ENOENT) return refusal("No such file or directory", ErrorCode::missing);
    if (system != 0) return refusal(std::generic_category().message(system), ErrorCode::unreadable);
    return refusal(db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(result),
                   ErrorCode::unreadable);
}

std::string_view typeName(int type) {
    switch (type) {
        case SQLITE_INTEGER:
            return "a number";
        case SQLITE_FLOAT:
            return "a real number";
        case SQLITE_TEXT:
            return "text";
        case SQLITE_BLOB:
            return "a blob";
        default:
            return "NULL";
    }
}

/// The columns the reader asks for, in order; a column the table lacks is read as NULL.
enum Column { service, client, clientType, auth, reason, csreq, modified, indirect, count };

struct Wanted {
    const char* name;
    int type;
    bool nullable;
};

}  // namespace

std::string sqliteFileUri(const std::filesystem::path& path) {
    std::string out = "file:";
    static constexpr char digits[] = "0123456789ABCDEF";
    for (const char c : path.string()) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out += c;
        } else {
            out += '%';
            out += digits[u >> 4];
            out += digits[u & 0xf];
        }
    }
    return out;
}

Expected<TccDatabase> readTccDatabase(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec) return refusal(ec.message(), ErrorCode::unreadable);
    // SQLite would wait forever for a FIFO's writer.
    const auto status = std::filesystem::status(absolute, ec);
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        return refusal(std::filesystem::is_directory(status) ? "it is a folder, not a database"
                                                             : "it is not a regular file",
                       ErrorCode::refused);
    // Immutable: SQLite takes no lock, reads no journal or log and writes nothing, so a
    // stranger's database, or the one macOS is using, stays exactly as it was.
    const std::string uri = sqliteFileUri(absolute) + "?mode=ro&immutable=1";
    sqlite3* opened = nullptr;
    const int result =
        sqlite3_open_v2(uri.c_str(), &opened,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    Db db(opened);
    if (result != SQLITE_OK) return openError(db.get(), result);
    // The schema is the stranger's: none of its functions, triggers or views run for us.
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_limit(db.get(), SQLITE_LIMIT_LENGTH, int(2 * maxCsreqBytes));
    int callbacks = 0;
    sqlite3_progress_handler(
        db.get(), stepsPerCallback,
        [](void* count) { return ++*static_cast<int*>(count) > maxCallbacks ? 1 : 0; }, &callbacks);

    const auto prepare = [&](const std::string& sql) -> Expected<Statement> {
        sqlite3_stmt* s = nullptr;
        const int r = sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &s, nullptr);
        Statement statement(s);
        if (r != SQLITE_OK) return sqliteError(db.get(), r);
        return statement;
    };

    // A view, or a virtual table, named `access` would run the stranger's query instead.
    auto kind = prepare("SELECT type, sql FROM sqlite_master WHERE name = 'access' COLLATE NOCASE");
    if (!kind) return kind.error();
    const int found = sqlite3_step(kind->get());
    if (found == SQLITE_DONE) return refusal("it has no access table: not a privacy database");
    if (found != SQLITE_ROW) return sqliteError(db.get(), found);
    const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(kind->get(), 0));
    const auto* sql = reinterpret_cast<const char*>(sqlite3_column_text(kind->get(), 1));
    if (type == nullptr || std::string_view(type) != "table" ||
        (sql != nullptr && std::string_view(sql).substr(0, 14) == "CREATE VIRTUAL"))
        return refusal("its access is not a plain table: not a privacy database");

    auto info = prepare("SELECT name FROM pragma_table_info('access')");
    if (!info) return info.error();
    std::vector<std::string> columns;
    int step = 0;
    while ((step = sqlite3_step(info->get())) == SQLITE_ROW && columns.size() < 1000)
        if (const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(info->get(), 0)))
            columns.emplace_back(name);
    if (step != SQLITE_DONE && step != SQLITE_ROW) return sqliteError(db.get(), step);
    const auto has = [&](std::string_view name) {
        return std::find(columns.begin(), columns.end(), name) != columns.end();
    };
    TccDatabase out;
    if (has("auth_value"))
        out.schema = TccSchema::current;
    else if (has("allowed"))
        out.schema = TccSchema::allowed;
    else
        return refusal(
            "its access table has neither auth_value nor allowed: not a privacy database");
    const bool current = out.schema == TccSchema::current;
    const Wanted wanted[count] = {
        {"service", SQLITE_TEXT, false},
        {"client", SQLITE_TEXT, false},
        {"client_type", SQLITE_INTEGER, false},
        {current ? "auth_value" : "allowed", SQLITE_INTEGER, false},
        {current ? "auth_reason" : nullptr, SQLITE_INTEGER, true},
        {"csreq", SQLITE_BLOB, true},
        {"last_modified", SQLITE_INTEGER, true},
        {"indirect_object_identifier", SQLITE_TEXT, true},
    };
    std::string select = "SELECT ";
    for (int c = 0; c < count; ++c) {
        const Wanted& w = wanted[c];
        if (w.name != nullptr && !w.nullable && !has(w.name))
            return refusal(std::string("its access table has no ") + w.name +
                           " column: not a privacy database");
        select += c > 0 ? ", " : "";
        select += w.name != nullptr && has(w.name) ? "\"" + std::string(w.name) + "\"" : "NULL";
    }
    select += " FROM access LIMIT " + std::to_string(maxTccRows + 1);
    auto rows = prepare(select);
    if (!rows) return rows.error();

    std::size_t total = 0;
    while ((step = sqlite3_step(rows->get())) == SQLITE_ROW) {
        if (out.rows.size() == maxTccRows)
            return refusal("it holds more than " + std::to_string(maxTccRows) +
                               " grants, more than any privacy database does",
                           ErrorCode::tooLarge);
        sqlite3_stmt* s = rows->get();
        const std::string where = "row " + std::to_string(out.rows.size() + 1) + ": ";
        for (int c = 0; c < count; ++c) {
            const int t = sqlite3_column_type(s, c);
            const Wanted& w = wanted[c];
            if (t == w.type || (t == SQLITE_NULL && w.nullable)) continue;
            return refusal(where + w.name + " is " + std::string(typeName(t)) + ", not " +
                           std::string(typeName(w.type)));
        }
        const auto text = [&](int c) -> Expected<std::string> {
            const int n = sqlite3_column_bytes(s, c);
            if (std::size_t(n) > maxTccTextBytes)
                return refusal(where + wanted[c].name + " is " + std::to_string(n) +
                                   " bytes long, longer than any name or path",
                               ErrorCode::tooLarge);
            total += std::size_t(n);
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
            return p != nullptr ? std::string(p, std::size_t(n)) : std::string();
        };
        TccRow row;
        for (auto [column, into] :
             {std::pair{service, &row.service}, std::pair{client, &row.client},
              std::pair{indirect, &row.indirectObject}}) {
            auto value = text(column);
            if (!value) return value.error();
            *into = std::move(*value);
        }
        if (row.indirectObject == "UNUSED") row.indirectObject.clear();
        row.clientType = sqlite3_column_int64(s, clientType);
        row.authValue = sqlite3_column_int64(s, auth);
        // The older column says only yes or no.
        if (!current) row.authValue = row.authValue != 0 ? authAllowed : authDenied;
        if (sqlite3_column_type(s, reason) == SQLITE_INTEGER)
            row.authReason = sqlite3_column_int64(s, reason);
        if (sqlite3_column_type(s, modified) == SQLITE_INTEGER)
            row.lastModified = sqlite3_column_int64(s, modified);
        if (sqlite3_column_type(s, csreq) == SQLITE_BLOB) {
            const int n = sqlite3_column_bytes(s, csreq);
            if (std::size_t(n) > maxCsreqBytes)
                return refusal(where + "its csreq is " + std::to_string(n) +
                                   " bytes, more than any code requirement takes",
                               ErrorCode::tooLarge);
            const auto* p = static_cast<const std::byte*>(sqlite3_column_blob(s, csreq));
            row.csreq.emplace(p, p + n);
            total += std::size_t(n);
        }
        if (total > maxTotalBytes)
            return refusal("its grants take more room than any privacy database's",
                           ErrorCode::tooLarge);
        out.rows.push_back(std::move(row));
    }
    if (step != SQLITE_DONE) return sqliteError(db.get(), step);
    std::filesystem::path wal = absolute;
    wal += "-wal";
    out.walBeside = std::filesystem::file_size(wal, ec) > 0 && !ec;
    return out;
}

}  // namespace varko::privacy
