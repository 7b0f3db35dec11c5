#include "HostSession.h"

#include <QSocketNotifier>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int Milliseconds(double seconds)
{
    return static_cast<int>(std::lround(seconds * 1000.0));
}

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

HostSession::HostSession(HostOptions opts, QObject* parent)
    : QObject(parent), options(std::move(opts))
{
    closeTimer.setSingleShot(true);
    overallTimer.setSingleShot(true);
    connect(&closeTimer, &QTimer::timeout, this, &HostSession::SendClose);
    connect(&overallTimer, &QTimer::timeout, this, &HostSession::OnTimeout);
    connect(&child, &QProcess::finished, this, &HostSession::OnChildFinished);
    connect(&child, &QProcess::errorOccurred, this, &HostSession::OnChildError);
    // Standard output carries only events; the program's own output goes to standard error.
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&child, &QProcess::readyReadStandardOutput, this, [this] {
        const QByteArray out = child.readAllStandardOutput();
        std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stderr);
    });
}

HostSession::~HostSession()
{
    if (child.state() != QProcess::NotRunning) {
        child.kill();
        child.waitForFinished(2000);
    }
}

bool HostSession::Start(QString* error)
{
    LoopbackListenOptions listen;
    listen.port = options.port;
    listen.socketFlags = SOCK_NONBLOCK;
    listen.reuseAddress = true;
    listenFd = ListenOnLoopback(listen, &port);
    if (!listenFd.valid()) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                     .arg(options.port)
                     .arg(ErrnoText(errno));
        return false;
    }
    Print(QStringLiteral("listening 127.0.0.1:%1").arg(port));

    listenNotifier = std::make_unique<QSocketNotifier>(listenFd.get(), QSocketNotifier::Read);
    connect(listenNotifier.get(), &QSocketNotifier::activated, this,
            &HostSession::OnIncomingConnection);
    if (options.timeout > 0)
        overallTimer.start(Milliseconds(options.timeout));

    if (!options.runPath.isEmpty()) {
        child.setProgram(options.runPath);
        child.setArguments(QStringList{QString::number(port)} + options.runArguments);
        childRunning = true;
        child.start();
        if (child.waitForStarted(10000))
            Print(QLatin1String("started ") + options.runPath);
        // A failure to start is reported by OnChildError.
    }
    return true;
}

void HostSession::Print(const QString& event)
{
    if (event.startsWith(QLatin1String("error: ")))
        failed = true;
    const QByteArray bytes = event.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void HostSession::PrintAll(const QStringList& events)
{
    for (const QString& event : events)
        Print(event);
}

void HostSession::OnIncomingConnection()
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    SocketFd fd(::accept4(listenFd.get(), reinterpret_cast<sockaddr*>(&peer), &length,
                          SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid())
        return; // gone before it was taken; nothing to report
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    const QString from = QStringLiteral("%1:%2").arg(QLatin1String(text)).arg(ntohs(peer.sin_port));

    if (accepted || done) {
        // The program connects once; anything more is a fault worth seeing.
        fd.reset();
        Print(QLatin1String("error: another connection from ") + from + QLatin1String(" refused"));
        return;
    }
    accepted = true;
    connectionFd = std::move(fd);
    Print(QLatin1String("accepted ") + from);
    connectionNotifier =
        std::make_unique<QSocketNotifier>(connectionFd.get(), QSocketNotifier::Read);
    connect(connectionNotifier.get(), &QSocketNotifier::activated, this, &HostSession::OnReadable);
    if (options.closeAfter >= 0)
        closeTimer.start(Milliseconds(options.closeAfter));
}

void HostSession::OnReadable()
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(connectionFd.get(), buffer, sizeof buffer, 0);
        if (n > 0) {
            PrintAll(decoder.Feed(QByteArrayView(buffer, n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n == 0)
            EndConnection(QStringLiteral("end-of-stream"));
        else if (errno == ECONNRESET)
            EndConnection(QStringLiteral("error: connection reset"));
        else
            EndConnection(QLatin1String("error: receive failed: ") + ErrnoText(errno));
        return;
    }
}

void HostSession::EndConnection(const QString& how)
{
    Print(how);
    PrintAll(decoder.Finish());
    closeTimer.stop();
    connectionNotifier.reset();
    connectionFd.reset(); // everything was read, so this is an orderly close
    connectionEnded = true;
    MaybeFinish();
}

void HostSession::SendClose()
{
    if (!connectionFd.valid())
        return;
    static constexpr char kClose[] = "close";
    const ssize_t n = ::send(connectionFd.get(), kClose, sizeof kClose - 1, MSG_NOSIGNAL);
    if (n != static_cast<ssize_t>(sizeof kClose - 1)) {
        Print(QLatin1String("error: cannot send close: ") +
              (n < 0 ? ErrnoText(errno) : QStringLiteral("partial write")));
        return;
    }
    // The message ends with the end of our stream; the program acts on it only then.
    ::shutdown(connectionFd.get(), SHUT_WR);
    Print(QStringLiteral("sent close"));
}

void HostSession::OnTimeout()
{
    // Nothing after this line but the program's end.
    done = true;
    closeTimer.stop();
    connectionNotifier.reset();
    listenNotifier.reset();
    Print(QStringLiteral("error: timeout"));
    if (child.state() != QProcess::NotRunning) {
        childKilled = true;
        child.kill();
        child.waitForFinished(2000);
    }
    Q_EMIT finished(1);
}

void HostSession::OnChildFinished(int exitCode, QProcess::ExitStatus status)
{
    if (!childRunning)
        return;
    childRunning = false;
    if (childKilled)
        Print(QStringLiteral("quarvel killed"));
    else if (status == QProcess::CrashExit)
        Print(QStringLiteral("error: quarvel crashed"));
    else
        Print(QStringLiteral("quarvel exited %1").arg(exitCode));
    MaybeFinish();
}

void HostSession::OnChildError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || !childRunning)
        return;
    childRunning = false;
    Print(QLatin1String("error: quarvel failed to start: ") + child.errorString());
    MaybeFinish();
}

void HostSession::MaybeFinish()
{
    if (done || childRunning)
        return;
    if (accepted && !connectionEnded)
        return; // the program's end of stream comes soon after it exits
    if (!accepted) {
        if (options.runPath.isEmpty())
            return; // wait for a connection (bounded by --timeout)
        Print(QStringLiteral("error: no connection"));
    }
    done = true;
    overallTimer.stop();
    Q_EMIT finished(decoder.WellFormedBlock() && !failed ? 0 : 1);
}
