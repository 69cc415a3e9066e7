#pragma once

#include <QAction>
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <functional>

namespace varko {

/// Where the update list lives and where offered downloads must come from.
struct UpdateAddresses {
    QUrl updateListAddress;
    /// An offered download must be an https address that starts with this.
    QString downloadSiteBase;

    /// The addresses this build was configured with.
    [[nodiscard]] static UpdateAddresses configured();
};

struct UpdateListAnswer;

/// Fetches the maker's update list once and offers each newer (or older: any
/// other) version of Varko for download.
class UpdateChecker final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateChecker)
public:
    explicit UpdateChecker(UpdateAddresses addresses = UpdateAddresses::configured(),
                           QObject* parent = nullptr);

    /// Answers larger than this are taken for no list at all.
    static constexpr qint64 maxListBytes = qint64(1) << 20;

    /// Starts the request and returns at once; `runningVersion` empty means the
    /// application has no version to compare.
    void checkForUpdates(const QString& runningVersion);
    void setAddresses(UpdateAddresses newAddresses) { addresses = std::move(newAddresses); }
    /// Reads a received list and tells the user about each offered version.
    void processUpdateList(const QByteArray& data, const QString& runningVersion);

    /// The Help menu's "Update not checked" item, retitled once an entry for Varko is seen.
    QPointer<QAction> updateStatusItem;
    /// Opens an address in the default browser; false when nothing could be started for it.
    std::function<bool(const QUrl&)> openUrl;
    /// Opens `address`, and says so in an alert when nothing could: without a browser the
    /// user would otherwise see nothing happen.
    void openAddress(const QUrl& address);

signals:
    void checkStarted();
    /// The answer was handled or dropped; for tests.
    void checkFinished();

private:
    void handleAnswer(const UpdateListAnswer& answer, const QString& runningVersion);
    [[nodiscard]] bool isDownloadAddress(const QString& address) const;

    UpdateAddresses addresses;
};

}  // namespace varko
