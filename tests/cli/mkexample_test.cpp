// varko-mkexample's options: asking for help or misspelling an option writes nothing.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Case {
    QStringList arguments;
    int status;
    bool usageOnStdout, usageOnStderr;
    QStringList written;  ///< what the working folder holds afterwards
};

TEST(MkExampleTest, OptionsAreNeverTakenForTheOutputFolder) {
    const Case cases[] = {
        {{"--help"}, 0, true, false, {}},
        {{"-h"}, 0, true, false, {}},
        {{"--version"}, 0, false, false, {}},
        {{"--frobnicate"}, 2, false, true, {}},
        {{}, 2, false, true, {}},
        {{"one", "two"}, 2, false, true, {}},
        {{"--", "--help"}, 0, false, false, {"--help"}},
        {{"out"}, 0, false, false, {"out"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QTemporaryDir dir;
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(VARKO_BIN_DIR "/varko-mkexample"), c.arguments);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), c.status);
        const QByteArray out = p.readAllStandardOutput(), err = p.readAllStandardError();
        EXPECT_EQ(out.startsWith("usage: varko-mkexample"), c.usageOnStdout) << out.toStdString();
        EXPECT_EQ(err.contains("usage: varko-mkexample"), c.usageOnStderr) << err.toStdString();
        EXPECT_EQ(
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            c.written);
        for (const QString& folder : c.written)
            EXPECT_TRUE(QFile::exists(dir.filePath(folder + "/Example.app/Contents/Info.plist")));
    }
}

}  // namespace
