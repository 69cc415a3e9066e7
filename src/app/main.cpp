#include "app/appdelegate.h"
#include "app/application.h"
#include "app/commandline.h"
#include "tools/pathbytes.h"
#include "tools/toolrun.h"

int main(int argc, char** argv) {
    if (const auto answered = varko::answerCommandLine(argc, argv, VARKO_VERSION)) return *answered;
    varko::Application app(argc, argv);
    QApplication::setOrganizationName("Varko");
    QApplication::setApplicationName("Varko");
    QApplication::setApplicationVersion(VARKO_VERSION);
    // Lets a Wayland desktop match the windows to varko.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("varko"));
#ifdef Q_OS_MACOS
    // A Mac app stays running with no window, waiting for items to open.
    app.setQuitOnLastWindowClosed(false);
#endif
    // Quitting must not wait for a tool that is still verifying or hangs.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { varko::host::endAllRuns(); });
    varko::AppDelegate delegate(varko::host::ToolSet::system());
    QObject::connect(&app, &varko::Application::fileOpenRequested, &delegate.documents(),
                     &varko::DocumentController::openDocument);
    delegate.applicationDidFinishLaunching(varko::commandLineItems(argc, argv));
    return app.exec();
}
