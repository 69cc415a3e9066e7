#include "app/resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace varko {

Expected<QString> resourcePath(const QString& name) {
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QStringList candidates = {
#ifdef Q_OS_MACOS
        programDir.filePath(QStringLiteral("../Resources/") + name),
#endif
        programDir.filePath(name),
        programDir.filePath(QStringLiteral("../share/varko/") + name),
        programDir.filePath(QStringLiteral("../../share/varko/") + name),
    };
    for (const QString& path : candidates)
        if (QFileInfo(path).isFile()) return QFileInfo(path).canonicalFilePath();
    return Error{0, name.toStdString() + " is not installed with Varko", ErrorCode::missing};
}

}  // namespace varko
