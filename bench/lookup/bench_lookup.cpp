// Lookup latency, measured in the program's own window over the real engine:
// - a portal recognised by URL (AM, ES, BA): from the result page's finished load to the last
//   byte of the result block at the host;
// - a portal recognised by content (CCC, SP): from the moment the detection text appears in the
//   page to the last byte at the host.
// Prints the median and the spread of each over several lookups; the content portals with the
// look after a change switched off (the 500 ms watch alone) and on, in the same run. Then the
// CPU time of the window's process (and of its whole process tree) over ten seconds of a content
// portal's lookup on a static page and on a page that changes every millisecond.
//
//   bench_lookup [RUNS]
#include "EventLoopWait.h"
#include "HttpFixtureServer.h"
#include "ProcessTree.h"
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
#include <QUrlQuery>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

// Result pages written for the measure: every field of each portal's labels, and for the
// portals recognised by content a detection text that a script adds after one to one and a half
// seconds (at random, so that the moment falls anywhere within the 500 ms watch), announcing the
// moment, read from the page's clock (the system's wall clock, to a tenth of a millisecond),
// with a request of its own: the request may reach the server after the result has reached the
// host.
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
           "  var shown = performance.timeOrigin + performance.now();"
           "  document.body.appendChild(p);"
           "  fetch('/mark?t=' + shown);"
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

QString ListenOnLoopback(QTcpServer& host)
{
    host.listen(QHostAddress::LocalHost);
    return QString::number(host.serverPort());
}

// A fresh window whose host is the benchmark, as the host starts it.
struct LinkedWindow
{
    QTcpServer host;
    TForm1 window;
    QSignalSpy closed;
    std::unique_ptr<QTcpSocket> link;

    explicit LinkedWindow(bool earlyLook)
        : window({ListenOnLoopback(host)}), closed(&window, &TForm1::Closed)
    {
        window.ShowBox = [](const MessageBoxSpec&) {};
        window.EarlyLook = earlyLook;
        window.show();
    }

    // Connected, with the browser ready; false when either never came.
    bool ready()
    {
        if (!WaitFor([&] { return host.hasPendingConnections(); }, 30000))
            return false;
        link.reset(host.nextPendingConnection());
        return WaitFor([&] { return window.AddressPnl->isEnabled(); }, 30000);
    }
};

// One lookup in a fresh window; returns the milliseconds from the start mark to the last byte.
std::optional<double> lookupOnce(const Portal& portal, HttpFixtureServer& server, bool earlyLook)
{
    LinkedWindow linked(earlyLook);
    if (!linked.ready())
        return std::nullopt;
    TForm1& window = linked.window;
    QTcpSocket* const link = linked.link.get();
    const QSignalSpy& closed = linked.closed;

    QElapsedTimer clock;
    qint64 startNs = -1;
    qint64 endNs = -1;
    // Content portals: the page's moment of the result and the last byte's, in wall-clock ms.
    double shownMs = -1;
    double endMs = -1;
    QByteArray received;
    QObject::connect(link, &QTcpSocket::readyRead, [&] {
        received += link->readAll();
        if (received.endsWith(QByteArray(".\0\r\0\n\0", 6))) {
            endNs = clock.nsecsElapsed();
            endMs = std::chrono::duration<double, std::milli>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
        }
    });
    const QString resultUrl = server.url(portal.resultPath);
    QObject::connect(window.Chromium1, &TChromium::OnLoadEnd, [&](const TCefFrame& frame, int) {
        if (frame.IsMain() && !portal.resultPath.isEmpty() && frame.GetUrl() == resultUrl)
            startNs = clock.nsecsElapsed();
    });
    QObject::connect(&server, &HttpFixtureServer::requested, [&](const QString& target) {
        const QUrl url(target);
        if (url.path() == QStringLiteral("/mark"))
            shownMs = QUrlQuery(url).queryItemValue(QStringLiteral("t")).toDouble();
    });
    clock.start();

    window.cbUF->setCurrentIndex(portal.index);
    Q_EMIT window.cbUF->activated(portal.index);
    if (!portal.resultPath.isEmpty()) {
        if (!WaitFor([&] { return server.requests().contains(portal.queryPath); }, 20000))
            return std::nullopt;
        Spin(300);
        window.Chromium1->LoadURL(resultUrl);
    }
    if (!WaitFor([&] { return endNs >= 0; }, 20000))
        return std::nullopt;
    if (portal.resultPath.isEmpty())
        WaitFor([&] { return shownMs > 0; }, 5000);
    WaitFor([&] { return closed.count() > 0; }, 20000);
    QObject::disconnect(&server, nullptr, nullptr, nullptr);
    if (portal.resultPath.isEmpty())
        return shownMs > 0 ? std::optional<double>(endMs - shownMs) : std::nullopt;
    return startNs < 0 ? std::nullopt : std::optional<double>((endNs - startNs) / 1e6);
}

// A page of no result that changes every millisecond, or stays as it is.
QByteArray noResultPage(bool changing)
{
    QByteArray page = "<p>Aguarde...</p>" + kTable + "<p id=\"clock\"></p>";
    if (changing)
        page += "<script>setInterval(function () {"
                " document.getElementById('clock').textContent = performance.now(); }, 1);"
                "</script>";
    return page;
}

struct CpuUse
{
    double window = -1; // percent of one core
    double tree = -1;
    int looks = 0;
};

// CPU use over `seconds` of a content portal's lookup that finds no result, in a fresh window.
CpuUse cpuDuringLookup(const Portal& portal, HttpFixtureServer& server, bool changing,
                       bool earlyLook, int seconds)
{
    server.setPage(QUrl(portal.queryPath).path(), noResultPage(changing));
    LinkedWindow linked(earlyLook);
    if (!linked.ready())
        return {};
    TForm1& window = linked.window;
    const QSignalSpy& closed = linked.closed;
    int looks = 0;
    QObject::connect(window.Chromium1, &TChromium::OnChangedTextAvailable, [&] { ++looks; });
    window.cbUF->setCurrentIndex(portal.index);
    Q_EMIT window.cbUF->activated(portal.index);
    const QString queryUrl = server.url(portal.queryPath);
    bool loaded = false;
    QObject::connect(window.Chromium1, &TChromium::OnLoadEnd, [&](const TCefFrame& frame, int) {
        loaded = loaded || (frame.IsMain() && frame.GetUrl() == queryUrl);
    });
    if (!WaitFor([&] { return loaded; }, 20000))
        return {};
    Spin(1000);
    const qint64 self = ::getpid();
    const double windowBefore = CpuSeconds(self);
    const double treeBefore = TreeCpuSeconds(self);
    const int looksBefore = looks;
    QElapsedTimer clock;
    clock.start();
    Spin(seconds * 1000);
    const double wall = clock.nsecsElapsed() / 1e9;
    CpuUse use{(CpuSeconds(self) - windowBefore) / wall * 100,
               (TreeCpuSeconds(self) - treeBefore) / wall * 100, looks - looksBefore};
    window.close();
    WaitFor([&] { return closed.count() > 0; }, 20000);
    return use;
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
        const bool byContent = portal.resultPath.isEmpty();
        for (const bool earlyLook : {false, true}) {
            // The look after a change does nothing for a portal recognised by URL.
            if (!byContent && !earlyLook)
                continue;
            std::vector<double> times;
            for (int i = 0; i < runs; ++i) {
                const std::optional<double> ms = lookupOnce(portal, server, earlyLook);
                if (!ms) {
                    std::fprintf(stderr, "%s: lookup %d failed\n", portal.key, i);
                    return 1;
                }
                times.push_back(*ms);
            }
            std::printf("%-4s recognised by %-7s %-16s median %7.1f ms  min %7.1f  max %7.1f  "
                        "(%d runs)\n",
                        portal.key, byContent ? "content" : "URL",
                        byContent ? (earlyLook ? "early look on" : "early look off") : "",
                        median(times), *std::min_element(times.begin(), times.end()),
                        *std::max_element(times.begin(), times.end()), runs);
            std::fflush(stdout);
        }
    }

    const Portal& ccc = portals[3];
    const struct
    {
        const char* name;
        bool changing;
        bool earlyLook;
    } cpuCases[] = {{"static page, early look on", false, true},
                    {"page changing every 1 ms, early look off", true, false},
                    {"page changing every 1 ms, early look on", true, true}};
    constexpr int kCpuSeconds = 10;
    for (const auto& cpuCase : cpuCases) {
        const CpuUse use =
            cpuDuringLookup(ccc, server, cpuCase.changing, cpuCase.earlyLook, kCpuSeconds);
        if (use.window < 0) {
            std::fprintf(stderr, "cpu: %s failed\n", cpuCase.name);
            return 1;
        }
        std::printf("cpu over %d s, ccc lookup, %-40s window %5.1f %%  tree %5.1f %%  "
                    "looks after a change %d\n",
                    kCpuSeconds, cpuCase.name, use.window, use.tree, use.looks);
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
