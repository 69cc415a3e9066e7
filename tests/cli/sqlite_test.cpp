// varko-report --scan --sqlite: the scan's items, components and services as tables, the
// names verbatim, the file replaced whole or not at all, and the osquery tables over it.
#include <QProcess>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __APPLE__
#include <crt_externs.h>
#define environ (*_NSGetEnviron())
#endif

#include "cli/clitest.h"
#include "fixtures/componentbundle.h"
#include "fixtures/xarwriter.h"

namespace {

using namespace varko::testing;
using namespace varko::examplegen;
namespace fs = std::filesystem;

const QString querydb = QStringLiteral(VARKO_SOURCE_DIR "/tests/cli/querydb.py");
const QString osqueryConf = QStringLiteral(VARKO_SOURCE_DIR "/resources/osquery/varko.conf");

/// A stranger's choice of name: quotes, SQL and control characters.
const std::string hostile = "x'); DROP TABLE items; --\"\t\x1b[1m";

/// What querydb.py prints: the rows of `sql`, or with "--osquery" each scheduled query's.
QJsonValue query(const QString& db, const QStringList& sqlAndParameters) {
    QProcess p;
    p.start("python3", QStringList{querydb, db} + sqlAndParameters);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        ADD_FAILURE() << p.readAllStandardError().toStdString();
    const QJsonDocument doc = QJsonDocument::fromJson(p.readAllStandardOutput());
    return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
}

/// varko-report with its standard output on the smallest pipe that nothing reads yet, its
/// standard error in a file: a scan whose lines pass the pipe's size stalls at printing,
/// mid-scan and before its database is saved, until `finish` reads them.
class StalledRun {
public:
    StalledRun(const QStringList& arguments, const QString& errorFile) {
        int ends[2];
        if (::pipe(ends) != 0) return;
        out = ends[0];
#ifdef F_SETPIPE_SZ
        ::fcntl(ends[1], F_SETPIPE_SZ, 4096);  // the smallest, a page
#endif
        std::vector<QByteArray> bytes{VARKO_BIN_DIR "/varko-report"};
        for (const QString& a : arguments) bytes.push_back(QFile::encodeName(a));
        std::vector<char*> argv;
        for (QByteArray& b : bytes) argv.push_back(b.data());
        argv.push_back(nullptr);
        const QByteArray err = QFile::encodeName(errorFile);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.constData(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addclose(&actions, ends[0]);
        if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
    }
    ~StalledRun() {
        if (pid > 0) finish();
        if (out >= 0) ::close(out);
    }
    /// Whether it began printing within a minute: the scan is then under way.
    bool printing() const {
        pollfd p{out, POLLIN, 0};
        return pid > 0 && ::poll(&p, 1, 60000) == 1;
    }
    void kill() const {
        ::kill(pid, SIGKILL);
    }
    /// Reads the rest and waits: the exit status, or -1 for a run a signal ended.
    int finish() {
        char buffer[4096];
        while (::read(out, buffer, sizeof buffer) > 0) {
        }
        int status = 0;
        const bool waited = ::waitpid(pid, &status, 0) == pid;
        pid = -1;
        return waited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid = -1;
    int out = -1;
};

class SqliteCli : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString apps, db, cam, plain, odd, fifo;

    void SetUp() override {
        const TestPki pki;
        const fs::path folder = dir.filePath("Apps").toStdString();
        fs::create_directories(folder);
        const auto write = [&](const std::string& name, const std::string& identifier,
                               bool camera) {
            ComponentApp app;
            app.name = name;
            app.identifier = identifier;
            if (camera) app.info.set("NSCameraUsageDescription", "Calls.");
            app.pieces = {pieceAt(PieceKind::framework, "Contents/Frameworks/Kit.framework")};
            app.pieces[0].signing = Signing::otherTeam;
            return writeApp(dir.filePath("Apps"), app, pki);
        };
        cam = write("Cam", "com.example.cam", true);
        plain = write("Plain", "com.example.plain", false);
        odd = write(hostile, hostile + "\n", true);
        ASSERT_TRUE(writeFile(folder / "Tool.pkg", makeXar("", std::nullopt)));
        fifo = dir.filePath("Apps/Broken.pkg");
        ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        apps = dir.filePath("Apps");
        db = dir.filePath("out/scan.sqlite");
        ASSERT_TRUE(QDir().mkpath(dir.filePath("out")));
    }
};

TEST_F(SqliteCli, TablesHoldWhatTheJsonLinesSay) {
    const ProgramRun r = varkoReport({"--scan", "--json", "--sqlite", db, apps}, 180000);
    EXPECT_EQ(r.status, 2) << r.err.toStdString();  // for the FIFO
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 5) << r.out.toStdString();
    for (const QByteArray& line : lines) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        const QString path = o["path"].toString();
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(o["schemaVersion"], 1);
        const QJsonArray item =
            query(db, {"SELECT name, kind, identifier, verdict, signer, team, notarization, "
                       "hardened_runtime, problem_code FROM items WHERE path = ?",
                       path})
                .toArray();
        ASSERT_EQ(item.size(), 1);
        if (o.contains("error")) {
            expectHas(item[0], R"(["Broken.pkg", "package", null, null, null, null, null,
                                   null, "unsupported"])");
            continue;
        }
        const QJsonObject v = o["verdict"].toObject();
        const auto orNull = [](const QJsonValue& s) {
            return s.toString().isEmpty() ? QJsonValue() : s;
        };
        expectHas(item[0],
                  QJsonArray{QFileInfo(path).fileName(), o["isApp"].toBool() ? "app" : "package",
                             orNull(o["bundleID"]), v["state"], v["signer"], v["teamIdentifier"],
                             v["notarization"], v["hardenedRuntime"], QJsonValue()});
        QJsonArray components;
        for (const QJsonValue c : o["components"].toArray())
            components.append(QJsonArray{
                c["path"], c["kind"], orNull(c["identifier"]), c["signer"], c["teamIdentifier"],
                c["valid"].isNull()   ? QJsonValue()
                : c["valid"].toBool() ? 1
                                      : 0,
                QString::fromUtf8(
                    QJsonDocument(c["flags"].toArray()).toJson(QJsonDocument::Compact))});
        expectHas(query(db, {"SELECT path, kind, identifier, signer, team, valid, flags FROM "
                             "components WHERE item_path = ? ORDER BY rowid",
                             path}),
                  components);
        QJsonArray services;
        for (const QJsonValue s : o["privacyServices"].toArray()) services.append(s["service"]);
        expectHas(
            query(db, {"SELECT json_group_array(service) FROM (SELECT service FROM services "
                       "WHERE item_path = ? ORDER BY rowid)",
                       path}),
            QJsonArray{QJsonArray{QString::fromStdString(jsonText(services)).mid(1).chopped(1)}});
    }
    // The camera, as the scan's line words it: declared by the app, in no other piece.
    expectHas(query(db, {"SELECT title, declared, entitled, allowed, in_components FROM services "
                         "WHERE item_path = ? AND service = 'kTCCServiceCamera'",
                         cam}),
              R"([["Camera", 1, 0, 0, "[]"]])");
    expectHas(query(db, {"SELECT count(*) FROM services WHERE item_path = ?", plain}), "[[0]]");
    expectHas(query(db, {"SELECT kind, flags FROM components WHERE item_path = ? AND path "
                         "LIKE '%Kit.framework%'",
                         cam}),
              R"([["framework", "[\"team-mismatch\"]"]])");
}

TEST_F(SqliteCli, AStrangersNamesAreStoredVerbatimAndOsqueryReadsThem) {
    const QString missing = dir.filePath("gone");
    const ProgramRun r = varkoReport({"--scan", "--sqlite=" + db, apps, missing}, 180000);
    EXPECT_EQ(r.status, 2) << r.err.toStdString();
    EXPECT_EQ(r.out.count('\n'), 5);  // the text lines still come
    expectHas(query(db, {"SELECT problem LIKE ? || ': %' FROM problems", missing}), "[[1]]");
    expectHas(query(db, {"SELECT name, identifier FROM items WHERE path = ?", odd}),
              QJsonArray{QJsonArray{QString::fromStdString(hostile + ".app"),
                                    QString::fromStdString(hostile + "\n")}});
    expectHas(query(db, {"SELECT count(*) FROM items"}), "[[5]]");
    expectHas(query(db, {"SELECT count(*) FROM services WHERE item_path = ?", odd}), "[[1]]");

    // The osquery tables answer which apps may use the camera.
    const QJsonValue answers = query(db, {"--osquery", osqueryConf});
    QJsonArray camera;
    for (const QJsonValue row : answers["varko_camera_apps"].toArray()) camera.append(row[0]);
    EXPECT_EQ(camera, (QJsonArray{cam, odd})) << jsonText(answers);
    // The README shows the same query.
    QJsonDocument conf = QJsonDocument::fromJson(readFile(osqueryConf));
    const QString sql = conf["schedule"]["varko_camera_apps"]["query"].toString();
    EXPECT_TRUE(QString::fromUtf8(readFile(VARKO_SOURCE_DIR "/README.md"))
                    .simplified()
                    .contains(sql.simplified()))
        << sql.toStdString();
}

TEST_F(SqliteCli, AnExistingFileIsReplacedWholeOrNotAtAll) {
    // Longer than any database of this scan, so that a write in place would leave a tail.
    const QByteArray old(1 << 20, 'o');
    ASSERT_TRUE(writeFile(db, old));
#ifdef F_SETPIPE_SZ  // elsewhere no pipe is small enough to hold the scan back
    // Ended mid-scan, while it prints.
    StalledRun killed({"--scan", "--json", "--sqlite", db, apps}, dir.filePath("err"));
    ASSERT_TRUE(killed.printing());
    killed.kill();
    EXPECT_EQ(killed.finish(), -1);
    EXPECT_EQ(readFile(db), old);
    EXPECT_EQ(
        QDir(dir.filePath("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"scan.sqlite"});
#endif

    ASSERT_EQ(varkoReport({"--scan", "--sqlite", db, apps}, 180000).status, 2);
    EXPECT_TRUE(readFile(db).startsWith(QByteArray("SQLite format 3\0", 16)));
    EXPECT_LT(readFile(db).size(), old.size());
    expectHas(query(db, {"SELECT count(*) FROM items"}), "[[5]]");
}

TEST_F(SqliteCli, AFileThatCantBeWrittenIsRefusedAndLeftAlone) {
    const QString fifoOut = dir.filePath("out/pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifoOut).constData(), 0644), 0);
    const struct {
        QString file;
        const char* why;
    } cases[] = {
        {dir.filePath("out"), "it is a folder, not a file"},
        {fifoOut, "it is not a regular file"},
        {dir.filePath("none/scan.sqlite"), "its folder can't be written: "},
    };
    for (const auto& c : cases) {
        const ProgramRun r = varkoReport({"--scan", "--json", apps, "--sqlite", c.file});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.startsWith("varko-report: " + c.file.toUtf8() + ": " + c.why))
            << r.err.toStdString();
    }
    EXPECT_TRUE(QFileInfo(fifoOut).exists() && QFileInfo(dir.filePath("out")).isDir());
    EXPECT_FALSE(QFileInfo::exists(db));
#ifdef F_SETPIPE_SZ
    // Made a folder while the scan ran: said when saving, and the folder stays.
    StalledRun run({"--scan", "--json", "--sqlite", db, apps}, dir.filePath("err"));
    ASSERT_TRUE(run.printing());
    ASSERT_TRUE(QDir().mkpath(db));
    EXPECT_EQ(run.finish(), 2);
    const QByteArray err = readFile(dir.filePath("err"));
    EXPECT_TRUE(err.contains("varko-report: " + db.toUtf8() +
                             ": could not be written: Not a regular file\n"))
        << err.toStdString();
    EXPECT_TRUE(QFileInfo(db).isDir());
#endif
}

}  // namespace
