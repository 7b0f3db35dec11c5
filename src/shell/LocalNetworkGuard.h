#pragma once

#include <QSet>
#include <QString>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>

class QHostAddress;

// Local destinations: loopback, unspecified, private and link-local addresses (IPv4, IPv6 and
// IPv4-mapped IPv6), "localhost" and the names under ".localhost".
bool IsLocalAddress(const QHostAddress& address);
// host as a URL holds it: a name, or an address in any spelling a URL allows (IPv4 in decimal,
// octal, hex or with fewer parts; IPv6 with or without brackets, with or without a zone id).
bool IsLocalHost(const QString& host);

// Who makes a request and where it goes: the document that asks, or the program itself (a page
// it loads into the main frame).
struct OutgoingRequest
{
    QUrl requester;
    QUrl destination;
    bool byProgram = false;
};
// A document that is not itself local may not reach a local destination.
bool IsRefusedRequest(const OutgoingRequest& request);

// The profile's request interceptor: fails every request a non-local page makes to a local
// destination, as a network error, and says so on stderr once per destination.
class LocalNetworkGuard : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT

public:
    explicit LocalNetworkGuard(QObject* parent = nullptr);

    void interceptRequest(QWebEngineUrlRequestInfo& info) override;
    // Whether a frame may follow a redirect to destination: the redirecting server counts as
    // the main frame's last destination (for a sub-frame, the page that holds it).
    bool allowsRedirect(const QUrl& destination);

private:
    // The document that asks for this request, as far as the engine tells.
    OutgoingRequest requestOf(const QWebEngineUrlRequestInfo& info) const;
    void reportRefused(const QUrl& destination);

    // The main frame's last destination: a redirect of the main frame is asked for by it.
    QUrl m_mainFrameTarget;
    QSet<QString> m_reported;
};
