#include "tools/toolset.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

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

bool holdsEntries(const QString& folder) {
    return QFileInfo(folder).isDir() &&
           !QDir(folder)
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                .isEmpty();
}

// journald keeps this machine's files in a folder named by the machine ID: under the
// persistent root when the journal persists, under the volatile one when it doesn't.
// An empty persistent root, as a package may leave, must not hide a volatile journal.
QString journalFolder(const JournalPlaces& places) {
    QFile idFile(places.machineIdFile);
    QString machineId;
    if (idFile.open(QIODevice::ReadOnly))
        machineId = QString::fromLatin1(idFile.read(64)).trimmed();
    // The ID names a folder: anything but 32 hex digits would lead elsewhere.
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{32}$"));
    if (!hex.match(machineId).hasMatch()) machineId.clear();
    const auto under = [&machineId](const QString& root) {
        return machineId.isEmpty() ? root : root + u'/' + machineId;
    };
    for (const QString& root : {places.persistentRoot, places.volatileRoot})
        if (holdsEntries(under(root))) return under(root);
    return under(places.persistentRoot);
}

QString listed(const QStringList& names, const QString& joint) {
    if (names.size() < 2) return names.value(0);
    return names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + joint + names.last();
}

constexpr auto disabled = ProbeMessages::disabledLine;

}  // namespace

ProbeMessages ProbeMessages::unifiedLog() {
    return {QStringLiteral("Varko can't get logs unless you're an admin user.") + disabled,
            QStringLiteral("Varko can't find any log files on your Mac.") + disabled,
            QStringLiteral("Varko can't find log timesync files on your Mac.") + disabled,
            QStringLiteral("Varko can't find any log entries on your Mac.") + disabled,
            QStringLiteral("Log time format is incorrect.\nPlease set the time in the Language & "
                           "Region pane to 24-hour, or trying to use the Open Log Browser "
                           "command will return errors."),
            QStringLiteral("Your Mac's log took more than a minute to answer Varko's test "
                           "query.\nThe Mac may be busy: the Log Browser can still be opened, "
                           "but it may be slow.")};
}

PlatformProfile PlatformProfile::macOS() {
    return {LogStore::unified,
            QStringLiteral("/var/db/diagnostics/Persist"),
            QStringLiteral("/var/db/diagnostics/timesync"),
            {QStringLiteral("80")},
            ProbeMessages::unifiedLog()};
}

PlatformProfile PlatformProfile::journal(const JournalPlaces& places) {
    PlatformProfile profile;
    profile.store = LogStore::journal;
    profile.assessesOnline = false;
    // One folder holds the whole journal; both store questions ask after it.
    profile.logStoreFolder = profile.logTimesyncFolder = journalFolder(places);
    // The root user reads every journal; journald's files let these groups read them.
    profile.logReaderGroupIds << QStringLiteral("0");
    QStringList groups;
    for (const char* name : {"systemd-journal", "adm", "wheel"}) {
        if (const group* g = getgrnam(name)) {
            profile.logReaderGroupIds << QString::number(g->gr_gid);
            groups << QString::fromLatin1(name);
        }
    }

    QString readers = QStringLiteral("Varko can't read the system journal: only root");
    if (!groups.isEmpty()) {
        readers += QStringLiteral(" and members of the group") +
                   (groups.size() > 1 ? QStringLiteral("s ") : QStringLiteral(" ")) +
                   listed(groups, QStringLiteral(" and ")) +
                   QStringLiteral(" may read it. To join ") +
                   (groups.size() > 1 ? QStringLiteral("one") : QStringLiteral("it")) +
                   QStringLiteral(", run \"sudo usermod -aG ") + groups.first() + u' ' +
                   places.userName + QStringLiteral("\" and log in again.");
    } else {
        readers += QStringLiteral(" may read it.");
    }
    const QString missing =
        QStringLiteral("Varko can't find the system journal on this computer: ") +
        QStringLiteral("neither ") + places.persistentRoot + QStringLiteral(" nor ") +
        places.volatileRoot + QStringLiteral(" holds one. This computer keeps no journal, so ") +
        QStringLiteral("there is no log to browse.") + disabled;
    profile.messages = {
        readers + disabled,
        missing,
        missing,
        QStringLiteral("Varko can't read any entries of the system journal on this computer.") +
            disabled,
        QStringLiteral("Log time format is incorrect.\nThe system journal's entries carry times "
                       "that Varko can't read, so trying to use the Open Log Browser command "
                       "will return errors."),
        QStringLiteral("The system journal took more than a minute to answer Varko's test "
                       "query.\nThe computer may be busy: the Log Browser can still be opened, "
                       "but it may be slow.")};
    profile.runsWithoutWindows = false;
    profile.diskImageSuffixes << QStringLiteral("iso") << QStringLiteral("img");
    profile.diskImageAdvice = QStringLiteral("Please try again in your file manager.");
    profile.diskImageAlertQuotesTool = true;
    profile.expandsContainers = true;
    return profile;
}

PlatformProfile PlatformProfile::current() {
#if defined(Q_OS_MACOS)
    return macOS();
#else
    return journal();
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

ToolSet ToolSet::withKnownAnswers(KnownAnswer answer) const {
    ToolSet set = *this;
    set.known = std::move(answer);
    return set;
}

ToolSet ToolSet::withInProcess(const QString& launchPath, InProcessTool tool) const {
    ToolSet set = *this;
    set.inProcess.insert(launchPath, std::move(tool));
    return set;
}

ToolResult ToolSet::run(const QString& launchPath, const QStringList& arguments, Capture capture,
                        ToolLimits limits) const {
    if (known)
        if (std::optional<ToolResult> answer = known(launchPath, arguments, capture))
            return *answer;
    if (const auto own = inProcess.constFind(launchPath); own != inProcess.cend())
        return runInProcess(*own, arguments, capture, limits);
    return runProgram(programFor(launchPath), arguments, capture, limits);
}

}  // namespace varko::host
