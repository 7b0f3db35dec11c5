// The host link under faults, through the real window over the real engine: the host resets,
// half-closes, floods, closes in the middle of the result block or never reads. In every case
// the window keeps working and closes, and a result block is either received whole or the user
// is told that the connection was lost.
#include "FaultHarness.h"
#include "hostlink/WireFormat.h"

#include <QElapsedTimer>
#include <QTest>
#include <QWebEnginePage>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

// What the host must end up with, or what the user must be told.
enum class Expect
{
    BlockWhole,            // the whole result block, then the program's orderly end
    LostConnectionBox,     // the lost-connection box once, then the window closes
    WholeOrLostConnection, // either of the two, never a part of the block without the box
};

struct LinkFault
{
    const char* name;
    int receiveBuffer;      // the host's SO_RCVBUF; 0 leaves the default
    qsizetype streetLength; // a street this long makes the block megabytes long; 0: the sample's
    // On the test's thread, once connected and before the lookup starts.
    std::function<void(TestPeer&)> beforeLookup;
    // On a thread of its own, while the program writes the block; returns what the host read.
    std::function<TestPeer::Received(TestPeer&)> duringBlock;
    Expect expect;
};

void PrintTo(const LinkFault& c, std::ostream* os)
{
    *os << c.name;
}

// Reads until `bytes` of the block are in, so that the program is known to be writing it.
TestPeer::Received ReadPart(TestPeer& host, qsizetype bytes)
{
    return host.ReadUntilEnd(60s, bytes);
}

class LinkFaultTest : public testing::TestWithParam<LinkFault>
{};

TEST_P(LinkFaultTest, NoHangNoCrashAndNoSilentLoss)
{
    const LinkFault& fault = GetParam();
    PortalSite site;
    TestPeer host(fault.receiveBuffer);
    const SampleResult sample =
        AmSample(fault.streetLength > 0 ? QString(fault.streetLength, u'r') : QString());
    ASSERT_FALSE(sample.lines.isEmpty());
    site.setHtml(site.queryUrl(kAm), "<form><input name=\"ie\"></form>");
    site.setText(site.resultUrl(kAm), sample.text);

    TestWindow w({QString::number(host.Port())});
    w.window->show();
    ASSERT_TRUE(w.waitReady());
    const bool accepted = AcceptTurning(host);
    if (fault.beforeLookup) {
        fault.beforeLookup(host);
        ASSERT_TRUE(WaitFor([&] { return !w.window->IdTCPClient->Connected(); }, 10000))
            << "the program did not notice the host's fault";
    } else {
        ASSERT_TRUE(accepted);
    }

    TestPeer::Received duringBlock;
    std::thread hostThread;
    if (fault.duringBlock)
        hostThread = std::thread([&] { duringBlock = fault.duringBlock(host); });

    // The user picks AM and submits the query: the result page loads.
    w.pick(kAm);
    // The user submits once the query page is there.
    ASSERT_TRUE(WaitFor([&] { return w.loaded(site.queryUrl(kAm)); }, 15000));
    QElapsedTimer lookup;
    lookup.start();
    w.window->Chromium1->LoadURL(site.resultUrl(kAm));

    // The documented waits bound this: a write that makes no progress fails after 5 s.
    const bool closed = w.waitClosed(60000);
    const qint64 tookMs = lookup.elapsed();
    if (hostThread.joinable())
        hostThread.join();
    QStringList loads;
    for (const LoadEnd& load : w.loads)
        loads << load.url + u'|' + load.name;
    ASSERT_TRUE(closed) << "the window did not close; loads ended: "
                        << qPrintable(loads.join(QStringLiteral(", "))) << "; requests: "
                        << qPrintable(QStringList(site.server.requests()).join(u' '))
                        << "; page at " << qPrintable(w.page()->url().toString());
    EXPECT_TRUE(w.responsive());

    const QByteArray block = EncodeResultBlock(sample.lines);
    TestPeer::Received rest;
    if (fault.beforeLookup == nullptr) {
        // Destroying the window closes its link; whatever was still on its way arrives.
        w.window.reset();
        rest = host.ReadUntilEnd(10s);
    }
    const QByteArray received = duringBlock.bytes + rest.bytes;
    const bool whole =
        received == block && (rest.endOfStream || duringBlock.endOfStream) && w.boxes.isEmpty();
    const bool toldLost = w.boxTexts() == QStringList{kLostConnection};
    const char* outcome = whole      ? "block received whole"
                          : toldLost ? "lost-connection box"
                                     : "OTHER";
    std::printf("[ outcome  ] %s: %s, host got %lld of %lld bytes, window closed %lld ms after "
                "the result page was asked for\n",
                fault.name, outcome, static_cast<long long>(received.size()),
                static_cast<long long>(block.size()), static_cast<long long>(tookMs));
    switch (fault.expect) {
    case Expect::BlockWhole:
        EXPECT_TRUE(whole) << "boxes: " << qPrintable(w.boxTexts().join(u'|'));
        break;
    case Expect::LostConnectionBox:
        EXPECT_TRUE(toldLost) << "boxes: " << qPrintable(w.boxTexts().join(u'|'));
        EXPECT_NE(received, block) << "a whole block and a lost-connection box";
        break;
    case Expect::WholeOrLostConnection:
        EXPECT_TRUE(whole || toldLost) << "boxes: " << qPrintable(w.boxTexts().join(u'|'));
        break;
    }
}

constexpr int kSmallWindow = 16 * 1024;
constexpr qsizetype kLongStreet = 4 * 1024 * 1024; // an 8 MiB block, far beyond the buffers

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, LinkFaultTest, testing::Values(
    LinkFault{"HostReadsNormally", 0, 0, nullptr, nullptr, Expect::BlockWhole},
    LinkFault{"HostResetBeforeLookup", 0, 0, [](TestPeer& h) { h.Reset(); }, nullptr,
              Expect::LostConnectionBox},
    // The host dies between the program's connect and its own accept.
    LinkFault{"ListenerGoneBeforeAccept", 0, 0, [](TestPeer& h) { h.Close(); h.CloseListener(); },
              nullptr, Expect::LostConnectionBox},
    LinkFault{"HostHalfClosesBeforeLookup", 0, 0, [](TestPeer& h) { h.ShutdownWrite(); },
              nullptr, Expect::LostConnectionBox},
    LinkFault{"HostClosesDuringBlock", kSmallWindow, kLongStreet, nullptr,
              [](TestPeer& h) { auto r = ReadPart(h, 256 * 1024); h.Close(); return r; },
              Expect::LostConnectionBox},
    LinkFault{"HostResetsDuringBlock", kSmallWindow, kLongStreet, nullptr,
              [](TestPeer& h) { auto r = ReadPart(h, 256 * 1024); h.Reset(); return r; },
              Expect::LostConnectionBox},
    // The host half-closes mid-block and keeps reading.
    LinkFault{"HostHalfClosesDuringBlock", kSmallWindow, kLongStreet, nullptr,
              [](TestPeer& h) {
                  auto r = ReadPart(h, 256 * 1024);
                  h.ShutdownWrite();
                  const auto tail = h.ReadUntilEnd(60s);
                  r.bytes += tail.bytes;
                  r.endOfStream = tail.endOfStream;
                  return r;
              },
              Expect::WholeOrLostConnection},
    // Nothing is read until the window has gone: a block the buffers can hold still arrives.
    LinkFault{"HostNeverReadsSmallBlock", kSmallWindow, 0, nullptr, nullptr, Expect::BlockWhole},
    // One that they cannot hold stalls, and the write gives up after the documented wait.
    LinkFault{"HostNeverReadsLargeBlock", kSmallWindow, kLongStreet, nullptr,
              [](TestPeer&) { return TestPeer::Received(); }, Expect::LostConnectionBox}),
    [](const testing::TestParamInfo<LinkFault>& info) { return std::string(info.param.name); });
// clang-format on

// The host floods the link with 64 MiB over a few seconds, then ends its stream. The window
// stays responsive, keeps only what it needs of the message, then acts on it.
struct Flood
{
    const char* name;
    QByteArray head;
    bool isCloseCommand;
    bool endByClose; // close the socket, else shut down the sending side and keep reading
};

void PrintTo(const Flood& c, std::ostream* os)
{
    *os << c.name;
}

class FloodTest : public testing::TestWithParam<Flood>
{};

TEST_P(FloodTest, SixtyFourMebibytesSlowlyThenTheEnd)
{
    const Flood& flood = GetParam();
    PortalSite site;
    const SampleResult sample = AmSample();
    site.setText(site.resultUrl(kAm), sample.text);
    TestPeer host;
    TestWindow w({QString::number(host.Port())});
    w.window->show();
    ASSERT_TRUE(w.waitReady());
    ASSERT_TRUE(AcceptTurning(host));

    const qint64 residentBefore = ResidentKiB();
    std::atomic<int> sentMiB{0};
    std::atomic<bool> sendFailed{false};
    std::atomic<bool> senderDone{false};
    std::thread sender([&] {
        if (!host.Send(flood.head))
            sendFailed = true;
        const QByteArray chunk(1 << 20, 'z');
        for (int i = 0; i < 64 && !sendFailed; ++i) {
            if (!host.Send(chunk))
                sendFailed = true;
            ++sentMiB;
            std::this_thread::sleep_for(50ms); // about 20 MiB/s: three seconds or so
        }
        if (!flood.endByClose)
            host.ShutdownWrite();
        senderDone = true;
    });
    // While the flood runs the window turns its event loop and the link stays up.
    const bool turnedDuringFlood =
        WaitFor([&] { return sentMiB >= 16; }, 30000) && w.responsive() && sentMiB < 64;
    const bool upDuringFlood = w.window->IdTCPClient->Connected();
    // The link reads only while the event loop turns: keep it turning until the flood is out.
    const bool floodOut = WaitFor([&] { return senderDone.load(); }, 120000);
    if (!floodOut)
        host.ShutdownWrite(); // ends a send blocked for good, so that the thread can be joined
    sender.join();
    ASSERT_TRUE(floodOut);
    if (flood.endByClose)
        host.Close();
    ASSERT_TRUE(WaitFor([&] { return !w.window->IdTCPClient->Connected(); }, 30000));
    const qint64 residentAfter = ResidentKiB();
    std::printf("[ outcome  ] %s: resident memory grew by %lld KiB while 64 MiB went through\n",
                flood.name, static_cast<long long>(residentAfter - residentBefore));
    EXPECT_FALSE(sendFailed) << "the program stopped reading";
    EXPECT_TRUE(turnedDuringFlood);
    EXPECT_TRUE(upDuringFlood);
    // Nothing of the flood is kept: far less growth than the 64 MiB that went through.
    EXPECT_LT(residentAfter - residentBefore, 24 * 1024)
        << residentBefore << " KiB before, " << residentAfter << " KiB after";

    if (flood.isCloseCommand) {
        ASSERT_TRUE(w.waitClosed());
    } else {
        // The link went down in a handler of the window's; a close it asked for would be queued.
        ASSERT_TRUE(RunQueuedCalls());
        EXPECT_FALSE(w.window->Closing()) << "anything but close leaves the window open";
        EXPECT_EQ(w.closed->count(), 0);
        // A lookup now cannot reach the host: the user is told.
        w.pick(kAm);
        ASSERT_TRUE(WaitFor([&] { return w.loaded(site.queryUrl(kAm)); }, 15000));
        w.window->Chromium1->LoadURL(site.resultUrl(kAm));
        ASSERT_TRUE(w.waitClosed());
        EXPECT_EQ(w.boxTexts(), QStringList{kLostConnection});
    }
    if (!flood.endByClose) {
        // The program answers nothing and ends its stream in the orderly way.
        const TestPeer::Received r = host.ReadUntilEnd(5s);
        EXPECT_TRUE(r.bytes.isEmpty());
        EXPECT_TRUE(r.endOfStream);
        EXPECT_EQ(r.error, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Floods, FloodTest,
                         testing::Values(Flood{.name = "CloseThenJunkThenHalfClose",
                                               .head = "close",
                                               .isCloseCommand = true,
                                               .endByClose = false},
                                         Flood{.name = "CloseThenJunkThenClose",
                                               .head = "close",
                                               .isCloseCommand = true,
                                               .endByClose = true},
                                         Flood{.name = "JunkThenHalfClose",
                                               .head = "junk",
                                               .isCloseCommand = false,
                                               .endByClose = false},
                                         Flood{.name = "JunkThenClose",
                                               .head = "junk",
                                               .isCloseCommand = false,
                                               .endByClose = true}),
                         [](const testing::TestParamInfo<Flood>& info) {
                             return std::string(info.param.name);
                         });

// Nothing listens: the window closes by itself at once, quietly, and never hangs on the
// connection attempt.
TEST(LinkRefused, WindowClosesQuietly)
{
    int port = 0;
    {
        TestPeer gone;
        port = gone.Port();
    }
    TestWindow w({QString::number(port)});
    w.window->show();
    ASSERT_TRUE(w.waitClosed());
    EXPECT_TRUE(w.boxes.isEmpty());
    EXPECT_FALSE(w.window->IdTCPClient->Connected());
}

} // namespace
