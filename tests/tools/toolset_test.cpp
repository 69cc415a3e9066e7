#include "tools/toolset.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <csignal>
#include <stdexcept>

#include <grp.h>
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

TEST(ToolSet, AToolInProcessIsBoundedAndCalledOffAsItsProcessWouldBe) {
    const auto cancel = std::make_shared<std::atomic<bool>>(false);
    // Writes `size` bytes on each stream; "off" calls its run off midway; "throw" throws.
    const InProcessTool tool = [&](std::span<const std::string> args, std::ostream& out,
                                   std::ostream& err) {
        const std::string bytes(std::stoul(args[1]), 'x');
        out << args[0] << bytes;
        err << bytes;
        if (args[0] == "throw") throw std::runtime_error("thrown");
        if (args[0] == "off") cancel->store(true);
        return 3;
    };
    const ToolSet set = ToolSet::withPrograms({{codesignPath, "/nonexistent"}})
                            .withInProcess(QLatin1String(codesignPath), tool);
    const struct {
        const char* what;
        qint64 errorBytes;
        const char* size;
        bool cancelledBefore, truncated, errorCut, cancelled, crashed;
        qsizetype outSize, errSize;
    } cases[] = {
        {"run", -1, "10", false, false, false, false, false, 13, 10},
        {"run", -1, "200", false, true, false, false, false, 100, 100},
        {"run", 50, "200", false, true, true, false, false, 100, 50},
        {"run", 50, "20", false, false, false, false, false, 23, 20},
        {"off", -1, "1", false, false, false, true, false, 4, 1},
        {"run", -1, "1", true, false, false, true, false, 0, 0},
        {"throw", -1, "1", false, false, false, false, true, 6, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " " + c.size);
        cancel->store(c.cancelledBefore);
        ToolLimits limits;
        limits.maxBytesPerStream = 100;
        limits.maxErrorBytes = c.errorBytes;
        limits.cancel = cancel;
        const ToolResult r =
            set.run(QLatin1String(codesignPath), {c.what, c.size}, Capture::Both, limits);
        EXPECT_TRUE(r.started);
        EXPECT_EQ(r.exitStatus, c.crashed ? SIGABRT : c.cancelledBefore ? -1 : 3);
        EXPECT_EQ(r.truncated, c.truncated);
        EXPECT_EQ(r.errorCut, c.errorCut);
        EXPECT_EQ(r.cancelled, c.cancelled);
        EXPECT_EQ(r.crashed, c.crashed);
        EXPECT_EQ(r.standardOutput.size(), c.outSize);
        EXPECT_EQ(r.standardError.size(), c.errSize);
    }
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

TEST(PlatformProfile, TheJournalIsFoundWhereverJournaldKeepsIt) {
    FakeTools places;
    const QString id = "0123456789abcdef0123456789abcdef";
    places.file("machine-id", id.toLatin1() + "\n");
    const JournalPlaces where{places.path("var"), places.path("run"), places.path("machine-id"),
                              "jane"};
    const auto folder = [&where] { return PlatformProfile::journal(where).logStoreFolder; };
    // Neither holds one: the persistent place is named.
    EXPECT_EQ(folder(), where.persistentRoot + "/" + id);
    // An empty persistent root, and even an empty machine folder in it, hide nothing.
    QDir().mkpath(where.persistentRoot + "/" + id);
    QDir().mkpath(where.volatileRoot + "/" + id);
    places.file("run/" + id + "/system.journal", "x");
    EXPECT_EQ(folder(), where.volatileRoot + "/" + id);
    places.file("var/" + id + "/system.journal", "x");
    EXPECT_EQ(folder(), where.persistentRoot + "/" + id);
    // A machine ID that is no ID names no folder.
    places.file("machine-id", "../../etc\n");
    EXPECT_EQ(folder(), where.persistentRoot);
    EXPECT_EQ(PlatformProfile::journal(where).logTimesyncFolder, where.persistentRoot);
}

TEST(PlatformProfile, TheJournalsTextsSpeakOfThisComputer) {
    const PlatformProfile journal = PlatformProfile::journal({"/v", "/r", "/nothing", "jane"});
    const ProbeMessages& says = journal.messages;
    EXPECT_EQ(journal.store, LogStore::journal);
    for (const QString& text :
         {says.notAdmin, says.noLogFiles, says.noTimesync, says.noEntries, says.timeFormat}) {
        EXPECT_FALSE(text.contains("Mac")) << text.toStdString();
        EXPECT_FALSE(text.contains("timesync")) << text.toStdString();
        EXPECT_FALSE(text.contains("Language & Region")) << text.toStdString();
    }
    for (const QString& text : {says.notAdmin, says.noLogFiles, says.noEntries})
        EXPECT_TRUE(text.endsWith(ProbeMessages::disabledLine)) << text.toStdString();
    EXPECT_EQ(says.noLogFiles,
              "Varko can't find the system journal on this computer: neither /v nor /r holds "
              "one. This computer keeps no journal, so there is no log to browse.\nThe Open Log "
              "Browser command has been disabled.");
    EXPECT_EQ(says.noTimesync, says.noLogFiles);
    EXPECT_TRUE(says.noEntries.contains("on this computer"));
    // The reader test names the groups found here and how to join the first.
    EXPECT_EQ(journal.logReaderGroupIds.value(0), "0");
    QStringList groups;
    for (const char* name : {"systemd-journal", "adm", "wheel"})
        if (getgrnam(name) != nullptr) groups << name;
    for (const QString& group : groups) EXPECT_TRUE(says.notAdmin.contains(group));
    EXPECT_EQ(journal.logReaderGroupIds.size(), groups.size() + 1);
    if (!groups.isEmpty()) {
        EXPECT_TRUE(says.notAdmin.contains("sudo usermod -aG " + groups.first() + " jane"));
    }
}

}  // namespace
}  // namespace varko::host
