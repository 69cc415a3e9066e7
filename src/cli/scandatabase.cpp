#include "cli/scandatabase.h"

#include <sqlite3.h>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>
#include <map>

#include <sys/stat.h>
#include <unistd.h>

#include "tools/pathbytes.h"
#include "tools/safewrite.h"

namespace varko::cli {

namespace {

// Item and component paths join the tables; booleans are 0 and 1; a value the item does
// not have is NULL; lists are JSON arrays in text.
constexpr const char* layout = R"(
CREATE TABLE items (
    path TEXT PRIMARY KEY NOT NULL,
    name TEXT NOT NULL,
    kind TEXT NOT NULL,
    identifier TEXT,
    version TEXT,
    verdict TEXT,
    verdict_reason TEXT,
    signer TEXT,
    team TEXT,
    notarization TEXT,
    hardened_runtime TEXT,
    flagged_components INTEGER,
    tool_failed INTEGER NOT NULL,
    checks_cut INTEGER NOT NULL,
    problem_code TEXT,
    problem TEXT
);
CREATE TABLE components (
    item_path TEXT NOT NULL REFERENCES items(path),
    path TEXT NOT NULL,
    kind TEXT NOT NULL,
    identifier TEXT,
    signer TEXT,
    team TEXT,
    valid INTEGER,
    hardened_runtime INTEGER NOT NULL,
    flags TEXT NOT NULL,
    PRIMARY KEY (item_path, path)
);
CREATE TABLE services (
    item_path TEXT NOT NULL REFERENCES items(path),
    service TEXT NOT NULL,
    title TEXT,
    declared INTEGER NOT NULL,
    entitled INTEGER NOT NULL,
    allowed INTEGER NOT NULL,
    in_components TEXT NOT NULL,
    PRIMARY KEY (item_path, service)
);
CREATE TABLE cuts (
    kind TEXT NOT NULL,
    folder TEXT NOT NULL,
    "limit" INTEGER NOT NULL,
    times INTEGER NOT NULL
);
CREATE TABLE problems (
    problem TEXT NOT NULL
);
PRAGMA user_version = 1;
BEGIN;
)";

static_assert(databaseVersion == 1, "the layout's user_version must follow");

// A stranger's Info.plist may hold megabytes in one string; no real name or path is near this.
constexpr qsizetype maxText = 64 * 1024;
constexpr int maxBytes = 64 * 1024 * 1024;
constexpr sqlite3_int64 maxHeap = sqlite3_int64(2) * 1024 * 1024 * 1024;

/// Binds `text`, bounded; an empty text is NULL where `emptyIsNull`.
int bindText(sqlite3_stmt* s, int column, const QString& text, bool emptyIsNull = true) {
    if (text.isEmpty() && emptyIsNull) return sqlite3_bind_null(s, column);
    const QByteArray bytes = text.left(maxText).toUtf8();
    return sqlite3_bind_text(s, column, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
}

QString arrayText(const QJsonValue& value) {
    return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
}

int bindValue(sqlite3_stmt* s, int column, const QJsonValue& value) {
    if (value.isBool()) return sqlite3_bind_int(s, column, value.toBool() ? 1 : 0);
    if (value.isDouble()) return sqlite3_bind_int64(s, column, value.toInteger());
    if (value.isString()) return bindText(s, column, value.toString());
    if (value.isArray()) return bindText(s, column, arrayText(value), false);
    return sqlite3_bind_null(s, column);
}

}  // namespace

ScanDatabase::ScanDatabase() {
    if (!check(
            sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)))
        return;
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, maxBytes);
    // The whole database lives in memory until saved: a scan past this fails, said, and
    // leaves the file as it was rather than the machine without memory.
    sqlite3_hard_heap_limit64(maxHeap);
    if (!check(sqlite3_exec(db, layout, nullptr, nullptr, nullptr))) return;
    const auto prepare = [&](const char* sql, sqlite3_stmt** statement) {
        check(sqlite3_prepare_v2(db, sql, -1, statement, nullptr));
    };
    // A path met twice is kept once rather than losing the whole database.
    prepare(
        "INSERT OR IGNORE INTO items VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, "
        "?12, ?13, ?14, ?15, ?16)",
        &items);
    prepare("INSERT OR IGNORE INTO components VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
            &components);
    prepare("INSERT OR IGNORE INTO services VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)", &services);
    prepare("INSERT INTO cuts VALUES (?1, ?2, ?3, ?4)", &cuts);
    prepare("INSERT INTO problems VALUES (?1)", &problems);
}

ScanDatabase::~ScanDatabase() {
    for (sqlite3_stmt* s : {items, components, services, cuts, problems}) sqlite3_finalize(s);
    sqlite3_close(db);
}

bool ScanDatabase::check(int result) {
    if (result == SQLITE_OK || result == SQLITE_DONE || result == SQLITE_ROW) return true;
    if (failure.empty()) failure = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(result);
    return false;
}

void ScanDatabase::run(sqlite3_stmt* statement) {
    if (failure.empty()) check(sqlite3_step(statement));
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
}

void ScanDatabase::add(const scan::ItemSummary& item) {
    if (!failure.empty()) return;
    const QJsonObject& json = item.json;
    const QJsonObject verdict = json["verdict"].toObject();
    const bool isApp = json.contains("isApp") ? json["isApp"].toBool()
                                              : item.path.endsWith(".app", Qt::CaseInsensitive);
    sqlite3_stmt* s = items;
    bindText(s, 1, item.path, false);
    bindText(s, 2, item.name, false);
    bindText(s, 3, isApp ? QStringLiteral("app") : QStringLiteral("package"));
    bindText(s, 4, item.identifier);
    bindText(s, 5, item.version);
    bindText(s, 6, item.verdict);
    bindText(s, 7, item.verdictReason);
    bindText(s, 8, item.signer);
    bindText(s, 9, item.teamIdentifier);
    bindValue(s, 10, verdict["notarization"]);
    bindText(s, 11, item.hardenedRuntime);
    bindValue(s, 12, verdict["flaggedComponents"]);
    sqlite3_bind_int(s, 13, item.toolFailed ? 1 : 0);
    sqlite3_bind_int(s, 14, item.checksCut ? 1 : 0);
    if (item.unreadable) {
        bindText(s, 15, QString::fromUtf8(errorCodeName(item.problemCode)));
        bindText(s, 16, item.problem);
    }
    run(s);

    for (const QJsonValue& value : json["components"].toArray()) {
        const QJsonObject c = value.toObject();
        s = components;
        bindText(s, 1, item.path, false);
        bindValue(s, 2, c["path"]);
        bindValue(s, 3, c["kind"]);
        bindValue(s, 4, c["identifier"]);
        bindValue(s, 5, c["signer"]);
        bindValue(s, 6, c["teamIdentifier"]);
        bindValue(s, 7, c["valid"]);
        sqlite3_bind_int(s, 8, c["hardenedRuntime"].toBool() ? 1 : 0);
        bindText(s, 9, arrayText(c["flags"]), false);
        run(s);
    }

    std::map<QString, QJsonValue> usedBy;
    for (const QJsonValue& value : json["privacyServices"].toArray())
        usedBy.emplace(value["service"].toString(), value["components"]);
    for (const scan::ItemService& service : item.services) {
        s = services;
        bindText(s, 1, item.path, false);
        bindText(s, 2, service.name, false);
        bindText(s, 3, service.title);
        sqlite3_bind_int(s, 4, service.marks.declared ? 1 : 0);
        sqlite3_bind_int(s, 5, service.marks.entitled ? 1 : 0);
        sqlite3_bind_int(s, 6, service.marks.allowed ? 1 : 0);
        const auto used = usedBy.find(service.name);
        bindText(s, 7, arrayText(used != usedBy.end() ? used->second : QJsonValue()), false);
        run(s);
    }
}

void ScanDatabase::add(const scan::Cut& cut) {
    if (!failure.empty()) return;
    bindText(cuts, 1, QString::fromUtf8(scan::cutName(cut.kind)), false);
    bindText(cuts, 2, cut.folder, false);
    sqlite3_bind_int64(cuts, 3, sqlite3_int64(cut.limit));
    sqlite3_bind_int64(cuts, 4, sqlite3_int64(cut.times));
    run(cuts);
}

void ScanDatabase::addProblem(const QString& problem) {
    if (!failure.empty()) return;
    bindText(problems, 1, problem, false);
    run(problems);
}

Expected<void> ScanDatabase::save(const QString& fileName) {
    if (failure.empty()) check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr));
    if (!failure.empty()) return Error{0, failure, ErrorCode::unwritable};
    sqlite3_int64 size = 0;
    unsigned char* bytes = sqlite3_serialize(db, "main", &size, 0);
    if (bytes == nullptr) return Error{0, "out of memory", ErrorCode::unwritable};
    Expected<void> saved =
        host::writeFileAtomically(fileName, reinterpret_cast<const char*>(bytes), qint64(size));
    sqlite3_free(bytes);
    return saved;
}

QString databaseRefusal(const QString& fileName) {
    const QByteArray path = host::pathToSystem(fileName);
    const auto why = [](int error) { return QString::fromLocal8Bit(std::strerror(error)); };
    struct stat st {};
    if (::stat(path.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return QStringLiteral("it is a folder, not a file");
        if (!S_ISREG(st.st_mode)) return QStringLiteral("it is not a regular file");
        if (::access(path.constData(), W_OK) != 0) return "it can't be written: " + why(errno);
    } else if (errno != ENOENT) {
        return why(errno);
    }
    // The new file is made beside it and renamed over it.
    const QByteArray folder = host::pathToSystem(QFileInfo(fileName).absolutePath());
    if (::access(folder.constData(), W_OK | X_OK) != 0)
        return "its folder can't be written: " + why(errno);
    return {};
}

}  // namespace varko::cli
