#include "app/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

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
bool peerIsUser(int socket) {
#if defined(SO_PEERCRED)
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
    return peer.uid == ::geteuid();
#else
    uid_t user = 0;
    gid_t group = 0;
    return ::getpeereid(socket, &user, &group) == 0 && user == ::geteuid();
#endif
}

constexpr int maxConnections = 8;

/// The socket's address, or false when the path does not fit one.
bool socketAddress(const QString& path, sockaddr_un& out) {
    const QByteArray bytes = QFile::encodeName(path);
    out = {};
    out.sun_family = AF_UNIX;
    if (bytes.isEmpty() || bytes.contains('\0') || size_t(bytes.size()) >= sizeof out.sun_path)
        return false;
    std::memcpy(out.sun_path, bytes.constData(), size_t(bytes.size()));
    return true;
}

/// A stream socket that is not inherited by the tools Varko runs and does not block.
int openSocket() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
#ifdef SO_NOSIGPIPE
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
    return fd;
}

#ifdef MSG_NOSIGNAL
constexpr int sendFlags = MSG_NOSIGNAL;  // a peer that hung up is an answer, not a signal
#else
constexpr int sendFlags = 0;
#endif

/// Closes a descriptor when its owner goes.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int fd) : fd(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

using Clock = std::chrono::steady_clock;

/// Waits until `fd` is ready for `events` or the deadline passes.
bool waitUntil(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0) return false;
        pollfd waiting{fd, events, 0};
        const int ready = ::poll(&waiting, 1, int(left));
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

/// One sender's connection to the running Varko: read until its message is whole,
/// dropped when it stalls or misbehaves.
class Peer final : public QObject {
public:
    Peer(int fd, QObject* parent)
        : QObject(parent), socket(fd), readable(fd, QSocketNotifier::Read) {}

    void drop() {
        readable.setEnabled(false);
        deleteLater();
    }

    /// What this connection's bytes so far make; drops it unless more may come.
    handover::Decoded read() {
        // One byte past the bound is enough to know the message is too long.
        for (;;) {
            const qsizetype room = handover::maxMessageBytes + 1 - received.size();
            if (room <= 0) break;
            const qsizetype before = received.size();
            received.resize(before + room);
            const ssize_t got = ::recv(socket.fd, received.data() + before, size_t(room), 0);
            const int error = got < 0 ? errno : 0;  // before resizing may touch errno
            received.resize(before + std::max<ssize_t>(got, 0));
            if (got > 0 || error == EINTR) continue;
            if (error == EAGAIN || error == EWOULDBLOCK) break;
            ended = true;  // hung up or failed: nothing more comes
            break;
        }
        handover::Decoded message = handover::decode(received);
        if (message.status == handover::Decoded::Status::Complete) {
            ::send(socket.fd, &handover::ack, 1, sendFlags);
            drop();
        } else if (message.status == handover::Decoded::Status::Malformed || ended) {
            drop();
        }
        return message;
    }

    Descriptor socket;
    QSocketNotifier readable;

private:
    QByteArray received;
    bool ended = false;
};

}  // namespace

SingleInstance::SingleInstance(QString socketAddress, QObject* parent)
    : QObject(parent), address(std::move(socketAddress)) {}

SingleInstance::~SingleInstance() {
    if (listener < 0) return;
    delete listening;
    ::close(listener);
    // The next start must find nobody rather than a socket nobody answers on.
    if (isOwnSocketOrAbsent(address)) ::unlink(QFile::encodeName(address).constData());
}

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
    sockaddr_un to{};
    if (!socketAddress(address, to)) return Delivery::NoAnswer;
    const Descriptor socket(openSocket());
    if (socket.fd < 0) return Delivery::NoAnswer;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // A local connection is made or refused at once; a full queue means nobody answers.
    int connected = 0;
    do connected = ::connect(socket.fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    while (connected != 0 && errno == EINTR);
    if (connected != 0) {
        const bool nobody = errno == ENOENT || errno == ECONNREFUSED;
        return nobody ? Delivery::NoOneThere : Delivery::NoAnswer;
    }
    const QByteArray message = handover::encode(batch);
    for (qsizetype sent = 0; sent < message.size();) {
        const ssize_t wrote =
            ::send(socket.fd, message.constData() + sent, size_t(message.size() - sent), sendFlags);
        if (wrote > 0) {
            sent += wrote;
            continue;
        }
        if (wrote < 0 && errno == EINTR) continue;
        const bool full = wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        if (!full || !waitUntil(socket.fd, POLLOUT, deadline)) return Delivery::NoAnswer;
    }
    for (;;) {
        if (!waitUntil(socket.fd, POLLIN, deadline)) return Delivery::NoAnswer;
        char answer = 0;
        const ssize_t got = ::recv(socket.fd, &answer, 1, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        return got == 1 && answer == handover::ack ? Delivery::Delivered : Delivery::NoAnswer;
    }
}

bool SingleInstance::listen() {
    sockaddr_un at{};
    if (!socketAddress(address, at)) return false;
    const int fd = openSocket();
    if (fd < 0) return false;
    // A socket left by a Varko that ended without removing it: nobody listens any more.
    ::unlink(at.sun_path);
    // The folder is the user's alone; the socket's own mode keeps it so if it is not.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 ||
        ::chmod(at.sun_path, 0600) != 0 || ::listen(fd, maxConnections) != 0) {
        ::close(fd);
        return false;
    }
    listener = fd;
    listening = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(listening, &QSocketNotifier::activated, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::accept() {
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;  // none waiting, or out of descriptors: the sender will time out
        }
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        if (!peerIsUser(fd) || connections >= maxConnections) {
            ::close(fd);
            continue;
        }
        auto* peer = new Peer(fd, this);
        ++connections;
        connect(peer, &QObject::destroyed, this, [this] { --connections; });
        // A sender that stalls is dropped, not waited for.
        QTimer::singleShot(timeoutMs, peer, [peer] { peer->drop(); });
        const auto read = [this, peer] {
            const handover::Decoded message = peer->read();
            if (message.status == handover::Decoded::Status::Complete)
                emit itemsReceived(message.items);
        };
        connect(&peer->readable, &QSocketNotifier::activated, peer, read);
        read();
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
