#include "HttpFixtureServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

HttpFixtureServer::HttpFixtureServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpFixtureServer::onNewConnection);
}

bool HttpFixtureServer::listen(const QHostAddress& address, quint16 port)
{
    return m_server.listen(address, port);
}

QString HttpFixtureServer::origin() const
{
    return QStringLiteral("http://%1:%2")
        .arg(m_server.serverAddress().toString())
        .arg(m_server.serverPort());
}

void HttpFixtureServer::setPage(const QString& path, const Page& page)
{
    m_pages.insert(path, page);
}

void HttpFixtureServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (socket->property("answered").toBool())
                return;
            const QByteArray head = socket->peek(64 * 1024);
            const qsizetype headerEnd = head.indexOf("\r\n\r\n");
            if (headerEnd < 0)
                return;
            const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
            if (requestLine.size() < 2)
                return;
            // Wait for a form's body too, so that the peer never sees a reset.
            const QByteArray lower = head.left(headerEnd).toLower();
            qsizetype bodyLength = 0;
            const qsizetype lengthAt = lower.indexOf("content-length:");
            if (lengthAt >= 0)
                bodyLength =
                    lower.mid(lengthAt + 15, lower.indexOf("\r\n", lengthAt) - lengthAt - 15)
                        .trimmed()
                        .toLongLong();
            if (socket->bytesAvailable() < headerEnd + 4 + bodyLength)
                return;
            socket->readAll();
            socket->setProperty("answered", true);

            const QString target = QString::fromLatin1(requestLine.at(1));
            const QString path = QUrl(target).path();
            m_requests.append(target);
            Q_EMIT requested(target);

            const auto it = m_pages.constFind(path);
            const Page page = it != m_pages.constEnd()
                                  ? it.value()
                                  : Page{QByteArrayLiteral("not found"), "text/plain", 0, 404};
            QPointer<QTcpSocket> guarded(socket);
            auto answer = [guarded, page] {
                if (guarded == nullptr)
                    return;
                QByteArray response =
                    "HTTP/1.0 " + QByteArray::number(page.status) +
                    (page.status == 200 ? " OK" : " Not Found") +
                    "\r\nContent-Type: " + page.contentType +
                    "\r\nContent-Length: " + QByteArray::number(page.body.size()) +
                    "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + page.body;
                guarded->write(response);
                guarded->disconnectFromHost();
            };
            if (page.delayMs > 0)
                QTimer::singleShot(page.delayMs, socket, answer);
            else
                answer();
        });
    }
}
