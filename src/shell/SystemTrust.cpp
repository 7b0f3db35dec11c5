#include "shell/SystemTrust.h"

#include <QFile>
#include <QHostAddress>
#include <memory>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace {

template <auto Free> struct Deleter
{
    template <typename T> void operator()(T* p) const { Free(p); }
};

using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE_free>>;
using ContextPtr = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX_free>>;

void FreeChain(STACK_OF(X509) * chain)
{
    sk_X509_pop_free(chain, X509_free);
}
using ChainPtr = std::unique_ptr<STACK_OF(X509), Deleter<FreeChain>>;

X509Ptr FromQt(const QSslCertificate& certificate)
{
    const QByteArray der = certificate.toDer();
    const auto* data = reinterpret_cast<const unsigned char*>(der.constData());
    return X509Ptr(d2i_X509(nullptr, &data, der.size()));
}

ChainVerdict VerdictFor(int error)
{
    switch (error) {
    case X509_V_OK:
        return ChainVerdict::Trusted;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
        return ChainVerdict::Untrusted;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return ChainVerdict::Expired;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return ChainVerdict::WrongName;
    default:
        return ChainVerdict::Other;
    }
}

} // namespace

TrustStore TrustStore::System()
{
    return {QFile::decodeName(X509_get_default_cert_file()),
            QFile::decodeName(X509_get_default_cert_dir())};
}

ChainVerdict VerifyChain(const QList<QSslCertificate>& chain, const QString& host,
                         const TrustStore& store, const QDateTime& at)
{
    if (chain.isEmpty() || host.isEmpty())
        return ChainVerdict::Other;
    const X509Ptr leaf = FromQt(chain.first());
    ChainPtr sent(sk_X509_new_null());
    if (!leaf || !sent)
        return ChainVerdict::Other;
    for (qsizetype i = 1; i < chain.size(); ++i) {
        X509Ptr certificate = FromQt(chain.at(i));
        if (certificate && sk_X509_push(sent.get(), certificate.get()) > 0)
            certificate.release();
    }

    StorePtr roots(X509_STORE_new());
    if (!roots)
        return ChainVerdict::Other;
    // Either may be missing; a store with no roots at all trusts nothing.
    if (!store.file.isEmpty() && QFile::exists(store.file))
        X509_STORE_load_file(roots.get(), QFile::encodeName(store.file).constData());
    if (!store.folder.isEmpty())
        X509_STORE_load_path(roots.get(), QFile::encodeName(store.folder).constData());

    ContextPtr context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), roots.get(), leaf.get(), sent.get()) != 1)
        return ChainVerdict::Other;
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(at.toSecsSinceEpoch()));
    X509_VERIFY_PARAM_set_auth_level(param, 2);
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    const QString bare =
        host.startsWith(u'[') && host.endsWith(u']') ? host.mid(1, host.size() - 2) : host;
    const QByteArray name = bare.toUtf8();
    if (QHostAddress address; address.setAddress(bare)) {
        if (X509_VERIFY_PARAM_set1_ip_asc(param, name.constData()) != 1)
            return ChainVerdict::Other;
    } else {
        // Names in the certificate that start with a wildcard cover one label only.
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (X509_VERIFY_PARAM_set1_host(param, name.constData(), name.size()) != 1)
            return ChainVerdict::Other;
    }
    if (X509_verify_cert(context.get()) == 1)
        return ChainVerdict::Trusted;
    return VerdictFor(X509_STORE_CTX_get_error(context.get()));
}
