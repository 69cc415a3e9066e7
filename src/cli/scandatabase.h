#pragma once

#include <QString>
#include <string>

#include "format/expected.h"
#include "scan/scan.h"

struct sqlite3;
struct sqlite3_stmt;

namespace varko::cli {

/// The version of the tables' layout, in `PRAGMA user_version`, as `schemaVersion` is in JSON.
inline constexpr int databaseVersion = 1;

/// A scan's items, their components and the privacy services they may use, as a SQLite
/// database keyed by item path: built in memory, then saved whole.
class ScanDatabase {
public:
    ScanDatabase();
    ~ScanDatabase();
    ScanDatabase(const ScanDatabase&) = delete;
    ScanDatabase& operator=(const ScanDatabase&) = delete;

    void add(const scan::ItemSummary& item);
    void add(const scan::Cut& cut);
    /// What the walk could not look at, as "PATH: why".
    void addProblem(const QString& problem);

    /// Replaces `fileName` with the database, or leaves it as it was.
    [[nodiscard]] Expected<void> save(const QString& fileName);

private:
    sqlite3* db = nullptr;
    sqlite3_stmt* items = nullptr;
    sqlite3_stmt* components = nullptr;
    sqlite3_stmt* services = nullptr;
    sqlite3_stmt* cuts = nullptr;
    sqlite3_stmt* problems = nullptr;
    std::string failure;  ///< SQLite's first complaint; nothing is saved after one

    bool check(int result);
    void run(sqlite3_stmt* statement);
};

/// Why the database can't be saved as `fileName`, in words; empty when it can.
[[nodiscard]] QString databaseRefusal(const QString& fileName);

}  // namespace varko::cli
