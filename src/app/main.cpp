#include <QApplication>

#include "app/appdelegate.h"
#include "app/appidentity.h"
#include "app/commandline.h"
#include "app/singleinstance.h"
#include "tools/pathbytes.h"
#include "tools/toolrun.h"
#include "ui/applicationstyle.h"

int main(int argc, char** argv) {
    if (const auto answered = varko::answerCommandLine(argc, argv, VARKO_VERSION)) return *answered;
    QApplication app(argc, argv);
    varko::useApplicationStyle();
    varko::setApplicationIdentity();
    varko::adoptEarlierSettings();
    QApplication::setApplicationVersion(VARKO_VERSION);
    // Lets a Wayland desktop match the windows to varko.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("varko"));
    const varko::host::ToolSet tools = varko::host::ToolSet::system();
    // A Mac app stays running with no window, waiting for items to open.
    app.setQuitOnLastWindowClosed(!tools.profile().runsWithoutWindows);
    // Absolute, since a running Varko that is handed them has another current folder.
    QStringList items;
    for (const QString& item : varko::commandLineItems(argc, argv))
        items << varko::absoluteItemPath(varko::host::pathToSystem(item));
#ifndef Q_OS_MACOS
    // The system sends a Mac app's later opens to the running one; here we do it.
    varko::SingleInstance instance(varko::SingleInstance::defaultAddress());
    if (instance.start(items) == varko::SingleInstance::Start::HandedOver) return 0;
#endif
    // Quitting must not wait for a tool that is still verifying or hangs.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { varko::host::endAllRuns(); });
    // It takes the platform's requests to open items, from before the first window on.
    varko::AppDelegate delegate(tools);
#ifndef Q_OS_MACOS
    QObject::connect(&instance, &varko::SingleInstance::itemsReceived, &delegate,
                     &varko::AppDelegate::openHandedOverItems);
#endif
    delegate.applicationDidFinishLaunching(items);
    return app.exec();
}
