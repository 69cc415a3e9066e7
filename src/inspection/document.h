#pragma once

#include <QString>
#include <QUrl>
#include <memory>

#include "inspection/info.h"

namespace varko {

/// One opened app bundle or installer package. A viewer's document: it is read,
/// never written. Reading never fails; what goes wrong shows in the record.
class Document final {
public:
    Document() = default;

    /// Sets the two flags from the type name (exact comparison) and builds a new
    /// record, replacing any earlier one. Always answers true.
    bool readFromURL(const QUrl& url, const QString& typeName, const host::ToolSet& tools,
                     const host::CancelFlag& cancel = {});

    std::shared_ptr<const Info> theInfo;
    bool isApp = true;
    bool isPackage = false;
};

}  // namespace varko
