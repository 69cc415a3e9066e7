// File › Export Privacy Profile… of the inspection window: the app's configuration profile
// for MDM, made from the components as read and saved where the user says.

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QtConcurrent>

#include "overview/privacyprofile.h"
#include "report/ui/documentwindowcontroller.h"
#include "report/ui/viewcontroller.h"
#include "tools/threadpools.h"
#include "tools/utf8.h"
#include "ui/savedialog.h"

namespace varko {

void ViewController::exportPrivacyProfile() {
    if (!showsApp || !overviewReady) return;
    // The signature is read again for the requirement: off the GUI thread, from a copy of
    // the overview as it stands.
    host::whenFinished(
        this,
        QtConcurrent::run(processingQueue,
                          [read = theOverview] {
                              return std::make_shared<Expected<overview::PrivacyProfile>>(
                                  overview::privacyProfile(read));
                          }),
        [this](const std::shared_ptr<Expected<overview::PrivacyProfile>>& made) {
            if (*made)
                offerPrivacyProfile((*made)->xml, (*made)->warnings);
            else
                alert(tr("No privacy profile can be made for this app."),
                      host::visibleControls(QString::fromStdString(made->error().message)) + ".",
                      true);
        });
}

void ViewController::offerPrivacyProfile(const std::string& xml,
                                         const std::vector<std::string>& warnings) {
    const auto* controller = qobject_cast<const DocumentWindowController*>(window());
    const QString title = controller ? controller->documentTitle() : QString();
    const QString name = fileNameSafe(QFileInfo(title).completeBaseName());
    const SaveDialogSetup setup{
        tr("Export Privacy Profile"),
        QDir(documentsFolder())
            .filePath((name.isEmpty() ? tr("App") : name) + " Privacy.mobileconfig"),
        tr("Configuration profiles (*.mobileconfig)"),
        QStringLiteral("mobileconfig"),
        false,
        tr("The privacy profile could not be saved to %1: %2.")};
    QString notes;
    for (const std::string& w : warnings)
        notes += host::visibleControls(QString::fromStdString(w)) + "\n";
    QFileDialog* dialog =
        openSaveDialog(this, setup, QtConcurrent::run(savingPool(), [xml] { return xml; }),
                       [this, notes](const QString& fileName, const Expected<void>& written) {
                           if (!written)
                               alert(tr("The privacy profile could not be saved to %1.")
                                         .arg(host::visibleControls(fileName)),
                                     QString::fromStdString(written.error().message) + ".", true);
                           else if (!notes.isEmpty())
                               // Said after the save, since they are for whoever deploys it.
                               alert(tr("The privacy profile was saved. Before you deploy it:"),
                                     notes.trimmed(), false);
                           emit privacyProfileExported(fileName, bool(written));
                       });
    emit saveDialogOpened(dialog);
}

void ViewController::alert(const QString& text, const QString& detail, bool warning) {
    auto* box = new QMessageBox(warning ? QMessageBox::Warning : QMessageBox::Information,
                                tr("Export Privacy Profile"), text, QMessageBox::Ok, this);
    box->setInformativeText(detail);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

}  // namespace varko
