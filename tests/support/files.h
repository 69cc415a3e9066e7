#pragma once

// Files as the tests make and read them, in one call each.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <filesystem>
#include <span>
#include <system_error>

namespace varko::testing {

/// What the file at `path` holds; a text no test expects when it can't be read.
inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : "<unreadable " + path.toUtf8() + ">";
}

/// Writes `bytes` to `path` in place of what was there; whether all were written.
inline bool writeFile(const QString& path, const QByteArray& bytes = {}) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline bool writeFile(const QString& path, std::span<const std::byte> bytes) {
    return writeFile(
        path, QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
}

/// A test's temporary folder, removed whole even when a name in it is not UTF-8: Qt cannot
/// name such a file to remove it, and QTemporaryDir would leave the folder behind.
class TemporaryDir final : public QTemporaryDir {
public:
    ~TemporaryDir() {
        std::error_code ignored;
        if (isValid())
            std::filesystem::remove_all(QFile::encodeName(path()).toStdString(), ignored);
    }
};

/// A file of the test's data folder.
inline QByteArray testData(const QString& name) {
    return readFile(QStringLiteral(VARKO_TEST_DATA "/") + name);
}

}  // namespace varko::testing
