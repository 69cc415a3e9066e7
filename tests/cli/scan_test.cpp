// varko-report --scan: every item under the folders, one line or one JSON object each, in
// the order found, whatever order the workers finish in.
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __APPLE__
#include <util.h>
#else
#include <pty.h>
#endif

#include "cli/clitest.h"

namespace {

using namespace varko::testing;

class ScanCli : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QStringList apps;  // in the order the scan lists them

    void SetUp() override {
        // Enough items that two workers finish out of order now and then.
        for (const QString name : {"a/Zeta.app", "b/Alpha.app", "C.app", "d/e/Beta.app", "F.app"}) {
            apps << dir.filePath("Apps/" + name);
            copyExample(apps.last());
        }
    }

    static QList<QByteArray> linesOf(const QByteArray& out) {
        QList<QByteArray> lines = out.split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        return lines;
    }
};

TEST_F(ScanCli, TextAndJsonAreOneLinePerItemInTheOrderFound) {
    const ProgramRun r = varkoReport({"--scan", dir.filePath("Apps")});
    const ProgramRun json = varkoReport({"--scan", "--json", dir.filePath("Apps")});
    // The example is rejected, which is an answer: no trouble. Standard error is Varko's
    // alone: no tool's words (codesign's "Executable=" on these signed apps), and no
    // progress bar without a terminal.
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    const QList<QByteArray> lines = linesOf(r.out), objects = linesOf(json.out);
    ASSERT_EQ(lines.size(), apps.size()) << r.out.toStdString();
    ASSERT_EQ(objects.size(), apps.size()) << json.out.toStdString();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]);
        EXPECT_TRUE(line.startsWith(apps[i] + "  version 1.2  id com.example.varko.Example  "))
            << line.toStdString();
        // Services in words; the table doesn't know the last one.
        EXPECT_TRUE(
            line.endsWith(", Camera (declared, allowed), Automation (declared), unknown "
                          "service kTCCServiceSomethingNew (allowed)"))
            << line.toStdString();
        EXPECT_EQ(QJsonDocument::fromJson(objects[i])["path"].toString(), apps[i]);
    }
    // Each object is what --json prints for its item alone.
    EXPECT_EQ(QJsonDocument::fromJson(objects[0]).object(),
              firstItem(varkoReport({"--json", apps[0]}).out));
}

TEST_F(ScanCli, AnItemThatCantBeReadFailsTheRunAndTheOthersStillAppear) {
    const QString broken = dir.filePath("Apps/b/Broken.pkg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(broken).constData(), 0644), 0);
    // An app without its Info.plist is inspected but can't be read as a bundle.
    const QString bare = dir.filePath("Apps/b/Bare.app");
    copyExample(bare);
    ASSERT_TRUE(QFile::remove(bare + "/Contents/Info.plist"));
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json);
        QStringList args = {"--scan", dir.filePath("Apps")};
        if (json) args.prepend("--json");
        const ProgramRun r = varkoReport(args);
        EXPECT_EQ(r.status, 2);
        for (const QString& item : {bare, broken})
            EXPECT_TRUE(r.err.contains("varko-report: " + item.toUtf8() + ": could not be read: "))
                << r.err.toStdString();
        EXPECT_TRUE(r.err.endsWith("\nvarko-report: 2 of 7 items could not be assessed in full\n"))
            << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 3);
        const QList<QByteArray> lines = linesOf(r.out);
        // Both say it in its place, JSON with the kind for scripts.
        ASSERT_EQ(lines.size(), apps.size() + 2);
        for (const QString& app : apps) EXPECT_TRUE(r.out.contains(app.toUtf8()));
        for (const int line : {2, 3}) {
            if (json)
                EXPECT_EQ(QJsonDocument::fromJson(lines[line])["error"]["code"], "unsupported");
            else
                EXPECT_TRUE(lines[line].startsWith((line == 2 ? bare : broken).toUtf8() +
                                                   " — could not be read: "));
        }
    }
    // A folder that isn't there is a problem too, beside one that is.
    const ProgramRun r = varkoReport({"--scan", dir.filePath("missing"), dir.filePath("Apps/a")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains("varko-report: " + dir.filePath("missing").toUtf8() + ": "));
    EXPECT_EQ(linesOf(r.out).size(), 1);
}

TEST_F(ScanCli, AScanStartsNoToolAndAnswersAsTheToolsWould) {
    // Tools beside it that crash: a scan that started one would say it gave no answer. The
    // single-item report still runs them; --diff's test holds what is said then.
    const QStringList args = {"--scan", "--json", dir.filePath("Apps")};
    const ProgramRun r = reportWithCrashingTools(args);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, varkoReport(args).out);
}

TEST(ScanCliCut, AScanCutShortFailsAndSaysWhichBoundAndWhere) {
    QTemporaryDir dir;
    QString deep = dir.filePath("Apps"), notEntered;
    for (int depth = 1; depth <= 35; ++depth) {
        deep += "/d";
        if (depth == 32) notEntered = deep;
    }
    ASSERT_TRUE(QDir().mkpath(deep + "/Deep.app"));
    const ProgramRun text = varkoReport({"--scan", dir.filePath("Apps")});
    EXPECT_EQ(text.status, 2);
    EXPECT_TRUE(text.out.isEmpty()) << text.out.toStdString();
    EXPECT_TRUE(text.err.contains("varko-report: the scan went no deeper than 32 folders: " +
                                  notEntered.toUtf8() + " was not looked into\n"))
        << text.err.toStdString();

    const ProgramRun json = varkoReport({"--scan", "--json", dir.filePath("Apps")});
    EXPECT_EQ(json.status, 2);
    EXPECT_EQ(json.err, text.err);
    EXPECT_EQ(json.out.count('\n'), 1) << json.out.toStdString();
    const QJsonObject cut{{"kind", "depth"}, {"folder", notEntered}, {"limit", 32}, {"times", 1}};
    EXPECT_EQ(QJsonDocument::fromJson(json.out).object(),
              (QJsonObject{{"cut", cut}, {"schemaVersion", 1}}))
        << json.out.toStdString();
}

TEST_F(ScanCli, OnATerminalAProgressBarIsDrawnInPlaceAndCleared) {
    const QByteArray program = VARKO_BIN_DIR "/varko-report";
    const QByteArray folder = QFile::encodeName(dir.filePath("Apps"));
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::execl(program.constData(), "varko-report", "--scan", folder.constData(), nullptr);
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    QByteArray seen;
    for (;;) {
        pollfd p{terminal, POLLIN, 0};
        if (::poll(&p, 1, 60000) <= 0) break;
        char buffer[4096];
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;  // the child has gone: EIO on Linux, end of file elsewhere
        seen.append(buffer, n);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(terminal);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << seen.toStdString();
    EXPECT_TRUE(seen.contains("\r[" + QByteArray(30, ' ') + "] 0/5"));
    EXPECT_TRUE(seen.contains("\r[" + QByteArray(30, '#') + "] 5/5"));
    // Cleared at the end: blanks over the bar, the cursor back at the line's start.
    const QByteArray cleared = "\r" + QByteArray(QByteArray("[] 5/5").size() + 30, ' ') + "\r";
    EXPECT_TRUE(seen.endsWith(cleared)) << seen.right(80).toStdString();
    // Each item's line starts at the margin: the bar is cleared before it.
    for (const QString& app : apps) {
        const qsizetype at = seen.indexOf(app.toUtf8());
        ASSERT_GT(at, 0);
        EXPECT_TRUE(seen[at - 1] == '\r' || seen[at - 1] == '\n') << seen.toStdString();
    }
}

}  // namespace
