// The morning check in the real engine, in the test's own process: the sample portals, and broken
// variants of them served here on loopback.
#include "EventLoopWait.h"
#include "PortalProber.h"
#include "QtPrinters.h"
#include "SamplePortals.h"
#include "shell/QuarvelPage.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QWebEngineProfile>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

QByteArray SampleFile(const QString& relative)
{
    QFile file(QStringLiteral(QUARVEL_SAMPLES_DIR "/") + relative);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << relative.toStdString();
    return file.readAll();
}

// ES's query page, as the samples have it: one CNPJ box, a captcha box.
QByteArray EsPage()
{
    return SampleFile(QStringLiteral("es/index.html"));
}

// A record for a portal served by server: the built-in ES portal with its host replaced.
ProbeTarget EsTarget(const HttpFixtureServer& server, const QString& path = QStringLiteral("/"))
{
    TURIEstado portal = Table().at(kEs);
    portal.URLconsulta = server.url(path);
    portal.URLresposta = server.url(QStringLiteral("/resultado.php"));
    return {QStringLiteral("es"), portal};
}

class ProbeTest : public testing::Test
{
protected:
    void SetUp() override { m_profile = NewQuarvelProfile(nullptr); }
    void TearDown() override { delete m_profile; }

    QList<PortalProbe> Probe(const QList<ProbeTarget>& targets,
                             std::chrono::milliseconds timeout = 30s)
    {
        QList<PortalProbe> probes;
        bool done = false;
        {
            PortalProber prober(m_profile, timeout);
            QObject::connect(&prober, &PortalProber::portalProbed,
                             [&](const PortalProbe& probe) { probes.append(probe); });
            QObject::connect(&prober, &PortalProber::allProbed, [&] { done = true; });
            prober.run(targets);
            EXPECT_TRUE(WaitFor([&] { return done; }, 60000 * int(targets.size())));
        }
        // The deleted pages are gone before the profile is.
        EXPECT_TRUE(RunQueuedCalls());
        return probes;
    }

    PortalProbe ProbeOne(const ProbeTarget& target, std::chrono::milliseconds timeout = 30s)
    {
        const QList<PortalProbe> probes = Probe({target}, timeout);
        EXPECT_EQ(probes.size(), 1);
        return probes.value(0);
    }

    QWebEngineProfile* m_profile = nullptr;
};

// The controls each built-in fill script looks for, in the table's order; all on the sample pages.
QList<QStringList> BuiltInFillControls()
{
    return {
        {QStringLiteral("CodUf"), QStringLiteral("TipoPesquisa"), QStringLiteral("CodInscrMf")},
        {QStringLiteral("tipo"), QStringLiteral("cgc")},
        {QStringLiteral("num_cnpj")},
        {QStringLiteral("txt_CNPJ")},
        {QStringLiteral("tipoFiltroDropDownList"), QStringLiteral("valorFiltroTextBox")},
    };
}

TEST_F(ProbeTest, SamplePortalsAreOkAndServeNothingButTheirQueryPages)
{
    SamplePortals portals;
    ASSERT_TRUE(portals.start());
    PortalHosts hosts;
    ASSERT_TRUE(ApplyPortalHostsOverride(portals.hostsValue, hosts).isEmpty());
    const TURIEstados table = BuiltInPortals(hosts);
    QList<ProbeTarget> targets;
    QList<QStringList> served(5);
    for (int i = 0; i < 5; ++i) {
        targets.append({BuiltInPortalPathList().at(i).key, table.at(i)});
        QObject::connect(&portals.server(i), &HttpFixtureServer::served,
                         [&served, i](const QString& method, const QString& target, int) {
                             served[i].append(method + u' ' + target);
                         });
    }

    const QList<PortalProbe> probes = Probe(targets);
    ASSERT_EQ(probes.size(), 5);
    const QList<QStringList> controls = BuiltInFillControls();
    for (int i = 0; i < 5; ++i) {
        const PortalProbe& probe = probes.at(i);
        SCOPED_TRACE(probe.portal.toStdString());
        EXPECT_EQ(probe.portal, targets.at(i).key);
        EXPECT_EQ(DecideProbeStatus(probe), ProbeStatus::Ok) << ProbePlainLine(probe).toStdString();
        EXPECT_TRUE(probe.reached);
        EXPECT_EQ(probe.finalUrl, table.at(i).URLconsulta);
        EXPECT_TRUE(probe.stayed);
        EXPECT_EQ(probe.readyScript,
                  table.at(i).consultaReadyScript.isEmpty() ? ScriptRun::None : ScriptRun::Ok);
        ASSERT_TRUE(probe.fill.has_value());
        EXPECT_EQ(probe.fill->found, controls[i]);
        EXPECT_TRUE(probe.fill->missing.isEmpty());
        EXPECT_TRUE(probe.fill->captcha);
        EXPECT_GT(probe.loadMs, 0);
        EXPECT_EQ(probe.httpStatus, 200);

        // The query page once, and nothing else: no result page, no form sent, not even an icon.
        EXPECT_EQ(served.at(i), QStringList{u"GET " + QueryPath(i)});
    }
}

TEST_F(ProbeTest, RenamedCnpjBoxIsChangedAndNamed)
{
    HttpFixtureServer server;
    ASSERT_TRUE(server.listen());
    server.setPage(QStringLiteral("/"),
                   EsPage().replace("name=\"num_cnpj\"", "name=\"cnpj_contribuinte\""));
    const PortalProbe probe = ProbeOne(EsTarget(server));
    EXPECT_EQ(DecideProbeStatus(probe), ProbeStatus::Changed);
    ASSERT_TRUE(probe.fill.has_value());
    EXPECT_EQ(probe.fill->missing, QStringList{QStringLiteral("num_cnpj")});
    EXPECT_TRUE(probe.fill->captcha);
    EXPECT_EQ(ProbePlainLine(probe), QStringLiteral("es changed: missing control \"num_cnpj\""));
}

TEST_F(ProbeTest, CaptchaBoxGoneIsToldButStillOk)
{
    HttpFixtureServer server;
    ASSERT_TRUE(server.listen());
    QByteArray page = EsPage();
    const qsizetype at = page.indexOf("<input id=\"captcha\"");
    ASSERT_GE(at, 0);
    page.remove(at, page.indexOf('>', at) + 1 - at);
    ASSERT_FALSE(page.contains("name=\"captcha\""));
    server.setPage(QStringLiteral("/"), page);
    const PortalProbe probe = ProbeOne(EsTarget(server));
    EXPECT_EQ(DecideProbeStatus(probe), ProbeStatus::Ok);
    ASSERT_TRUE(probe.fill.has_value());
    EXPECT_FALSE(probe.fill->captcha);
    EXPECT_EQ(probe.fill->found, QStringList{QStringLiteral("num_cnpj")});
    EXPECT_EQ(ProbePlainLine(probe), QStringLiteral("es ok: no captcha box"));
}

TEST_F(ProbeTest, QueryPageNotFoundIsChangedWithItsStatus)
{
    HttpFixtureServer server;
    ASSERT_TRUE(server.listen());
    server.setPage(
        QStringLiteral("/consulta"),
        HttpFixtureServer::Page{"<html><body>P\xc3\xa1gina n\xc3\xa3o encontrada</body></html>",
                                "text/html; charset=utf-8", 0, 404});
    const PortalProbe probe = ProbeOne(EsTarget(server, QStringLiteral("/consulta")));
    EXPECT_EQ(DecideProbeStatus(probe), ProbeStatus::Changed)
        << ProbePlainLine(probe).toStdString();
    EXPECT_TRUE(probe.reached);
    EXPECT_EQ(probe.httpStatus, 404);
    // Nothing of the page is looked at.
    EXPECT_EQ(probe.readyScript, ScriptRun::None);
    EXPECT_FALSE(probe.fill.has_value());
    EXPECT_EQ(ProbePlainLine(probe), QStringLiteral("es changed: HTTP 404"));
}

TEST_F(ProbeTest, RedirectToAnotherHostIsChangedWithWhereItWent)
{
    HttpFixtureServer elsewhere;
    ASSERT_TRUE(elsewhere.listen(QHostAddress(QStringLiteral("127.0.0.7"))));
    elsewhere.setPage(QStringLiteral("/novo-portal/"), EsPage());
    HttpFixtureServer server;
    ASSERT_TRUE(server.listen());
    HttpFixtureServer::Page moved{QByteArray(), "text/html; charset=utf-8", 0, 302};
    moved.location = elsewhere.url(QStringLiteral("/novo-portal/")).toUtf8();
    server.setPage(QStringLiteral("/consulta"), moved);

    const PortalProbe probe = ProbeOne(EsTarget(server, QStringLiteral("/consulta")));
    EXPECT_EQ(DecideProbeStatus(probe), ProbeStatus::Changed);
    EXPECT_TRUE(probe.reached);
    EXPECT_FALSE(probe.stayed);
    EXPECT_EQ(probe.finalUrl, elsewhere.url(QStringLiteral("/novo-portal/")));
    // The window would not run the portal's scripts there, nor does the check.
    EXPECT_EQ(probe.readyScript, ScriptRun::None);
    EXPECT_FALSE(probe.fill.has_value());
    EXPECT_EQ(ProbePlainLine(probe),
              u"es changed: moved to " + elsewhere.url(QStringLiteral("/novo-portal/")));
}

TEST_F(ProbeTest, ServerThatNeverAnswersTimesOutWithinTheTimeAllowed)
{
    HttpFixtureServer server;
    ASSERT_TRUE(server.listen());
    HttpFixtureServer::Page silent{EsPage()};
    silent.delayMs = 600000;
    server.setPage(QStringLiteral("/"), silent);
    // The next portal is still probed after the one that timed out.
    HttpFixtureServer healthy;
    ASSERT_TRUE(healthy.listen());
    healthy.setPage(QStringLiteral("/"), EsPage());

    const QList<PortalProbe> probes = Probe({EsTarget(server), EsTarget(healthy)}, 3s);
    ASSERT_EQ(probes.size(), 2);
    const PortalProbe& probe = probes.at(0);
    EXPECT_EQ(DecideProbeStatus(probe), ProbeStatus::Unreachable);
    ASSERT_TRUE(probe.failure.has_value());
    EXPECT_EQ(LoadFailureClassName(probe.failure->failure), u"timeout");
    EXPECT_GE(probe.loadMs, 3000);
    EXPECT_EQ(ProbeJsonLine(probe).contains("\"failure\":\"timeout\""), true);
    EXPECT_EQ(DecideProbeStatus(probes.at(1)), ProbeStatus::Ok)
        << ProbePlainLine(probes.at(1)).toStdString();
}

TEST_F(ProbeTest, RefusedPortIsUnreachableAndRefused)
{
    quint16 port = 0;
    {
        QTcpServer closed;
        ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
        port = closed.serverPort();
    }
    ProbeTarget target{QStringLiteral("es"), Table().at(kEs)};
    target.portal.URLconsulta = QStringLiteral("http://127.0.0.1:%1/").arg(port);
    const PortalProbe probe = ProbeOne(target);
    EXPECT_EQ(DecideProbeStatus(probe), ProbeStatus::Unreachable);
    EXPECT_FALSE(probe.reached);
    ASSERT_TRUE(probe.failure.has_value());
    EXPECT_EQ(LoadFailureClassName(probe.failure->failure), u"refused");
    EXPECT_EQ(ProbePlainLine(probe),
              u"es unreachable: refused (" + probe.failure->errorText + u')');
}

TEST_F(ProbeTest, UntrustedCertificateIsUnreachableWithItsClass)
{
    QFile certificateFile(QStringLiteral(QUARVEL_PROBE_DATA_DIR "/server.pem"));
    QFile keyFile(QStringLiteral(QUARVEL_PROBE_DATA_DIR "/server.key"));
    ASSERT_TRUE(certificateFile.open(QIODevice::ReadOnly));
    ASSERT_TRUE(keyFile.open(QIODevice::ReadOnly));
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificateFile.readAll());
    ASSERT_EQ(chain.size(), 2);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Rsa));
    QSslServer server;
    server.setSslConfiguration(tls);
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    bool handshakeSeen = false;
    QObject::connect(&server, &QSslServer::startedEncryptionHandshake,
                     [&] { handshakeSeen = true; });

    ProbeTarget target{QStringLiteral("ccc"), Table().at(kCcc)};
    target.portal.URLconsulta =
        QStringLiteral("https://127.0.0.1:%1/NFE/CCC").arg(server.serverPort());
    const PortalProbe probe = ProbeOne(target);
    EXPECT_TRUE(handshakeSeen);
    EXPECT_EQ(DecideProbeStatus(probe), ProbeStatus::Unreachable);
    ASSERT_TRUE(probe.failure.has_value());
    EXPECT_EQ(LoadFailureClassName(probe.failure->failure), u"certificate-untrusted")
        << probe.failure->errorText.toStdString();
    EXPECT_TRUE(ProbeJsonLine(probe).contains("\"failure\":\"certificate-untrusted\""));
}

TEST_F(ProbeTest, ScriptsThatFailOrReportNothingAreToldApart)
{
    HttpFixtureServer server;
    ASSERT_TRUE(server.listen());
    server.setPage(QStringLiteral("/"), EsPage());
    const auto withScripts = [&](const QString& ready, const QString& fill) {
        ProbeTarget target = EsTarget(server);
        target.portal.consultaReadyScript = ready;
        target.portal.consultaFillScript = fill;
        return target;
    };
    const QString link = Table().at(kEs).consultaReadyScript;
    const QList<PortalProbe> probes = Probe({
        withScripts(QStringLiteral("noSuchFunction();"), QString()),
        withScripts(QStringLiteral("const = ;"), QString()),
        withScripts(link, QStringLiteral("function (d) { document.getElementsByName('num_cnpj')[0]"
                                         ".value = d.cnpj; }")),
        withScripts(link, QStringLiteral("function (d) { throw new Error('quebrou'); }")),
        withScripts(link, QStringLiteral("function (d) { return {found: 'num_cnpj'}; }")),
    });
    ASSERT_EQ(probes.size(), 5);

    EXPECT_EQ(probes.at(0).readyScript, ScriptRun::Error);
    EXPECT_TRUE(probes.at(0).readyError.contains(u"noSuchFunction"))
        << probes.at(0).readyError.toStdString();
    EXPECT_EQ(DecideProbeStatus(probes.at(0)), ProbeStatus::Changed);
    EXPECT_EQ(probes.at(1).readyScript, ScriptRun::Error);
    EXPECT_EQ(DecideProbeStatus(probes.at(1)), ProbeStatus::Changed);

    // A fill script without the report: not checked, and said so; not a fault.
    EXPECT_EQ(probes.at(2).readyScript, ScriptRun::Ok);
    EXPECT_FALSE(probes.at(2).fill.has_value());
    EXPECT_FALSE(probes.at(2).fillFailed);
    EXPECT_EQ(DecideProbeStatus(probes.at(2)), ProbeStatus::Ok);
    EXPECT_EQ(ProbePlainLine(probes.at(2)),
              QStringLiteral("es ok: controls not checked (the fill script gives no report)"));

    EXPECT_TRUE(probes.at(3).fillFailed);
    EXPECT_TRUE(probes.at(3).fillError.contains(u"quebrou"));
    EXPECT_EQ(DecideProbeStatus(probes.at(3)), ProbeStatus::Changed);

    // A malformed report is no report.
    EXPECT_FALSE(probes.at(4).fill.has_value());
    EXPECT_FALSE(probes.at(4).fillFailed);
}

// A page that sends its form, and asks the server about the number, as soon as the CNPJ box
// changes: neither reaches the server. The next portal's page is the marker that nothing of the
// first one came later.
TEST_F(ProbeTest, PageThatAnswersTheFillSendsNothing)
{
    HttpFixtureServer server;
    ASSERT_TRUE(server.listen());
    server.setPage(
        QStringLiteral("/"),
        EsPage().replace("name=\"num_cnpj\"",
                         "name=\"num_cnpj\" onchange=\"fetch('/verifica?cnpj=' + this.value);"
                         " navigator.sendBeacon('/beacon', this.value); this.form.submit()\""));
    HttpFixtureServer marker;
    ASSERT_TRUE(marker.listen());
    marker.setPage(QStringLiteral("/"), EsPage());
    QStringList served;
    for (HttpFixtureServer* each : {&server, &marker})
        QObject::connect(each, &HttpFixtureServer::served,
                         [&served](const QString& method, const QString& target, int) {
                             served.append(method + u' ' + target);
                         });

    const QList<PortalProbe> probes = Probe({EsTarget(server), EsTarget(marker)});
    ASSERT_EQ(probes.size(), 2);
    EXPECT_EQ(DecideProbeStatus(probes.at(0)), ProbeStatus::Ok)
        << ProbePlainLine(probes.at(0)).toStdString();
    ASSERT_TRUE(WaitFor([&] { return served.size() >= 2; }, 10000));
    EXPECT_TRUE(RunQueuedCalls());
    EXPECT_EQ(served, QStringList({QStringLiteral("GET /"), QStringLiteral("GET /")}));
}

// Each built-in fill script, on a page with a form but none of its controls and no captcha box,
// names every control it looks for as missing.
TEST_F(ProbeTest, EveryBuiltInFillScriptReportsTheControlsThePageLacks)
{
    HttpFixtureServer server;
    ASSERT_TRUE(server.listen());
    server.setPage(QStringLiteral("/"),
                   QByteArrayLiteral("<!DOCTYPE html><form><input name=\"outro\">"
                                     "<input type=\"submit\"></form>"));
    QList<ProbeTarget> targets;
    for (int i = 0; i < 5; ++i) {
        ProbeTarget target = EsTarget(server);
        target.key = BuiltInPortalPathList().at(i).key;
        target.portal.consultaFillScript = Table().at(i).consultaFillScript;
        targets.append(target);
    }
    const QList<PortalProbe> probes = Probe(targets);
    ASSERT_EQ(probes.size(), 5);
    const QList<QStringList> controls = BuiltInFillControls();
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(probes.at(i).portal.toStdString());
        ASSERT_TRUE(probes.at(i).fill.has_value()) << ProbePlainLine(probes.at(i)).toStdString();
        EXPECT_TRUE(probes.at(i).fill->found.isEmpty());
        EXPECT_EQ(probes.at(i).fill->missing, controls[i]);
        EXPECT_FALSE(probes.at(i).fill->captcha);
        EXPECT_EQ(DecideProbeStatus(probes.at(i)), ProbeStatus::Changed);
    }
}

TEST_F(ProbeTest, PageThatHoldsItsScriptsIsChangedAfterTheTimeAllowed)
{
    HttpFixtureServer server;
    ASSERT_TRUE(server.listen());
    server.setPage(QStringLiteral("/"), EsPage());
    ProbeTarget target = EsTarget(server);
    target.portal.consultaFillScript = QStringLiteral("function (d) { for (;;) {} }");
    const PortalProbe probe = ProbeOne(target, 3s);
    EXPECT_TRUE(probe.reached);
    EXPECT_TRUE(probe.fillFailed);
    EXPECT_EQ(DecideProbeStatus(probe), ProbeStatus::Changed);
}

} // namespace
