#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>

namespace varko {

/// What the web server said to a request for the update list.
struct UpdateListAnswer {
    bool received = false;  ///< false: no answer, or the transfer failed or was cut off
    int httpStatus = 0;     ///< 0 when the answer was not HTTP
    QString contentType;    ///< the media type, parameters dropped
    QByteArray data;        ///< at most the bound the request was given, plus one byte
};

/// Fetches `address` with Qt Network in a module of its own, loaded at the first check,
/// so that starting Varko does not load Qt Network and the libraries it brings. An answer
/// longer than `maxBytes` is cut off and given as not received. `done` is called once, on
/// `owner`'s thread, unless `owner` goes first; false when the module is missing.
bool fetchUpdateList(const QUrl& address, qint64 maxBytes, QObject* owner,
                     std::function<void(const UpdateListAnswer&)> done);

/// The module's one entry point.
using FetchUpdateListFunction = void (*)(const QUrl& address, qint64 maxBytes, QObject* owner,
                                         std::function<void(const UpdateListAnswer&)>* done);
inline constexpr const char* fetchUpdateListSymbol = "varkoFetchUpdateList";

}  // namespace varko
