#include "app/appidentity.h"

#include <QCoreApplication>
#include <QSettings>
#include <QStringList>
#include <algorithm>

namespace varko {

void setApplicationIdentity() {
    QStringList parts = QStringLiteral(VARKO_BUNDLE_IDENTIFIER).split(u'.');
    // On macOS QSettings prefers the organization's domain, elsewhere its name; both add
    // the application's name, as it is written.
    QCoreApplication::setApplicationName(parts.takeLast());
    std::reverse(parts.begin(), parts.end());
    QCoreApplication::setOrganizationDomain(parts.join(u'.'));
    QCoreApplication::setOrganizationName(QStringLiteral("Varko"));
}

void adoptSettings(const QSettings& earlier, QSettings& current) {
    if (earlier.fileName() == current.fileName() || !current.allKeys().isEmpty()) return;
    for (const QString& key : earlier.allKeys()) current.setValue(key, earlier.value(key));
}

void adoptEarlierSettings() {
    // The explicit organization is taken as given, not as a domain.
    const QSettings earlier(QCoreApplication::organizationName(),
                            QCoreApplication::applicationName());
    QSettings current;
    adoptSettings(earlier, current);
}

}  // namespace varko
