#include "inspection/document.h"

#include "inspection/itemtype.h"

namespace varko {

bool Document::readFromURL(const QUrl& url, const QString& typeName, const host::ToolSet& tools,
                           const host::CancelFlag& cancel) {
    isApp = typeName == QLatin1String(applicationBundleType);
    isPackage = typeName == QLatin1String(installerPackageType);
    theInfo = std::make_shared<const Info>(url, isApp, tools, cancel);
    return true;
}

}  // namespace varko
