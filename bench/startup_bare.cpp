// The yardstick of bench_startup: a bare Qt program, linked against Qt Widgets alone, that
// shows the report text Varko shows for the example in one plain text view of the size of
// Varko's window, so that both lay out and paint the same text in the same fonts.
//   bench_startup_bare SPAWN_NS REPORT_FILE
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <cstdlib>

#include "firstpaint.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    startupbench::spawnedAt = std::atoll(argv[1]);
    startupbench::phase("main");
    QApplication app(argc, argv);
    QFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::ReadOnly)) return 1;
    QPlainTextEdit view;
    view.setReadOnly(true);
    // Varko's report is in the application's font at 12 points.
    QFont font = QApplication::font();
    font.setPointSizeF(12.0);
    view.setFont(font);
    view.setPlainText(QString::fromUtf8(file.readAll()));
    view.resize(760, 680);
    startupbench::FirstPaint painted([&view](QWidget* w) { return w == view.viewport(); });
    app.installEventFilter(&painted);
    view.show();
    return app.exec();
}
