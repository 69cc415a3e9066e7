#include "tools/toolset.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <utility>

namespace varko::host {

namespace {

[[maybe_unused]] QString runningExecutableDir() {
    if (QCoreApplication::instance() != nullptr) return QCoreApplication::applicationDirPath();
    // Command-line tools and tests may never create an application object.
    const QString executable = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    if (!executable.isEmpty()) return QFileInfo(executable).absolutePath();
    return QDir::currentPath();
}

// The journal keeps its files in a folder per machine, under the persistent store
// when there is one and in the volatile one otherwise.
[[maybe_unused]] PlatformProfile journalProfile() {
    QString root = QStringLiteral("/var/log/journal");
    if (!QFileInfo(root).isDir()) root = QStringLiteral("/run/log/journal");
    QFile machineIdFile(QStringLiteral("/etc/machine-id"));
    QString machineId;
    if (machineIdFile.open(QIODevice::ReadOnly))
        machineId = QString::fromLatin1(machineIdFile.read(64)).trimmed();
    PlatformProfile profile;
    profile.logStoreFolder = root;
    profile.logTimesyncFolder = machineId.isEmpty() ? root : root + u'/' + machineId;
    // Groups that journald lets read the system journal.
    for (const char* name : {"root", "adm", "systemd-journal", "wheel"}) {
        if (const group* g = getgrnam(name))
            profile.logReaderGroupIds << QString::number(g->gr_gid);
    }
    profile.diskImageSuffixes << QStringLiteral("iso") << QStringLiteral("img");
    profile.diskImageAdvice = QStringLiteral("Please try again in your file manager.");
    profile.diskImageAlertQuotesTool = true;
    return profile;
}

}  // namespace

PlatformProfile PlatformProfile::macOS() {
    return {QStringLiteral("/var/db/diagnostics/Persist"),
            QStringLiteral("/var/db/diagnostics/timesync"),
            {QStringLiteral("80")}};
}

PlatformProfile PlatformProfile::current() {
#if defined(Q_OS_MACOS)
    return macOS();
#else
    return journalProfile();
#endif
}

QString currentUserName() {
    if (const passwd* user = getpwuid(geteuid())) return QString::fromLocal8Bit(user->pw_name);
    return qEnvironmentVariable("USER");
}

ToolSet ToolSet::withProfile(PlatformProfile profile) const {
    ToolSet set = *this;
    set.platform = std::move(profile);
    return set;
}

ToolSet ToolSet::system([[maybe_unused]] const QString& programDir) {
#if defined(Q_OS_MACOS)
    return ToolSet();
#else
    const QDir dir(programDir.isEmpty() ? runningExecutableDir() : programDir);
    const auto ours = [&dir](const char* name) { return dir.filePath(QLatin1String(name)); };
    return withPrograms({
                            {QLatin1String(codesignPath), ours("varko-codesign")},
                            {QLatin1String(spctlPath), ours("varko-spctl")},
                            {QLatin1String(pkgutilPath), ours("varko-pkgutil")},
                            {QLatin1String(logPath), ours("varko-log")},
                            {QLatin1String(hdiutilPath), ours("varko-hdiutil")},
                            {QLatin1String(idPath), QLatin1String(idPath)},
                        })
        .withProfile(PlatformProfile::current());
#endif
}

ToolSet ToolSet::withPrograms(QHash<QString, QString> programs) {
    ToolSet set;
    set.programs = std::move(programs);
    return set;
}

QString ToolSet::programFor(const QString& launchPath) const {
    return programs.value(launchPath, launchPath);
}

ToolResult ToolSet::run(const QString& launchPath, const QStringList& arguments, Capture capture,
                        ToolLimits limits) const {
    return runProgram(programFor(launchPath), arguments, capture, limits);
}

}  // namespace varko::host
