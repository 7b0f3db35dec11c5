#include "QuarvelVersion.h"
#include "TestPeer.h"
#include "TestUtil.h"
#include "hostlink/WireFormat.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <optional>

using namespace std::chrono_literals;

namespace {

// A running quarvel-host and the events it printed.
class HostTool : public RunningTool
{
public:
    explicit HostTool(const QStringList& arguments)
        : RunningTool(QStringLiteral(QUARVEL_HOST_EXE), arguments)
    {}

    // The port from the first line, "listening 127.0.0.1:PORT".
    std::optional<std::uint16_t> Port()
    {
        firstLine = nextLine(5000);
        static const QRegularExpression listening(
            QStringLiteral("^listening 127\\.0\\.0\\.1:(\\d+)$"));
        const QRegularExpressionMatch m = listening.match(firstLine);
        if (!m.hasMatch())
            return std::nullopt;
        return m.captured(1).toUShort();
    }

    // Waits for the exit; the events after the first line, and the exit code (-1: no exit).
    int Finish(QStringList* events)
    {
        const int code = finish(20000);
        if (code < 0)
            return code;
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        *events = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return code;
    }

    QString firstLine;
};

const QRegularExpression kAccepted(QStringLiteral("^accepted 127\\.0\\.0\\.1:\\d+$"));

// Plays the program: connects, sends the bytes, ends its stream, and reads what the tool sends.
TestPeer::Received PlayProgram(std::uint16_t port, const QByteArray& bytes)
{
    TestPeer program{TestPeer::NoListen{}};
    EXPECT_TRUE(program.ConnectTo(port));
    EXPECT_TRUE(program.Send(bytes));
    program.ShutdownWrite();
    return program.ReadUntilEnd();
}

TEST(QuarvelHost, PrintsAWellFormedBlockAndExitsZero)
{
    HostTool tool({QStringLiteral("--timeout"), QStringLiteral("10")});
    const std::optional<std::uint16_t> port = tool.Port();
    ASSERT_TRUE(port);
    const QStringList lines{QStringLiteral("estado=SP"), QStringLiteral("cep="),
                            QString::fromUtf16(u"nome=Jo\u00e3o")};
    const TestPeer::Received back = PlayProgram(*port, ClosingNotice() + EncodeResultBlock(lines));
    EXPECT_TRUE(back.bytes.isEmpty());
    EXPECT_TRUE(back.endOfStream);

    QStringList events;
    ASSERT_EQ(tool.Finish(&events), 0);
    ASSERT_EQ(events.size(), 7) << events.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(kAccepted.match(events[0]).hasMatch());
    EXPECT_EQ(
        events.mid(1),
        (QStringList{QStringLiteral("notice client-closing"), QStringLiteral("line estado=SP"),
                     QStringLiteral("line cep="), QString::fromUtf16(u"line nome=Jo\u00e3o"),
                     QStringLiteral("block 3 lines"), QStringLiteral("end-of-stream")}));
}

struct Broken
{
    const char* name;
    QByteArray bytes;
    const char* error;
};

void PrintTo(const Broken& c, std::ostream* os)
{
    *os << c.name;
}

class QuarvelHostBroken : public testing::TestWithParam<Broken>
{};

TEST_P(QuarvelHostBroken, ReportsTheFaultAndExitsOne)
{
    HostTool tool({QStringLiteral("--timeout"), QStringLiteral("10")});
    const std::optional<std::uint16_t> port = tool.Port();
    ASSERT_TRUE(port);
    PlayProgram(*port, GetParam().bytes);
    QStringList events;
    ASSERT_EQ(tool.Finish(&events), 1);
    EXPECT_TRUE(events.contains(QLatin1String("end-of-stream")));
    EXPECT_TRUE(events.contains(QLatin1String(GetParam().error)))
        << events.join(QLatin1Char('\n')).toStdString();
}

const QByteArray kBlock = EncodeResultBlock({QStringLiteral("cnpj=1")});

INSTANTIATE_TEST_SUITE_P(
    Streams, QuarvelHostBroken,
    testing::Values(
        Broken{"OddByteCount", kBlock.chopped(1), "error: odd byte count in the result block"},
        Broken{"MissingTerminator", kBlock.chopped(6), "error: missing terminator after 1 lines"},
        Broken{"Trailing", kBlock + "!", "error: 1 bytes after the terminator"}),
    [](const testing::TestParamInfo<Broken>& info) { return std::string(info.param.name); });

TEST(QuarvelHost, CloseAfterSendsCloseAndEndsItsStream)
{
    HostTool tool({QStringLiteral("--close-after"), QStringLiteral("0.1"),
                   QStringLiteral("--timeout"), QStringLiteral("10")});
    const std::optional<std::uint16_t> port = tool.Port();
    ASSERT_TRUE(port);
    TestPeer program{TestPeer::NoListen{}};
    ASSERT_TRUE(program.ConnectTo(*port));
    const TestPeer::Received r = program.ReadUntilEnd();
    EXPECT_EQ(r.bytes, QByteArray("close"));
    EXPECT_TRUE(r.endOfStream);
    program.Close();

    QStringList events;
    ASSERT_EQ(tool.Finish(&events), 1); // no result block
    ASSERT_EQ(events.size(), 3) << events.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(events[1], QLatin1String("sent close"));
    EXPECT_EQ(events[2], QLatin1String("end-of-stream"));
}

// With --run, against a stand-in for the program built on the real HostLink.
TEST(QuarvelHost, RunsTheProgramAndReportsItsBlockAndExit)
{
    HostTool tool({QStringLiteral("--timeout"), QStringLiteral("15"), QStringLiteral("--run"),
                   QStringLiteral(FAKE_QUARVEL_EXE), QStringLiteral("block"),
                   QStringLiteral("estado=SP"), QStringLiteral("cep=")});
    ASSERT_TRUE(tool.Port());
    QStringList events;
    ASSERT_EQ(tool.Finish(&events), 0) << events.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(events.value(0), QLatin1String("started " FAKE_QUARVEL_EXE));
    EXPECT_TRUE(kAccepted.match(events.value(1)).hasMatch());
    EXPECT_EQ(events.mid(2, 3),
              (QStringList{QStringLiteral("line estado=SP"), QStringLiteral("line cep="),
                           QStringLiteral("block 2 lines")}));
    // The program's exit and its end of stream may be seen in either order.
    EXPECT_TRUE(events.contains(QLatin1String("end-of-stream")));
    EXPECT_TRUE(events.contains(QLatin1String("quarvel exited 0")));
    EXPECT_EQ(events.size(), 7);
}

TEST(QuarvelHost, CloseHandshakeWithTheProgram)
{
    HostTool tool({QStringLiteral("--close-after"), QStringLiteral("0.2"),
                   QStringLiteral("--timeout"), QStringLiteral("15"), QStringLiteral("--run"),
                   QStringLiteral(FAKE_QUARVEL_EXE), QStringLiteral("notice-wait")});
    ASSERT_TRUE(tool.Port());
    QStringList events;
    ASSERT_EQ(tool.Finish(&events), 1) << events.join(QLatin1Char('\n')).toStdString(); // no block
    EXPECT_EQ(events.mid(2, 2),
              (QStringList{QStringLiteral("notice client-closing"), QStringLiteral("sent close")}));
    EXPECT_TRUE(events.contains(QLatin1String("end-of-stream")));
    EXPECT_TRUE(events.contains(QLatin1String("quarvel exited 0"))); // it saw the close command
    EXPECT_FALSE(events.join(QLatin1Char('\n')).contains(QLatin1String("error:")));
}

TEST(QuarvelHost, ProgramThatCannotStartIsAnError)
{
    HostTool tool({QStringLiteral("--timeout"), QStringLiteral("10"), QStringLiteral("--run"),
                   QStringLiteral("/nonexistent/quarvel")});
    ASSERT_TRUE(tool.Port());
    QStringList events;
    ASSERT_EQ(tool.Finish(&events), 1);
    ASSERT_FALSE(events.isEmpty());
    EXPECT_TRUE(events[0].startsWith(QLatin1String("error: quarvel failed to start")));
    EXPECT_EQ(events.value(1), QLatin1String("error: no connection"));
}

TEST(QuarvelHost, TimeoutWithoutConnection)
{
    HostTool tool({QStringLiteral("--timeout"), QStringLiteral("0.2")});
    ASSERT_TRUE(tool.Port());
    QStringList events;
    ASSERT_EQ(tool.Finish(&events), 1);
    EXPECT_EQ(events, QStringList{QStringLiteral("error: timeout")});
}

TEST(QuarvelHost, VersionAndHelp)
{
    QProcess version;
    version.start(QStringLiteral(QUARVEL_HOST_EXE), {QStringLiteral("--version")});
    ASSERT_TRUE(version.waitForFinished(5000));
    EXPECT_EQ(QString::fromUtf8(version.readAllStandardOutput()).trimmed(),
              QStringLiteral("quarvel-host " QUARVEL_VERSION_STR));

    QProcess help;
    help.start(QStringLiteral(QUARVEL_HOST_EXE), {QStringLiteral("--help")});
    ASSERT_TRUE(help.waitForFinished(5000));
    const QString text = QString::fromUtf8(help.readAllStandardOutput());
    EXPECT_TRUE(text.contains(QLatin1String("--close-after")));
    EXPECT_TRUE(text.contains(QLatin1String("--run")));
    EXPECT_TRUE(text.contains(QLatin1String("end-of-stream")));
}

} // namespace
