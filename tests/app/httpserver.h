#pragma once

// A one-page HTTP server for tests: every request gets the same answer.

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <memory>

namespace varko::testing {

class HttpServer : public QObject {
public:
    HttpServer() {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                auto request = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                    *request += socket->readAll();
                    if (!request->contains("\r\n\r\n")) return;
                    ++requests;
                    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + " X\r\n";
                    if (!contentType.isEmpty()) head += "Content-Type: " + contentType + "\r\n";
                    head += "Content-Length: " + QByteArray::number(body.size()) +
                            "\r\nConnection: close\r\n\r\n";
                    socket->write(head + body);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    void answer(int code, const QByteArray& type, const QByteArray& content) {
        status = code;
        contentType = type;
        body = content;
    }
    [[nodiscard]] QUrl url() const {
        return QUrl(
            QStringLiteral("http://127.0.0.1:%1/varko-updates.plist").arg(server.serverPort()));
    }
    int requests = 0;

private:
    QTcpServer server;
    int status = 200;
    QByteArray contentType = "text/xml";
    QByteArray body;
};

}  // namespace varko::testing
