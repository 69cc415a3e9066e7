#include "app/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <QtEndian>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "tools/pathbytes.h"

namespace varko {

namespace {

/// A folder that only this user can enter, and no link to one elsewhere.
bool isPrivateFolder(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

/// A socket of this user's; anything else in its place is not trusted with paths.
bool isOwnSocketOrAbsent(const QString& address) {
    struct stat st {};
    if (::lstat(QFile::encodeName(address).constData(), &st) != 0) return true;
    return S_ISSOCK(st.st_mode) && st.st_uid == ::geteuid();
}

/// Whether the process at the other end is this user's.
bool peerIsUser([[maybe_unused]] QLocalSocket* socket) {
#ifdef SO_PEERCRED
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return false;
    return peer.uid == ::geteuid();
#else
    return true;  // the socket's own permissions keep other users out
#endif
}

constexpr int maxConnections = 8;

}  // namespace

SingleInstance::SingleInstance(QString socketAddress, QObject* parent)
    : QObject(parent), address(std::move(socketAddress)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultAddress() {
    const QByteArray user = QByteArray::number(::geteuid());
    QByteArray folder = qgetenv("XDG_RUNTIME_DIR");
    if (!folder.startsWith('/') || !isPrivateFolder(folder)) {
        folder = QFile::encodeName(QDir::tempPath()) + "/varko-" + user;
        ::mkdir(folder.constData(), 0700);
        if (!isPrivateFolder(folder)) return {};
    }
    return QFile::decodeName(folder + "/varko-" + user);
}

SingleInstance::Start SingleInstance::start(const QStringList& items) {
    if (address.isEmpty() || !isOwnSocketOrAbsent(address)) return Start::Alone;
    // Two starts at once must not both find nobody and both listen.
    QLockFile starting(address + QStringLiteral(".lock"));
    const bool locked = starting.tryLock(timeoutMs);
    switch (handOver(items)) {
        case Delivery::Delivered:
            return Start::HandedOver;
        case Delivery::NoAnswer:
            return Start::Alone;
        case Delivery::NoOneThere:
            break;
    }
    if (!locked) return Start::Alone;
    // A socket left by a Varko that ended without removing it: nobody listens any more.
    QLocalServer::removeServer(address);
    return listen() ? Start::Running : Start::Alone;
}

SingleInstance::Delivery SingleInstance::handOver(const QStringList& items) {
    // A bare start is a message too: the running Varko shows its start window.
    for (qsizetype from = 0; from == 0 || from < items.size(); from += handover::maxItems) {
        const Delivery delivery = sendBatch(items.mid(from, handover::maxItems));
        if (delivery != Delivery::Delivered) return from == 0 ? delivery : Delivery::NoAnswer;
    }
    return Delivery::Delivered;
}

SingleInstance::Delivery SingleInstance::sendBatch(const QStringList& batch) {
    QLocalSocket socket;
    socket.connectToServer(address);
    if (!socket.waitForConnected(timeoutMs)) {
        const bool nobody = socket.error() == QLocalSocket::ServerNotFoundError ||
                            socket.error() == QLocalSocket::ConnectionRefusedError;
        return nobody ? Delivery::NoOneThere : Delivery::NoAnswer;
    }
    socket.write(handover::encode(batch));
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(timeoutMs)) return Delivery::NoAnswer;
    char answer = 0;
    if (!socket.waitForReadyRead(timeoutMs) || socket.read(&answer, 1) != 1 ||
        answer != handover::ack)
        return Delivery::NoAnswer;
    return Delivery::Delivered;
}

bool SingleInstance::listen() {
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    server->setMaxPendingConnections(maxConnections);
    if (!server->listen(address)) {
        delete server;
        server = nullptr;
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const qsizetype open = server->findChildren<QLocalSocket*>().size();
        if (!peerIsUser(socket) || open > maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // A sender that stalls is dropped, not waited for.
        QTimer::singleShot(timeoutMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        read(socket);
    }
}

void SingleInstance::read(QLocalSocket* socket) {
    QByteArray received = socket->property("received").toByteArray();
    // One byte past the bound is enough to know the message is too long.
    received += socket->read(handover::maxMessageBytes + 1 - received.size());
    const handover::Decoded message = handover::decode(received);
    switch (message.status) {
        case handover::Decoded::Status::Incomplete:
            socket->setProperty("received", received);
            return;
        case handover::Decoded::Status::Malformed:
            socket->abort();
            socket->deleteLater();
            return;
        case handover::Decoded::Status::Complete:
            socket->setProperty("received", QVariant());
            socket->write(&handover::ack, 1);
            socket->disconnectFromServer();
            emit itemsReceived(message.items);
            return;
    }
}

QString absoluteItemPath(QByteArrayView argument) {
    if (argument.startsWith('/')) return host::pathFromSystem(argument);
    char* folder = ::getcwd(nullptr, 0);
    if (folder == nullptr) return host::pathFromSystem(argument);
    QByteArray path(folder);
    std::free(folder);
    path += '/';
    path += argument;
    return host::pathFromSystem(path);
}

}  // namespace varko
