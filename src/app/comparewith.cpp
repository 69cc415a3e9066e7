#include "app/comparewith.h"

#include "app/opendialog.h"
#include "compare/ui/comparisonwindow.h"
#include "report/ui/documentwindowcontroller.h"

namespace varko {

void addCompareWith(DocumentWindowController& window, const Storyboard& storyboard) {
    QObject::connect(
        &window, &DocumentWindowController::compareWithRequested, &window, [&window, storyboard] {
            // The window's item as it was opened: its path is known while it is still read.
            const QString oldPath = window.windowFilePath();
            auto* dialog = new OpenDialog(&window);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->setWindowTitle(QObject::tr("Compare “%1” With").arg(window.documentTitle()));
            QObject::connect(dialog, &QFileDialog::filesSelected, &window,
                             [storyboard, oldPath](const QStringList& paths) {
                                 if (paths.isEmpty()) return;
                                 ComparisonWindow* changes =
                                     storyboard.instantiateComparisonWindow();
                                 changes->compare(oldPath, paths.first());
                                 changes->show();
                             });
            dialog->open();
        });
}

}  // namespace varko
