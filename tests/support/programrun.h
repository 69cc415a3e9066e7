#pragma once

// One of our programs run to its end, as a user would run it, in UTC so that the dates
// it prints read the same on every machine.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace varko::testing {

struct ProgramRun {
    int status = -1;  ///< the exit status; -1 when it crashed or ran past its time
    QByteArray out, err;
};

/// Runs `program`, a name in the build's bin folder or a path, with `arguments`.
inline ProgramRun runTool(const QString& program, const QStringList& arguments,
                          int timeoutMs = 60000) {
    QProcess p;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TZ", "UTC");
    p.setProcessEnvironment(environment);
    p.start(program.contains('/') ? program : QStringLiteral(VARKO_BIN_DIR "/") + program,
            arguments);
    ProgramRun r;
    if (!p.waitForFinished(timeoutMs)) return r;
    if (p.exitStatus() == QProcess::NormalExit) r.status = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

}  // namespace varko::testing
