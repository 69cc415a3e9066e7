#include "ui/savedialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPointer>
#include <QStandardPaths>
#include <QThreadPool>
#include <QWindow>

#include "tools/safewrite.h"
#include "tools/utf8.h"

namespace varko {

namespace {

// Icons by kind and types by name only: the platform's guesses read the file.
class NameOnlyIconProvider final : public QFileIconProvider {
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override {
        if (info.isRoot()) return icon(Drive);
        return icon(info.isDir() ? Folder : File);
    }
    QString type(const QFileInfo& info) const override {
        if (info.isRoot()) return QCoreApplication::translate("SaveDialog", "Drive");
        if (info.isDir()) return QCoreApplication::translate("SaveDialog", "Folder");
        return QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension).comment();
    }
};

void reportWithoutWindow(const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                                QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

/// The dialog adds its suffix to any name typed without one, also to "/dev/full": a name
/// that already names something other than a regular file, or lies among the system's
/// devices and process files, is taken as typed, so that the save refuses it rather than
/// writing a new file beside it.
QString withoutAddedSuffix(const QString& chosen, const QString& suffix) {
    const QString added = "." + suffix;
    if (suffix.isEmpty() || !chosen.endsWith(added)) return chosen;
    const QString typed = chosen.chopped(added.size());
    if (QFileInfo::exists(chosen)) return chosen;
    const QFileInfo info(typed);
    const QString folder = info.absoluteDir().canonicalPath();
    for (const char* system : {"/dev", "/proc", "/sys"})
        if (folder == QLatin1String(system) || folder.startsWith(QLatin1String(system) + u'/'))
            return typed;
    return info.exists() && !info.isFile() ? typed : chosen;
}

}  // namespace

void keepFileDialogFromReading(QFileDialog& dialog) {
    // The dialog's model and its gatherer thread use the provider until they are
    // gone, after the dialog itself; one that is never deleted outlives them all.
    static auto* provider = new NameOnlyIconProvider;
    dialog.setIconProvider(provider);
}

QThreadPool* savingPool() {
    static QPointer<QThreadPool> pool;
    if (!pool) pool = new QThreadPool(QCoreApplication::instance());
    return pool;
}

QString documentsFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QDir(documents).exists() ? documents : QDir::homePath();
}

QString fileNameSafe(const QString& name) {
    // Well under the 255 bytes a file name may have, also in UTF-8 and with a suffix.
    constexpr qsizetype longest = 80;
    QString safe;
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\')
            safe += u'-';
        else if (c == u':')
            safe += u'.';
        else if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
                 c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            safe += u'_';
        else
            safe += c;
    }
    // A leading dot would hide the file.
    while (safe.startsWith(u'.')) safe.remove(0, 1);
    if (safe.size() > longest)
        safe.truncate(safe[longest - 1].isHighSurrogate() ? longest - 1 : longest);
    return safe;
}

QFileDialog* openSaveDialog(QWidget* window, const SaveDialogSetup& setup,
                            QFuture<std::string> content, SaveFinished finished) {
    // No parent: the dialog holds what is to be saved until it ends, also after its
    // window has closed.
    auto* dialog = new QFileDialog(nullptr, setup.caption, setup.proposedPath, setup.nameFilter);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(setup.defaultSuffix);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    keepFileDialogFromReading(*dialog);
    if (window && window->window()->windowHandle()) {
        // Still placed over, and for a sheet blocking, the window it belongs to.
        dialog->winId();
        dialog->windowHandle()->setTransientParent(window->window()->windowHandle());
    }

    QPointer<QWidget> owner(window);
    QObject::connect(
        dialog, &QFileDialog::fileSelected, dialog,
        [content, owner, finished, failure = setup.failureWithoutWindow,
         suffix = setup.defaultSuffix](const QString& selected) {
            const QString fileName = withoutAddedSuffix(selected, suffix);
            QFuture<std::string>(content)
                .then(savingPool(),
                      [fileName](const std::string& bytes) {
                          return host::writeFileAtomically(fileName, bytes.data(),
                                                           qint64(bytes.size()));
                      })
                .then(QCoreApplication::instance(),
                      [owner, finished, failure, fileName](const Expected<void>& written) {
                          if (owner) {
                              finished(fileName, written);
                          } else if (!written) {
                              reportWithoutWindow(
                                  failure.arg(host::visibleControls(fileName),
                                              QString::fromStdString(written.error().message)));
                          }
                      });
        });
    if (setup.sheet)
        dialog->open();
    else
        dialog->show();
    return dialog;
}

}  // namespace varko
