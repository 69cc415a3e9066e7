#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include "tools/toolrun.h"

namespace varko::tools {

/// Launch paths of the system tools, as the rest of the code names them.
inline constexpr auto codesignPath = "/usr/bin/codesign";
inline constexpr auto spctlPath = "/usr/sbin/spctl";
inline constexpr auto pkgutilPath = "/usr/sbin/pkgutil";
inline constexpr auto logPath = "/usr/bin/log";
inline constexpr auto idPath = "/usr/bin/id";
inline constexpr auto hdiutilPath = "/usr/bin/hdiutil";

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

    [[nodiscard]] QString programFor(const QString& launchPath) const;

    /// Runs the tool named by its launch path through this set.
    [[nodiscard]] ToolResult run(const QString& launchPath, const QStringList& arguments,
                                 Capture capture, ToolLimits limits = {}) const;

private:
    QHash<QString, QString> programs;
};

}  // namespace varko::tools
