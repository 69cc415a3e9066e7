#include "app/updatefetch.h"

#include "app/module.h"

namespace varko {

bool fetchUpdateList(const QUrl& address, qint64 maxBytes, QObject* owner,
                     std::function<void(const UpdateListAnswer&)> done) {
    const Expected<QFunctionPointer> entry =
        moduleFunction(QStringLiteral(VARKO_UPDATE_MODULE), fetchUpdateListSymbol);
    if (!entry) return false;
    reinterpret_cast<FetchUpdateListFunction> (*entry)(address, maxBytes, owner, &done);
    return true;
}

}  // namespace varko
