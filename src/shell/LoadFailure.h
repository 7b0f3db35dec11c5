#pragma once

#include <QString>
#include <QWebEngineLoadingInfo>
#include <optional>

// What went wrong when a page failed to load, in the words support and the tools use. The names
// ("offline", "refused", ...) appear in the capture index, the probe's output and the docs.
enum class LoadFailureClass
{
    Offline,              // no network, name not found
    Refused,              // connection refused or reset
    Timeout,              // nothing came back in time
    CertificateUntrusted, // chain ends at a root nobody here trusts
    CertificateExpired,   // expired or not yet valid
    CertificateName,      // issued for another name
    CertificateOther,     // revoked, weak key or signature, malformed...
    HttpError,            // a 4xx/5xx answer without a page of its own
    Other,
};

// "offline", "refused", "timeout", "certificate-untrusted", "certificate-expired",
// "certificate-name", "certificate-other", "http-error", "other".
QString LoadFailureClassName(LoadFailureClass failure);

// The class of a failed load from the engine's error domain and code (the engine's network error
// codes are negative; an HTTP status is positive in its own domain).
LoadFailureClass ClassifyLoadFailure(QWebEngineLoadingInfo::ErrorDomain domain, int errorCode);

// A failed load as the window and the probe report it.
struct LoadFailure
{
    LoadFailureClass failure = LoadFailureClass::Other;
    int errorCode = 0;
    QString errorText; // the engine's own name for the error, e.g. "net::ERR_CONNECTION_REFUSED"
};

// The failure a main-frame load ended with, or none: a load that succeeded or was stopped, and
// an HTTP error answered with a page of the server's own, which the engine shows as it is.
std::optional<LoadFailure> LoadFailureFromLoadingInfo(const QWebEngineLoadingInfo& info);

// The window's own limit for a main-frame load whose server accepts and never answers (the
// engine waits without end), reported like the engine's own timeouts.
LoadFailure LoadTimeoutFailure();
