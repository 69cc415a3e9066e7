#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include "app/handover.h"

class QSocketNotifier;

namespace varko {

/// One Varko per user on desktops where the system does not see to it: a start hands
/// its items to the Varko already running, through a local socket that only the user
/// can reach, or else becomes the one that later starts hand theirs to.
class SingleInstance final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)
public:
    /// `address` is the socket's path; empty means no single instance.
    explicit SingleInstance(QString address, QObject* parent = nullptr);
    ~SingleInstance() override;

    /// The user's socket: in the user's runtime folder, or else in a folder of the
    /// user's own under the temporary folder. Empty when neither is private.
    [[nodiscard]] static QString defaultAddress();

    enum class Start {
        HandedOver,  ///< a running Varko took the items; this process has nothing to do
        Running,     ///< this process is the one that receives others' items
        Alone,       ///< no running Varko could be reached or become; work alone
    };
    /// Hands `items` (absolute paths) to a running Varko, or else starts receiving.
    [[nodiscard]] Start start(const QStringList& items);

    /// How long a sender may take to send its message, and a second start to be answered.
    int timeoutMs = 10000;

signals:
    /// A later start handed these items over (possibly none: it was started bare).
    void itemsReceived(const QStringList& items);

private:
    enum class Delivery { Delivered, NoOneThere, NoAnswer };
    [[nodiscard]] Delivery handOver(const QStringList& items);
    [[nodiscard]] Delivery sendBatch(const QStringList& batch);
    [[nodiscard]] bool listen();
    void accept();

    QString address;
    // A plain socket, not Qt Network: that module and the libraries it brings cost every
    // start more than this whole class.
    int listener = -1;
    QSocketNotifier* listening = nullptr;
    int connections = 0;  ///< senders being read
};

/// An item named on the command line as an absolute path, from the system's bytes;
/// a relative one is taken from the current folder, which the running Varko does not share.
[[nodiscard]] QString absoluteItemPath(QByteArrayView argument);

}  // namespace varko
