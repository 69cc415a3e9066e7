#include "inspection/itemtype.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace varko {

ItemType itemTypeForPath(const QString& path) {
    // "Example.app/" names the same folder as "Example.app".
    const QFileInfo info(QDir::cleanPath(path));
    const QString name = info.fileName();
    if (!info.exists())
        return {{}, QCoreApplication::translate("Varko", "“%1” does not exist.").arg(path)};
    if (info.isDir() && name.endsWith(".app", Qt::CaseInsensitive))
        return {applicationBundleType, {}};
    if (info.isFile() && name.endsWith(".pkg", Qt::CaseInsensitive))
        return {installerPackageType, {}};
    return {{},
            QCoreApplication::translate("Varko",
                                        "“%1” is neither an app bundle (a folder whose name ends "
                                        "in .app) nor an installer package (a file whose name "
                                        "ends in .pkg).")
                .arg(path)};
}

}  // namespace varko
