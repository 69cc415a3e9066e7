#include "app/helpdocument.h"

#include "app/module.h"

namespace varko {

QString helpDocumentModuleName() {
    return QStringLiteral(VARKO_HELP_MODULE);
}

namespace {

Expected<OpenHelpDocumentFunction> moduleEntry() {
    const Expected<QFunctionPointer> entry =
        moduleFunction(helpDocumentModuleName(), openHelpDocumentSymbol);
    if (!entry) return entry.error();
    return reinterpret_cast<OpenHelpDocumentFunction>(*entry);
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
