#pragma once

#include "HttpFixtureServer.h"

#include <QByteArray>
#include <QHostAddress>
#include <QSslServer>
#include <QString>

// An HTTPS server on a loopback address for tests: presents the certificate it is given and
// serves what `pages` holds for each path (its pages and its folder; `pages` itself does not
// listen). Every response closes its connection.
class TlsFixtureServer
{
public:
    // False when it cannot listen, or when address is not a loopback address.
    bool listen(const QByteArray& certificatePem, const QByteArray& keyPem,
                const QHostAddress& address = QHostAddress::LocalHost);
    quint16 port() const { return m_server.serverPort(); }

    HttpFixtureServer pages;
    // Requests answered so far.
    int answered = 0;

private:
    QSslServer m_server;
};
