#include "ui/droppedpaths.h"

#include <QMimeData>
#include <QUrl>

namespace varko {

QStringList droppedPaths(const QMimeData* mime) {
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    return paths;
}

}  // namespace varko
