#include "hostlink/SocketFd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
