#include "tools/toolset.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <utility>

namespace varko::tools {

namespace {

[[maybe_unused]] QString runningExecutableDir() {
    if (QCoreApplication::instance() != nullptr) return QCoreApplication::applicationDirPath();
    // Command-line tools and tests may never create an application object.
    const QString executable = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    if (!executable.isEmpty()) return QFileInfo(executable).absolutePath();
    return QDir::currentPath();
}

}  // namespace

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
    });
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

}  // namespace varko::tools
