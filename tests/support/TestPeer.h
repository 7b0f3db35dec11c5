#pragma once

#include "hostlink/SocketFd.h"

#include <QByteArray>
#include <QByteArrayView>
#include <chrono>
#include <cstdint>
#include <functional>

// The other end of a link for tests, on plain POSIX sockets: either the host (listening on
// 127.0.0.1 on an ephemeral port, with one accepted connection) or a stand-in for the program
// (ConnectTo). Blocking calls are bounded by timeouts.
class TestPeer
{
public:
    // receiveBuffer > 0 makes the kernel buffer small, so that data backs up in the program.
    explicit TestPeer(int receiveBuffer = 0);
    struct NoListen
    {};
    explicit TestPeer(NoListen) {}
    ~TestPeer();
    TestPeer(const TestPeer&) = delete;
    TestPeer& operator=(const TestPeer&) = delete;

    bool Listening() const { return listenFd.valid(); }
    std::uint16_t Port() const { return port; }

    // Accepts the program's connection (true at once when one was accepted already). With
    // keepWaiting, it is called between checks (to turn an event loop, say) and the wait ends
    // early once it returns false.
    bool Accept(std::chrono::milliseconds timeout = std::chrono::seconds(5),
                const std::function<bool()>& keepWaiting = nullptr);
    // Closes the listening socket; a connection not yet accepted is reset by the kernel.
    void CloseListener();
    // Connects to 127.0.0.1:port instead of listening (the program's role).
    bool ConnectTo(std::uint16_t port);
    bool Send(QByteArrayView bytes);
    void ShutdownWrite();
    void Close();
    // Closes with SO_LINGER 0, which resets the connection.
    void Reset();

    struct Received
    {
        QByteArray bytes;
        bool endOfStream = false; // an orderly end (read returned 0)
        int error = 0;            // errno of a failed read, e.g. ECONNRESET
        bool timedOut = false;
    };
    // Reads until the program's end of stream, an error, the timeout or `limit` bytes.
    Received ReadUntilEnd(std::chrono::milliseconds timeout = std::chrono::seconds(5),
                          qsizetype limit = -1);
    // Whatever arrives within `wait`, without requiring an end.
    QByteArray ReadFor(std::chrono::milliseconds wait);

    int ConnectionFd() const { return connFd.get(); }

private:
    SocketFd listenFd;
    SocketFd connFd;
    std::uint16_t port = 0;
};

// A port on 127.0.0.1 where nothing listens (bound, then released).
std::uint16_t UnusedPort();

// A port on 127.0.0.1 that refuses every connection for as long as this lives: bound, never
// listening. Unlike a released port, no connection can take it as its own local port meanwhile
// (a connection to a free port in the ephemeral range can meet itself and "succeed").
class RefusingPort
{
public:
    RefusingPort();
    std::uint16_t port() const { return m_port; }

private:
    SocketFd m_fd;
    std::uint16_t m_port = 0;
};
