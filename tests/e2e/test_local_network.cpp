// Pages that are not local cannot reach the machine or its network: the real engine in the test
// process, a listener on 127.0.0.1 standing for the host's port or any other local service, and
// pages served under names that the engine resolves to loopback addresses (its host resolver
// rules, given to this test's engine alone), which count as names of the internet.
#include "BuiltInTable.h"
#include "EngineTests.h"
#include "EventLoopWait.h"
#include "HttpFixtureServer.h"
#include "shell/Chromium.h"
#include "ui/CBNorva.h"
#include "ui/MessageBox.h"
#include "ui/frmQuarvel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTest>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>
#include <arpa/inet.h>
#include <array>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

static void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

// Names under which the engine of this test reaches the loopback servers below.
constexpr auto kResolverRules =
    "\"--host-resolver-rules=MAP portal.example 127.0.0.3,MAP redirect.example 127.0.0.4,"
    "MAP es.example 127.0.0.5,MAP public.example 127.0.0.6,MAP rebound.example 127.0.0.1\"";

// The port of the server that the engine takes for one on a public address (the engine's own
// private network check looks at the address a page came from); chosen before the engine
// starts.
quint16& PublicPort()
{
    static quint16 port = 0;
    return port;
}

// A port free on 127.0.0.6 at this moment.
quint16 FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(0x7f000006);
    socklen_t size = sizeof(address);
    quint16 port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

// A local service: counts the connections it receives, keeps what they send, and answers each
// request with an empty response.
class Listener
{
public:
    bool listen(const QHostAddress& address)
    {
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                ++connections;
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    const QByteArray data = socket->readAll();
                    received += data;
                    *buffer += data;
                    if (complete(*buffer)) {
                        socket->write("HTTP/1.0 204 No Content\r\nConnection: close\r\n\r\n");
                        socket->disconnectFromHost();
                    }
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        return server.listen(address);
    }
    QString origin() const
    {
        const QHostAddress address = server.serverAddress();
        const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? u'[' + address.toString() + u']'
                                 : address.toString();
        return u"http://"_s + host + u':' + QString::number(server.serverPort());
    }

    // A request of the test's own, sent after everything the page sent: once it has arrived, so
    // has whatever of the page's reached this service. It is not counted.
    bool mark()
    {
        QTcpSocket socket;
        socket.connectToHost(server.serverAddress(), server.serverPort());
        if (!socket.waitForConnected(5000))
            return false;
        const QByteArray marker =
            "GET /quarvel-test-marker-" + QByteArray::number(++m_marks) + " HTTP/1.1\r\n\r\n";
        socket.write(marker);
        socket.flush();
        const bool arrived = WaitFor([&] { return received.contains(marker); }, 10000);
        received.replace(marker, QByteArray());
        --connections;
        return arrived;
    }

    QTcpServer server;
    int connections = 0;
    QByteArray received;

private:
    int m_marks = 0;

    // The head and as much body as it announces.
    static bool complete(const QByteArray& request)
    {
        const qsizetype end = request.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        const QByteArray head = request.left(end).toLower();
        const qsizetype at = head.indexOf("\r\ncontent-length:");
        const qsizetype length =
            at < 0 ? 0 : head.mid(at + 17).split('\r').value(0).trimmed().toLongLong();
        return request.size() >= end + 4 + length;
    }
};

// Answers every request with a redirect to target.
class Redirector
{
public:
    bool listen(const QHostAddress& address, const QString& target)
    {
        QObject::connect(&server, &QTcpServer::newConnection, [this, target] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, target] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    socket->write("HTTP/1.0 302 Found\r\nLocation: " + target.toUtf8() +
                                  "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        return server.listen(address);
    }
    quint16 port() const { return server.serverPort(); }

    QTcpServer server;
};

// What this process writes on stderr while it lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        if (!m_file.open())
            return;
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }

    QByteArray text()
    {
        restore();
        QFile file(m_file.fileName());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};

// Every kind of request a page can send to a local destination, each as a script that settles a
// promise with what the page saw. "failed" is what a network error looks like to the page.
struct Attempt
{
    const char* name;
    const char* script; // a promise; TARGET is replaced with the destination
    // What the page sees of a refusal: a network error, or for frames and beacons nothing.
    const char* refused = "failed";
};

constexpr std::array<Attempt, 14> kAttempts = {{
    {"fetch", "fetch('TARGET', {mode: 'no-cors', method: 'POST', body: 'cnpj=forged\\r\\n.\\r\\n'})"
              ".then(() => 'loaded', () => 'failed')"},
    {"xhr", "new Promise(done => { const x = new XMLHttpRequest(); x.open('POST', 'TARGET');"
            " x.onload = () => done('loaded'); x.onerror = () => done('failed');"
            " x.send('forged'); })"},
    {"image", "new Promise(done => { const i = new Image(); i.onload = () => done('loaded');"
              " i.onerror = () => done('failed'); i.src = 'TARGET'; })"},
    {"script", "new Promise(done => { const s = document.createElement('script');"
               " s.onload = () => done('loaded'); s.onerror = () => done('failed');"
               " s.src = 'TARGET'; document.head.appendChild(s); })"},
    {"style",
     "new Promise(done => { const l = document.createElement('link'); l.rel = 'stylesheet';"
     " l.onload = () => done('loaded'); l.onerror = () => done('failed');"
     " l.href = 'TARGET'; document.head.appendChild(l); })"},
    {"font", "new FontFace('f' + Math.random().toString(36).slice(2), 'url(TARGET)').load()"
             ".then(() => 'loaded', () => 'failed')"},
    {"media", "new Promise(done => { const a = document.createElement('audio');"
              " a.oncanplay = () => done('loaded'); a.onerror = () => done('failed');"
              " a.src = 'TARGET'; document.body.appendChild(a); })"},
    // A worker of the page's own, which the page's scripts do not see into.
    {"worker", "new Promise(done => { const w = new Worker(URL.createObjectURL(new Blob(["
               "\"fetch('TARGET', {mode: 'no-cors', method: 'POST', body: 'forged'})"
               ".then(() => postMessage('loaded'), () => postMessage('failed'))\"])));"
               " w.onmessage = e => done(e.data); })"},
    {"worker-websocket", "new Promise(done => { const w = new Worker(URL.createObjectURL(new"
                         " Blob([\"const s = new WebSocket('TARGET'.replace(/^http/, 'ws'));"
                         " s.onopen = () => postMessage('loaded');"
                         " s.onerror = () => postMessage('failed')\"]))); w.onmessage = e =>"
                         " done(e.data); })"},
    {"websocket", "new Promise(done => { const w = new WebSocket('TARGET'.replace(/^http/, 'ws'));"
                  " w.onopen = () => done('loaded'); w.onerror = () => done('failed'); })"},
    {"beacon", "Promise.resolve(navigator.sendBeacon('TARGET', 'forged') ? 'queued' : 'failed')",
     "queued"},
    {"prefetch",
     "new Promise(done => { const l = document.createElement('link'); l.rel = 'prefetch';"
     " l.onload = () => done('loaded'); l.onerror = () => done('failed');"
     " l.href = 'TARGET'; document.head.appendChild(l); })"},
    // A frame shows an error page for a refused load: only the listener can tell.
    {"iframe",
     "new Promise(done => { const f = document.createElement('iframe');"
     " f.onload = () => done('shown'); f.src = 'TARGET'; document.body.appendChild(f); })",
     "shown"},
    {"form",
     "new Promise(done => { const f = document.createElement('iframe'); f.name = 'sink' +"
     " Math.random().toString(36).slice(2); document.body.appendChild(f);"
     " const form = document.createElement('form'); form.method = 'POST';"
     " form.action = 'TARGET'; form.target = f.name; const i ="
     " document.createElement('input'); i.name = 'cnpj'; i.value = 'forged';"
     " form.appendChild(i); document.body.appendChild(form);"
     " f.onload = () => done('shown'); form.submit(); })",
     "shown"},
}};

class LocalNetworkTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(listener.listen(QHostAddress(u"127.0.0.1"_s)));
        ASSERT_TRUE(pages.listen(QHostAddress(u"127.0.0.3"_s)));
        ASSERT_TRUE(redirector.listen(QHostAddress(u"127.0.0.4"_s), listener.origin() + u"/r"_s));
        pages.setPage(u"/page"_s, "<!DOCTYPE html><title>page</title><p>A page</p>"_ba);
        pages.setPage(u"/own"_s, "own"_ba);

        host = std::make_unique<QWidget>();
        host->resize(800, 600);
        host->show();
        chromium = std::make_unique<TChromium>();
        QObject::connect(chromium.get(), &TChromium::OnLoadEnd,
                         [this](const TCefFrame& frame, int) {
                             if (frame.IsMain())
                                 mainLoads.append(frame.GetUrl());
                         });
        QSignalSpy created(chromium.get(), &TChromium::OnAfterCreated);
        ASSERT_TRUE(chromium->CreateBrowser(host.get()));
        ASSERT_TRUE(created.wait(10000));
    }

    void TearDown() override
    {
        chromium.reset();
        host.reset();
    }

    void load(const QString& url)
    {
        const qsizetype before = mainLoads.count(url);
        chromium->LoadURL(url);
        ASSERT_TRUE(WaitFor([&] { return mainLoads.count(url) > before; }, 15000))
            << qPrintable(url);
    }

    QVariant evaluate(const QString& script, int ms = 15000)
    {
        auto result = std::make_shared<std::optional<QVariant>>();
        chromium->GetBrowser()->page()->runJavaScript(
            script, [result](const QVariant& value) { *result = value; });
        if (!WaitFor([&] { return result->has_value(); }, ms))
            return u"<no answer>"_s;
        return **result;
    }

    // Runs a promise in the page and waits for what it settles with.
    QString settle(const QString& promise)
    {
        evaluate(u"window.__settled = undefined; (%1).then(v => window.__settled = String(v),"
                 " e => window.__settled = 'threw ' + e);"_s.arg(promise));
        QString value;
        (void)WaitFor(
            [&] {
                value = evaluate(u"window.__settled === undefined ? '' : window.__settled"_s)
                            .toString();
                return !value.isEmpty();
            },
            15000);
        return value;
    }

    // Tries every kind of request against base, each with its name as the query; returns each
    // attempt's outcome by name.
    QMap<QString, QString> attemptAll(const QString& base)
    {
        QMap<QString, QString> outcomes;
        for (const Attempt& attempt : kAttempts) {
            const QString target = base + u'?' + QLatin1String(attempt.name);
            outcomes.insert(
                QLatin1String(attempt.name),
                settle(QString::fromLatin1(attempt.script).replace(u"TARGET"_s, target)));
        }
        return outcomes;
    }

    // Every request of the page has gone out by the time its own server has answered one sent
    // after all of them; whatever of them reached the listener has arrived there before the
    // listener's marker.
    void drain()
    {
        EXPECT_EQ(settle(u"fetch('/own').then(r => r.text())"_s), u"own"_s)
            << "the page can no longer reach its own server";
        EXPECT_TRUE(listener.mark());
    }

    QString publicPage() const
    {
        return u"http://portal.example:%1/page"_s.arg(pages.origin().section(u':', -1));
    }
    // A server of the internet that redirects every request to the listener.
    QString redirecting() const { return u"http://redirect.example:%1/"_s.arg(redirector.port()); }

    Listener listener;
    HttpFixtureServer pages;
    Redirector redirector;
    std::unique_ptr<QWidget> host;
    std::unique_ptr<TChromium> chromium;
    QStringList mainLoads;
};

// --- Every kind of request, from a page of the internet and from a local page ---

TEST_F(LocalNetworkTest, PageOfTheInternetReachesNothingLocalAndStaysUsable)
{
    StderrCapture captured;
    load(publicPage());

    const QMap<QString, QString> outcomes = attemptAll(listener.origin() + u"/x"_s);
    drain();

    EXPECT_EQ(listener.connections, 0) << "received: " << listener.received.toStdString();
    for (const Attempt& attempt : kAttempts) {
        EXPECT_EQ(outcomes.value(QLatin1String(attempt.name)), QLatin1String(attempt.refused))
            << attempt.name;
    }
    // Still the page it was, and still working.
    EXPECT_EQ(evaluate(u"document.title"_s).toString(), u"page"_s);

    const QByteArray text = captured.text();
    const QByteArray line = "refused a request of a page that is not local to " +
                            listener.origin().mid(7).toUtf8() + '\n';
    EXPECT_EQ(text.count(line), 1) << text.toStdString();
    EXPECT_FALSE(text.contains("/x")) << "the URL is not for stderr: " << text.toStdString();
}

TEST_F(LocalNetworkTest, FrameRedirectedToALocalAddressByAServerOfTheInternetSendsNothing)
{
    load(publicPage());
    // A frame whose navigation is cancelled fires no load event.
    EXPECT_EQ(settle(u"new Promise(done => { const f = document.createElement('iframe');"
                     " f.onload = () => done('shown'); setTimeout(() => done('not shown'), 3000);"
                     " f.src = '%1'; document.body.appendChild(f); })"_s.arg(redirecting())),
              u"not shown"_s);
    drain();
    EXPECT_TRUE(listener.received.isEmpty()) << listener.received.toStdString();

    // From a local page the same redirect goes through.
    load(pages.url(u"/page"_s));
    EXPECT_EQ(settle(u"fetch('%1', {mode: 'no-cors'}).then(() => 'loaded', () => 'failed')"_s.arg(
                  redirecting())),
              u"loaded"_s);
    EXPECT_TRUE(listener.received.startsWith("GET /r ")) << listener.received.toStdString();
}

// The request interceptor hears of a sub-resource's redirect only once the engine has followed
// it, and knows nothing of the address a name resolves to: there the engine's own private
// network check holds, for a page that came from a public address.
TEST_F(LocalNetworkTest, PageFromAPublicAddressCannotReachALocalOneThroughARedirectOrAName)
{
    HttpFixtureServer publicPages;
    ASSERT_NE(PublicPort(), 0);
    ASSERT_TRUE(publicPages.listen(QHostAddress(u"127.0.0.6"_s), PublicPort()));
    publicPages.setPage(u"/page"_s, "<!DOCTYPE html><title>page</title><p>A page</p>"_ba);
    publicPages.setPage(u"/own"_s, "own"_ba);
    load(u"http://public.example:%1/page"_s.arg(PublicPort()));

    const QString byName = u"http://rebound.example:%1/n"_s.arg(listener.server.serverPort());
    for (const QString& target : {redirecting(), byName}) {
        EXPECT_EQ(settle(u"fetch('%1', {mode: 'no-cors', method: 'POST', body: 'forged'})"
                         ".then(() => 'loaded', () => 'failed')"_s.arg(target)),
                  u"failed"_s)
            << qPrintable(target);
        EXPECT_EQ(
            settle(u"new Promise(done => { const x = new XMLHttpRequest(); x.open('GET', '%1');"
                   " x.onload = () => done('loaded'); x.onerror = () => done('failed');"
                   " x.send(); })"_s.arg(target)),
            u"failed"_s)
            << qPrintable(target);
    }
    drain();
    EXPECT_TRUE(listener.received.isEmpty()) << listener.received.toStdString();
}

TEST_F(LocalNetworkTest, LocalPageStillReachesLocalServices)
{
    load(pages.url(u"/page"_s));
    const QMap<QString, QString> outcomes = attemptAll(listener.origin() + u"/x"_s);
    drain();

    // Every kind arrived (the page sees what the listener's empty answers give), the fetch's
    // body as the page wrote it.
    for (const Attempt& attempt : kAttempts) {
        const QByteArray line = " /x?" + QByteArray(attempt.name) + " HTTP/1.1\r\n";
        EXPECT_TRUE(listener.received.contains(line)) << attempt.name << " did not arrive";
    }
    EXPECT_TRUE(listener.received.contains("cnpj=forged\r\n.\r\n"));
    EXPECT_EQ(outcomes.value(u"fetch"_s), u"loaded"_s);
}

// --- The spellings of a local address, as the engine hands them on ---

struct Spelling
{
    const char* name;
    const char* host; // the listener is on 127.0.0.1 (or ::1 for the IPv6 ones)
    bool ipv6;
};

class LocalSpellingTest : public LocalNetworkTest, public testing::WithParamInterface<Spelling>
{};

TEST_P(LocalSpellingTest, RefusedFromThePageOfTheInternet)
{
    const Spelling& spelling = GetParam();
    Listener target;
    if (!target.listen(spelling.ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost))
        GTEST_SKIP() << "no " << (spelling.ipv6 ? "IPv6" : "IPv4") << " loopback here";
    const QString url =
        u"http://%1:%2/s"_s.arg(QLatin1String(spelling.host)).arg(target.server.serverPort());

    load(publicPage());
    EXPECT_EQ(
        settle(u"fetch('%1', {mode: 'no-cors'}).then(() => 'loaded', () => 'failed')"_s.arg(url)),
        u"failed"_s);
    drain();
    EXPECT_EQ(target.connections, 0);

    // The same spelling works for a local page: the refusal above was the guard's.
    load(pages.url(u"/page"_s));
    EXPECT_EQ(
        settle(u"fetch('%1', {mode: 'no-cors'}).then(() => 'loaded', () => 'failed')"_s.arg(url)),
        u"loaded"_s);
    EXPECT_GE(target.connections, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, LocalSpellingTest,
    testing::Values(Spelling{"Dotted", "127.0.0.1", false},
                    Spelling{"Decimal", "2130706433", false}, Spelling{"Hex", "0x7f000001", false},
                    Spelling{"Short", "127.1", false}, Spelling{"Octal", "0177.0.0.1", false},
                    Spelling{"Localhost", "localhost", false},
                    Spelling{"MappedV6", "[::ffff:127.0.0.1]", false},
                    Spelling{"LoopbackV6", "[::1]", true}),
    [](const testing::TestParamInfo<Spelling>& info) { return std::string(info.param.name); });

// --- Main-frame navigations a page of the internet starts ---

TEST_F(LocalNetworkTest, MainFrameCannotBeSentToALocalAddress)
{
    const QString page = publicPage();
    load(page);
    // Each navigation below ends (refused, it fails) before the next starts.
    QSignalSpy ended(chromium->GetBrowser()->page(), &QWebEnginePage::loadFinished);
    evaluate(u"location.href = '%1/nav'"_s.arg(listener.origin()));
    ASSERT_TRUE(WaitFor([&] { return ended.size() >= 1; }, 15000));
    // The program sent it to a server of the internet that redirects to the listener.
    chromium->LoadURL(redirecting());
    ASSERT_TRUE(WaitFor([&] { return ended.size() >= 2; }, 15000));
    load(page);
    drain();
    EXPECT_EQ(listener.connections, 0) << listener.received.toStdString();
}

// --- Lookups under a name and on a loopback address ---

// The bytes the host receives for these lines: UTF-16LE, CR LF after each, then "." CR LF.
QByteArray ResultBlock(const QStringList& lines)
{
    QByteArray bytes;
    const QStringList all = lines + QStringList{u"."_s};
    for (const QString& line : all) {
        const QString withEnd = line + u"\r\n"_s;
        for (const QChar c : withEnd) {
            bytes.append(char(c.unicode() & 0xFF));
            bytes.append(char(c.unicode() >> 8));
        }
    }
    return bytes;
}

struct LookupCase
{
    const char* name;
    const char* origin; // PORT is replaced with the sample server's port
};

class LocalNetworkLookupTest : public testing::TestWithParam<LookupCase>
{};

TEST_P(LocalNetworkLookupTest, SamplePortalStillDeliversTheExpectedBytes)
{
    HttpFixtureServer es;
    es.setRoot(QStringLiteral(QUARVEL_SAMPLES_DIR "/es"));
    ASSERT_TRUE(es.listen(QHostAddress(u"127.0.0.5"_s)));
    const QString origin =
        QString::fromLatin1(GetParam().origin).replace(u"PORT"_s, es.origin().section(u':', -1));
    qputenv("QUARVEL_PORTAL_HOSTS", (u"es="_s + origin).toUtf8());

    QTcpServer hostServer;
    ASSERT_TRUE(hostServer.listen(QHostAddress::LocalHost));
    QByteArray received;
    bool ended = false;
    auto window = std::make_unique<TForm1>(QStringList{QString::number(hostServer.serverPort())});
    QStringList boxes;
    window->ShowBox = [&](const MessageBoxSpec& box) { boxes.append(box.text); };
    QStringList mainLoads;
    QObject::connect(window->Chromium1, &TChromium::OnLoadEnd, [&](const TCefFrame& frame, int) {
        if (frame.IsMain())
            mainLoads.append(frame.GetUrl());
    });
    window->show();
    ASSERT_TRUE(WaitFor([&] { return hostServer.hasPendingConnections(); }, 30000));
    std::unique_ptr<QTcpSocket> link(hostServer.nextPendingConnection());
    QObject::connect(link.get(), &QTcpSocket::readyRead, [&] { received += link->readAll(); });
    QObject::connect(link.get(), &QTcpSocket::disconnected, [&] { ended = true; });
    ASSERT_TRUE(WaitFor([&] { return window->cbUF->isEnabled(); }, 30000));
    ASSERT_TRUE(window->URIEstados().at(kEs).URLconsulta.startsWith(origin));

    // The user opens the list and picks ES.
    TCBNorva* combo = window->cbUF;
    QTest::keyClick(combo, Qt::Key_F4);
    QAbstractItemView* view = combo->view();
    ASSERT_TRUE(WaitFor([&] { return view->isVisible(); }, 5000));
    QTest::keyClick(view, Qt::Key_Home);
    for (int i = 0; i < kEs; ++i)
        QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return mainLoads.contains(origin + u"/"_s); }, 20000))
        << qPrintable(mainLoads.join(u' '));
    window->Chromium1->GetMainFrame()->ExecuteJavaScript(
        u"document.getElementById('consulta').requestSubmit();"_s, QString(), 0);

    ASSERT_TRUE(WaitFor([&] { return ended; }, 30000));
    received += link->readAll();
    EXPECT_EQ(received, ResultBlock({u"cnpj=45.678.901/0001-23"_s, u"cpf="_s, u"nome="_s,
                                     u"razaosocial=CAFE CAPIXABA COMERCIO LTDA"_s,
                                     u"inscricaoestadual=082.345.67-8"_s, u"telefone=2733221100"_s,
                                     u"endereco=AVENIDA JERÔNIMO MONTEIRO"_s, u"numero=240"_s,
                                     u"complemento=LOJA 1"_s, u"bairro=CENTRO"_s,
                                     u"cidade=VITÓRIA"_s, u"estado=ES"_s, u"cep=29010-002"_s}));
    EXPECT_TRUE(boxes.isEmpty()) << qPrintable(boxes.join(u' '));
    QObject::disconnect(link.get(), nullptr, nullptr, nullptr);
    window.reset();
    qunsetenv("QUARVEL_PORTAL_HOSTS");
}

INSTANTIATE_TEST_SUITE_P(Origins, LocalNetworkLookupTest,
                         testing::Values(LookupCase{"UnderAName", "http://es.example:PORT"},
                                         LookupCase{"OnALoopbackAddress", "http://127.0.0.5:PORT"}),
                         [](const testing::TestParamInfo<LookupCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace

// The engine test main, with this test's resolver rules for the engine. They reach it through
// its environment variable, which keeps a quoted part with its spaces as one argument.
int main(int argc, char** argv)
{
    return RunEngineTests(argc, argv, [] {
        PublicPort() = FreePort();
        const QByteArray flags =
            qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + ' ' + kResolverRules +
            " --ip-address-space-overrides=127.0.0.6:" + QByteArray::number(PublicPort()) +
            "=public";
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    });
}
