#pragma once

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <memory>

// The single TCP connection to the host, owned and driven on the window thread.
//
// Observable rules: everything the host sends until it ends its stream is one message; it is
// a close command when it starts with "close", and then closeCommandReceived() is emitted after
// the link has disconnected. Any other message, a reset or the host's plain close leaves the link
// down. The link is opened at most once.
class HostLink : public QObject
{
    Q_OBJECT

public:
    explicit HostLink(QObject* parent = nullptr);
    ~HostLink() override; // closes a still-open socket in the orderly way

    // Blocking connect to 127.0.0.1:port. Fails at once for port 0, and on any socket error.
    bool Connect(std::uint16_t port);
    // Up: the socket is open and the host has not ended its stream.
    bool Connected() const;
    // Writes the closing notice whole; false on failure.
    bool WriteClosingNotice();
    // Writes the result block whole, then disconnects (always); false if anything failed.
    bool SendResultBlock(const QStringList& lines);
    // Orderly close of the program's side: shut down sending, then close. Never reopened.
    void Disconnect();

    // -1 marks the closing notice as sent; never reset.
    std::intptr_t Tag = 0;

Q_SIGNALS:
    // The host sent a close command and ended its stream; the link is already down.
    void closeCommandReceived();
    // The link went down without a close command (host's close, reset, other message).
    void linkDown();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
