#include "inspection/itemtype.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include "tools/pathbytes.h"

namespace varko {

ItemType itemTypeForPath(const QString& path) {
    // "Example.app/" names the same folder as "Example.app".
    const QString clean = QDir::cleanPath(path);
    const QString name = QFileInfo(clean).fileName();
    // By the system's own bytes: a name that is not UTF-8 is still a name.
    struct stat st {};
    if (::stat(host::pathToSystem(clean).constData(), &st) != 0)
        return {{}, QCoreApplication::translate("Varko", "“%1” does not exist.").arg(path)};
    if (S_ISDIR(st.st_mode) && name.endsWith(".app", Qt::CaseInsensitive))
        return {applicationBundleType, {}};
    // A folder too: the older bundle-style packages are folders.
    if (name.endsWith(".pkg", Qt::CaseInsensitive) && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
        return {installerPackageType, {}};
    return {{},
            QCoreApplication::translate("Varko",
                                        "“%1” is neither an app bundle (a folder whose name ends "
                                        "in .app) nor an installer package (a file or folder "
                                        "whose name ends in .pkg).")
                .arg(path)};
}

}  // namespace varko
