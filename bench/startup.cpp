// Start-up time of Varko, from starting the process to its event loop running,
// against a bare Qt widgets program measured in the same run.
//   bench_startup [RUNS]
// Each run is a fresh process on the offscreen platform. It starts Varko's
// application delegate as the varko program does, with a launch probe whose tools
// (`id` and `log`) are scripts that answer at once and whose store folders are
// temporary ones, and with settings that skip the update check.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/appdelegate.h"

namespace {

void writeScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    file.write("#!/bin/sh\n" + body);
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

// The child: Varko's start, ending as soon as its event loop runs.
int startVarko(int argc, char** argv, const QString& fixtures, const QStringList& items) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Varko");
    QApplication::setApplicationName("Varko");
    QApplication::setApplicationVersion("0.1.0");
    const QDir dir(fixtures);
    const varko::host::ToolSet system = varko::host::ToolSet::system();
    QHash<QString, QString> programs;
    for (const char* path : {varko::host::codesignPath, varko::host::spctlPath,
                             varko::host::pkgutilPath, varko::host::hdiutilPath})
        programs.insert(QLatin1String(path), system.programFor(QLatin1String(path)));
    programs.insert(QLatin1String(varko::host::idPath), dir.filePath("id"));
    programs.insert(QLatin1String(varko::host::logPath), dir.filePath("log"));
    varko::host::PlatformProfile profile{dir.filePath("Persist"), dir.filePath("timesync"), {"80"}};
    varko::AppDelegate delegate(varko::host::ToolSet::withPrograms(programs).withProfile(profile));
    delegate.applicationDidFinishLaunching(items);
    QTimer::singleShot(0, &app, &QApplication::quit);
    return app.exec();
}

int bareQt(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.show();
    QTimer::singleShot(0, &app, &QApplication::quit);
    return app.exec();
}

double runOnce(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitCode() == 0 ? double(clock.nsecsElapsed()) / 1e6 : -1;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--bare-qt") == 0) return bareQt(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "--varko") == 0) {
        QStringList items;
        for (int i = 3; i < argc; ++i) items << QString::fromLocal8Bit(argv[i]);
        return startVarko(argc, argv, QString::fromLocal8Bit(argv[2]), items);
    }

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
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
    const QString example = QDir(QCoreApplication::applicationDirPath() + "/../examples")
                                .absoluteFilePath("Example.app");

    std::vector<double> bare, empty, withItem;
    for (int i = 0; i < runs; ++i) {
        bare.push_back(runOnce(self, {"--bare-qt"}, environment));
        empty.push_back(runOnce(self, {"--varko", dir.path()}, environment));
        withItem.push_back(runOnce(self, {"--varko", dir.path(), example}, environment));
    }
    const double b = median(bare), e = median(empty), w = median(withItem);
    std::printf(
        "bare_qt_ms=%.1f\nvarko_ms=%.1f ratio=%.2f\nvarko_with_example_ms=%.1f ratio=%.2f\n", b, e,
        e / b, w, w / b);
    return b < 0 || e < 0 || w < 0 ? 1 : 0;
}
