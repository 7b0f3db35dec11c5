#include "TestHost.h"

#include "EventLoopWait.h"

#include <QDeadlineTimer>
#include <gtest/gtest.h>

TestHost::TestHost()
{
    EXPECT_TRUE(server.listen(QHostAddress::LocalHost));
}

TestHost::~TestHost()
{
    if (link != nullptr)
        QObject::disconnect(link.get(), nullptr, nullptr, nullptr);
}

bool TestHost::waitForConnection(int ms)
{
    if (link == nullptr && WaitFor([&] { return server.hasPendingConnections(); }, ms)) {
        link.reset(server.nextPendingConnection());
        QTcpSocket* socket = link.get();
        QObject::connect(socket, &QTcpSocket::readyRead,
                         [this, socket] { data += socket->readAll(); });
        QObject::connect(socket, &QTcpSocket::readChannelFinished,
                         [this, socket] { data += socket->readAll(); });
        QObject::connect(socket, &QTcpSocket::disconnected, [this] { ended = true; });
    }
    return link != nullptr;
}

bool TestHost::waitForEnd(int ms)
{
    return WaitFor([&] { return ended; }, ms);
}

QByteArray TestHost::received()
{
    if (link != nullptr) {
        // Loopback delivers a write at once: what the program has sent is in the socket now.
        if (link->state() == QAbstractSocket::ConnectedState)
            link->waitForReadyRead(0);
        data += link->readAll();
    }
    return data;
}

void TestHost::pull(qsizetype size, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (link != nullptr && !ended && data.size() < size && !deadline.hasExpired())
        link->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
}
