// Start-up time of Varko to its first window with the example open, against a bare
// Qt program showing one QMainWindow, both measured in the same run.
//   bench_startup [RUNS] [--phases]
// Each run is a fresh process on the offscreen platform, timed from its start to the
// first paint of its window: for Varko the example's window once its report is in
// it. Varko starts as the varko program does, with the stand-in tools beside it, a
// launch probe whose `id` and `log` are scripts that pass every question (so no
// alert is due) and settings that skip the update check. --phases also prints when
// each step of Varko's start was reached.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
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
#include "report/ui/documentwindowcontroller.h"
#include "tools/toolrun.h"

namespace {

using startupbench::phase;

void writeScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    file.write("#!/bin/sh\n" + body);
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

// The child: Varko's start as main() makes it, until the example's report is painted.
int startVarko(int argc, char** argv, const QString& fixtures, const QStringList& items) {
    phase("main");
    QApplication app(argc, argv);
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
    startupbench::FirstPaint painted([](QWidget* w) {
        const auto* window = qobject_cast<const varko::DocumentWindowController*>(w->window());
        return window != nullptr && !window->isReading() && window->document() != nullptr;
    });
    app.installEventFilter(&painted);
    // When the window first shows at all, still reading its item.
    startupbench::FirstPaint shown(
        [](QWidget* w) {
            return qobject_cast<const varko::DocumentWindowController*>(w->window()) != nullptr;
        },
        "window");
    app.installEventFilter(&shown);
    varko::AppDelegate delegate(varko::host::ToolSet::withPrograms(programs).withProfile(profile));
    phase("delegate");
    delegate.applicationDidFinishLaunching(items);
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
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return run;
    for (const QByteArray& line : process.readAllStandardError().split('\n')) {
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
    if (argc >= 4 && std::strcmp(argv[2], "--varko") == 0) {
        startupbench::spawnedAt = std::atoll(argv[1]);
        QStringList items;
        for (int i = 4; i < argc; ++i) items << QString::fromLocal8Bit(argv[i]);
        return startVarko(argc, argv, QString::fromLocal8Bit(argv[3]), items);
    }

    QCoreApplication app(argc, argv);
    int runs = 15;
    bool phases = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--phases") == 0)
            phases = true;
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
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    const QString self = QCoreApplication::applicationFilePath();
    const QString bareQt = QCoreApplication::applicationDirPath() + "/bench_startup_bare";
    const QString example = QDir(QCoreApplication::applicationDirPath() + "/../examples")
                                .absoluteFilePath("Example.app");
    if (!QFileInfo(example).isDir()) {
        std::fprintf(stderr, "bench_startup: no example at %s\n", qPrintable(example));
        return 1;
    }

    // The two kinds alternate, so that a busy moment of the machine hits both alike.
    std::vector<Run> bare, varko;
    for (int i = 0; i < runs; ++i) {
        bare.push_back(runOnce(bareQt, {}, environment));
        varko.push_back(runOnce(self, {"--varko", dir.path(), example}, environment));
    }
    std::vector<double> b, v;
    for (const Run& r : bare) b.push_back(r.ms);
    for (const Run& r : varko) v.push_back(r.ms);
    if (std::find(b.begin(), b.end(), -1) != b.end() ||
        std::find(v.begin(), v.end(), -1) != v.end()) {
        std::fprintf(stderr, "bench_startup: a run failed\n");
        return 1;
    }
    const double bm = median(b), vm = median(v);
    std::printf("runs=%d\nbare_qt_ms=%.1f\nvarko_with_example_ms=%.1f\nratio=%.2f\n", runs, bm, vm,
                vm / bm);
    if (phases) {
        printPhases("bare_qt", bare);
        printPhases("varko", varko);
    }
    return 0;
}
