// Apple's own signed software, read by Apple's tools and by Varko's: they must agree. Runs on
// a Mac only (label macos); on Linux the same parsing is tested against recorded answers.

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "logs/dedysfunction.h"
#include "support/programrun.h"
#include "tools/toolset.h"

namespace varko::testing {
namespace {

/// The lines of `text` that start with one of `keys`, in order: the fields both tools print.
QList<QByteArray> fields(const QByteArray& text, const QList<QByteArray>& keys) {
    QList<QByteArray> out;
    for (const QByteArray& line : text.split('\n'))
        for (const QByteArray& key : keys)
            if (line.startsWith(key)) out << line;
    return out;
}

const QStringList systemApps = {"/System/Applications/Calculator.app",
                                "/System/Applications/TextEdit.app", "/Applications/Safari.app"};

TEST(MacSystemTools, CodesignDisplayAgreesOnApplesApps) {
    const QList<QByteArray> keys = {
        "Identifier=",     "Format=",    "CodeDirectory v=", "Hash type=",          "Authority=",
        "TeamIdentifier=", "Info.plist", "Sealed Resources", "Platform identifier="};
    int compared = 0;
    for (const QString& app : systemApps) {
        if (!QFileInfo::exists(app)) continue;
        SCOPED_TRACE(app.toStdString());
        const ProgramRun apple = runTool("/usr/bin/codesign", {"-dvvv", app});
        const ProgramRun ours = runTool("varko-codesign", {"-dvvv", app});
        ASSERT_EQ(apple.status, 0) << apple.err.toStdString();
        EXPECT_EQ(ours.status, 0) << ours.err.toStdString();
        EXPECT_EQ(fields(ours.err, keys), fields(apple.err, keys));
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

TEST(MacSystemTools, AssessmentAgreesOnApplesApps) {
    for (const QString& app : systemApps) {
        if (!QFileInfo::exists(app)) continue;
        SCOPED_TRACE(app.toStdString());
        const ProgramRun apple = runTool("/usr/sbin/spctl", {"-a", "-vvv", "-t", "exec", app});
        const ProgramRun ours = runTool("varko-spctl", {"-a", "-vvv", "-t", "exec", app});
        EXPECT_EQ(ours.status, apple.status);
        EXPECT_EQ(fields(ours.err, {app.toUtf8() + ":", "source="}),
                  fields(apple.err, {app.toUtf8() + ":", "source="}));
    }
}

TEST(MacSystemTools, PackageSignatureCheckAgreesOnAFreshPackage) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("root/usr/local/share/varko-test")));
    const QString pkg = dir.filePath("Test.pkg");
    const ProgramRun built =
        runTool("/usr/bin/pkgbuild", {"--root", dir.filePath("root"), "--identifier",
                                      "example.varko.test", "--version", "1", pkg});
    ASSERT_EQ(built.status, 0) << built.err.toStdString();
    const ProgramRun apple = runTool("/usr/sbin/pkgutil", {"--check-signature", pkg});
    const ProgramRun ours = runTool("varko-pkgutil", {"--check-signature", pkg});
    EXPECT_EQ(ours.status, apple.status);
    EXPECT_EQ(ours.out, apple.out);
}

TEST(MacSystemTools, TheLaunchChecksPassWithTheRealTools) {
    const unifiedlog::deDysfunction probe(host::ToolSet::system());
    EXPECT_TRUE(probe.hasLogFiles());
    EXPECT_TRUE(probe.hasTimesyncFiles());
    EXPECT_TRUE(probe.hasLogEntries());
    EXPECT_TRUE(probe.hasCorrectTimeFormat());
}

}  // namespace
}  // namespace varko::testing
