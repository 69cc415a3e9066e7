#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "tools/inprocesstool.h"
#include "tools/toolrun.h"

namespace varko::host {

/// Launch paths of the system tools, as the rest of the code names them.
inline constexpr auto codesignPath = "/usr/bin/codesign";
inline constexpr auto spctlPath = "/usr/sbin/spctl";
inline constexpr auto pkgutilPath = "/usr/sbin/pkgutil";
inline constexpr auto logPath = "/usr/bin/log";
inline constexpr auto idPath = "/usr/bin/id";
inline constexpr auto hdiutilPath = "/usr/bin/hdiutil";

/// The short name of the user who runs this process.
[[nodiscard]] QString currentUserName();

/// What the launch sequence tells for each failed readiness question, in the order
/// the questions are asked. Each but the time format's and the slow log's ends in
/// "\nThe Open Log Browser command has been disabled.".
struct ProbeMessages {
    QString notAdmin, noLogFiles, noTimesync, noEntries, timeFormat;
    /// The test query of the log ran past its limit: the log is busy, not broken.
    QString logTooSlow;

    static constexpr auto disabledLine = "\nThe Open Log Browser command has been disabled.";

    /// The texts of macOS's unified log.
    [[nodiscard]] static ProbeMessages unifiedLog();
};

/// Which log the system keeps; it decides how the probe reads a quiet log and how
/// the launch sequence tells what it found.
enum class LogStore {
    /// macOS's unified log: each failed question has its own alert, and a log browser
    /// that can't work is withdrawn from the menus.
    unified,
    /// systemd's journal, read by our `log` stand-in. A journal that is missing or
    /// may not be read fails several questions and is told once; an idle one passes;
    /// the log browser's commands stay in the menus, disabled, saying why.
    journal,
};

/// Where systemd keeps the journal and who may read it; tests name other places.
struct JournalPlaces {
    QString persistentRoot = QStringLiteral("/var/log/journal");
    QString volatileRoot = QStringLiteral("/run/log/journal");
    QString machineIdFile = QStringLiteral("/etc/machine-id");
    QString userName = currentUserName();
};

/// Where this system keeps what the log probe looks for, and what the launch sequence
/// says about it. On macOS these are the unified log's store folders and the
/// administrators' group; elsewhere the journal's, so the probe's logic stays the same.
struct PlatformProfile {
    LogStore store = LogStore::unified;
    /// Folder of the log's persistent store.
    QString logStoreFolder;
    /// Folder of the log's time references.
    QString logTimesyncFolder;
    /// Numeric group identifiers, any of which lets a user read the log.
    QStringList logReaderGroupIds;
    /// What the launch sequence says when a readiness question fails.
    ProbeMessages messages = ProbeMessages::unifiedLog();
    /// Suffixes that Mount Disk Image offers: Apple's own, plus on Linux the raw and
    /// ISO images that the kernel can read.
    QStringList diskImageSuffixes{QStringLiteral("dmg")};
    /// Where a failed mount sends the user, in this system's words.
    QString diskImageAdvice = QStringLiteral("Please try again in the Finder.");
    /// Whether that alert quotes the disk image tool's own explanation: the stand-in
    /// says why it could not attach; macOS's alert stays as the platform shows it.
    bool diskImageAlertQuotesTool = false;
    /// Whether Open takes a disk image (.dmg) or zip archive (.zip), writes it out with
    /// 7-Zip and opens the apps inside, and Mount Disk Image does so when it can't attach
    /// an image: the stand-in can't attach Apple's images; macOS mounts them itself.
    bool expandsContainers = false;
    /// Whether the assessment asks Apple's servers about notarization and revoked
    /// certificates: the system's does; the stand-in works offline and can't tell.
    bool assessesOnline = true;
    /// Whether Varko keeps running with no window open, as a Mac app does; elsewhere
    /// closing the last window ends it. Quit ends it either way.
    bool runsWithoutWindows = true;

    [[nodiscard]] static PlatformProfile macOS();
    /// The journal's profile: its folder for this machine under the persistent root
    /// when that holds one, else under the volatile root; the groups that exist here
    /// among those journald lets read it.
    [[nodiscard]] static PlatformProfile journal(const JournalPlaces& places = {});
    /// The profile of the running system.
    [[nodiscard]] static PlatformProfile current();
};

/// Turns a system tool's launch path into the program that actually runs: on macOS
/// the path itself; elsewhere Varko's own stand-in installed beside it, or the
/// system's own `id`. Tests build one that maps the paths to fake tools.
class ToolSet final {
public:
    /// The tool set of the running system, with our programs looked up in `programDir`
    /// (empty: the folder of the running executable).
    [[nodiscard]] static ToolSet system(const QString& programDir = {});

    /// Maps each launch path to the given program; paths not named run as themselves.
    [[nodiscard]] static ToolSet withPrograms(QHash<QString, QString> programs);

    /// The same programs with another platform profile.
    [[nodiscard]] ToolSet withProfile(PlatformProfile profile) const;

    /// Answers known without starting a process: a run that `answer` answers starts
    /// nothing. For runs whose outcome the caller can tell for certain from the files.
    using KnownAnswer = std::function<std::optional<ToolResult>(
        const QString& launchPath, const QStringList& arguments, Capture capture)>;
    [[nodiscard]] ToolSet withKnownAnswers(KnownAnswer answer) const;
    /// The tool of `launchPath` run as `tool` in this process, for a tool that is our own
    /// code: the same answers without starting a process. Known answers still come first.
    [[nodiscard]] ToolSet withInProcess(const QString& launchPath, InProcessTool tool) const;
    [[nodiscard]] const PlatformProfile& profile() const { return platform; }

    [[nodiscard]] QString programFor(const QString& launchPath) const;

    /// Runs the tool named by its launch path through this set.
    [[nodiscard]] ToolResult run(const QString& launchPath, const QStringList& arguments,
                                 Capture capture, ToolLimits limits = {}) const;

private:
    QHash<QString, QString> programs;
    PlatformProfile platform = PlatformProfile::macOS();
    KnownAnswer known;
    QHash<QString, InProcessTool> inProcess;
};

}  // namespace varko::host
