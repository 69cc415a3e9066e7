// Start-up time of Varko to its first window with the example's report painted, against a
// bare Qt program that paints the same report text in one plain text view, both measured in
// the same run.
//   bench_startup [RUNS] [--phases] [--platform NAME]
// Each run is a fresh process, on the offscreen platform unless NAME is given (xcb takes
// DISPLAY from the environment), timed from its start to the first paint of the report
// text. The two alternate run by run, and the ratio printed is the median of each pair's
// Varko / bare. Varko starts as the varko program does, with the stand-in tools beside
// it, a launch probe whose `id` and `log` are scripts that pass every question (so no
// alert is due) and settings that skip the update check; the bare program is given the
// text that the same inspection gives, and Varko's run fails if its view shows another.
// --phases also prints when each step of Varko's start was reached.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <vector>

#include "app/appdelegate.h"
#include "app/appidentity.h"
#include "firstpaint.h"
#include "inspection/itemtype.h"
#include "report/iteminspection.h"
#include "report/ui/documentwindowcontroller.h"
#include "tools/toolrun.h"
#include "ui/applicationstyle.h"

namespace {

using startupbench::phase;

void writeScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    file.write("#!/bin/sh\n" + body);
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

// The child: Varko's start as main() makes it, until the example's report is painted.
int startVarko(int argc, char** argv, const QString& fixtures, const QString& item) {
    phase("main");
    QApplication app(argc, argv);
    varko::useApplicationStyle();
    varko::setApplicationIdentity();
    QApplication::setApplicationVersion("0.1.0");
    QGuiApplication::setDesktopFileName(QStringLiteral("varko"));
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { varko::host::endAllRuns(); });
    phase("application");
    const QDir dir(fixtures);
    const varko::host::ToolSet system = varko::host::ToolSet::system();
    QHash<QString, QString> programs;
    for (const char* path : {varko::host::codesignPath, varko::host::spctlPath,
                             varko::host::pkgutilPath, varko::host::hdiutilPath})
        programs.insert(QLatin1String(path), system.programFor(QLatin1String(path)));
    programs.insert(QLatin1String(varko::host::idPath), dir.filePath("id"));
    programs.insert(QLatin1String(varko::host::logPath), dir.filePath("log"));
    varko::host::PlatformProfile profile = varko::host::PlatformProfile::macOS();
    profile.logStoreFolder = dir.filePath("Persist");
    profile.logTimesyncFolder = dir.filePath("timesync");
    // The run ends when the report view first shows the text the bare program paints: the
    // whole report, once the signature checks have answered.
    QFile file(dir.filePath("report.txt"));
    const QString whole =
        file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    const auto reportView = [](QWidget* w) -> const QPlainTextEdit* {
        const auto* window = qobject_cast<const varko::DocumentWindowController*>(w->window());
        if (window == nullptr || window->isReading() || window->document() == nullptr)
            return nullptr;
        const auto* view =
            window->findChild<const QPlainTextEdit*>(QStringLiteral("outputTextbox"));
        return view != nullptr && w == view->viewport() ? view : nullptr;
    };
    startupbench::FirstPaint painted([&](QWidget* w) {
        const QPlainTextEdit* view = reportView(w);
        return view != nullptr && view->toPlainText() == whole;
    });
    app.installEventFilter(&painted);
    // The record's part of the report, painted before the checks answer.
    startupbench::FirstPaint record(
        [&](QWidget* w) {
            const QPlainTextEdit* view = reportView(w);
            return view != nullptr && !view->document()->isEmpty();
        },
        "record");
    app.installEventFilter(&record);
    QTimer::singleShot(10000, [] {
        std::fprintf(stderr, "bench_startup: Varko never showed the bare program's report\n");
        QCoreApplication::exit(3);
    });
    // When the window first shows at all, still reading its item.
    startupbench::FirstPaint shown(
        [](QWidget* w) {
            return qobject_cast<const varko::DocumentWindowController*>(w->window()) != nullptr;
        },
        "window");
    app.installEventFilter(&shown);
    varko::AppDelegate delegate(varko::host::ToolSet::withPrograms(programs).withProfile(profile));
    phase("delegate");
    delegate.applicationDidFinishLaunching({item});
    phase("launched");
    return app.exec();
}

/// One start: how long until its window was first painted, and when each step came.
struct Run {
    double ms = -1;
    std::map<std::string, double> phases;
};

// The child is told when it was started, so that it can date its own steps.
Run runOnce(const QString& program, const QStringList& arguments,
            const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, QStringList{QString::number(startupbench::monotonicNs())} + arguments);
    Run run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    const QByteArray errors = process.readAllStandardError();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s", errors.constData());
        return run;
    }
    for (const QByteArray& line : errors.split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 3 && words[0] == "phase")
            run.phases[words[1].toStdString()] = words[2].toDouble();
    }
    if (const auto painted = run.phases.find("painted"); painted != run.phases.end())
        run.ms = painted->second;
    return run;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

void printPhases(const char* label, const std::vector<Run>& runs) {
    std::map<std::string, std::vector<double>> byName;
    for (const Run& run : runs)
        for (const auto& [name, ms] : run.phases) byName[name].push_back(ms);
    std::printf("%s phases (median ms from spawn):", label);
    std::vector<std::pair<double, std::string>> ordered;
    for (const auto& [name, values] : byName) ordered.emplace_back(median(values), name);
    std::sort(ordered.begin(), ordered.end());
    for (const auto& [ms, name] : ordered) std::printf(" %s=%.1f", name.c_str(), ms);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[2], "--varko") == 0) {
        startupbench::spawnedAt = std::atoll(argv[1]);
        return startVarko(argc, argv, QString::fromLocal8Bit(argv[3]),
                          QString::fromLocal8Bit(argv[4]));
    }

    QCoreApplication app(argc, argv);
    int runs = 15;
    bool phases = false;
    QString platform = QStringLiteral("offscreen");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--phases") == 0)
            phases = true;
        else if (std::strcmp(argv[i], "--platform") == 0 && i + 1 < argc)
            platform = QString::fromLocal8Bit(argv[++i]);
        else
            runs = std::max(1, std::atoi(argv[i]));
    }
    QTemporaryDir fixtures;
    const QDir dir(fixtures.path());
    writeScript(dir.filePath("id"), "echo 20 12 80\n");
    writeScript(dir.filePath("log"),
                "if [ \"$2\" = --style ]; then echo '[{\"timestamp\":\"2021-04-07 "
                "18:22:06.123456+0100\"}]';\n"
                "else printf 'one\\ntwo\\n'; fi\n");
    for (const char* folder : {"Persist", "timesync", "config/Varko"}) dir.mkpath(folder);
    for (const char* file :
         {"Persist/0000000000000001.tracev3", "timesync/0000000000000001.timesync"}) {
        QFile f(dir.filePath(file));
        if (f.open(QIODevice::WriteOnly)) f.write("x");
    }
    QSettings(dir.filePath("config/Varko/Varko.conf"), QSettings::IniFormat)
        .setValue("noUpdateCheck", true);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", platform);
    environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    const QString self = QCoreApplication::applicationFilePath();
    const QString bareQt = QCoreApplication::applicationDirPath() + "/bench_startup_bare";
    const QString example = QDir(QCoreApplication::applicationDirPath() + "/../examples")
                                .absoluteFilePath("Example.app");
    if (!QFileInfo(example).isDir()) {
        std::fprintf(stderr, "bench_startup: no example at %s\n", qPrintable(example));
        return 1;
    }
    // The report as Varko's window shows it once its checks have answered, from the same tools.
    varko::Inspection item;
    item.path = QFileInfo(example).absoluteFilePath();
    item.typeName = varko::itemTypeForPath(example).typeName;
    varko::inspect(item, varko::host::ToolSet::system(), false);
    const QString reportFile = dir.filePath("report.txt");
    QFile report(reportFile);
    if (item.fullText.isEmpty() || !report.open(QIODevice::WriteOnly) ||
        report.write(varko::shownForm(item.fullText).toUtf8()) < 0) {
        std::fprintf(stderr, "bench_startup: no report of the example\n");
        return 1;
    }
    report.close();

    // The two kinds alternate, so that a busy moment of the machine hits both alike.
    std::vector<Run> bare, varko;
    for (int i = 0; i < runs; ++i) {
        bare.push_back(runOnce(bareQt, {reportFile}, environment));
        varko.push_back(runOnce(self, {"--varko", dir.path(), example}, environment));
    }
    std::vector<double> b, v, r, ratios, recordRatios;
    for (int i = 0; i < runs; ++i) {
        const Run& yardstick = bare[size_t(i)];
        const Run& run = varko[size_t(i)];
        const auto record = run.phases.find("record");
        if (yardstick.ms < 0 || run.ms < 0 || record == run.phases.end()) {
            std::fprintf(stderr, "bench_startup: a run failed\n");
            return 1;
        }
        b.push_back(yardstick.ms);
        v.push_back(run.ms);
        r.push_back(record->second);
        ratios.push_back(run.ms / yardstick.ms);
        recordRatios.push_back(record->second / yardstick.ms);
    }
    std::printf(
        "platform=%s\nruns=%d\nbare_qt_report_ms=%.1f\nvarko_report_ms=%.1f\nratio=%.2f\n"
        "varko_record_ms=%.1f\nrecord_ratio=%.2f\n",
        qPrintable(platform), runs, median(b), median(v), median(ratios), median(r),
        median(recordRatios));
    if (phases) {
        printPhases("bare_qt", bare);
        printPhases("varko", varko);
    }
    return 0;
}
