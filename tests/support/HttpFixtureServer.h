#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

// A small HTTP/1.0 server on a loopback address that serves fixed pages by path, for tests that
// drive the real browser engine. Every response closes its connection.
class HttpFixtureServer : public QObject
{
    Q_OBJECT

public:
    struct Page
    {
        QByteArray body;
        QByteArray contentType = "text/html; charset=utf-8";
        int delayMs = 0; // answer only after this long
        int status = 200;
    };

    explicit HttpFixtureServer(QObject* parent = nullptr);

    // Listens on address (port 0: any free port). False when it cannot.
    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    // "http://ADDRESS:PORT", no trailing slash.
    QString origin() const;
    QString url(const QString& pathAndQuery) const { return origin() + pathAndQuery; }

    // Serves body for requests whose path (without the query) equals path.
    void setPage(const QString& path, const Page& page);
    void setPage(const QString& path, const QByteArray& html) { setPage(path, Page{html}); }

    // Paths with their queries, in the order requested.
    QList<QString> requests() const { return m_requests; }

Q_SIGNALS:
    void requested(const QString& pathAndQuery);

private:
    void onNewConnection();

    QTcpServer m_server;
    QHash<QString, Page> m_pages;
    QList<QString> m_requests;
};
