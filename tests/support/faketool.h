#pragma once

// Fake system tools for tests: small shell scripts that print fixed output on each
// stream, record their arguments, and exit with a chosen status.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

#include <csignal>

#include "support/files.h"

namespace varko::testing {

class FakeTool {
public:
    FakeTool(const QTemporaryDir& dir, const QString& name) : base(dir.filePath(name)) {}

    /// Writes the script. Arguments are recorded NUL-separated, so one argument
    /// holding blanks or line feeds can be told from several.
    FakeTool& answer(const QByteArray& out, int status = 0, const QByteArray& err = {},
                     const QString& extraShell = {}) {
        writeFile(base + ".out", out);
        writeFile(base + ".err", err);
        QFile::remove(argsFile());
        const QString script = QStringLiteral(
                                   "#!/bin/sh\n"
                                   "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '%1'\n"
                                   "%2\n"
                                   "cat '%3'\n"
                                   "cat '%4' >&2\n"
                                   "exit %5\n")
                                   .arg(argsFile(), extraShell, base + ".out", base + ".err")
                                   .arg(status);
        writeFile(base, script.toUtf8());
        QFile::setPermissions(base, QFile::permissions(base) | QFileDevice::ExeOwner);
        return *this;
    }

    [[nodiscard]] QString program() const { return base; }
    [[nodiscard]] bool ran() const { return QFile::exists(argsFile()); }

    [[nodiscard]] QStringList arguments() const {
        if (!ran()) return {};
        QStringList args;
        for (const QByteArray& a : readFile(argsFile()).split('\0')) args << QString::fromUtf8(a);
        args.removeLast();  // the split leaves an empty piece after the last NUL
        return args;
    }

private:
    [[nodiscard]] QString argsFile() const { return base + ".args"; }

    QString base;
};

/// A folder of small /bin/sh programs that stand in for the system's tools.
class FakeTools final {
public:
    [[nodiscard]] bool isValid() const { return dir.isValid(); }
    [[nodiscard]] QString path(const QString& name) const { return dir.filePath(name); }

    /// Writes `body` after a shebang and makes it executable.
    QString script(const QString& name, const QByteArray& body) const {
        return file(name, "#!/bin/sh\n" + body + "\n", executable);
    }

    QString file(const QString& name, const QByteArray& content,
                 QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner) const {
        const QString target = path(name);
        if (!writeFile(target, content)) return {};
        QFile::setPermissions(target, permissions);
        return target;
    }

    static constexpr QFile::Permissions executable =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

private:
    QTemporaryDir dir;
};

/// A shell loop that waits until `file` exists, for a minute at most: a fake tool held until the
/// test lets it go, instead of one that sleeps a guessed time.
inline QString untilExists(const QString& file) {
    return QStringLiteral("for i in $(seq 600); do [ -e '%1' ] && break; sleep 0.1; done")
        .arg(file);
}

/// Makes `NAME.app/Contents/Info.plist` (when `infoPlist` is given) inside `dir`.
inline QString makeBundle(const QTemporaryDir& dir, const QString& name,
                          const std::optional<QByteArray>& infoPlist) {
    const QString path = dir.filePath(name);
    QDir().mkpath(path + "/Contents/MacOS");
    if (infoPlist) writeFile(path + "/Contents/Info.plist", *infoPlist);
    return path;
}

/// An XML property list around the given `<dict>` body.
inline QByteArray xmlPlist(const QByteArray& dictBody) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n" +
           dictBody + "</dict>\n</plist>\n";
}

/// Whether a process still runs; one that has ended but is not yet reaped does not.
inline bool processRuns(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return ::kill(pid, 0) == 0;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) != "Z";
}

/// The process id a tool wrote to `file`, or 0 while there is none.
inline pid_t pidIn(const QString& file) {
    return pid_t(readFile(file).trimmed().toInt());
}

}  // namespace varko::testing
