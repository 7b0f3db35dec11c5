// The main window over the real engine, offscreen, with a host written in the test.
#include "ui/CBNorva.h"
#include "ui/MessageBox.h"
#include "ui/frmQuarvel.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebEngineView>
#include <gtest/gtest.h>
#include <memory>
#include <sys/socket.h>

namespace {

const QString kStarting = QStringLiteral("Iniciando navegador... Aguarde...");

// The host: listens on 127.0.0.1 and keeps what the program sends.
class TestHost
{
public:
    TestHost() { EXPECT_TRUE(server.listen(QHostAddress::LocalHost)); }

    QString port() const { return QString::number(server.serverPort()); }

    bool waitForConnection(int ms = 15000)
    {
        if (link == nullptr && QTest::qWaitFor([&] { return server.hasPendingConnections(); }, ms))
            link.reset(server.nextPendingConnection());
        return link != nullptr;
    }

    QByteArray received()
    {
        if (link != nullptr)
            data += link->readAll();
        return data;
    }

    QTcpServer server;
    std::unique_ptr<QTcpSocket> link;
    QByteArray data;
};

class WindowTest : public testing::Test
{
protected:
    std::unique_ptr<TForm1> makeWindow(const QStringList& arguments)
    {
        auto window = std::make_unique<TForm1>(arguments);
        window->ShowBox = [this](const MessageBoxSpec& box) { boxes.append(box.text); };
        closed = std::make_unique<QSignalSpy>(window.get(), &TForm1::Closed);
        return window;
    }

    static bool browserReady(const TForm1& window)
    {
        return window.windowTitle() == QStringLiteral("Quarvel");
    }

    QStringList boxes;
    std::unique_ptr<QSignalSpy> closed;
};

TEST_F(WindowTest, LayoutAndPortalListBeforeTheBrowserExists)
{
    TestHost host;
    auto window = makeWindow({host.port()});
    EXPECT_EQ(window->windowTitle(), kStarting);
    EXPECT_FALSE(window->AddressPnl->isEnabled());
    EXPECT_EQ(window->size(), QSize(996, 648));
    EXPECT_EQ(window->Label1->text(), QStringLiteral("Selecione a UF para consulta:"));
    EXPECT_TRUE(window->Label1->font().bold());
    EXPECT_EQ(window->cbUF->font().pixelSize(), 15);
    EXPECT_FALSE(window->cbUF->isEditable());

    const QStringList names{QStringLiteral("Cadastro Centralizado de Contribuinte"),
                            QStringLiteral("AM"), QStringLiteral("ES"), QStringLiteral("BA"),
                            QStringLiteral("SP")};
    ASSERT_EQ(window->cbUF->count(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(window->cbUF->itemText(i), names[i]);
        EXPECT_EQ(window->cbUF->ItemsCodigo().value(i), window->URIEstados()[i].URLconsulta);
    }
    EXPECT_EQ(window->cbUF->currentIndex(), -1) << "building the table selects nothing";

    window->show();
    QTest::qWait(0);
    EXPECT_EQ(window->AddressPnl->geometry(), QRect(0, 0, 996, 40));
    EXPECT_EQ(window->cbUF->geometry(), QRect(206, 7, 781, 26));
    EXPECT_EQ(window->CEFWindowParent1->geometry(), QRect(0, 40, 996, 608));

    // Wider window: the list and the browser area widen, the panel keeps its height.
    window->resize(1096, 700);
    QTest::qWait(0);
    EXPECT_EQ(window->cbUF->geometry(), QRect(206, 7, 881, 26));
    EXPECT_EQ(window->CEFWindowParent1->geometry(), QRect(0, 40, 1096, 660));
    EXPECT_EQ(window->AddressPnl->height(), 40);
}

TEST_F(WindowTest, BrowserCreatedEnablesThePanelAndOpensTheHostLink)
{
    TestHost host;
    auto window = makeWindow({host.port()});
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return browserReady(*window); }, 20000));
    EXPECT_TRUE(window->AddressPnl->isEnabled());
    EXPECT_NE(window->Chromium1->GetBrowser(), nullptr);
    EXPECT_TRUE(host.waitForConnection());
    EXPECT_TRUE(window->IdTCPClient->Connected());
    EXPECT_EQ(closed->count(), 0);
}

TEST_F(WindowTest, OneCloseRequestHidesAtOnceAndSendsOneNotice)
{
    TestHost host;
    auto window = makeWindow({host.port()});
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return browserReady(*window); }, 20000));
    ASSERT_TRUE(host.waitForConnection());

    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->Closing());
    // A second request during the handshake changes nothing.
    window->close();
    ASSERT_TRUE(closed->wait(15000));
    EXPECT_TRUE(window->CanClose());
    QTest::qWait(200);
    EXPECT_EQ(closed->count(), 1);
    EXPECT_EQ(window->Chromium1->GetBrowser(), nullptr);
    EXPECT_EQ(host.received(), QByteArrayLiteral("client-closing\r\n"));
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(WindowTest, CloseBeforeAnyBrowserExistsStillCloses)
{
    TestHost host;
    auto window = makeWindow({host.port()});
    window->close(); // never shown: no browser was ever asked for
    ASSERT_TRUE(closed->wait(5000));
    EXPECT_FALSE(host.server.hasPendingConnections());
}

TEST_F(WindowTest, HostCloseCommandClosesWithoutNotice)
{
    TestHost host;
    auto window = makeWindow({host.port()});
    window->show();
    ASSERT_TRUE(host.waitForConnection(20000));
    host.link->write("close\r\n");
    host.link->disconnectFromHost();
    ASSERT_TRUE(closed->wait(15000));
    EXPECT_TRUE(host.received().isEmpty());
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(WindowTest, HostClosedFirstThenUserCloseSendsNothing)
{
    TestHost host;
    auto window = makeWindow({host.port()});
    window->show();
    ASSERT_TRUE(host.waitForConnection(20000));
    host.link->write("hello");
    host.link->disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->IdTCPClient->Connected(); }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(closed->count(), 0) << "anything but close leaves the window open";

    window->close();
    ASSERT_TRUE(closed->wait(15000));
    EXPECT_TRUE(host.received().isEmpty());
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(WindowTest, HostResetGoesDownSilentlyAndTheWindowStillCloses)
{
    TestHost host;
    auto window = makeWindow({host.port()});
    window->show();
    ASSERT_TRUE(host.waitForConnection(20000));
    // Closing with lingering off sends a reset instead of an orderly end of stream.
    const linger off{1, 0};
    ASSERT_EQ(
        ::setsockopt(int(host.link->socketDescriptor()), SOL_SOCKET, SO_LINGER, &off, sizeof off),
        0);
    host.link->abort();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->IdTCPClient->Connected(); }, 5000));
    EXPECT_EQ(closed->count(), 0);

    window->close();
    ASSERT_TRUE(closed->wait(15000));
    EXPECT_TRUE(boxes.isEmpty());
}

struct BadLinkCase
{
    const char* name;
    QStringList arguments;
};

class WindowBadLinkTest : public WindowTest, public testing::WithParamInterface<BadLinkCase>
{};

// No port, a malformed one, port 0 or nothing listening: the window closes by itself, quietly.
TEST_P(WindowBadLinkTest, ClosesWithoutAMessage)
{
    QStringList arguments = GetParam().arguments;
    QTcpServer unused; // a port that nobody listens on once closed
    ASSERT_TRUE(unused.listen(QHostAddress::LocalHost));
    const QString freePort = QString::number(unused.serverPort());
    unused.close();
    arguments.replaceInStrings(QStringLiteral("FREE"), freePort);

    auto window = makeWindow(arguments);
    window->show();
    ASSERT_TRUE(closed->wait(30000));
    EXPECT_TRUE(boxes.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Arguments, WindowBadLinkTest,
                         testing::Values(BadLinkCase{"NoArgument", {}},
                                         BadLinkCase{"Empty", {QString()}},
                                         BadLinkCase{"TrailingBlank", {QStringLiteral("8080 ")}},
                                         BadLinkCase{"Zero", {QStringLiteral("0")}},
                                         BadLinkCase{"ZeroAfterCut", {QStringLiteral("65536")}},
                                         BadLinkCase{"NothingListening", {QStringLiteral("FREE")}}),
                         [](const testing::TestParamInfo<BadLinkCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
