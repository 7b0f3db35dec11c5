#pragma once

#include <cstdint>

// Owns one socket's file descriptor: closes it when destroyed or reset; moves, never copies.
class SocketFd
{
public:
    SocketFd() = default;
    explicit SocketFd(int fd) : m_fd(fd) {}
    ~SocketFd() { reset(); }
    SocketFd(SocketFd&& other) noexcept : m_fd(other.release()) {}
    SocketFd& operator=(SocketFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    SocketFd(const SocketFd&) = delete;
    SocketFd& operator=(const SocketFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes the descriptor held (keeping errno as it was) and takes fd instead.
    void reset(int fd = -1);
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd = -1;
};

struct LoopbackListenOptions
{
    std::uint16_t port = 0; // 0: an ephemeral port
    int socketFlags = 0;    // extra socket() type flags besides SOCK_CLOEXEC
    bool reuseAddress = false;
    int receiveBuffer = 0; // > 0: SO_RCVBUF, set before listen so accepted sockets inherit it
};

// A blocking TCP connection from an ephemeral local port to 127.0.0.1:port (never resolved).
// Invalid on failure, with errno telling why.
SocketFd ConnectToLoopback(std::uint16_t port);

// A TCP socket listening on 127.0.0.1, with the port it got in *boundPort. Invalid on failure,
// with errno telling why.
SocketFd ListenOnLoopback(const LoopbackListenOptions& options, std::uint16_t* boundPort);
