#include "shell/LocalNetworkGuard.h"

#include <QHostAddress>
#include <array>
#include <utility>

namespace {

using Subnet = std::pair<QHostAddress, int>;

Subnet subnet(const char* text)
{
    return QHostAddress::parseSubnet(QLatin1String(text));
}

bool inAny(const QHostAddress& address, const auto& subnets)
{
    for (const Subnet& net : subnets) {
        if (address.isInSubnet(net))
            return true;
    }
    return false;
}

} // namespace

bool IsLocalAddress(const QHostAddress& address)
{
    // The whole of 0.0.0.0/8 rather than 0.0.0.0 alone: none of it is a public destination.
    static const std::array<Subnet, 6> v4 = {subnet("127.0.0.0/8"),    subnet("0.0.0.0/8"),
                                             subnet("10.0.0.0/8"),     subnet("172.16.0.0/12"),
                                             subnet("192.168.0.0/16"), subnet("169.254.0.0/16")};
    static const std::array<Subnet, 4> v6 = {subnet("::1/128"), subnet("::/128"),
                                             subnet("fc00::/7"), subnet("fe80::/10")};
    bool mapped = false;
    const quint32 ip4 = address.toIPv4Address(&mapped);
    if (mapped)
        return inAny(QHostAddress(ip4), v4);
    return address.protocol() == QAbstractSocket::IPv6Protocol && inAny(address, v6);
}

bool IsLocalHost(const QString& host)
{
    QString name = host.toLower();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name == QLatin1String("localhost") || name.endsWith(QLatin1String(".localhost")))
        return true;
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    // Reads the other spellings of an IPv4 address (2130706433, 0x7f000001, 127.1) as a URL
    // does, and a zone id after an IPv6 one.
    QHostAddress address;
    return address.setAddress(name) && IsLocalAddress(address);
}

bool IsRefusedRequest(const OutgoingRequest& request)
{
    return !request.byProgram && IsLocalHost(request.destination.host()) &&
           !IsLocalHost(request.requester.host());
}

LocalNetworkGuard::LocalNetworkGuard(QObject* parent) : QWebEngineUrlRequestInterceptor(parent) {}

OutgoingRequest LocalNetworkGuard::requestOf(const QWebEngineUrlRequestInfo& info) const
{
    OutgoingRequest request{info.initiator(), info.requestUrl()};
    if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame) {
        // The program's own loads are the typed ones, with nobody asking. Otherwise the
        // document in the main frame asks, and a redirect comes from the server last asked.
        if (info.navigationType() == QWebEngineUrlRequestInfo::NavigationTypeTyped &&
            request.requester.isEmpty())
            request.byProgram = true;
        else if (request.requester.isEmpty() ||
                 info.navigationType() == QWebEngineUrlRequestInfo::NavigationTypeRedirect)
            request.requester = m_mainFrameTarget;
    } else if (request.requester.isEmpty()) {
        // An opaque document (sandboxed, data:) has no origin to tell: the top-level one asks.
        request.requester = info.firstPartyUrl();
    }
    return request;
}

void LocalNetworkGuard::interceptRequest(QWebEngineUrlRequestInfo& info)
{
    const OutgoingRequest request = requestOf(info);
    if (IsRefusedRequest(request)) {
        info.block(true);
        reportRefused(request.destination);
        return;
    }
    if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame)
        m_mainFrameTarget = request.destination;
}

bool LocalNetworkGuard::allowsRedirect(const QUrl& destination)
{
    if (!IsRefusedRequest({m_mainFrameTarget, destination}))
        return true;
    reportRefused(destination);
    return false;
}

void LocalNetworkGuard::reportRefused(const QUrl& destination)
{
    const int port = destination.port(destination.scheme() == QLatin1String("https") ||
                                              destination.scheme() == QLatin1String("wss")
                                          ? 443
                                          : 80);
    const QString host = destination.host(QUrl::FullyEncoded);
    const QString where = (host.contains(QLatin1Char(':')) ? u'[' + host + u']' : host) +
                          QLatin1Char(':') + QString::number(port);
    if (m_reported.contains(where))
        return;
    m_reported.insert(where);
    qWarning("Quarvel: refused a request of a page that is not local to %s", qPrintable(where));
}
