#include "HttpFixtureServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace {

QByteArray ContentTypeFor(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    // The sample portals keep the names of the real ones' pages (.asp, .aspx, .php): all HTML.
    static const QStringList html{QStringLiteral("html"), QStringLiteral("htm"),
                                  QStringLiteral("asp"), QStringLiteral("aspx"),
                                  QStringLiteral("php")};
    if (html.contains(suffix))
        return "text/html; charset=utf-8";
    if (suffix == QLatin1String("css"))
        return "text/css; charset=utf-8";
    if (suffix == QLatin1String("js"))
        return "text/javascript; charset=utf-8";
    if (suffix == QLatin1String("txt"))
        return "text/plain; charset=utf-8";
    if (suffix == QLatin1String("png"))
        return "image/png";
    if (suffix == QLatin1String("svg"))
        return "image/svg+xml";
    if (suffix == QLatin1String("ico"))
        return "image/x-icon";
    return "application/octet-stream";
}

QByteArray ReasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    default:
        return "Status";
    }
}

HttpFixtureServer::Page TextPage(int status, const QByteArray& text)
{
    return HttpFixtureServer::Page{text, "text/plain; charset=utf-8", 0, status};
}

} // namespace

HttpFixtureServer::HttpFixtureServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpFixtureServer::onNewConnection);
}

bool HttpFixtureServer::listen(const QHostAddress& address, quint16 port)
{
    if (!address.isLoopback())
        return false;
    if (port != 0)
        return m_server.listen(address, port);
    // The browser refuses some ports outright; a free port given by the system can be one of
    // them where its ephemeral range starts low.
    static const QList<quint16> refusedByBrowser{1719, 1720, 1723, 2049, 3659, 4045,
                                                 5060, 5061, 6000, 6566, 6665, 6666,
                                                 6667, 6668, 6669, 6697, 10080};
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (!m_server.listen(address, 0))
            return false;
        if (!refusedByBrowser.contains(m_server.serverPort()))
            return true;
        m_server.close();
    }
    return false;
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

void HttpFixtureServer::setRoot(const QString& directory)
{
    m_root = QFileInfo(directory).canonicalFilePath();
}

HttpFixtureServer::Page HttpFixtureServer::pageFromRoot(const QString& path) const
{
    const Page notFound = TextPage(404, QByteArrayLiteral("not found"));
    if (m_root.isEmpty() || !path.startsWith(QLatin1Char('/')))
        return notFound;
    const QStringList segments = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& segment : segments) {
        if (segment == QLatin1String("..") || segment.contains(QChar(0)))
            return notFound;
    }
    QFileInfo info(m_root + QLatin1Char('/') + segments.join(QLatin1Char('/')));
    if (info.isDir())
        info.setFile(info.filePath() + QStringLiteral("/index.html"));
    // A link inside the folder must not lead out of it either.
    const QString canonical = info.canonicalFilePath();
    if (!info.isFile() || !canonical.startsWith(m_root + QLatin1Char('/')))
        return notFound;
    QFile file(canonical);
    if (!file.open(QIODevice::ReadOnly))
        return notFound;
    return Page{file.readAll(), ContentTypeFor(canonical), 0, 200};
}

HttpFixtureServer::Page HttpFixtureServer::pageFor(const QString& method, const QString& path) const
{
    if (method != QLatin1String("GET") && method != QLatin1String("HEAD") &&
        method != QLatin1String("POST"))
        return TextPage(405, QByteArrayLiteral("method not allowed"));
    const auto it = m_pages.constFind(path);
    if (it != m_pages.constEnd())
        return it.value();
    return pageFromRoot(path);
}

void HttpFixtureServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (socket->property("answered").toBool()) {
                socket->readAll();
                return;
            }
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

            const QString method = QString::fromLatin1(requestLine.at(0));
            const QString target = QString::fromLatin1(requestLine.at(1));
            const QString path = QUrl(target).path();
            m_requests.append(target);
            Q_EMIT requested(target);

            const Page page = pageFor(method, path);
            const bool withBody = method != QLatin1String("HEAD");
            QPointer<QTcpSocket> guarded(socket);
            QPointer<HttpFixtureServer> self(this);
            auto answer = [guarded, self, page, method, target, withBody] {
                if (guarded == nullptr)
                    return;
                QByteArray response = "HTTP/1.0 " + QByteArray::number(page.status) + ' ' +
                                      ReasonPhrase(page.status) +
                                      "\r\nContent-Type: " + page.contentType +
                                      "\r\nContent-Length: " + QByteArray::number(page.body.size());
                if (page.status == 405)
                    response += "\r\nAllow: GET, HEAD, POST";
                if (!page.location.isEmpty())
                    response += "\r\nLocation: " + page.location;
                response += "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
                if (withBody)
                    response += page.body;
                guarded->write(response);
                guarded->disconnectFromHost();
                if (self != nullptr)
                    Q_EMIT self->served(method, target, page.status);
            };
            if (page.delayMs > 0)
                QTimer::singleShot(page.delayMs, socket, answer);
            else
                answer();
        });
    }
}
