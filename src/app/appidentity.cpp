#include "app/appidentity.h"

#include <QCoreApplication>
#include <QSettings>
#include <QStringList>
#include <algorithm>

#include "ui/preferences.h"

namespace varko {

void setApplicationIdentity() {
    QStringList parts = QStringLiteral(VARKO_BUNDLE_IDENTIFIER).split(u'.');
    QCoreApplication::setApplicationName(parts.takeLast());
    std::reverse(parts.begin(), parts.end());
    QCoreApplication::setOrganizationDomain(parts.join(u'.'));
    // QSettings' file on Linux is <config>/<organization>/<application>.conf, as it always was.
    QCoreApplication::setOrganizationName(QStringLiteral("Varko"));
}

void adoptEarlierSettings() {
#ifdef Q_OS_MACOS
    // Earlier macOS builds kept them in QSettings' domain for the organization's name.
    const QSettings earlier(QCoreApplication::organizationName(),
                            QCoreApplication::applicationName());
    const QStringList keys = earlier.allKeys();
    if (std::any_of(keys.begin(), keys.end(),
                    [](const QString& key) { return preferences::value(key).isValid(); }))
        return;
    for (const QString& key : keys) preferences::setValue(key, earlier.value(key));
#endif
}

}  // namespace varko
