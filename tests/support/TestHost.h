#pragma once

#include <QByteArray>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

// The host on Qt's sockets: listens on 127.0.0.1 and keeps what the program sends, read as the
// event loop turns. Qt closes this side as soon as the program ends its stream, which lets the
// program's orderly close finish at once.
class TestHost
{
public:
    TestHost();
    ~TestHost();

    QString port() const { return QString::number(server.serverPort()); }

    // Takes the program's connection once it comes (the event loop turns meanwhile).
    bool waitForConnection(int ms = 30000);
    // Waits until the program has ended its stream and the link is down.
    bool waitForEnd(int ms = 30000);
    // Everything received so far, including what sits unread in the socket now.
    QByteArray received();
    // Reads without the event loop (from inside a message box) until size bytes are in or the
    // stream has ended.
    void pull(qsizetype size, int ms = 5000);

    QTcpServer server;
    std::unique_ptr<QTcpSocket> link;
    QByteArray data;
    bool ended = false;
};
