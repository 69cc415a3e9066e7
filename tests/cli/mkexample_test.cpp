// varko-mkexample's options: asking for help or misspelling an option writes nothing.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "overview/datafile.h"

namespace {

TEST(MkExampleTest, OptionsAreNeverTakenForTheOutputFolder) {
    for (const auto& c : varko::testing::dataCases("mkexample-options.txt")) {
        SCOPED_TRACE(c[0].toStdString());
        QTemporaryDir dir;
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(VARKO_BIN_DIR "/varko-mkexample"),
                QString::fromUtf8(c[0]).split(' ', Qt::SkipEmptyParts));
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), c[1].toInt());
        const QByteArray out = p.readAllStandardOutput(), err = p.readAllStandardError();
        EXPECT_EQ(out.startsWith("usage: varko-mkexample"), c[2] == "yes") << out.toStdString();
        EXPECT_EQ(err.contains("usage: varko-mkexample"), c[3] == "yes") << err.toStdString();
        const QStringList written = QString::fromUtf8(c[4]).split(' ', Qt::SkipEmptyParts);
        EXPECT_EQ(
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            written);
        for (const QString& folder : written)
            EXPECT_TRUE(QFile::exists(dir.filePath(folder + "/Example.app/Contents/Info.plist")));
    }
}

}  // namespace
