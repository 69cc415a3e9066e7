#include "app/launchsequence.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QOperatingSystemVersion>
#include <QTimer>
#include <cstring>
#include <memory>

#ifdef Q_OS_MACOS
#include <Security/Security.h>
#endif

#include "logs/dedysfunction.h"

namespace varko {

namespace {

bool runningCodeIsIntact() {
#ifdef Q_OS_MACOS
    SecCodeRef self = nullptr;
    if (SecCodeCopySelf(kSecCSDefaultFlags, &self) != errSecSuccess || self == nullptr)
        return false;
    const OSStatus status = SecCodeCheckValidity(self, kSecCSDefaultFlags, nullptr);
    CFRelease(self);
    // A build that was never signed has no seal to break.
    return status == errSecSuccess || status == errSecCSUnsigned;
#else
    return true;
#endif
}

}  // namespace

LaunchProbe LaunchProbe::system(const host::ToolSet& tools,
                                std::chrono::milliseconds logQueryLimit) {
    auto probe = std::make_shared<unifiedlog::deDysfunction>(tools);
    probe->logQueryLimit = logQueryLimit;
    return {
        [probe] { return probe->isAdminUser(); },          [probe] { return probe->hasLogFiles(); },
        [probe] { return probe->hasTimesyncFiles(); },     [probe] { return probe->logEntries(); },
        [probe] { return probe->hasCorrectTimeFormat(); }, probe->setClockScript,
    };
}

ProbeAnswers LaunchProbe::ask() const {
    ProbeAnswers answers;
    answers.isAdminUser = isAdminUser();
    answers.hasLogFiles = hasLogFiles();
    answers.hasTimesyncFiles = hasTimesyncFiles();
    const unifiedlog::LogEntries entries = logEntries();
    answers.logTookTooLong = entries == unifiedlog::LogEntries::tookTooLong;
    answers.hasLogEntries = entries != unifiedlog::LogEntries::none;
    answers.hasCorrectTimeFormat = answers.logTookTooLong || hasCorrectTimeFormat();
    return answers;
}

LaunchEnvironment LaunchEnvironment::system(const host::ToolSet& tools) {
    LaunchEnvironment environment;
    environment.makeProbe = [tools] { return LaunchProbe::system(tools); };
    environment.runAppleScript = []([[maybe_unused]] const QString& source) {
#ifdef Q_OS_MACOS
        // Its result and any failure are of no interest: the alert follows regardless.
        (void)host::runProgram(QStringLiteral("/usr/bin/osascript"), {QStringLiteral("-e"), source},
                               host::Capture::Both);
#endif
    };
    environment.systemVersion = [] {
#ifdef Q_OS_MACOS
        const QOperatingSystemVersion v = QOperatingSystemVersion::current();
        return std::pair<int, int>(v.majorVersion(), v.minorVersion());
#else
        return std::pair<int, int>(0, 0);
#endif
    };
    environment.now = [] {
        // 978307200 seconds lie between 1970 and the platform's reference date.
        return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 - 978307200.0;
    };
    environment.ownSignatureHolds = runningCodeIsIntact;
    environment.quit = [] { QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(1); }); };
    return environment;
}

LaunchVerdict judgeProbeAnswers(const ProbeAnswers& answers, const host::PlatformProfile& profile) {
    const host::ProbeMessages& says = profile.messages;
    const bool journal = profile.store == host::LogStore::journal;
    LaunchVerdict verdict;
    QStringList reasons;
    const auto require = [&](bool met, const QString& message) {
        if (met) return;
        verdict.logBrowserWorks = false;
        // The journal's two store questions ask after one folder and share their text.
        if (journal && verdict.alerts.contains(message)) return;
        verdict.alerts << message;
        QString reason = message;
        if (reason.endsWith(QLatin1String(host::ProbeMessages::disabledLine)))
            reason.chop(qsizetype(std::strlen(host::ProbeMessages::disabledLine)));
        reasons << reason;
    };
    require(answers.isAdminUser, says.notAdmin);
    require(answers.hasLogFiles, says.noLogFiles);
    require(answers.hasTimesyncFiles, says.noTimesync);
    // A journal that can't be found or may not be read has no entries to give either.
    require(answers.hasLogEntries || (journal && !verdict.logBrowserWorks), says.noEntries);
    // Slow is not broken: said, but the log browser stays.
    if (answers.logTookTooLong && verdict.logBrowserWorks) verdict.alerts << says.logTooSlow;
    if (!answers.hasCorrectTimeFormat) verdict.timeFormatAlert = says.timeFormat;
    verdict.unavailableReason = reasons.join(u'\n');
    if (journal) {
        QStringList told = reasons;
        if (answers.logTookTooLong && verdict.logBrowserWorks) told << says.logTooSlow;
        if (!verdict.timeFormatAlert.isEmpty()) told << verdict.timeFormatAlert;
        verdict.notice = told.join(u'\n');
        verdict.alerts.clear();
        verdict.timeFormatAlert.clear();
    }
    return verdict;
}

qint64 osVersionFor(int major, int minor) {
    if (major == 10) return minor;
    if (major == 11) return 16;
    return 17;
}

UpdateSchedule scheduleUpdateCheck(bool noUpdateCheck, double lastCheck, double storedInterval,
                                   double now) {
    UpdateSchedule schedule;
    schedule.interval = storedInterval < 1.0 ? 43200.0 : storedInterval;
    schedule.checkNow = !noUpdateCheck && now - lastCheck > schedule.interval;
    return schedule;
}

}  // namespace varko
