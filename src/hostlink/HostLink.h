#pragma once

#include <QObject>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <memory>

// The single TCP connection to the host, owned and driven on the window thread.
//
// Observable rules: everything the host sends until it ends its stream is one message; it is
// a close command when it starts with "close", and then closeCommandReceived() is emitted after
// the link has disconnected. Any other message, a reset or the host's plain close leaves the link
// down. The link is opened at most once.
//
// Incoming bytes are read as they arrive (a socket notifier on the owner's thread); only the
// first bytes of the host's message are kept, the rest is discarded. Writes go straight to the
// kernel, so nothing can stay behind in a user-space buffer when the program exits.
//
// Why POSIX sockets and not QTcpSocket: the link must shut down only its sending side (the
// host reads the end of the block as end of stream) and then keep reading until the host ends
// its own side, because closing with unread bytes sends a reset that can destroy what the host
// has not read yet. QTcpSocket can do neither: it has no half-close, and it closes itself as
// soon as the peer ends its stream.
class HostLink : public QObject
{
    Q_OBJECT

public:
    enum class ClosingNoticeOutcome
    {
        NotDue,
        Sent,
        Failed
    };

    // How much of the host's message is kept; the decision needs only the first five bytes.
    static constexpr qsizetype kKeptPrefix = 64;
    // A write that makes no progress for this long fails (a host that never reads).
    static constexpr std::chrono::milliseconds kDefaultWriteStall{5000};
    // At destruction, how long to wait for the host's end of stream before closing.
    static constexpr std::chrono::milliseconds kDefaultCloseWait{2000};

    explicit HostLink(QObject* parent = nullptr);
    // Shuts down the sending side if still open, waits (at most the close wait) for the host's
    // end of stream while discarding what it sends, then closes.
    ~HostLink() override;

    // Blocking connect to 127.0.0.1:port. Fails at once for port 0, and on any socket error.
    // Only the first call may connect; the link is never reopened.
    bool Connect(std::uint16_t port);
    // Up: connected, the program has not disconnected and the host has not ended its stream.
    bool Connected() const;
    // The closing-notice step of a close query: when the link is up and Tag is not -1, writes
    // "client-closing" CR LF whole and sets Tag to -1 (Sent). Failed leaves Tag unchanged.
    ClosingNoticeOutcome SendClosingNoticeIfDue();
    // Writes the result block whole, then disconnects (always); false if anything failed.
    bool SendResultBlock(const QStringList& lines);
    // Orderly close of the program's side: shut down sending, keep reading and discarding
    // until the host ends its stream, then close. Emits nothing. Never reopened.
    void Disconnect();

    // Tunables, for tests and tools; the defaults suit the program.
    void SetWaits(std::chrono::milliseconds writeStall, std::chrono::milliseconds closeWait);

    // -1 marks the closing notice as sent; never reset.
    std::intptr_t Tag = 0;

Q_SIGNALS:
    // The host sent a close command and ended its stream; the link is already down.
    void closeCommandReceived();
    // The link went down on the host's side without a close command (its close, a reset, a
    // socket error, any other message). Not emitted for the program's own Disconnect.
    void linkDown();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
