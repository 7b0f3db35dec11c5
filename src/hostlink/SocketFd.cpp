#include "hostlink/SocketFd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Blocking connect. A signal may interrupt it; the attempt then goes on in the kernel and is
// waited for without a limit, as the uninterrupted call would be.
bool ConnectBlocking(int fd, const sockaddr_in& to)
{
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
        return true;
    if (errno != EINTR)
        return false;
    for (;;) {
        pollfd p{fd, POLLOUT, 0};
        const int rc = ::poll(&p, 1, -1);
        if (rc > 0)
            break;
        if (rc < 0 && errno != EINTR)
            return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

} // namespace

void SocketFd::reset(int fd)
{
    if (m_fd >= 0 && m_fd != fd) {
        const int saved = errno;
        ::close(m_fd);
        errno = saved;
    }
    m_fd = fd;
}

SocketFd ListenOnLoopback(const LoopbackListenOptions& options, std::uint16_t* boundPort)
{
    SocketFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | options.socketFlags, 0));
    if (!socket.valid())
        return socket;
    const int fd = socket.get();
    if (options.reuseAddress) {
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    if (options.receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &options.receiveBuffer,
                     sizeof options.receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(options.port);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        socket.reset();
        return socket;
    }
    if (boundPort != nullptr)
        *boundPort = ntohs(address.sin_port);
    return socket;
}

SocketFd ConnectToLoopback(std::uint16_t port)
{
    SocketFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid())
        return socket;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    sockaddr_in host{};
    host.sin_family = AF_INET;
    host.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    host.sin_port = htons(port);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        !ConnectBlocking(socket.get(), host))
        socket.reset();
    return socket;
}
