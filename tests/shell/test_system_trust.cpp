// The store's check of a server's chain, as the page applies it where the engine knows no root:
// roots of a private store, leaves the test makes with the faults it wants.
#include "TestCertificates.h"
#include "shell/SystemTrust.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QList<QSslCertificate> Chain(const TestLeaf& leaf)
{
    return QSslCertificate::fromData(leaf.certificatePem, QSsl::Pem);
}

const char* Name(ChainVerdict verdict)
{
    switch (verdict) {
    case ChainVerdict::Trusted:
        return "trusted";
    case ChainVerdict::Untrusted:
        return "untrusted";
    case ChainVerdict::Expired:
        return "expired";
    case ChainVerdict::WrongName:
        return "wrong name";
    case ChainVerdict::Other:
        break;
    }
    return "other";
}

class SystemTrustTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.isValid());
        ASSERT_TRUE(root.installInto(store.path()));
    }

    ChainVerdict verify(const TestAuthority::LeafDetails& details, const QString& host) const
    {
        return VerifyChain(Chain(root.issue(details)), host, {QString(), store.path()});
    }

    TestAuthority root{u"Test Root"_s};
    QTemporaryDir store;
    const QDateTime now = QDateTime::currentDateTimeUtc();
};

TEST_F(SystemTrustTest, LeafOfARootInTheStoreForItsNameOrAddressIsTrusted)
{
    EXPECT_STREQ(Name(verify({.names = {u"portal.sefaz.example"_s}}, u"portal.sefaz.example"_s)),
                 "trusted");
    EXPECT_STREQ(Name(verify({.names = {u"127.0.0.7"_s}}, u"127.0.0.7"_s)), "trusted");
    // Host names compare without regard to case.
    EXPECT_STREQ(Name(verify({.names = {u"portal.sefaz.example"_s}}, u"Portal.SEFAZ.example"_s)),
                 "trusted");
}

TEST_F(SystemTrustTest, EveryOtherFaultIsRefusedThoughTheRootIsInTheStore)
{
    struct Row
    {
        const char* name;
        TestAuthority::LeafDetails details;
        QString host;
        const char* expected;
    };
    const Row rows[] = {
        {"expired",
         {.names = {u"a.example"_s}, .notBefore = now.addDays(-60), .notAfter = now.addDays(-1)},
         u"a.example"_s,
         "expired"},
        {"not yet valid",
         {.names = {u"a.example"_s}, .notBefore = now.addDays(2), .notAfter = now.addDays(60)},
         u"a.example"_s,
         "expired"},
        {"another name", {.names = {u"b.example"_s}}, u"a.example"_s, "wrong name"},
        {"a name that ends the same", {.names = {u"example"_s}}, u"a.example"_s, "wrong name"},
        {"another address", {.names = {u"127.0.0.8"_s}}, u"127.0.0.7"_s, "wrong name"},
        {"a name for an address", {.names = {u"a.example"_s}}, u"127.0.0.7"_s, "wrong name"},
        {"a weak key", {.names = {u"a.example"_s}, .keyBits = 1024}, u"a.example"_s, "other"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_STREQ(Name(verify(row.details, row.host)), row.expected);
    }
}

TEST_F(SystemTrustTest, RootNotInTheStoreIsUntrusted)
{
    const TestAuthority stranger(u"Stranger"_s);
    const TestLeaf leaf = stranger.issue({.names = {u"a.example"_s}});
    EXPECT_STREQ(Name(VerifyChain(Chain(leaf), u"a.example"_s, {QString(), store.path()})),
                 "untrusted");
    // The stranger's root sent along with the leaf does not make it trusted.
    QList<QSslCertificate> withRoot = Chain(leaf);
    withRoot += QSslCertificate::fromData(stranger.certificatePem(), QSsl::Pem);
    EXPECT_STREQ(Name(VerifyChain(withRoot, u"a.example"_s, {QString(), store.path()})),
                 "untrusted");
    // Nor does an empty store, or one that is not there.
    const TestLeaf ours = root.issue({.names = {u"a.example"_s}});
    EXPECT_STREQ(Name(VerifyChain(Chain(ours), u"a.example"_s, {})), "untrusted");
    EXPECT_STREQ(Name(VerifyChain(Chain(ours), u"a.example"_s,
                                  {u"/nonexistent/ca.crt"_s, u"/nonexistent/certs"_s})),
                 "untrusted");
}

TEST_F(SystemTrustTest, RootInTheStoresBundleFileCountsToo)
{
    // update-ca-certificates also appends every root to one file.
    QTemporaryDir other;
    const QString bundle = QDir(other.path()).filePath(u"ca-certificates.crt"_s);
    QFile file(bundle);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(root.certificatePem());
    file.close();
    const TestLeaf leaf = root.issue({.names = {u"a.example"_s}});
    EXPECT_STREQ(Name(VerifyChain(Chain(leaf), u"a.example"_s, {bundle, QString()})), "trusted");
}

TEST_F(SystemTrustTest, NothingButAChainAndAHostIsChecked)
{
    EXPECT_STREQ(Name(VerifyChain({}, u"a.example"_s, {QString(), store.path()})), "other");
    const TestLeaf leaf = root.issue({.names = {u"a.example"_s}});
    EXPECT_STREQ(Name(VerifyChain(Chain(leaf), QString(), {QString(), store.path()})), "other");
}

// The system's store is OpenSSL's default place, whatever the environment says: a variable of
// the user's cannot add roots.
TEST_F(SystemTrustTest, EnvironmentDoesNotWidenTheSystemStore)
{
    const TestLeaf leaf = root.issue({.names = {u"a.example"_s}});
    qputenv("SSL_CERT_DIR", QFile::encodeName(store.path()));
    qputenv("SSL_CERT_FILE",
            QFile::encodeName(QDir(store.path()).filePath(u"quarvel-test-root.pem"_s)));
    const ChainVerdict verdict = VerifyChain(Chain(leaf), u"a.example"_s, TrustStore::System());
    qunsetenv("SSL_CERT_DIR");
    qunsetenv("SSL_CERT_FILE");
    EXPECT_STREQ(Name(verdict), "untrusted");
}

} // namespace
