#pragma once

#include "StreamDecoder.h"
#include "hostlink/SocketFd.h"

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <memory>

class QSocketNotifier;

struct HostOptions
{
    std::uint16_t port = 0;   // 0: an ephemeral port
    double closeAfter = -1;   // seconds after the connection; negative: never send "close"
    double timeout = 0;       // overall limit in seconds; 0: none
    QString runPath;          // program started with the port as its first argument
    QStringList runArguments; // its further arguments
};

// One run of the host side: listens on 127.0.0.1, takes the program's connection, prints an
// event line on standard output for everything that happens, and ends with finished().
class HostSession : public QObject
{
    Q_OBJECT

public:
    explicit HostSession(HostOptions options, QObject* parent = nullptr);
    ~HostSession() override;

    // Listens (printing "listening 127.0.0.1:PORT") and starts the program if asked.
    bool Start(QString* error);

Q_SIGNALS:
    // 0 when a well-formed result block arrived and nothing went wrong, else 1.
    void finished(int exitCode);

private:
    void Print(const QString& event);
    void PrintAll(const QStringList& events);
    void OnIncomingConnection();
    void OnReadable();
    void EndConnection(const QString& how);
    void SendClose();
    void OnTimeout();
    void OnChildFinished(int exitCode, QProcess::ExitStatus status);
    void OnChildError(QProcess::ProcessError error);
    void MaybeFinish();

    HostOptions options;
    // Declared before the notifiers, so that each notifier goes before its descriptor.
    SocketFd listenFd;
    SocketFd connectionFd;
    std::uint16_t port = 0;
    std::unique_ptr<QSocketNotifier> listenNotifier;
    std::unique_ptr<QSocketNotifier> connectionNotifier;
    QTimer closeTimer;
    QTimer overallTimer;
    QProcess child;
    StreamDecoder decoder;
    bool accepted = false;
    bool connectionEnded = false;
    bool childRunning = false;
    bool childKilled = false;
    bool failed = false; // an error line was printed
    bool done = false;
};
