#include "app/documenttitles.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include "tools/utf8.h"

namespace varko {

namespace {

// The last `count` parts of `folder`, or the whole folder when it has no more.
QString folderEnd(const QStringList& parts, qsizetype count) {
    if (count >= parts.size()) return u'/' + parts.join(u'/');
    return parts.mid(parts.size() - count).join(u'/');
}

}  // namespace

QStringList distinctTitles(const QStringList& names, const QStringList& paths) {
    QStringList titles(names.size());
    QHash<QString, QList<qsizetype>> byName;
    for (qsizetype i = 0; i < names.size() && i < paths.size(); ++i) byName[names[i]] << i;
    for (auto group = byName.cbegin(); group != byName.cend(); ++group) {
        const QList<qsizetype>& members = group.value();
        if (members.size() < 2) continue;
        QList<QStringList> folders;
        for (qsizetype i : members)
            folders << QFileInfo(QDir::cleanPath(paths[i])).path().split(u'/', Qt::SkipEmptyParts);
        for (qsizetype m = 0; m < members.size(); ++m) {
            const QStringList& own = folders[m];
            qsizetype count = 1;
            for (; count < own.size(); ++count) {
                bool shared = false;
                for (qsizetype other = 0; other < members.size() && !shared; ++other)
                    shared =
                        other != m && folderEnd(folders[other], count) == folderEnd(own, count);
                if (!shared) break;
            }
            titles[members[m]] =
                group.key() + QStringLiteral(" — ") + host::visibleControls(folderEnd(own, count));
        }
    }
    return titles;
}

}  // namespace varko
