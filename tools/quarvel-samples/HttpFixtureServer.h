#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

// A small HTTP/1.0 server on a loopback address that serves fixed pages by path and, for the
// paths it has no page for, the files of a folder. It serves the sample portals and the pages of
// tests that drive the real browser engine. GET, HEAD and POST are answered alike (a form's body
// is read and dropped); the query of a request never selects a page. Every response closes its
// connection.
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
        QByteArray location = {}; // sent as the Location header when not empty (a redirect)
    };

    explicit HttpFixtureServer(QObject* parent = nullptr);

    // Listens on address (port 0: any free port the browser accepts). False when it cannot, or
    // when address is not a loopback address: this server is never reachable from another
    // machine.
    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    QString errorString() const { return m_server.errorString(); }
    // "http://ADDRESS:PORT", no trailing slash.
    QString origin() const;
    QString url(const QString& pathAndQuery) const { return origin() + pathAndQuery; }

    // Serves body for requests whose path (without the query) equals path. Takes precedence over
    // the folder.
    void setPage(const QString& path, const Page& page);
    void setPage(const QString& path, const QByteArray& html) { setPage(path, Page{html}); }

    // Serves the files under directory: a path names a file below it, or a folder whose
    // index.html is served. Paths that would leave the folder are not found.
    void setRoot(const QString& directory);
    // The page the folder gives for path, as it would be served (status 404 when there is none).
    Page pageFromRoot(const QString& path) const;

    // Paths with their queries, in the order requested.
    QList<QString> requests() const { return m_requests; }

Q_SIGNALS:
    void requested(const QString& pathAndQuery);
    // After each answer: the request's method and target, and the status sent.
    void served(const QString& method, const QString& pathAndQuery, int status);

private:
    void onNewConnection();
    Page pageFor(const QString& method, const QString& path) const;

    QTcpServer m_server;
    QHash<QString, Page> m_pages;
    QString m_root;
    QList<QString> m_requests;
};
