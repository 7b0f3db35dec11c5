// A portal that cannot be reached, explained in the window's own page: the real window over the
// real engine against servers on loopback addresses that refuse, never answer, present
// certificates of a local root, or answer with an HTTP error. The roots the window accepts come
// from a store of the test's own, never the machine's.
#include "EngineTests.h"
#include "EventLoopWait.h"
#include "QtPrinters.h"
#include "SamplePortals.h"
#include "TestCertificates.h"
#include "TestHost.h"
#include "TestPeer.h"
#include "TestWindow.h"
#include "TlsFixtureServer.h"
#include "ui/LoadFailurePage.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kSamples = QStringLiteral(QUARVEL_SAMPLES_DIR "/es");

// A root of the test's own, installed in a store folder that only this test reads.
struct LocalRoot
{
    LocalRoot() { installed = root.installInto(store.path()); }
    TestAuthority root{u"Quarvel Test Root"_s};
    QTemporaryDir store;
    bool installed = false;
};

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class LoadFailureTest : public testing::Test
{
protected:
    void TearDown() override
    {
        w.reset();
        qunsetenv("QUARVEL_PORTAL_HOSTS");
        qunsetenv("QUARVEL_CAPTURE_DIR");
    }

    // The window with ES served from origin, ready, and the host connected. setUp runs on the
    // window before it is shown (the browser takes its settings when it is created).
    void open(const QString& origin, const std::function<void(TForm1&)>& setUp = nullptr)
    {
        qputenv("QUARVEL_PORTAL_HOSTS", (u"es="_s + origin).toUtf8());
        w = std::make_unique<TestWindow>(QStringList{host.port()});
        // Nothing outside the test's store is trusted: not even the machine's roots.
        w->window->Chromium1->CertificateStore = {QString(), emptyStore.path()};
        if (setUp)
            setUp(*w->window);
        QObject::connect(w->window->Chromium1, &TChromium::OnLoadError,
                         [this](const QString& url, const LoadFailure& failure) {
                             errors.append({url, failure});
                         });
        w->window->show();
        ASSERT_TRUE(w->waitReady());
        ASSERT_TRUE(host.waitForConnection());
    }

    QString loadList() const
    {
        QStringList urls;
        for (const LoadEnd& load : w->loads)
            urls.append((load.main ? u"main "_s : u"frame "_s) + load.url);
        return urls.join(u", "_s);
    }

    TLoadFailurePage* failurePage() const { return w->window->LoadFailurePage1; }
    bool failureShown() const { return failurePage() != nullptr && failurePage()->isVisible(); }
    bool browserShown() const { return w->window->Chromium1->GetBrowser()->isVisible(); }

    // Picks ES and waits until its load has failed.
    void pickAndFail(int ms = 30000)
    {
        w->pick(kEs);
        ASSERT_TRUE(WaitFor([&] { return !errors.isEmpty() && failureShown(); }, ms))
            << "no failure page; loads: " << w->loads.size();
    }

    void submitQuery()
    {
        w->window->Chromium1->GetMainFrame()->ExecuteJavaScript(
            u"document.getElementById('consulta').requestSubmit();"_s, QString(), 0);
    }

    // The lookup ends with the sample's bytes at the host.
    void expectSampleResult()
    {
        ASSERT_TRUE(host.waitForEnd())
            << qPrintable(w->boxTexts().join(u' ')) << " loads: " << qPrintable(loadList())
            << " texts: " << w->texts.size();
        EXPECT_EQ(host.received(), ResultBlock(kSampleLines.at(kEs)));
        EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxTexts().join(u' '));
    }

    TestHost host;
    QTemporaryDir emptyStore;
    std::unique_ptr<TestWindow> w;
    struct Error
    {
        QString url;
        LoadFailure failure;
    };
    QList<Error> errors;
};

// --- Each class from a server that behaves so ---

struct FailureCase
{
    const char* name;
    // Serves the portal the failing way; returns its origin, empty when it could not.
    std::function<QString(LoadFailureTest&)> serve;
    const char* failure;
};

class FailureClassTest : public LoadFailureTest, public testing::WithParamInterface<FailureCase>
{
public:
    // What the servers need while the window runs.
    static inline std::unique_ptr<LocalRoot> root;
    static inline std::unique_ptr<TlsFixtureServer> tls;
    static inline std::unique_ptr<QTcpServer> silent;
    static inline std::unique_ptr<RefusingPort> refusing;
    static inline std::unique_ptr<HttpFixtureServer> http;

protected:
    void TearDown() override
    {
        LoadFailureTest::TearDown();
        tls.reset();
        silent.reset();
        refusing.reset();
        http.reset();
        root.reset();
    }
};

QString ServeTls(const TestLeaf& leaf, const char* address)
{
    FailureClassTest::tls = std::make_unique<TlsFixtureServer>();
    FailureClassTest::tls->pages.setRoot(kSamples);
    if (!FailureClassTest::tls->listen(leaf.certificatePem, leaf.keyPem,
                                       QHostAddress(QLatin1String(address))))
        return QString();
    return u"https://%1:%2"_s.arg(QLatin1String(address)).arg(FailureClassTest::tls->port());
}

// A root in the window's store, signing a leaf the store's check refuses.
QString ServeFromTrustedRoot(LoadFailureTest& test, const TestAuthority::LeafDetails& details,
                             const char* address)
{
    FailureClassTest::root = std::make_unique<LocalRoot>();
    if (!FailureClassTest::root->installed)
        return QString();
    Q_UNUSED(test);
    return ServeTls(FailureClassTest::root->root.issue(details), address);
}

const FailureCase kFailureCases[] = {
    {"NameNotFound", [](LoadFailureTest&) { return u"http://portal.invalid"_s; }, "offline"},
    {"PortThatRefuses",
     [](LoadFailureTest&) {
         FailureClassTest::refusing = std::make_unique<RefusingPort>();
         return u"http://127.0.0.1:%1"_s.arg(FailureClassTest::refusing->port());
     },
     "refused"},
    {"ServerThatNeverAnswers",
     [](LoadFailureTest&) {
         FailureClassTest::silent = std::make_unique<QTcpServer>();
         // Accepted by the kernel and by the server, and never answered.
         if (!FailureClassTest::silent->listen(QHostAddress(u"127.0.0.11"_s)))
             return QString();
         return u"http://127.0.0.11:%1"_s.arg(FailureClassTest::silent->serverPort());
     },
     "timeout"},
    {"CertificateOfARootNotInTheStore",
     [](LoadFailureTest&) {
         const TestAuthority stranger(u"Unknown Root"_s);
         return ServeTls(stranger.issue({.names = {u"127.0.0.12"_s}}), "127.0.0.12");
     },
     "certificate-untrusted"},
    {"ExpiredCertificateOfATrustedRoot",
     [](LoadFailureTest& test) {
         const QDateTime now = QDateTime::currentDateTimeUtc();
         return ServeFromTrustedRoot(test,
                                     {.names = {u"127.0.0.13"_s},
                                      .notBefore = now.addDays(-60),
                                      .notAfter = now.addDays(-30)},
                                     "127.0.0.13");
     },
     "certificate-expired"},
    {"CertificateOfATrustedRootForAnotherName",
     [](LoadFailureTest& test) {
         return ServeFromTrustedRoot(test, {.names = {u"portal.example"_s, u"127.0.0.99"_s}},
                                     "127.0.0.14");
     },
     "certificate-name"},
    {"Http503WithAnEmptyBody",
     [](LoadFailureTest&) {
         FailureClassTest::http = std::make_unique<HttpFixtureServer>();
         FailureClassTest::http->setPage(u"/"_s, {.body = {}, .status = 503});
         if (!FailureClassTest::http->listen(QHostAddress(u"127.0.0.15"_s)))
             return QString();
         return FailureClassTest::http->origin();
     },
     "http-error"},
};

TEST_P(FailureClassTest, ExplainedInTheWindowsOwnPage)
{
    const FailureCase& c = GetParam();
    const QString origin = c.serve(*this);
    ASSERT_FALSE(origin.isEmpty());
    open(origin, [](TForm1& window) {
        window.Chromium1->LoadTimeoutMs = 3000;
        if (root != nullptr)
            window.Chromium1->CertificateStore = {QString(), root->store.path()};
    });
    pickAndFail();

    ASSERT_EQ(errors.size(), 1);
    const LoadFailure& failure = errors.first().failure;
    std::printf("observed on Qt %s: %s -> %s, code %d, \"%s\"\n", qVersion(), c.name,
                qPrintable(LoadFailureClassName(failure.failure)), failure.errorCode,
                qPrintable(failure.errorText));
    EXPECT_EQ(LoadFailureClassName(failure.failure), QLatin1String(c.failure));
    EXPECT_EQ(errors.first().url, origin + u"/"_s);

    // The page in place of the browser: the portal, what happened, the code for support.
    TLoadFailurePage* page = failurePage();
    EXPECT_FALSE(browserShown());
    EXPECT_EQ(page->Title->text(), u"Não foi possível abrir o portal ES"_s);
    const LoadFailureExplanation expected = ExplainLoadFailure(failure, u"ES"_s);
    EXPECT_EQ(page->Heading->text(), expected.heading);
    EXPECT_TRUE(page->SmallPrint->text().contains(QLatin1String(c.failure)));
    EXPECT_TRUE(page->SmallPrint->text().contains(QString::number(failure.errorCode)));
    EXPECT_TRUE(page->RetryButton->isVisible());
    EXPECT_EQ(page->RetryButton->text(), u"Tentar novamente"_s);
    // Nothing went to the host and no box was shown: the user reads the page and retries.
    EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxTexts().join(u' '));
    EXPECT_TRUE(host.received().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Servers, FailureClassTest, testing::ValuesIn(kFailureCases),
                         [](const testing::TestParamInfo<FailureCase>& info) {
                             return std::string(info.param.name);
                         });

// --- What is not a failure of ours ---

TEST_F(LoadFailureTest, PortalsOwnErrorPageWithABodyIsShownAsItIs)
{
    HttpFixtureServer server;
    server.setPage(u"/"_s, {.body = "<!DOCTYPE html><title>Fora</title><p>Portal em manutenção</p>",
                            .status = 404});
    ASSERT_TRUE(server.listen(QHostAddress(u"127.0.0.16"_s)));
    open(server.origin());
    w->pick(kEs);
    ASSERT_TRUE(w->waitMainLoad(server.origin() + u"/"_s));
    auto text = std::make_shared<QString>();
    w->page()->toPlainText([text](const QString& t) { *text = t; });
    ASSERT_TRUE(WaitFor([&] { return !text->isEmpty(); }, 10000));
    EXPECT_EQ(*text, u"Portal em manutenção"_s);
    ASSERT_TRUE(RunQueuedCalls());
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_FALSE(failureShown());
    EXPECT_TRUE(browserShown());
}

TEST_F(LoadFailureTest, SubFrameThatFailsShowsNothingOfOurs)
{
    HttpFixtureServer server;
    const RefusingPort refusing;
    const QString refused = u"http://127.0.0.1:%1/banner"_s.arg(refusing.port());
    server.setPage(u"/"_s, (u"<!DOCTYPE html><title>Consulta</title><p>Consulta</p>"
                            u"<iframe name=banner src=\"%1\"></iframe>"_s.arg(refused))
                               .toUtf8());
    server.setPage(u"/after"_s, "<!DOCTYPE html><title>Depois</title><p>Depois</p>"_ba);
    ASSERT_TRUE(server.listen(QHostAddress(u"127.0.0.17"_s)));
    open(server.origin());
    w->pick(kEs);
    ASSERT_TRUE(w->waitMainLoad(server.origin() + u"/"_s));
    // The frame's error page has loaded (its load event came) before the page below is asked for.
    auto loaded = std::make_shared<std::optional<QVariant>>();
    w->page()->runJavaScript(
        u"new Promise(done => { const f = document.querySelector('iframe');"
        u" if (f.contentDocument === null || f.contentDocument.readyState === 'complete') done(1);"
        u" else f.onload = () => done(1); })"_s,
        [loaded](const QVariant& v) { *loaded = v; });
    ASSERT_TRUE(WaitFor([&] { return loaded->has_value(); }, 10000));
    // The marker: a later main-frame load, after everything the failed frame could cause.
    w->window->Chromium1->LoadURL(server.origin() + u"/after"_s);
    ASSERT_TRUE(w->waitMainLoad(server.origin() + u"/after"_s));
    ASSERT_TRUE(RunQueuedCalls());
    EXPECT_TRUE(errors.isEmpty()) << qPrintable(errors.value(0).failure.errorText);
    EXPECT_FALSE(failureShown());
}

// --- Retrying ---

TEST_F(LoadFailureTest, LookupGoesOnAfterARetryOnceThePortalIsBack)
{
    HttpFixtureServer server;
    server.setRoot(kSamples);
    server.setPage(u"/"_s, {.body = {}, .status = 503});
    ASSERT_TRUE(server.listen(QHostAddress(u"127.0.0.18"_s)));
    open(server.origin());
    pickAndFail();
    EXPECT_EQ(LoadFailureClassName(errors.first().failure.failure), u"http-error"_s);

    // The portal is back; the user presses the button.
    server.setPage(u"/"_s, FileBytes(kSamples + u"/index.html"_s));
    QSignalSpy finished(w->page(), &QWebEnginePage::loadFinished);
    failurePage()->RetryButton->click();
    // The failed load ended at the same URL: the query page's is a load that succeeds.
    ASSERT_TRUE(WaitFor(
        [&] {
            return std::any_of(finished.cbegin(), finished.cend(),
                               [](const QList<QVariant>& args) { return args.value(0).toBool(); });
        },
        20000));
    ASSERT_TRUE(RunQueuedCalls());
    EXPECT_TRUE(browserShown());
    EXPECT_FALSE(failureShown());
    submitQuery();
    expectSampleResult();
    EXPECT_EQ(errors.size(), 1);
}

// --- Roots the administrator installs ---

TEST_F(LoadFailureTest, RootInTheStoreCompletesTheLookupOverHttps)
{
    LocalRoot root;
    ASSERT_TRUE(root.installed);
    const TestLeaf leaf = root.root.issue({.names = {u"127.0.0.19"_s}});
    TlsFixtureServer server;
    server.pages.setRoot(kSamples);
    ASSERT_TRUE(server.listen(leaf.certificatePem, leaf.keyPem, QHostAddress(u"127.0.0.19"_s)));
    const QString origin = u"https://127.0.0.19:%1"_s.arg(server.port());
    open(origin, [&](TForm1& window) {
        window.Chromium1->CertificateStore = {QString(), root.store.path()};
    });
    w->pick(kEs);
    ASSERT_TRUE(w->waitMainLoad(origin + u"/"_s)) << qPrintable(errors.value(0).failure.errorText);
    submitQuery();
    expectSampleResult();
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_GE(server.answered, 2);
}

// --- The capture ---

TEST_F(LoadFailureTest, CaptureRecordsTheFailureInAFolderItCreates)
{
    QTemporaryDir parent;
    const QString dir = parent.filePath(u"capture"_s);
    qputenv("QUARVEL_CAPTURE_DIR", QFile::encodeName(dir));
    const RefusingPort refusing;
    const QString origin = u"http://127.0.0.1:%1"_s.arg(refusing.port());
    open(origin);
    pickAndFail();
    ASSERT_TRUE(w->closeAndWait());
    w.reset(); // the capture's writer finishes with the window

    const QStringList runs = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(runs.size(), 1);
    // Qt adds the caller's bits as "user" ones: the owner's are what the file system has.
    EXPECT_EQ(QFile::permissions(dir) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QList<QByteArray> lines =
        FileBytes(QDir(dir).filePath(runs.first() + u"/index.jsonl"_s)).split('\n');
    std::optional<QJsonObject> failureLine;
    for (const QByteArray& line : lines) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.contains(u"failure"_s))
            failureLine = object;
    }
    ASSERT_TRUE(failureLine.has_value()) << lines.join('\n').toStdString();
    EXPECT_EQ(failureLine->value(u"url"_s).toString(), origin + u"/"_s);
    EXPECT_EQ(failureLine->value(u"failure"_s).toString(), u"refused"_s);
    EXPECT_EQ(failureLine->value(u"errorCode"_s).toInt(), errors.first().failure.errorCode);
    EXPECT_EQ(failureLine->value(u"errorText"_s).toString(), errors.first().failure.errorText);
    EXPECT_EQ(failureLine->value(u"portal"_s).toString(), u"es"_s);
}

} // namespace

// The engine test main, with a name that this test's engine alone finds nowhere (its host
// resolver rules): no name is looked up on the network.
int main(int argc, char** argv)
{
    return RunEngineTests(argc, argv, [] {
        const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") +
                                 " --host-resolver-rules=\"MAP portal.invalid ~NOTFOUND\"";
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    });
}
