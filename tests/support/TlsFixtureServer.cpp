#include "TlsFixtureServer.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

bool TlsFixtureServer::listen(const QByteArray& certificatePem, const QByteArray& keyPem,
                              const QHostAddress& address)
{
    if (!address.isLoopback())
        return false;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(QSslCertificate(certificatePem, QSsl::Pem));
    configuration.setPrivateKey(QSslKey(keyPem, QSsl::Rsa, QSsl::Pem));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    m_server.setSslConfiguration(configuration);
    QObject::connect(&m_server, &QTcpServer::pendingConnectionAvailable, &m_server, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            auto request = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                *request += socket->readAll();
                const qsizetype headEnd = request->indexOf("\r\n\r\n");
                if (headEnd < 0)
                    return;
                // A form's body (the sample portals post theirs) is read and dropped.
                const QByteArray head = request->left(headEnd).toLower();
                const qsizetype at = head.indexOf("\r\ncontent-length:");
                const qsizetype length =
                    at < 0 ? 0 : head.mid(at + 17).split('\r').value(0).trimmed().toLongLong();
                if (request->size() < headEnd + 4 + length)
                    return;
                const QByteArray target = request->split(' ').value(1);
                const QString path = QString::fromLatin1(target.split('?').value(0));
                request->clear();
                ++answered;
                const HttpFixtureServer::Page page = pages.pageFromRoot(path);
                socket->write("HTTP/1.1 " + QByteArray::number(page.status) +
                              " X\r\nContent-Type: " + page.contentType +
                              "\r\nContent-Length: " + QByteArray::number(page.body.size()) +
                              "\r\nConnection: close\r\n\r\n" + page.body);
                socket->disconnectFromHost();
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return m_server.listen(address);
}
