#include "EventLoopWait.h"
#include "TestPeer.h"
#include "hostlink/HostLink.h"
#include "hostlink/WireFormat.h"

#include <QSignalSpy>
#include <cerrno>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;
using Outcome = HostLink::ClosingNoticeOutcome;

namespace {

bool WaitForSignal(QSignalSpy& spy, int ms = 5000)
{
    return spy.count() > 0 || spy.wait(ms);
}

const QStringList kLines{QStringLiteral("cnpj=12.345.678/0001-90"), QStringLiteral("estado=SP"),
                         QString::fromUtf16(u"cidade=S\u00e3o Paulo"), QStringLiteral("cep=")};

// A connected link and the host's end of it.
class HostLinkTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(host.Listening());
        link = std::make_unique<HostLink>();
        closeSpy = std::make_unique<QSignalSpy>(link.get(), &HostLink::closeCommandReceived);
        downSpy = std::make_unique<QSignalSpy>(link.get(), &HostLink::linkDown);
        ASSERT_TRUE(link->Connect(host.Port()));
        ASSERT_TRUE(host.Accept());
        ASSERT_TRUE(link->Connected());
    }

    void TearDown() override
    {
        // The host goes first, so that the link's destructor finds its end of stream at once.
        host.Close();
        link.reset();
    }

    // Lets the event loop run, so that the link reads what has arrived.
    static void Spin(std::chrono::milliseconds ms) { ::Spin(static_cast<int>(ms.count())); }

    TestPeer host;
    std::unique_ptr<HostLink> link;
    std::unique_ptr<QSignalSpy> closeSpy;
    std::unique_ptr<QSignalSpy> downSpy;
};

// How the host ends its stream after the message.
enum class HostEnd
{
    ShutdownWrite, // shuts down its sending direction and keeps reading
    Close
};

struct HostMessage
{
    const char* name;
    QByteArray bytes;
    HostEnd end;
    bool isCloseCommand;
};

void PrintTo(const HostMessage& c, std::ostream* os)
{
    *os << c.name;
}

class HostMessageTest : public HostLinkTest, public testing::WithParamInterface<HostMessage>
{};

TEST_P(HostMessageTest, IsActedOnOnlyWhenTheHostEndsItsStream)
{
    const HostMessage& m = GetParam();
    bool downWhenSignalled = false;
    QObject::connect(link.get(), &HostLink::closeCommandReceived, link.get(),
                     [&] { downWhenSignalled = !link->Connected(); });
    QObject::connect(link.get(), &HostLink::linkDown, link.get(),
                     [&] { downWhenSignalled = !link->Connected(); });

    ASSERT_TRUE(host.Send(m.bytes));
    Spin(50ms);
    EXPECT_TRUE(link->Connected());
    EXPECT_EQ(closeSpy->count() + downSpy->count(), 0);

    if (m.end == HostEnd::ShutdownWrite)
        host.ShutdownWrite();
    else
        host.Close();
    QSignalSpy& expected = m.isCloseCommand ? *closeSpy : *downSpy;
    ASSERT_TRUE(WaitForSignal(expected));
    Spin(20ms);
    EXPECT_EQ(closeSpy->count(), m.isCloseCommand ? 1 : 0);
    EXPECT_EQ(downSpy->count(), m.isCloseCommand ? 0 : 1);
    EXPECT_TRUE(downWhenSignalled);
    EXPECT_FALSE(link->Connected());
    EXPECT_EQ(link->SendClosingNoticeIfDue(), Outcome::NotDue);
    EXPECT_EQ(link->Tag, 0);

    if (m.end == HostEnd::ShutdownWrite) {
        // The program answers nothing and ends its stream in the orderly way.
        const TestPeer::Received r = host.ReadUntilEnd();
        EXPECT_TRUE(r.bytes.isEmpty());
        EXPECT_TRUE(r.endOfStream);
        EXPECT_EQ(r.error, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, HostMessageTest,
    testing::Values(
        HostMessage{.name = "Close",
                    .bytes = "close",
                    .end = HostEnd::ShutdownWrite,
                    .isCloseCommand = true},
        HostMessage{.name = "CloseThenClose",
                    .bytes = "close",
                    .end = HostEnd::Close,
                    .isCloseCommand = true},
        HostMessage{.name = "CloseCrLf",
                    .bytes = "close\r\n",
                    .end = HostEnd::ShutdownWrite,
                    .isCloseCommand = true},
        HostMessage{.name = "Closed",
                    .bytes = "closed",
                    .end = HostEnd::ShutdownWrite,
                    .isCloseCommand = true},
        HostMessage{.name = "Capitals",
                    .bytes = "CLOSE",
                    .end = HostEnd::ShutdownWrite,
                    .isCloseCommand = false},
        HostMessage{.name = "FourLetters",
                    .bytes = "clos",
                    .end = HostEnd::ShutdownWrite,
                    .isCloseCommand = false},
        HostMessage{.name = "Utf16",
                    .bytes = QByteArray("c\0l\0o\0s\0e\0", 10),
                    .end = HostEnd::ShutdownWrite,
                    .isCloseCommand = false},
        HostMessage{.name = "LeadingBlank",
                    .bytes = " close",
                    .end = HostEnd::ShutdownWrite,
                    .isCloseCommand = false},
        HostMessage{.name = "Nothing", .bytes = "", .end = HostEnd::Close, .isCloseCommand = false},
        HostMessage{.name = "NothingShutdown",
                    .bytes = "",
                    .end = HostEnd::ShutdownWrite,
                    .isCloseCommand = false}),
    [](const testing::TestParamInfo<HostMessage>& info) { return std::string(info.param.name); });

TEST_F(HostLinkTest, CloseCommandInPiecesIsOneMessage)
{
    ASSERT_TRUE(host.Send("cl"));
    Spin(100ms);
    ASSERT_TRUE(host.Send("ose"));
    Spin(50ms);
    EXPECT_TRUE(link->Connected());
    host.ShutdownWrite();
    ASSERT_TRUE(WaitForSignal(*closeSpy));
    EXPECT_EQ(downSpy->count(), 0);
}

TEST_F(HostLinkTest, CloseKeptOpenWaitsAndTheNoticeStillGoesOut)
{
    ASSERT_TRUE(host.Send("close"));
    Spin(200ms);
    EXPECT_TRUE(link->Connected());
    EXPECT_EQ(closeSpy->count(), 0);

    EXPECT_EQ(link->SendClosingNoticeIfDue(), Outcome::Sent);
    EXPECT_EQ(link->Tag, -1);
    EXPECT_EQ(link->SendClosingNoticeIfDue(), Outcome::NotDue);
    EXPECT_EQ(host.ReadFor(200ms), ClosingNotice());

    host.ShutdownWrite();
    ASSERT_TRUE(WaitForSignal(*closeSpy));
    const TestPeer::Received r = host.ReadUntilEnd();
    EXPECT_TRUE(r.bytes.isEmpty());
    EXPECT_TRUE(r.endOfStream);
}

TEST_F(HostLinkTest, NoticeIsSentOnceAndEndsInOrderAtExit)
{
    EXPECT_EQ(link->SendClosingNoticeIfDue(), Outcome::Sent);
    EXPECT_EQ(link->SendClosingNoticeIfDue(), Outcome::NotDue);
    // Bytes the program never reads: closing over them must not reset the connection.
    ASSERT_TRUE(host.Send("unread"));
    std::future<TestPeer::Received> received = std::async(std::launch::async, [this] {
        TestPeer::Received r = host.ReadUntilEnd();
        host.Close();
        return r;
    });
    link.reset(); // program end
    const TestPeer::Received r = received.get();
    EXPECT_EQ(r.bytes, ClosingNotice());
    EXPECT_TRUE(r.endOfStream);
    EXPECT_EQ(r.error, 0);
}

class HostClosedTest : public HostLinkTest, public testing::WithParamInterface<bool>
{};

TEST_P(HostClosedTest, NoNoticeAndNoBlockAfterTheHostClosed)
{
    const bool letLinkReadFirst = GetParam();
    host.Close();
    if (letLinkReadFirst)
        ASSERT_TRUE(WaitForSignal(*downSpy));
    else
        std::this_thread::sleep_for(50ms); // the end has arrived, unread: no event loop ran
    EXPECT_EQ(link->SendClosingNoticeIfDue(), Outcome::NotDue);
    EXPECT_EQ(link->Tag, 0);
    EXPECT_FALSE(link->SendResultBlock(kLines));
    ASSERT_TRUE(WaitForSignal(*downSpy));
    Spin(20ms);
    EXPECT_EQ(downSpy->count(), 1);
    EXPECT_EQ(closeSpy->count(), 0);
}

INSTANTIATE_TEST_SUITE_P(HostClosed, HostClosedTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Noticed" : "NotYetRead");
                         });

TEST_F(HostLinkTest, ResetByTheHostLeavesTheLinkDownSilently)
{
    host.Reset();
    ASSERT_TRUE(WaitForSignal(*downSpy));
    EXPECT_EQ(closeSpy->count(), 0);
    EXPECT_FALSE(link->Connected());
    EXPECT_EQ(link->SendClosingNoticeIfDue(), Outcome::NotDue);
    EXPECT_FALSE(link->SendResultBlock(kLines));
    link->Disconnect();
    link.reset();
}

// A host that reads slowly: most of a large block is still in the program's kernel buffer
// when the program exits, and must still arrive, followed by an orderly end.
TEST(HostLinkExit, ResultBlockArrivesWholeThenEndOfStreamWhenDestroyedAtOnce)
{
    TestPeer host(16 * 1024);
    auto link = std::make_unique<HostLink>();
    ASSERT_TRUE(link->Connect(host.Port()));
    ASSERT_TRUE(host.Accept());
    QStringList lines = kLines;
    lines << QStringLiteral("endereco=") + QString(600000, QLatin1Char('r'));
    std::future<TestPeer::Received> received = std::async(std::launch::async, [&host] {
        std::this_thread::sleep_for(100ms);
        TestPeer::Received r = host.ReadUntilEnd(10s);
        host.Close();
        return r;
    });
    EXPECT_TRUE(link->SendResultBlock(lines));
    EXPECT_FALSE(link->Connected());
    // Bytes the program has not read: closing over them would reset the connection and
    // discard what is still waiting in the program's send buffer.
    ASSERT_TRUE(host.Send("late"));
    link.reset(); // the program exits right after sending
    const TestPeer::Received r = received.get();
    EXPECT_EQ(r.bytes.size(), EncodeResultBlock(lines).size());
    EXPECT_TRUE(r.bytes == EncodeResultBlock(lines));
    EXPECT_TRUE(r.endOfStream);
    EXPECT_EQ(r.error, 0);
}

TEST_F(HostLinkTest, BlockToAHostNotReadingArrivesWhenItReads)
{
    EXPECT_TRUE(link->SendResultBlock(kLines));
    EXPECT_FALSE(link->Connected());
    Spin(100ms);
    const TestPeer::Received r = host.ReadUntilEnd();
    EXPECT_EQ(r.bytes, EncodeResultBlock(kLines));
    EXPECT_TRUE(r.endOfStream);

    // After the program's own disconnect, nothing the host does is reported.
    ASSERT_TRUE(host.Send("close"));
    host.ShutdownWrite();
    Spin(100ms);
    EXPECT_EQ(closeSpy->count() + downSpy->count(), 0);
    EXPECT_EQ(link->SendClosingNoticeIfDue(), Outcome::NotDue);
}

TEST_F(HostLinkTest, BlockToAHostThatNeverReadsFailsInsteadOfHanging)
{
    link->SetWaits(300ms, 200ms);
    const QStringList huge{QStringLiteral("nome=") + QString(16 * 1024 * 1024, QLatin1Char('n'))};
    EXPECT_FALSE(link->SendResultBlock(huge));
    EXPECT_FALSE(link->Connected());
    EXPECT_EQ(link->SendClosingNoticeIfDue(), Outcome::NotDue);
}

struct Flood
{
    const char* name;
    QByteArray head;
    bool isCloseCommand;
};

void PrintTo(const Flood& c, std::ostream* os)
{
    *os << c.name;
}

class FloodTest : public HostLinkTest, public testing::WithParamInterface<Flood>
{};

TEST_P(FloodTest, ManyMegabytesThenTheEnd)
{
    std::thread sender([this] {
        host.Send(GetParam().head);
        const QByteArray chunk(1 << 20, 'z');
        for (int i = 0; i < 64; ++i)
            if (!host.Send(chunk))
                break;
        host.ShutdownWrite();
    });
    QSignalSpy& expected = GetParam().isCloseCommand ? *closeSpy : *downSpy;
    const bool signalled = WaitForSignal(expected, 30000);
    sender.join();
    ASSERT_TRUE(signalled);
    EXPECT_EQ(closeSpy->count() + downSpy->count(), 1);
    EXPECT_FALSE(link->Connected());
}

INSTANTIATE_TEST_SUITE_P(Floods, FloodTest,
                         testing::Values(Flood{"CloseThenJunk", "close", true},
                                         Flood{"JunkOnly", "", false}),
                         [](const testing::TestParamInfo<Flood>& info) {
                             return std::string(info.param.name);
                         });

TEST(HostLinkConnect, NothingListeningFails)
{
    HostLink link;
    EXPECT_FALSE(link.Connect(UnusedPort()));
    EXPECT_FALSE(link.Connected());
    EXPECT_EQ(link.SendClosingNoticeIfDue(), Outcome::NotDue);
    EXPECT_FALSE(link.SendResultBlock(kLines));
    link.Disconnect();
}

TEST(HostLinkConnect, PortZeroFailsAndTheLinkIsNeverOpenedLater)
{
    TestPeer host;
    HostLink link;
    EXPECT_FALSE(link.Connect(0));
    EXPECT_FALSE(link.Connect(host.Port()));
    EXPECT_FALSE(host.Accept(100ms)); // no connection was made
}

TEST(HostLinkConnect, SecondConnectFails)
{
    TestPeer host;
    HostLink link;
    ASSERT_TRUE(link.Connect(host.Port()));
    ASSERT_TRUE(host.Accept());
    EXPECT_FALSE(link.Connect(host.Port()));
    EXPECT_TRUE(link.Connected());
    host.Close();
}

} // namespace
