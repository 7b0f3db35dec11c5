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

int ListenOnLoopback(std::uint16_t* port, int receiveBuffer = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    // Set before listen, so that the accepted socket inherits it and the window stays small.
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

} // namespace

TestPeer::TestPeer(int receiveBuffer)
{
    listenFd = ListenOnLoopback(&port, receiveBuffer);
}

TestPeer::~TestPeer()
{
    Close();
    CloseListener();
}

bool TestPeer::Accept(std::chrono::milliseconds timeout, const std::function<bool()>& keepWaiting)
{
    if (connFd >= 0)
        return true;
    const Clock::time_point deadline = Clock::now() + timeout;
    while (listenFd >= 0) {
        pollfd p{listenFd, POLLIN, 0};
        const int rc = ::poll(&p, 1, keepWaiting ? 0 : MillisLeft(deadline));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc == 1) {
            connFd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            return connFd >= 0;
        }
        if (MillisLeft(deadline) == 0 || (keepWaiting && !keepWaiting()))
            return false;
    }
    return false;
}

void TestPeer::CloseListener()
{
    if (listenFd >= 0)
        ::close(listenFd);
    listenFd = -1;
}

bool TestPeer::ConnectTo(std::uint16_t to)
{
    connFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(to);
    return connFd >= 0 &&
           ::connect(connFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool TestPeer::Send(QByteArrayView bytes)
{
    const char* p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::send(connFd, p, static_cast<std::size_t>(left), MSG_NOSIGNAL);
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
    ::shutdown(connFd, SHUT_WR);
}

void TestPeer::Close()
{
    if (connFd >= 0)
        ::close(connFd);
    connFd = -1;
}

void TestPeer::Reset()
{
    linger option{1, 0};
    ::setsockopt(connFd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    Close();
}

TestPeer::Received TestPeer::ReadUntilEnd(std::chrono::milliseconds timeout, qsizetype limit)
{
    Received result;
    if (connFd < 0)
        return result;
    const Clock::time_point deadline = Clock::now() + timeout;
    char buffer[65536];
    while (limit < 0 || result.bytes.size() < limit) {
        pollfd p{connFd, POLLIN, 0};
        const int rc = ::poll(&p, 1, MillisLeft(deadline));
        if (rc == 0) {
            result.timedOut = true;
            return result;
        }
        if (rc < 0 && errno == EINTR)
            continue;
        const ssize_t n = ::recv(connFd, buffer, sizeof buffer, 0);
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
    if (connFd < 0)
        return bytes;
    const Clock::time_point deadline = Clock::now() + wait;
    char buffer[65536];
    for (;;) {
        pollfd p{connFd, POLLIN, 0};
        if (::poll(&p, 1, MillisLeft(deadline)) <= 0)
            return bytes;
        const ssize_t n = ::recv(connFd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            return bytes;
        bytes.append(buffer, n);
    }
}

std::uint16_t UnusedPort()
{
    std::uint16_t port = 0;
    const int fd = ListenOnLoopback(&port);
    if (fd >= 0)
        ::close(fd);
    return port;
}
