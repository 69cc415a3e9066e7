#include "systools/hdiutil/udisksattach.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>

#include "tools/pathbytes.h"
#include "tools/toolrun.h"
#include "tools/utf8.h"

namespace varko::hdiutil {

namespace {

// udisks answers within seconds; a stuck daemon or polkit must not hold us longer.
host::ToolLimits udisksLimits() {
    host::ToolLimits limits;
    limits.maxBytesPerStream = 64 * 1024;
    limits.timeout = std::chrono::seconds(30);
    return limits;
}

host::ToolResult udisks(const QString& udisksctl, QStringList arguments) {
    // Never ask for a password on a terminal nobody watches.
    arguments << QStringLiteral("--no-user-interaction");
    return host::runProgram(udisksctl, arguments, host::Capture::Both, udisksLimits());
}

/// udisks' reason for a failed run, on at most three lines.
QString reasonOf(const host::ToolResult& run) {
    if (!run.started) return run.startError;
    QString why = run.interruption();
    const QStringList lines =
        QString::fromUtf8(run.standardError).split(u'\n', Qt::SkipEmptyParts).mid(0, 3);
    for (const QString& line : lines) why += (why.isEmpty() ? "" : "\n") + line.trimmed();
    if (why.isEmpty()) why = QStringLiteral("udisksctl exited with status %1").arg(run.exitStatus);
    return why;
}

Error failed(const QString& message) {
    return Error{0, message.toStdString(), ErrorCode::toolFailed};
}

/// The partitions the kernel found on a loop device (udisks turns partition scanning
/// on), in their order on the disk.
QStringList partitionsOf(const QString& device) {
    const QString name = device.section(u'/', -1);
    QStringList parts =
        QDir(QStringLiteral("/sys/class/block/") + name)
            .entryList({name + QStringLiteral("p*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(parts.begin(), parts.end(), [&](const QString& a, const QString& b) {
        return a.mid(name.size() + 1).toInt() < b.mid(name.size() + 1).toInt();
    });
    for (QString& part : parts) part = QStringLiteral("/dev/") + part;
    return parts;
}

/// Mounts one block device; udisks may not know a partition the kernel has just
/// made, so a lookup failure is tried again for a moment.
Expected<QString> mount(const QString& udisksctl, const QString& device) {
    host::ToolResult run;
    for (int attempt = 0; attempt < 10; ++attempt) {
        run = udisks(udisksctl, {QStringLiteral("mount"), QStringLiteral("-b"), device});
        if (run.succeeded() || !run.standardError.contains("Error looking up object")) break;
        QThread::msleep(200);
    }
    if (!run.succeeded()) return failed(reasonOf(run));
    // "Mounted DEVICE at MOUNTPOINT"; the mount point runs to the end of the line.
    const QString prefix = QStringLiteral("Mounted ") + device + QStringLiteral(" at ");
    for (const QString& line : QString::fromUtf8(run.standardOutput).split(u'\n'))
        if (line.startsWith(prefix)) return line.mid(prefix.size());
    return QString();
}

/// mountinfo escapes blank, tab, line feed and backslash as three octal digits.
QString unescapeMountField(const QByteArray& field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok && value < 256) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return host::pathFromSystem(out);
}

}  // namespace

QByteArray attachLine(const AttachedDevice& row) {
    const QString line = QStringLiteral("%1\t%2\t%3\n")
                             .arg(row.device, -20)
                             .arg(row.content.left(31), -31)
                             .arg(row.mountPoint);
    return host::pathToSystem(line);
}

QString mountedType(const QString& device) {
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    // A line is: id parent major:minor root mountpoint options [optional...] - type source ...
    for (const QByteArray& line : file.read(8 * 1024 * 1024).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (dash < 0 || dash + 2 >= fields.size()) continue;
        if (unescapeMountField(fields[dash + 2]) == device)
            return QString::fromUtf8(fields[dash + 1]);
    }
    return {};
}

Expected<std::vector<AttachedDevice>> attachWithUdisks(const QString& udisksctl,
                                                       const QString& image) {
    const host::ToolResult setup =
        udisks(udisksctl, {QStringLiteral("loop-setup"), QStringLiteral("--file"), image,
                           QStringLiteral("--read-only")});
    if (!setup.succeeded()) return failed(reasonOf(setup));
    // "Mapped file IMAGE as /dev/loopN." The image's name may hold anything, so the
    // device is read from the end.
    static const QRegularExpression mapped(QStringLiteral(" as (/dev/[A-Za-z0-9_-]+)\\.\\s*$"));
    const QRegularExpressionMatch match = mapped.match(QString::fromUtf8(setup.standardOutput));
    if (!match.hasMatch())
        return failed(QStringLiteral("udisksctl named no loop device for the image"));
    const QString loop = match.captured(1);

    const QStringList partitions = partitionsOf(loop);
    std::vector<AttachedDevice> rows{{loop, {}, {}}};
    QString lastReason;
    bool mounted = false;
    for (const QString& device : partitions.isEmpty() ? QStringList{loop} : partitions) {
        const Expected<QString> at = mount(udisksctl, device);
        if (!at) lastReason = QString::fromStdString(at.error().message);
        mounted = mounted || bool(at);
        AttachedDevice row{device, mountedType(device), at ? *at : QString()};
        if (device == loop)
            rows.front() = row;
        else
            rows.push_back(row);
    }
    if (!mounted) {
        // As hdiutil does, an image with nothing to show is not left attached.
        (void)udisks(udisksctl, {QStringLiteral("loop-delete"), QStringLiteral("-b"), loop});
        return failed(QStringLiteral("no mountable file systems\n") + lastReason);
    }
    return rows;
}

}  // namespace varko::hdiutil
