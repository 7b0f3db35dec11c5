#include "shell/LoadFailure.h"

namespace {

// The engine's network error codes this classification names (net/base/net_error_list.h).
enum NetError : int
{
    TimedOut = -7,
    NetworkChanged = -21,
    ConnectionClosed = -100,
    ConnectionReset = -101,
    ConnectionRefused = -102,
    ConnectionAborted = -103,
    ConnectionFailed = -104,
    NameNotResolved = -105,
    InternetDisconnected = -106,
    AddressUnreachable = -109,
    ConnectionTimedOut = -118,
    NameResolutionFailed = -137,
    PinnedKeyNotInChain = -150,
    CertCommonNameInvalid = -200,
    CertDateInvalid = -201,
    CertAuthorityInvalid = -202,
    EmptyResponse = -324,
    HttpResponseCodeFailure = -379,
    DnsTimedOut = -803,
};

bool IsCertificateCode(int code)
{
    return code == PinnedKeyNotInChain || (code <= -200 && code > -300);
}

bool IsDnsCode(int code)
{
    return code <= -800 && code > -900;
}

} // namespace

QString LoadFailureClassName(LoadFailureClass failure)
{
    switch (failure) {
    case LoadFailureClass::Offline:
        return QStringLiteral("offline");
    case LoadFailureClass::Refused:
        return QStringLiteral("refused");
    case LoadFailureClass::Timeout:
        return QStringLiteral("timeout");
    case LoadFailureClass::CertificateUntrusted:
        return QStringLiteral("certificate-untrusted");
    case LoadFailureClass::CertificateExpired:
        return QStringLiteral("certificate-expired");
    case LoadFailureClass::CertificateName:
        return QStringLiteral("certificate-name");
    case LoadFailureClass::CertificateOther:
        return QStringLiteral("certificate-other");
    case LoadFailureClass::HttpError:
        return QStringLiteral("http-error");
    case LoadFailureClass::Other:
        break;
    }
    return QStringLiteral("other");
}

LoadFailureClass ClassifyLoadFailure(QWebEngineLoadingInfo::ErrorDomain domain, int errorCode)
{
    if (domain == QWebEngineLoadingInfo::HttpStatusCodeDomain)
        return errorCode >= 400 ? LoadFailureClass::HttpError : LoadFailureClass::Other;
    switch (errorCode) {
    case InternetDisconnected:
    case NameNotResolved:
    case NameResolutionFailed:
    case AddressUnreachable:
    case NetworkChanged:
        return LoadFailureClass::Offline;
    case ConnectionRefused:
    case ConnectionReset:
    case ConnectionClosed:
    case ConnectionAborted:
    case ConnectionFailed:
    case EmptyResponse:
        return LoadFailureClass::Refused;
    case TimedOut:
    case ConnectionTimedOut:
    case DnsTimedOut:
        return LoadFailureClass::Timeout;
    case CertAuthorityInvalid:
        return LoadFailureClass::CertificateUntrusted;
    case CertDateInvalid:
        return LoadFailureClass::CertificateExpired;
    case CertCommonNameInvalid:
        return LoadFailureClass::CertificateName;
    case HttpResponseCodeFailure:
        return LoadFailureClass::HttpError;
    default:
        break;
    }
    if (IsCertificateCode(errorCode))
        return LoadFailureClass::CertificateOther;
    if (IsDnsCode(errorCode))
        return LoadFailureClass::Offline;
    return LoadFailureClass::Other;
}

std::optional<LoadFailure> LoadFailureFromLoadingInfo(const QWebEngineLoadingInfo& info)
{
    if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus)
        return std::nullopt;
    // The engine shows a server's own error page as a page, not as its error page.
    if (!info.isErrorPage())
        return std::nullopt;
    // For an HTTP status the engine's text is a line of its error page, markup included.
    const bool http = info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain;
    return LoadFailure{ClassifyLoadFailure(info.errorDomain(), info.errorCode()), info.errorCode(),
                       http ? QStringLiteral("HTTP %1").arg(info.errorCode()) : info.errorString()};
}

LoadFailure LoadTimeoutFailure()
{
    return {LoadFailureClass::Timeout, TimedOut, QStringLiteral("net::ERR_TIMED_OUT")};
}
