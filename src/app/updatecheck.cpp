#include "app/updatecheck.h"

#include <QDesktopServices>
#include <QNetworkReply>

#include "app/erroralert.h"
#include "format/plist/plist.h"

namespace varko {

UpdateAddresses UpdateAddresses::configured() {
    return {QUrl(QStringLiteral(VARKO_UPDATE_LIST_ADDRESS)),
            QStringLiteral(VARKO_DOWNLOAD_SITE_BASE)};
}

UpdateChecker::UpdateChecker(UpdateAddresses addressesIn, QObject* parent)
    : QObject(parent),
      openUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      addresses(std::move(addressesIn)) {}

void UpdateChecker::openAddress(const QUrl& address) {
    if (openUrl(address)) return;
    const QString shown = address.isLocalFile() ? address.toLocalFile() : address.toString();
    showErrorAlert(QStringLiteral("Varko couldn't open ") + shown +
                   QStringLiteral(":\nno web browser or viewer is set up on this computer."));
}

void UpdateChecker::checkForUpdates(const QString& runningVersion) {
    if (runningVersion.isEmpty()) {
        showErrorAlert(QStringLiteral("Can't check for updates:\nNo app version string found."));
        return;
    }
    QNetworkReply* reply = network.get(QNetworkRequest(addresses.updateListAddress));
    emit checkStarted();
    // The list is small; a larger answer is cut off early rather than held.
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply] {
        if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > maxListBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > maxListBytes) reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, runningVersion] {
        reply->deleteLater();
        handleReply(reply, runningVersion);
        emit checkFinished();
    });
}

void UpdateChecker::handleReply(QNetworkReply* reply, const QString& runningVersion) {
    if (reply->error() != QNetworkReply::NoError) return;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return;  // not an HTTP answer
    if (status.toInt() < 200 || status.toInt() > 299) return;
    const QString mime =
        reply->header(QNetworkRequest::ContentTypeHeader).toString().section(u';', 0, 0).trimmed();
    if (mime != QLatin1String("text/xml") && mime != QLatin1String("text/plain")) return;
    const QByteArray data = reply->read(maxListBytes + 1);
    if (data.size() > maxListBytes) return;
    processUpdateList(data, runningVersion);
}

bool UpdateChecker::isDownloadAddress(const QString& address) const {
    // Containing the base, as a substring, would also pass "https://elsewhere/?u=" + base.
    const QUrl url(address, QUrl::StrictMode);
    return url.isValid() && url.scheme() == QLatin1String("https") &&
           !addresses.downloadSiteBase.isEmpty() && address.startsWith(addresses.downloadSiteBase);
}

void UpdateChecker::processUpdateList(const QByteArray& data, const QString& runningVersion) {
    const auto list = plist::parse(std::string_view(data.constData(), std::size_t(data.size())));
    // A root that is no array is as unusable as one that does not parse.
    if (!list || list->array() == nullptr) {
        showErrorAlert(QStringLiteral("Error in update Property List."));
        return;
    }
    const plist::Array& entries = *list->array();
    if (entries.empty()) {
        showErrorAlert(QStringLiteral("Update Property List has no entries."));
        return;
    }
    const auto text = [](const plist::Dictionary& entry,
                         std::string_view key) -> std::optional<QString> {
        const plist::Value* value = entry.find(key);
        if (value == nullptr || value->string() == nullptr) return std::nullopt;
        return QString::fromStdString(*value->string());
    };
    for (const plist::Value& item : entries) {
        const plist::Dictionary* entry = item.dictionary();
        if (entry == nullptr || text(*entry, "AppName") != QStringLiteral("Varko")) continue;
        if (updateStatusItem && updateStatusItem->text() == QLatin1String("Update not checked")) {
            updateStatusItem->setCheckable(true);
            updateStatusItem->setChecked(true);
            updateStatusItem->setText(QStringLiteral("Checked for update"));
        }
        const std::optional<QString> version = text(*entry, "Version");
        const std::optional<QString> address = text(*entry, "URL");
        if (!version || !address || *version == runningVersion || !isDownloadAddress(*address))
            continue;
        const int answer =
            runAlert({Alert::Style::Informational,
                      QStringLiteral("An update to this app to version ") + *version +
                          QStringLiteral(" is available."),
                      QStringLiteral("You are currently running Varko version ") + runningVersion +
                          QStringLiteral(".\nPlease choose whether to download this update now in "
                                         "your default browser."),
                      {QStringLiteral("Ignore"), QStringLiteral("Download")}});
        if (answer == alertSecondButtonReturn) openAddress(QUrl(*address));
    }
}

}  // namespace varko
