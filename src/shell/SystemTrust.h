#pragma once

#include <QDateTime>
#include <QList>
#include <QSslCertificate>
#include <QString>

// Where roots trusted by the machine's administrator are found: OpenSSL's default file and
// folder (on Debian /etc/ssl/certs/ca-certificates.crt and /etc/ssl/certs, which
// update-ca-certificates keeps). The environment (SSL_CERT_FILE, SSL_CERT_DIR) is not read: no
// one but the administrator widens what the program trusts.
struct TrustStore
{
    QString file;
    QString folder;

    static TrustStore System();
};

// What the store makes of a server's chain, for its host name and at the given time.
enum class ChainVerdict
{
    Trusted,
    Untrusted, // no path to a root of the store
    Expired,   // a certificate expired or not yet valid
    WrongName, // issued for another name (or address)
    Other,     // weak key or signature, not for servers, malformed...
};

// Verifies chain (the server's certificate first, then what it sent with it) against the roots
// of store: the host name (or IPv4/IPv6 address), every validity period, the server purpose and
// at least 112 bits of security in every key and signature.
ChainVerdict VerifyChain(const QList<QSslCertificate>& chain, const QString& host,
                         const TrustStore& store,
                         const QDateTime& at = QDateTime::currentDateTimeUtc());
