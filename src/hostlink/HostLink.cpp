#include "hostlink/HostLink.h"

#include "hostlink/SocketFd.h"
#include "hostlink/WireFormat.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

enum class LinkState
{
    NotOpened, // no socket yet (or the connection attempt failed)
    Up,        // connected, both directions open
    Draining,  // the program shut down its sending side; discarding until the host's end
    Closed,    // socket closed; the link is down for the rest of the run
};

// What the host's end of stream meant, when this step reached it.
enum class HostEnd
{
    NotReached,
    CloseCommand,
    OtherMessage
};

constexpr std::size_t kReadSize = 32768;
// Reads per notifier activation, so that a host sending without pause cannot starve the
// event loop; the notifier fires again while bytes are left.
constexpr int kReadsPerTurn = 64;

// Waits until fd is ready for `events` or the deadline passes; false on timeout.
bool WaitUntil(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
        if (rc > 0)
            return true; // ready, or an error/hang-up the next call will report
        if (rc == 0)
            return false;
        if (errno != EINTR)
            return true; // let the following socket call report the failure
    }
}

} // namespace

struct HostLink::Private
{
    enum class WriteResult
    {
        Written,
        Stalled,
        SocketError
    };

    HostLink* q;
    SocketFd fd;
    LinkState state = LinkState::NotOpened;
    bool connectCalled = false;
    QByteArray prefix; // first bytes of the host's message, at most kKeptPrefix
    std::unique_ptr<QSocketNotifier> notifier;
    std::chrono::milliseconds writeStall = kDefaultWriteStall;
    std::chrono::milliseconds closeWait = kDefaultCloseWait;

    explicit Private(HostLink* owner) : q(owner) {}

    void CloseSocket()
    {
        if (notifier)
            notifier->setEnabled(false);
        fd.reset();
        state = LinkState::Closed;
    }

    // The host ended its stream (or the socket failed, which counts the same).
    HostEnd HostEnded()
    {
        const bool wasUp = state == LinkState::Up;
        // Everything received has been read, so closing sends FIN, never RST.
        if (wasUp)
            ::shutdown(fd.get(), SHUT_WR);
        CloseSocket();
        if (!wasUp)
            return HostEnd::NotReached; // the program had disconnected; nothing to report
        const HostEnd end = IsCloseCommand(prefix) ? HostEnd::CloseCommand : HostEnd::OtherMessage;
        prefix.clear();
        return end;
    }

    // Takes in what is ready without waiting. Only the first bytes of the message are kept.
    HostEnd Intake()
    {
        char buffer[kReadSize];
        for (int i = 0; i < kReadsPerTurn && fd.valid(); ++i) {
            const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
            if (n > 0) {
                if (state == LinkState::Up && prefix.size() < kKeptPrefix)
                    prefix.append(buffer, std::min<qsizetype>(n, kKeptPrefix - prefix.size()));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return HostEnd::NotReached;
            return HostEnded(); // end of stream, or a reset or other socket error
        }
        return HostEnd::NotReached;
    }

    void Announce(HostEnd end)
    {
        if (end == HostEnd::CloseCommand)
            Q_EMIT q->closeCommandReceived();
        else if (end == HostEnd::OtherMessage)
            Q_EMIT q->linkDown();
    }

    // For steps called by the window (a close query, a lookup's end): the signal must not
    // re-enter the caller, so it is delivered from the event loop.
    void AnnounceLater(HostEnd end)
    {
        if (end == HostEnd::NotReached)
            return;
        QMetaObject::invokeMethod(
            q, [this, end] { Announce(end); }, Qt::QueuedConnection);
    }

    // Notices a host end that already arrived, before anything is written.
    void TakeInPending()
    {
        if (state == LinkState::Up)
            AnnounceLater(Intake());
    }

    // Hands every byte to the kernel. Waits for room while the host does not read, but fails
    // after writeStall without any progress.
    WriteResult WriteAll(QByteArrayView bytes)
    {
        const char* p = bytes.data();
        qsizetype left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::send(fd.get(), p, static_cast<std::size_t>(left), MSG_NOSIGNAL);
            if (n > 0) {
                p += n;
                left -= n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!WaitUntil(fd.get(), POLLOUT, Clock::now() + writeStall))
                    return WriteResult::Stalled;
                continue;
            }
            return WriteResult::SocketError;
        }
        return WriteResult::Written;
    }

    // A failed write: a socket error is the host's end of stream; a stall leaves a partial
    // message on the wire, so the link cannot be used again either.
    void AfterFailedWrite(WriteResult result)
    {
        if (result == WriteResult::SocketError)
            AnnounceLater(HostEnded());
        else
            q->Disconnect();
    }
};

HostLink::HostLink(QObject* parent) : QObject(parent), d(std::make_unique<Private>(this)) {}

HostLink::~HostLink()
{
    d->notifier.reset();
    if (!d->fd.valid())
        return;
    if (d->state == LinkState::Up)
        ::shutdown(d->fd.get(), SHUT_WR);
    // Closing while received bytes are unread would send RST, which can destroy what the host
    // has not read yet; so wait (bounded) for the host's end of stream, discarding its data.
    const Clock::time_point deadline = Clock::now() + d->closeWait;
    char buffer[kReadSize];
    while (Clock::now() < deadline) {
        const ssize_t n = ::recv(d->fd.get(), buffer, sizeof buffer, 0);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitUntil(d->fd.get(), POLLIN, deadline))
                break;
            continue;
        }
        break; // end of stream or socket error
    }
    d->fd.reset();
}

bool HostLink::Connect(std::uint16_t port)
{
    if (d->connectCalled)
        return false;
    d->connectCalled = true;
    if (port == 0)
        return false;

    SocketFd socket = ConnectToLoopback(port);
    const int fd = socket.get();
    if (!socket.valid() || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0)
        return false;

    d->fd = std::move(socket);
    d->state = LinkState::Up;
    d->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this,
            [this] { d->Announce(d->Intake()); });
    return true;
}

bool HostLink::Connected() const
{
    return d->state == LinkState::Up;
}

HostLink::ClosingNoticeOutcome HostLink::SendClosingNoticeIfDue()
{
    d->TakeInPending();
    if (!Connected() || Tag == -1)
        return ClosingNoticeOutcome::NotDue;
    const Private::WriteResult result = d->WriteAll(ClosingNotice());
    if (result != Private::WriteResult::Written) {
        d->AfterFailedWrite(result);
        return ClosingNoticeOutcome::Failed;
    }
    Tag = -1;
    return ClosingNoticeOutcome::Sent;
}

bool HostLink::SendResultBlock(const QStringList& lines)
{
    d->TakeInPending();
    bool ok = false;
    if (Connected()) {
        const Private::WriteResult result = d->WriteAll(EncodeResultBlock(lines));
        ok = result == Private::WriteResult::Written;
        if (!ok)
            d->AfterFailedWrite(result);
    }
    Disconnect();
    return ok;
}

void HostLink::Disconnect()
{
    if (d->state != LinkState::Up)
        return;
    // The host reads the end of the stream right after the last byte sent. The socket stays
    // open, read and discarded, until the host ends its side: closing earlier with unread
    // bytes would reset the connection.
    if (::shutdown(d->fd.get(), SHUT_WR) != 0) {
        d->CloseSocket();
        return;
    }
    d->state = LinkState::Draining;
    d->prefix.clear();
}

void HostLink::SetWaits(std::chrono::milliseconds writeStall, std::chrono::milliseconds closeWait)
{
    d->writeStall = writeStall;
    d->closeWait = closeWait;
}
