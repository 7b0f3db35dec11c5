// Lookup latency, measured in the program's own window over the real engine:
// - a portal recognised by URL (AM, ES, BA): from the result page's finished load to the last
//   byte of the result block at the host;
// - a portal recognised by content (CCC, SP): from the moment the detection text appears in the
//   page to the last byte at the host.
// Prints the median and the spread of each over several lookups.
//
//   bench_lookup [RUNS]
#include "EventLoopWait.h"
#include "HttpFixtureServer.h"
#include "shell/ProcessEntry.h"
#include "ui/CBNorva.h"
#include "ui/frmQuarvel.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Result pages written for the measure: every field of each portal's labels, and for the
// portals recognised by content a detection text that a script adds after one to one and a half
// seconds (at random, so that the moment falls anywhere within the 500 ms watch), announcing the
// moment with a request of its own.
const QByteArray kTable = "<table><tr><td>CNPJ:</td><td>12.345.678/0001-90</td></tr>"
                          "<tr><td>Raz\xc3\xa3o Social:</td><td>EMPRESA EXEMPLO LTDA</td></tr>"
                          "<tr><td>Logradouro:</td><td>RUA DAS FLORES</td></tr>"
                          "<tr><td>CEP:</td><td>69000-000</td></tr></table>";

QByteArray delayedDetection(const QByteArray& detection)
{
    return "<p>Aguarde...</p>" + kTable +
           "<script>setTimeout(function () {"
           "  var p = document.createElement('p');"
           "  p.textContent = '" +
           detection +
           "1234';"
           "  document.body.appendChild(p);"
           "  fetch('/mark');"
           "}, 1000 + Math.random() * 500);</script>";
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Portal
{
    const char* key;
    int index;
    QString resultPath; // URL portals: the page loaded as the result
    QString queryPath;  // the query page
    QByteArray detection;
};

// One lookup in a fresh window; returns the milliseconds from the start mark to the last byte.
double lookupOnce(const Portal& portal, HttpFixtureServer& server)
{
    QTcpServer host;
    host.listen(QHostAddress::LocalHost);
    TForm1 window({QString::number(host.serverPort())});
    window.ShowBox = [](const MessageBoxSpec&) {};
    QSignalSpy closed(&window, &TForm1::Closed);
    window.show();
    if (!WaitFor([&] { return host.hasPendingConnections(); }, 30000))
        return -1;
    std::unique_ptr<QTcpSocket> link(host.nextPendingConnection());
    if (!WaitFor([&] { return window.AddressPnl->isEnabled(); }, 30000))
        return -1;

    QElapsedTimer clock;
    qint64 startNs = -1;
    qint64 endNs = -1;
    QByteArray received;
    QObject::connect(link.get(), &QTcpSocket::readyRead, [&] {
        received += link->readAll();
        if (received.endsWith(QByteArray(".\0\r\0\n\0", 6)))
            endNs = clock.nsecsElapsed();
    });
    const QString resultUrl = server.url(portal.resultPath);
    QObject::connect(window.Chromium1, &TChromium::OnLoadEnd, [&](const TCefFrame& frame, int) {
        if (frame.IsMain() && !portal.resultPath.isEmpty() && frame.GetUrl() == resultUrl)
            startNs = clock.nsecsElapsed();
    });
    QObject::connect(&server, &HttpFixtureServer::requested, [&](const QString& target) {
        if (target == QStringLiteral("/mark"))
            startNs = clock.nsecsElapsed();
    });
    clock.start();

    window.cbUF->setCurrentIndex(portal.index);
    Q_EMIT window.cbUF->activated(portal.index);
    if (!portal.resultPath.isEmpty()) {
        if (!WaitFor([&] { return server.requests().contains(portal.queryPath); }, 20000))
            return -1;
        Spin(300);
        window.Chromium1->LoadURL(resultUrl);
    }
    if (!WaitFor([&] { return endNs >= 0; }, 20000) || startNs < 0)
        return -1;
    WaitFor([&] { return closed.count() > 0; }, 20000);
    QObject::disconnect(&server, nullptr, nullptr, nullptr);
    return (endNs - startNs) / 1e6;
}

int runBenchmark(int runs)
{
    HttpFixtureServer server;
    if (!server.listen(QHostAddress(QStringLiteral("127.0.0.1"))))
        return 1;
    const Portal portals[] = {
        {"am",
         1,
         QStringLiteral("/sintegra/sintegra.asp?hash=abc"),
         QStringLiteral("/sintegra/index.asp"),
         {}},
        {"es", 2, QStringLiteral("/resultado.php"), QStringLiteral("/"), {}},
        {"ba",
         3,
         QStringLiteral("/Sintegra/Result.asp"),
         QStringLiteral("/Sintegra/sintegra.asp?estado=BA"),
         {}},
        {"ccc", 0, {}, QStringLiteral("/NFE/CCC"), "Identifica\xc3\xa7\xc3\xa3o do Contribuinte"},
        {"sp",
         4,
         {},
         QStringLiteral("/Pages/Cadastro/Consultas/ConsultaPublica/ConsultaPublica.aspx"),
         "C\xc3\xb3"
         "digo de controle da consulta: "},
    };
    QStringList hosts;
    for (const Portal& portal : portals) {
        hosts.append(QLatin1String(portal.key) + QLatin1Char('=') + server.origin());
        if (portal.resultPath.isEmpty()) {
            server.setPage(QUrl(portal.queryPath).path(), delayedDetection(portal.detection));
        } else {
            server.setPage(QUrl(portal.queryPath).path(), QByteArrayLiteral("<p>consulta</p>"));
            server.setPage(QUrl(portal.resultPath).path(), kTable);
        }
    }
    server.setPage(QStringLiteral("/mark"), QByteArrayLiteral("ok"));
    qputenv("QUARVEL_PORTAL_HOSTS", hosts.join(QLatin1Char(',')).toUtf8());

    for (const Portal& portal : portals) {
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            const double ms = lookupOnce(portal, server);
            if (ms < 0) {
                std::fprintf(stderr, "%s: lookup %d failed\n", portal.key, i);
                return 1;
            }
            times.push_back(ms);
        }
        std::printf("%-4s recognised by %-7s median %7.1f ms  min %7.1f  max %7.1f  (%d runs)\n",
                    portal.key, portal.resultPath.isEmpty() ? "content" : "URL", median(times),
                    *std::min_element(times.begin(), times.end()),
                    *std::max_element(times.begin(), times.end()), runs);
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int runs = 7;
    for (int i = 1; i < argc; ++i) {
        if (qstrnicmp(argv[i], "--type=", 7) == 0)
            runs = -1; // an engine helper: the entry runs it
        else if (runs > 0)
            runs = std::max(1, atoi(argv[i]));
    }
    return RunQuarvelProcess(
        argc, argv, [runs](QApplication&, const QStringList&) { return runBenchmark(runs); });
}
