#include "FaultHarness.h"

#include "portals/PortalTable.h"
#include "ui/CBNorva.h"

#include <QEventLoop>
#include <QFile>
#include <QTest>
#include <QUrl>
#include <QWebEngineView>
#include <algorithm>

namespace {

QString ReadSample(const QString& name)
{
    QFile file(QStringLiteral(QUARVEL_SOURCE_DIR "/tests/lookup/data/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

SampleResult Sample(const QString& key)
{
    SampleResult sample;
    sample.text = ReadSample(key + QStringLiteral(".txt"));
    sample.lines = ReadSample(key + QStringLiteral(".expected")).split(u'\n', Qt::SkipEmptyParts);
    return sample;
}

} // namespace

bool AcceptTurning(TestPeer& host, std::chrono::milliseconds timeout,
                   const std::function<bool()>& giveUp)
{
    return host.Accept(timeout, [&] {
        Spin(10);
        return !(giveUp && giveUp());
    });
}

// --- PortalSite ---

PortalSite::PortalSite()
{
    if (!server.listen(QHostAddress(QStringLiteral("127.0.0.1"))))
        return;
    const QString origin = server.origin();
    QStringList hosts;
    for (const char* key : {"ccc", "am", "es", "ba", "sp"})
        hosts << QLatin1String(key) + u'=' + origin;
    qputenv("QUARVEL_PORTAL_HOSTS", hosts.join(u',').toUtf8());
    for (const TURIEstado& portal : BuiltInPortals(PortalHostsFromEnvironment())) {
        m_query << portal.URLconsulta;
        m_result << (portal.URLresposta.endsWith(u'=') ? portal.URLresposta + QStringLiteral("1")
                                                       : portal.URLresposta);
    }
}

PortalSite::~PortalSite()
{
    qunsetenv("QUARVEL_PORTAL_HOSTS");
}

QString PortalSite::queryUrl(int portal) const
{
    return m_query.value(portal);
}

QString PortalSite::resultUrl(int portal) const
{
    return m_result.value(portal);
}

QString PortalSite::pathOf(const QString& url)
{
    return QUrl(url).path();
}

void PortalSite::setText(const QString& url, const QString& text, int delayMs)
{
    server.setPage(pathOf(url),
                   HttpFixtureServer::Page{text.toUtf8(), "text/plain; charset=utf-8", delayMs});
}

void PortalSite::setHtml(const QString& url, const QByteArray& html, int delayMs)
{
    server.setPage(pathOf(url), HttpFixtureServer::Page{html, "text/html; charset=utf-8", delayMs});
}

SampleResult AmSample(const QString& street)
{
    SampleResult sample = Sample(QStringLiteral("am"));
    if (street.isEmpty())
        return sample;
    const QString original = QStringLiteral("AVENIDA EDUARDO RIBEIRO");
    sample.text.replace(original, street);
    sample.lines.replaceInStrings(QStringLiteral("endereco=") + original,
                                  QStringLiteral("endereco=") + street);
    return sample;
}

SampleResult CccSample()
{
    return Sample(QStringLiteral("ccc"));
}

// --- FaultWindow ---

FaultWindow::FaultWindow(const QStringList& arguments)
{
    window = std::make_unique<TForm1>(arguments);
    window->ShowBox = [this](const MessageBoxSpec& box) { boxes.append(box.text); };
    closed = std::make_unique<QSignalSpy>(window.get(), &TForm1::Closed);
    QObject::connect(window->Chromium1, &TChromium::OnLoadEnd, [this](const TCefFrame& frame, int) {
        loads.append({frame.GetUrl(), frame.GetName()});
    });
    heartbeat.setInterval(20);
    QObject::connect(&heartbeat, &QTimer::timeout, [this] { ++beats; });
    heartbeat.start();
    window->show();
}

FaultWindow::~FaultWindow()
{
    heartbeat.stop();
    window.reset();
}

bool FaultWindow::waitReady(int ms) const
{
    return WaitFor(
        [this] {
            return window->windowTitle() == QStringLiteral("Quarvel") &&
                   loaded(QStringLiteral("about:blank"));
        },
        ms);
}

bool FaultWindow::loaded(const QString& url) const
{
    return std::any_of(loads.begin(), loads.end(),
                       [&](const std::pair<QString, QString>& load) { return load.first == url; });
}

void FaultWindow::pick(int index)
{
    window->cbUF->setCurrentIndex(index);
    Q_EMIT window->cbUF->activated(index);
}

bool FaultWindow::responsive(int ticks, int ms) const
{
    const int before = beats;
    return WaitFor([&] { return beats >= before + ticks; }, ms);
}

bool FaultWindow::waitClosed(int ms)
{
    return WaitFor([this] { return closed->count() > 0; }, ms);
}

bool FaultWindow::closeAndWait(int ms)
{
    window->close();
    return waitClosed(ms);
}

QWebEnginePage* FaultWindow::page() const
{
    QWebEngineView* view = window->Chromium1->GetBrowser();
    return view != nullptr ? view->page() : nullptr;
}

bool WaitFor(const std::function<bool()>& done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(2);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

void Spin(int ms)
{
    WaitFor([] { return false; }, ms);
}

qint64 ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
