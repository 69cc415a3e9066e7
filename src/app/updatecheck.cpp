#include "app/updatecheck.h"

#include <QDesktopServices>

#include "app/erroralert.h"
#include "app/updatefetch.h"
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
    emit checkStarted();
    const bool started = fetchUpdateList(addresses.updateListAddress, maxListBytes, this,
                                         [this, runningVersion](const UpdateListAnswer& answer) {
                                             handleAnswer(answer, runningVersion);
                                             emit checkFinished();
                                         });
    // Without the network module there is no list, as without a network.
    if (!started) emit checkFinished();
}

void UpdateChecker::handleAnswer(const UpdateListAnswer& answer, const QString& runningVersion) {
    if (!answer.received) return;
    if (answer.httpStatus < 200 || answer.httpStatus > 299) return;  // 0: not an HTTP answer
    if (answer.contentType != QLatin1String("text/xml") &&
        answer.contentType != QLatin1String("text/plain"))
        return;
    if (answer.data.size() > maxListBytes) return;
    processUpdateList(answer.data, runningVersion);
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
