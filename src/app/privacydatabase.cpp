#include "app/privacydatabase.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QTabWidget>
#include <QtConcurrent>
#include <ctime>

#include "app/erroralert.h"
#include "overview/ui/privacyview.h"
#include "privacy/tccgrants.h"
#include "report/ui/documentwindowcontroller.h"
#include "report/ui/viewcontroller.h"
#include "tools/pathbytes.h"
#include "tools/threadpools.h"
#include "tools/utf8.h"

namespace varko {

namespace {

/// A database read for one app: its grants, or why there are none to show.
struct GrantsRead {
    std::vector<privacy::Grant> grants;
    QString problem;
};

GrantsRead readGrants(const QString& database, const QString& item) {
    GrantsRead out;
    const auto db = privacy::readTccDatabase(host::pathToSystem(database).toStdString());
    if (!db) {
        out.problem = QString::fromStdString(db.error().message);
        return out;
    }
    auto granted = privacy::grantsFor(*db, host::pathToSystem(item).toStdString(),
                                      signing::TrustAnchors::apple(), std::time(nullptr));
    if (!granted)
        out.problem = QObject::tr(
                          "A privacy database holds grants for apps and tools, and no "
                          "code was found in this item: %1")
                          .arg(QString::fromStdString(granted.error().message));
    else
        out.grants = std::move(granted->grants);
    return out;
}

void showGrants(DocumentWindowController& window, const QString& database) {
    // The window's item as it was opened: its path is known while it is still read.
    const QString item = window.windowFilePath();
    host::whenFinished(
        &window, QtConcurrent::run([database, item] { return readGrants(database, item); }),
        [&window, database](const GrantsRead& read) {
            if (!read.problem.isEmpty()) {
                runAlert({Alert::Style::Critical,
                          QObject::tr("The privacy database “%1” could not be read.")
                              .arg(host::visibleControls(QFileInfo(database).fileName())),
                          host::visibleControls(read.problem),
                          {QObject::tr("OK")}});
                return;
            }
            ViewController* content = window.viewController();
            content->buildOverviewTabs();
            content->privacyView->privacyModel().setGrants(read.grants);
            for (int tab = 0; tab < content->tabs->count(); ++tab)
                if (content->tabs->widget(tab)->isAncestorOf(content->privacyView))
                    content->tabs->setCurrentIndex(tab);
        });
}

}  // namespace

void addOpenPrivacyDatabase(DocumentWindowController& window) {
    QAction* open = window.fileMenu()->addAction(QObject::tr("Open &Privacy Database…"));
    QObject::connect(open, &QAction::triggered, &window, [&window] {
        auto* dialog = new QFileDialog(&window, QObject::tr("Open Privacy Database"));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->setNameFilters(
            {QObject::tr("Privacy databases (*.db)"), QObject::tr("All files (*)")});
        // Where macOS keeps the user's own, when this is a Mac.
        const QString own = QDir::homePath() + "/Library/Application Support/com.apple.TCC";
        if (QFileInfo(own).isDir()) dialog->setDirectory(own);
        QObject::connect(dialog, &QFileDialog::fileSelected, &window,
                         [&window](const QString& database) { showGrants(window, database); });
        dialog->open();
    });
}

}  // namespace varko
