#include "TestCertificates.h"

#include <QDir>
#include <QFile>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

struct TestAuthority::Impl
{
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
};

namespace {

EVP_PKEY* NewKey(int bits)
{
    return EVP_RSA_gen(static_cast<unsigned int>(bits));
}

void SetTime(ASN1_TIME* field, const QDateTime& at)
{
    ASN1_TIME_set(field, static_cast<time_t>(at.toSecsSinceEpoch()));
}

void AddExtension(X509* certificate, X509* issuer, int nid, const QByteArray& value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.constData());
    if (extension != nullptr) {
        X509_add_ext(certificate, extension, -1);
        X509_EXTENSION_free(extension);
    }
}

X509* NewCertificate(const QString& commonName, EVP_PKEY* key, const QDateTime& notBefore,
                     const QDateTime& notAfter)
{
    static long serial = 1000;
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), ++serial);
    SetTime(X509_getm_notBefore(certificate), notBefore);
    SetTime(X509_getm_notAfter(certificate), notAfter);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    const QByteArray cn = commonName.toUtf8();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn.constData()), -1, -1, 0);
    return certificate;
}

QByteArray Pem(X509* certificate)
{
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, certificate);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    QByteArray pem(data, size);
    BIO_free(bio);
    return pem;
}

QByteArray Pem(EVP_PKEY* key)
{
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    QByteArray pem(data, size);
    BIO_free(bio);
    return pem;
}

} // namespace

TestAuthority::TestAuthority(const QString& commonName) : m_impl(std::make_unique<Impl>())
{
    m_impl->key = NewKey(2048);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    m_impl->certificate = NewCertificate(commonName, m_impl->key, now.addDays(-2), now.addYears(5));
    X509_set_issuer_name(m_impl->certificate, X509_get_subject_name(m_impl->certificate));
    AddExtension(m_impl->certificate, m_impl->certificate, NID_basic_constraints,
                 "critical,CA:TRUE");
    AddExtension(m_impl->certificate, m_impl->certificate, NID_key_usage,
                 "critical,keyCertSign,cRLSign");
    AddExtension(m_impl->certificate, m_impl->certificate, NID_subject_key_identifier, "hash");
    X509_sign(m_impl->certificate, m_impl->key, EVP_sha256());
}

TestAuthority::~TestAuthority()
{
    X509_free(m_impl->certificate);
    EVP_PKEY_free(m_impl->key);
}

TestLeaf TestAuthority::issue(const LeafDetails& details) const
{
    EVP_PKEY* key = NewKey(details.keyBits);
    X509* certificate =
        NewCertificate(details.names.value(0), key, details.notBefore, details.notAfter);
    X509_set_issuer_name(certificate, X509_get_subject_name(m_impl->certificate));
    QStringList alternatives;
    for (const QString& name : details.names) {
        const bool address = !name.isEmpty() && name.front().isDigit();
        alternatives.append((address ? QStringLiteral("IP:") : QStringLiteral("DNS:")) + name);
    }
    AddExtension(certificate, m_impl->certificate, NID_subject_alt_name,
                 alternatives.join(u',').toUtf8());
    AddExtension(certificate, m_impl->certificate, NID_basic_constraints, "CA:FALSE");
    AddExtension(certificate, m_impl->certificate, NID_ext_key_usage, "serverAuth");
    AddExtension(certificate, m_impl->certificate, NID_authority_key_identifier, "keyid");
    X509_sign(certificate, m_impl->key, EVP_sha256());
    TestLeaf leaf{Pem(certificate), Pem(key)};
    X509_free(certificate);
    EVP_PKEY_free(key);
    return leaf;
}

QByteArray TestAuthority::certificatePem() const
{
    return Pem(m_impl->certificate);
}

bool TestAuthority::installInto(const QString& dir) const
{
    if (!QDir().mkpath(dir))
        return false;
    const QString name = QStringLiteral("quarvel-test-root.pem");
    QFile file(QDir(dir).filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(certificatePem()) < 0)
        return false;
    file.close();
    const QString hash =
        QStringLiteral("%1.0").arg(X509_subject_name_hash(m_impl->certificate), 8, 16, QChar(u'0'));
    return QFile::link(name, QDir(dir).filePath(hash));
}
