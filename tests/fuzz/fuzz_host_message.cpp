// The host's incoming message through a real HostLink on a loopback connection: arbitrary
// bytes in arbitrary chunks, then the end of the host's stream. The outcome must be exactly one
// of the two signals, the close command exactly when the bytes start with "close".
//
// Input: byte 0 holds flags (bit 0: the host ends with close() rather than a shutdown of its
// sending side; bit 1: the program sends its closing notice before chunk byte 1 % 8; bits 2-4:
// how many chunk-size bytes follow byte 1). Then the chunk-size bytes, used in turn, then the
// message itself.
#include "FuzzCheck.h"
#include "hostlink/HostLink.h"
#include "hostlink/WireFormat.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

int g_listenFd = -1;
std::uint16_t g_port = 0;

void StartListening()
{
    g_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(g_listenFd >= 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    FUZZ_CHECK(::bind(g_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    FUZZ_CHECK(::listen(g_listenFd, 4) == 0);
    FUZZ_CHECK(::getsockname(g_listenFd, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    g_port = ntohs(address.sin_port);
}

// A chunk size from one input byte: small sizes often, up to 224 KiB (beyond the link's read
// size and the kernel's buffer) now and then.
qsizetype ChunkSize(std::uint8_t b)
{
    return b < 200 ? b + 1 : qsizetype(b - 199) * 8192;
}

// Sends everything while the event loop runs, so that the link reads on its own schedule and
// a chunk larger than the kernel's buffer cannot block this single thread.
void SendAll(int fd, QByteArrayView bytes)
{
    QElapsedTimer timer;
    timer.start();
    while (!bytes.isEmpty()) {
        const ssize_t n = ::send(fd, bytes.data(), static_cast<std::size_t>(bytes.size()),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            bytes = bytes.sliced(n);
            continue;
        }
        FUZZ_CHECK(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
        // The link takes what is waiting whenever the event loop turns; it must keep up.
        FUZZ_CHECK(timer.elapsed() < 10000);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

// Reads what the program sent until its end of stream (bounded).
QByteArray ReadUntilEnd(int fd, bool& ended)
{
    QByteArray bytes;
    ended = false;
    char buffer[4096];
    for (int turns = 0; turns < 500; ++turns) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) {
            QCoreApplication::processEvents();
            continue;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            bytes.append(buffer, n);
            continue;
        }
        ended = n == 0;
        return bytes;
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static int argc = 1;
    static char name[] = "fuzz_host_message";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr)
        new QCoreApplication(argc, argv);
    if (g_listenFd < 0)
        StartListening();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const bool endByClose = (data[0] & 1) != 0;
    const bool sendNotice = (data[0] & 2) != 0;
    const std::size_t noticeBefore = data[1] % 8;
    const std::size_t sizeBytes = std::min<std::size_t>((data[0] >> 2) & 7, size - 2);
    const std::uint8_t* sizes = data + 2;
    const QByteArrayView message(data + 2 + sizeBytes,
                                 static_cast<qsizetype>(size - 2 - sizeBytes));

    int closeCommands = 0;
    int linkDowns = 0;
    HostLink link;
    link.SetWaits(2000ms, 200ms);
    QObject::connect(&link, &HostLink::closeCommandReceived, [&] { ++closeCommands; });
    QObject::connect(&link, &HostLink::linkDown, [&] { ++linkDowns; });
    FUZZ_CHECK(link.Connect(g_port));
    const int host = ::accept4(g_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    FUZZ_CHECK(host >= 0);

    bool noticeSent = false;
    auto maybeSendNotice = [&](std::size_t chunkIndex) {
        if (!sendNotice || noticeSent || chunkIndex != noticeBefore)
            return;
        // The host has not ended its stream yet: the link is up and the notice is due.
        FUZZ_CHECK(link.SendClosingNoticeIfDue() == HostLink::ClosingNoticeOutcome::Sent);
        noticeSent = true;
    };

    std::size_t chunk = 0;
    QByteArrayView left = message;
    while (!left.isEmpty()) {
        maybeSendNotice(chunk);
        const qsizetype n = sizeBytes == 0
                                ? left.size()
                                : std::min(left.size(), ChunkSize(sizes[chunk % sizeBytes]));
        SendAll(host, left.first(n));
        left = left.sliced(n);
        ++chunk;
        QCoreApplication::processEvents();
        FUZZ_CHECK(closeCommands + linkDowns == 0); // nothing is decided before the end
        FUZZ_CHECK(link.Connected());
    }
    maybeSendNotice(chunk);

    // The notice is read before a close() so that the host's close is an orderly end.
    QByteArray received;
    if (noticeSent) {
        for (int turns = 0; turns < 500 && received.size() < ClosingNotice().size(); ++turns) {
            char buffer[64];
            pollfd p{host, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                const ssize_t n = ::recv(host, buffer, sizeof buffer, MSG_DONTWAIT);
                FUZZ_CHECK(n > 0);
                received.append(buffer, n);
            }
        }
        FUZZ_CHECK(received == ClosingNotice());
    }
    if (endByClose)
        ::close(host);
    else
        ::shutdown(host, SHUT_WR);

    QElapsedTimer timer;
    timer.start();
    while (closeCommands + linkDowns == 0 && timer.elapsed() < 10000) {
        QCoreApplication::processEvents();
        ::poll(nullptr, 0, 1);
    }
    QCoreApplication::processEvents();

    FUZZ_CHECK(closeCommands + linkDowns == 1);
    FUZZ_CHECK((closeCommands == 1) == message.startsWith(QByteArrayView("close")));
    FUZZ_CHECK(!link.Connected());
    FUZZ_CHECK(link.SendClosingNoticeIfDue() == HostLink::ClosingNoticeOutcome::NotDue);
    FUZZ_CHECK(!link.SendResultBlock({QStringLiteral("cep=")}));

    if (!endByClose) {
        // The program answers nothing more, and ends its stream in the orderly way.
        bool ended = false;
        received = ReadUntilEnd(host, ended);
        FUZZ_CHECK(received.isEmpty());
        FUZZ_CHECK(ended);
        ::close(host);
    }
    return 0;
}
