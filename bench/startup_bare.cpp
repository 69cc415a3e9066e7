// The yardstick of bench_startup: a bare Qt program showing one QMainWindow, linked
// against Qt Widgets alone.
//   bench_startup_bare SPAWN_NS
#include <QApplication>
#include <QMainWindow>
#include <cstdlib>

#include "firstpaint.h"

int main(int argc, char** argv) {
    if (argc >= 2) startupbench::spawnedAt = std::atoll(argv[1]);
    startupbench::phase("main");
    QApplication app(argc, argv);
    QMainWindow window;
    startupbench::FirstPaint painted([&window](QWidget* w) { return w == &window; });
    app.installEventFilter(&painted);
    window.show();
    return app.exec();
}
