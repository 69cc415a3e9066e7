#include <QNetworkAccessManager>
#include <QNetworkReply>

#include "app/updatefetch.h"

// One manager per owner, made at its first request and gone with it.
extern "C" Q_DECL_EXPORT void varkoFetchUpdateList(
    const QUrl& address, qint64 maxBytes, QObject* owner,
    std::function<void(const varko::UpdateListAnswer&)>* doneIn) {
    auto* network = owner->findChild<QNetworkAccessManager*>(QString(), Qt::FindDirectChildrenOnly);
    if (network == nullptr) network = new QNetworkAccessManager(owner);
    QNetworkReply* reply = network->get(QNetworkRequest(address));
    // The list is small; a larger answer is cut off early rather than held.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, maxBytes] {
        if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > maxBytes)
            reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply, maxBytes](qint64 received, qint64) {
                         if (received > maxBytes) reply->abort();
                     });
    QObject::connect(
        reply, &QNetworkReply::finished, owner, [reply, maxBytes, done = std::move(*doneIn)] {
            reply->deleteLater();
            varko::UpdateListAnswer answer;
            answer.received = reply->error() == QNetworkReply::NoError;
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            answer.httpStatus = status.isValid() ? status.toInt() : 0;
            answer.contentType = reply->header(QNetworkRequest::ContentTypeHeader)
                                     .toString()
                                     .section(u';', 0, 0)
                                     .trimmed();
            if (answer.received) answer.data = reply->read(maxBytes + 1);
            done(answer);
        });
}
