// Where Varko's settings live. On Linux, the default QSettings of the running program must
// stay in <config>/Varko/Varko.conf, where earlier releases kept them.
#include <gtest/gtest.h>

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace varko {
namespace {

TEST(Settings, TheProgramReadsAndWritesThemInTheConfigFolderUnderVarko) {
#ifdef Q_OS_MACOS
    GTEST_SKIP() << "macOS keeps them in the user defaults of the bundle identifier";
#endif
    QTemporaryDir home, config, runtime;
    const QString file = config.filePath("Varko/Varko.conf");
    {
        QSettings user(file, QSettings::IniFormat);
        user.setValue("noUpdateCheck", true);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", config.path());
    environment.insert("XDG_RUNTIME_DIR", runtime.path());  // no running Varko to hand over to
    environment.insert("HOME", home.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess varko;
    varko.setProcessEnvironment(environment);
    varko.start(VARKO_BIN_DIR "/varko", {});
    ASSERT_TRUE(varko.waitForStarted());
    // The launch sequence writes back the interval of the update check.
    const bool written = QTest::qWaitFor(
        [&file] { return QSettings(file, QSettings::IniFormat).contains("updateCheckInt"); },
        60000);
    varko.kill();
    varko.waitForFinished();
    ASSERT_TRUE(written);
    QSettings stored(file, QSettings::IniFormat);
    EXPECT_EQ(stored.value("updateCheckInt").toDouble(), 43200.0);
    // The stored wish not to check was read from there too: no check was made.
    EXPECT_FALSE(stored.contains("dateLastUpdateCheck"));
}

}  // namespace
}  // namespace varko
