#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include "tools/toolrun.h"

namespace varko::host {

/// Launch paths of the system tools, as the rest of the code names them.
inline constexpr auto codesignPath = "/usr/bin/codesign";
inline constexpr auto spctlPath = "/usr/sbin/spctl";
inline constexpr auto pkgutilPath = "/usr/sbin/pkgutil";
inline constexpr auto logPath = "/usr/bin/log";
inline constexpr auto idPath = "/usr/bin/id";
inline constexpr auto hdiutilPath = "/usr/bin/hdiutil";

/// Where this system keeps what the log probe looks for. On macOS these are the
/// unified log's store folders and the administrators' group; elsewhere the
/// stand-ins' counterparts, so the probe's logic stays the same everywhere.
struct PlatformProfile {
    /// Folder of the log's persistent store.
    QString logStoreFolder;
    /// Folder of the log's time references.
    QString logTimesyncFolder;
    /// Numeric group identifiers, any of which lets a user read the log.
    QStringList logReaderGroupIds;
    /// Suffixes that Mount Disk Image offers: Apple's own, plus on Linux the raw and
    /// ISO images that the kernel can read.
    QStringList diskImageSuffixes{QStringLiteral("dmg")};
    /// Where a failed mount sends the user, in this system's words.
    QString diskImageAdvice = QStringLiteral("Please try again in the Finder.");
    /// Whether that alert quotes the disk image tool's own explanation: the stand-in
    /// says why it could not attach; macOS's alert stays as the platform shows it.
    bool diskImageAlertQuotesTool = false;

    [[nodiscard]] static PlatformProfile macOS();
    /// The profile of the running system.
    [[nodiscard]] static PlatformProfile current();
};

/// The short name of the user who runs this process.
[[nodiscard]] QString currentUserName();

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
    [[nodiscard]] const PlatformProfile& profile() const { return platform; }

    [[nodiscard]] QString programFor(const QString& launchPath) const;

    /// Runs the tool named by its launch path through this set.
    [[nodiscard]] ToolResult run(const QString& launchPath, const QStringList& arguments,
                                 Capture capture, ToolLimits limits = {}) const;

private:
    QHash<QString, QString> programs;
    PlatformProfile platform = PlatformProfile::macOS();
};

}  // namespace varko::host
