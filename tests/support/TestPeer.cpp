#include "TestPeer.h"

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

SocketFd ListenForTest(std::uint16_t* port, int receiveBuffer = 0)
{
    LoopbackListenOptions options;
    options.receiveBuffer = receiveBuffer;
    return ListenOnLoopback(options, port);
}

} // namespace

TestPeer::TestPeer(int receiveBuffer)
{
    listenFd = ListenForTest(&port, receiveBuffer);
}

TestPeer::~TestPeer() = default;

bool TestPeer::Accept(std::chrono::milliseconds timeout, const std::function<bool()>& keepWaiting)
{
    if (connFd.valid())
        return true;
    const Clock::time_point deadline = Clock::now() + timeout;
    while (listenFd.valid()) {
        pollfd p{listenFd.get(), POLLIN, 0};
        const int rc = ::poll(&p, 1, keepWaiting ? 0 : MillisLeft(deadline));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc == 1) {
            connFd.reset(::accept4(listenFd.get(), nullptr, nullptr, SOCK_CLOEXEC));
            return connFd.valid();
        }
        if (MillisLeft(deadline) == 0 || (keepWaiting && !keepWaiting()))
            return false;
    }
    return false;
}

void TestPeer::CloseListener()
{
    listenFd.reset();
}

bool TestPeer::ConnectTo(std::uint16_t to)
{
    connFd = ConnectToLoopback(to);
    return connFd.valid();
}

bool TestPeer::Send(QByteArrayView bytes)
{
    const char* p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::send(connFd.get(), p, static_cast<std::size_t>(left), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

void TestPeer::ShutdownWrite()
{
    ::shutdown(connFd.get(), SHUT_WR);
}

void TestPeer::Close()
{
    connFd.reset();
}

void TestPeer::Reset()
{
    linger option{1, 0};
    ::setsockopt(connFd.get(), SOL_SOCKET, SO_LINGER, &option, sizeof option);
    Close();
}

TestPeer::Received TestPeer::ReadUntilEnd(std::chrono::milliseconds timeout, qsizetype limit)
{
    Received result;
    if (!connFd.valid())
        return result;
    const Clock::time_point deadline = Clock::now() + timeout;
    char buffer[65536];
    while (limit < 0 || result.bytes.size() < limit) {
        pollfd p{connFd.get(), POLLIN, 0};
        const int rc = ::poll(&p, 1, MillisLeft(deadline));
        if (rc == 0) {
            result.timedOut = true;
            return result;
        }
        if (rc < 0 && errno == EINTR)
            continue;
        const ssize_t n = ::recv(connFd.get(), buffer, sizeof buffer, 0);
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

QByteArray TestPeer::ReadFor(std::chrono::milliseconds wait)
{
    QByteArray bytes;
    if (!connFd.valid())
        return bytes;
    const Clock::time_point deadline = Clock::now() + wait;
    char buffer[65536];
    for (;;) {
        pollfd p{connFd.get(), POLLIN, 0};
        if (::poll(&p, 1, MillisLeft(deadline)) <= 0)
            return bytes;
        const ssize_t n = ::recv(connFd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            return bytes;
        bytes.append(buffer, n);
    }
}

std::uint16_t UnusedPort()
{
    std::uint16_t port = 0;
    ListenForTest(&port); // released at once
    return port;
}

RefusingPort::RefusingPort() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd.valid() && ::bind(m_fd.get(), reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0)
        m_port = ntohs(address.sin_port);
}
