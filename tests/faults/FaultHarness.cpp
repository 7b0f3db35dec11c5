#include "FaultHarness.h"

#include "portals/PortalTable.h"
#include "ui/CBNorva.h"

#include <QEventLoop>
#include <QFile>
#include <QTest>
#include <QUrl>
#include <QWebEngineView>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

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

// --- FaultHost ---

FaultHost::FaultHost(int receiveBuffer)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    // Before listen, so that the accepted socket inherits the small window.
    if (receiveBuffer > 0)
        ::setsockopt(m_listenFd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(m_listenFd, 4) == 0 &&
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        m_port = ntohs(address.sin_port);
}

FaultHost::~FaultHost()
{
    close();
    closeListener();
}

bool FaultHost::accept(std::chrono::milliseconds timeout, const std::function<bool()>& giveUp)
{
    if (m_fd >= 0)
        return true;
    // The program connects from inside the window's event loop: keep it turning meanwhile.
    const Clock::time_point deadline = Clock::now() + timeout;
    while (m_listenFd >= 0) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, 0) == 1) {
            m_fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            return m_fd >= 0;
        }
        if (MillisLeft(deadline) == 0 || (giveUp && giveUp()))
            return false;
        Spin(10);
    }
    return false;
}

void FaultHost::closeListener()
{
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    m_listenFd = -1;
}

bool FaultHost::send(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t n =
            ::send(m_fd, bytes.data(), static_cast<std::size_t>(bytes.size()), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.sliced(n);
    }
    return true;
}

void FaultHost::shutdownWrite()
{
    ::shutdown(m_fd, SHUT_WR);
}

void FaultHost::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void FaultHost::reset()
{
    linger option{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    close();
}

FaultHost::Received FaultHost::readUntilEnd(std::chrono::milliseconds timeout, qsizetype limit)
{
    Received result;
    if (m_fd < 0)
        return result;
    const Clock::time_point deadline = Clock::now() + timeout;
    char buffer[65536];
    while (limit < 0 || result.bytes.size() < limit) {
        pollfd p{m_fd, POLLIN, 0};
        const int rc = ::poll(&p, 1, MillisLeft(deadline));
        if (rc == 0) {
            result.timedOut = true;
            return result;
        }
        if (rc < 0 && errno == EINTR)
            continue;
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            result.bytes.append(buffer, n);
        } else if (n == 0) {
            result.endOfStream = true;
            return result;
        } else if (errno != EINTR) {
            result.error = errno;
            return result;
        }
    }
    return result;
}

QByteArray FaultHost::readFor(std::chrono::milliseconds wait)
{
    QByteArray bytes;
    if (m_fd < 0)
        return bytes;
    const Clock::time_point deadline = Clock::now() + wait;
    char buffer[65536];
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, MillisLeft(deadline)) <= 0)
            return bytes;
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            return bytes;
        bytes.append(buffer, n);
    }
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
