#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>

// Certificates made on the spot for tests: a root of its own and leaves it signs, with the
// names, validity and key the test asks for. Nothing is read from or written to the machine's
// stores.
struct TestLeaf
{
    QByteArray certificatePem;
    QByteArray keyPem;
};

class TestAuthority
{
public:
    explicit TestAuthority(const QString& commonName);
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    struct LeafDetails
    {
        // DNS names or IPv4 addresses, as subject alternative names.
        QStringList names;
        QDateTime notBefore = QDateTime::currentDateTimeUtc().addDays(-1);
        QDateTime notAfter = QDateTime::currentDateTimeUtc().addDays(30);
        int keyBits = 2048;
    };
    TestLeaf issue(const LeafDetails& details) const;

    QByteArray certificatePem() const;
    // Writes the root into dir as update-ca-certificates leaves it: NAME.pem and the hashed
    // link HASH.0 that OpenSSL looks up. False when it cannot.
    bool installInto(const QString& dir) const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};
