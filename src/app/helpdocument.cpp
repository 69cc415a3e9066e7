#include "app/helpdocument.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

namespace varko {

QString helpDocumentModuleName() {
    return QStringLiteral(VARKO_HELP_MODULE);
}

namespace {

// Loaded once and kept: documents it made may outlive any window.
Expected<OpenHelpDocumentFunction> moduleEntry() {
    static QLibrary* library = nullptr;
    static OpenHelpDocumentFunction entry = nullptr;
    if (entry != nullptr) return entry;
    const QString path =
        QDir(QCoreApplication::applicationDirPath()).filePath(helpDocumentModuleName());
    if (library == nullptr) library = new QLibrary(path);
    if (!library->load()) return Error{0, library->errorString().toStdString(), ErrorCode::missing};
    entry = reinterpret_cast<OpenHelpDocumentFunction>(library->resolve(openHelpDocumentSymbol));
    if (entry == nullptr)
        return Error{0, path.toStdString() + " is not Varko's help module", ErrorCode::missing};
    return entry;
}

}  // namespace

Expected<void> loadHelpModule() {
    if (const Expected<OpenHelpDocumentFunction> entry = moduleEntry(); !entry)
        return entry.error();
    return {};
}

Expected<std::shared_ptr<HelpDocument>> openHelpDocument(const QString& path) {
    const Expected<OpenHelpDocumentFunction> entry = moduleEntry();
    if (!entry) return entry.error();
    int status = int(HelpDocumentStatus::unreadable);
    std::shared_ptr<HelpDocument> document((*entry)(path, &status));
    if (document) return document;
    if (status == int(HelpDocumentStatus::locked))
        return Error{0, "the help document is locked", ErrorCode::unsupported};
    return Error{0, "the help document can't be read", ErrorCode::malformed};
}

}  // namespace varko
