#include "tools/toolset.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

#include "support/faketool.h"

namespace varko::host {
namespace {

using varko::testing::FakeTools;

TEST(ToolSet, MapsNamedPathsAndRunsOthersAsThemselves) {
    FakeTools tools;
    const QString fake = tools.script("codesign", "printf '%s|' \"$0\" \"$@\"");
    const ToolSet set = ToolSet::withPrograms({{QLatin1String(codesignPath), fake}});

    EXPECT_EQ(set.programFor(QLatin1String(codesignPath)), fake);
    EXPECT_EQ(set.programFor(QLatin1String(spctlPath)), QLatin1String(spctlPath));
    EXPECT_EQ(set.programFor(QStringLiteral("relative/tool")), QStringLiteral("relative/tool"));

    const ToolResult result =
        set.run(QLatin1String(codesignPath), {"-dv", "a b"}, Capture::StandardOutput);
    EXPECT_EQ(QString::fromUtf8(result.standardOutput), fake + "|-dv|a b|");

    const QString shell = tools.script("sh-stand-in", "echo passed-through");
    EXPECT_EQ(ToolSet::withPrograms({}).run(shell, {}, Capture::StandardOutput).standardOutput,
              "passed-through\n");
}

#if !defined(Q_OS_MACOS)
TEST(ToolSet, SystemUsesOurStandInsBesideTheProgram) {
    const QString dir = QStringLiteral("/opt/varko stand-ins");
    const ToolSet set = ToolSet::system(dir);
    EXPECT_EQ(set.programFor(QLatin1String(codesignPath)), dir + "/varko-codesign");
    EXPECT_EQ(set.programFor(QLatin1String(spctlPath)), dir + "/varko-spctl");
    EXPECT_EQ(set.programFor(QLatin1String(pkgutilPath)), dir + "/varko-pkgutil");
    EXPECT_EQ(set.programFor(QLatin1String(logPath)), dir + "/varko-log");
    EXPECT_EQ(set.programFor(QLatin1String(hdiutilPath)), dir + "/varko-hdiutil");
    EXPECT_EQ(set.programFor(QLatin1String(idPath)), QLatin1String(idPath));
    EXPECT_EQ(set.programFor(QStringLiteral("/usr/bin/true")), QStringLiteral("/usr/bin/true"));

    // Without an application object the running executable's folder is found anyway.
    const QString beside =
        QFileInfo(ToolSet::system().programFor(QLatin1String(codesignPath))).absolutePath();
    EXPECT_EQ(QDir(beside).canonicalPath(), QDir(QStringLiteral(VARKO_BIN_DIR)).canonicalPath());

    const ToolResult id =
        ToolSet::system(dir).run(QLatin1String(idPath), {"-u"}, Capture::StandardOutput);
    EXPECT_TRUE(id.succeeded());
    EXPECT_EQ(id.standardOutput.trimmed().toLongLong(), qint64(::getuid()));
}
#endif

}  // namespace
}  // namespace varko::host
