// The real programs as a person or a host starts them: quarvel-samples serving the sample
// portals, quarvel-host running Quarvel against them, and Quarvel on its own.
#include "TestUtil.h"
#include "portals/PortalTable.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTcpSocket>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>

namespace {

// A running quarvel-samples and what it printed first.
class SamplesTool : public RunningTool
{
public:
    explicit SamplesTool(const QStringList& arguments = {})
        : RunningTool(QStringLiteral(QUARVEL_SAMPLES_EXE),
                      QStringList{QStringLiteral("--timeout"), QStringLiteral("170")} + arguments)
    {}

    // The first lines: the QUARVEL_PORTAL_HOSTS value, then one query URL per portal.
    bool readHeader()
    {
        hostsValue = nextLine();
        for (const BuiltInPortalPaths& portal : BuiltInPortalPathList()) {
            const QStringList parts = nextLine().split(QLatin1Char(' '));
            if (parts.size() != 2 || parts[0] != portal.key)
                return false;
            queryUrls.append(parts[1]);
        }
        for (const QString& element : hostsValue.split(QLatin1Char(',')))
            origins.append(element.section(QLatin1Char('='), 1));
        return origins.size() == 5;
    }

    QString hostsValue;
    QStringList origins;
    QStringList queryUrls;
};

struct HttpResponse
{
    int status = 0;
    QByteArray head;
    QByteArray body;
};

// One HTTP/1.0 exchange, the request line written exactly as given.
HttpResponse Fetch(const QString& origin, const QByteArray& method, const QByteArray& target,
                   const QByteArray& body = {})
{
    const QUrl url(origin);
    QTcpSocket socket;
    socket.connectToHost(url.host(), quint16(url.port()));
    HttpResponse response;
    if (!socket.waitForConnected(5000))
        return response;
    QByteArray request =
        method + ' ' + target + " HTTP/1.0\r\nHost: " + url.host().toLatin1() + "\r\n";
    if (!body.isEmpty())
        request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                   QByteArray::number(body.size()) + "\r\n";
    socket.write(request + "\r\n" + body);
    QByteArray all;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        all += socket.readAll();
    all += socket.readAll();
    const qsizetype split = all.indexOf("\r\n\r\n");
    if (split < 0)
        return response;
    response.head = all.left(split);
    response.body = all.mid(split + 4);
    response.status = response.head.mid(9, 3).toInt();
    return response;
}

TEST(SamplesTool, PrintsTheHostsValueAndTheQueryUrlsFirst)
{
    SamplesTool tool;
    ASSERT_TRUE(tool.readHeader()) << qPrintable(tool.hostsValue);
    // Each portal on an address of its own, in the table's order.
    QStringList elements;
    for (const BuiltInPortalPaths& portal : BuiltInPortalPathList()) {
        elements.append(QStringLiteral("%1=http://127\\.0\\.0\\.%2:\\d+")
                            .arg(portal.key)
                            .arg(elements.size() + 2));
    }
    const QRegularExpression hosts(u'^' + elements.join(u',') + u'$');
    EXPECT_TRUE(hosts.match(tool.hostsValue).hasMatch()) << qPrintable(tool.hostsValue);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(tool.queryUrls[i], tool.origins[i] + BuiltInPortalPathList().at(i).queryPath);
}

struct RequestCase
{
    const char* name;
    int portal;
    const char* method;
    const char* target;
    const char* body;
    int status;
    const char* needle; // in the body
};

void PrintTo(const RequestCase& param, std::ostream* os)
{
    *os << param.name;
}

class SamplesToolRequestTest : public testing::TestWithParam<RequestCase>
{};

// Every portal's pages are served as the browser asks for them: GET with a query, a form's POST.
TEST_P(SamplesToolRequestTest, AnswersAsAPortalWould)
{
    const RequestCase& param = GetParam();
    SamplesTool tool;
    ASSERT_TRUE(tool.readHeader());
    const HttpResponse response =
        Fetch(tool.origins[param.portal], param.method, param.target, param.body);
    EXPECT_EQ(response.status, param.status) << response.head.constData();
    EXPECT_TRUE(response.body.contains(param.needle)) << response.body.left(300).constData();
    if (param.status == 200) {
        EXPECT_TRUE(response.head.contains("Content-Type: text/html; charset=utf-8"));
    }
    // Each request is logged with the portal's key.
    EXPECT_EQ(tool.nextLine(), QStringLiteral("%1 %2 %3 %4")
                                   .arg(BuiltInPortalPathList().at(param.portal).key,
                                        QLatin1String(param.method), QLatin1String(param.target))
                                   .arg(param.status));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, SamplesToolRequestTest,
    testing::Values(
        RequestCase{"CccQuery", 0, "GET", "/NFE/CCC", "", 200, "id=\"consulta\""},
        RequestCase{"CccResultWithQuery", 0, "GET", "/NFE/CCC/Consulta?cnpj=12.345.678%2F0001-95",
                    "", 200, "Identificação do Contribuinte"},
        RequestCase{"AmResult", 1, "GET", "/sintegra/sintegra.asp?hash=5e1d9a07c3&cnpj=1", "", 200,
                    "C.N.P.J:"},
        RequestCase{"EsQueryAtTheRoot", 2, "GET", "/", "", 200, "action=\"/resultado.php\""},
        RequestCase{"EsResultByPost", 2, "POST", "/resultado.php", "cnpj=45.678.901%2F0001-23", 200,
                    "Razão Social :"},
        RequestCase{"BaResultByPost", 3, "POST", "/Sintegra/Result.asp", "estado=BA&cnpj=1", 200,
                    "Inscrição Estadual:"},
        RequestCase{"SpQuery", 4, "GET",
                    "/Pages/Cadastro/Consultas/ConsultaPublica/ConsultaPublica.aspx", "", 200,
                    "Código de controle da consulta: "},
        // A path of another portal is not this portal's.
        RequestCase{"OtherPortalsPath", 0, "GET", "/sintegra/index.asp", "", 404, "not found"},
        RequestCase{"OutOfTheFolder", 1, "GET", "/../ccc/NFE/CCC/index.html", "", 404, "not found"},
        RequestCase{"OtherMethod", 1, "DELETE", "/sintegra/index.asp", "", 405,
                    "method not allowed"}),
    [](const testing::TestParamInfo<RequestCase>& info) { return std::string(info.param.name); });

TEST(SamplesTool, OneAddressWithFivePortsAndItsRefusals)
{
    {
        SamplesTool tool({QStringLiteral("--address"), QStringLiteral("127.0.0.1")});
        ASSERT_TRUE(tool.readHeader()) << qPrintable(tool.hostsValue);
        QSet<int> ports;
        for (const QString& origin : std::as_const(tool.origins)) {
            const QUrl url(origin);
            EXPECT_EQ(url.host(), QStringLiteral("127.0.0.1"));
            ports.insert(url.port());
        }
        EXPECT_EQ(ports.size(), 5);
        EXPECT_EQ(Fetch(tool.origins[3], "GET", "/Sintegra/sintegra.asp?estado=BA").status, 200);
    }
    // Never reachable from another machine.
    const ProgramRun open =
        RunProgram(QStringLiteral(QUARVEL_SAMPLES_EXE),
                   {QStringLiteral("--address"), QStringLiteral("0.0.0.0")}, QString(), 10000);
    ASSERT_TRUE(open.finished);
    EXPECT_EQ(open.exitCode, 1);
    EXPECT_TRUE(open.standardOutput.isEmpty());
    EXPECT_TRUE(open.standardError.contains("loopback")) << open.standardError.constData();

    const ProgramRun noRoot =
        RunProgram(QStringLiteral(QUARVEL_SAMPLES_EXE),
                   {QStringLiteral("--root"), QStringLiteral(QUARVEL_BINARY_DIR "/no-such-folder")},
                   QString(), 10000);
    ASSERT_TRUE(noRoot.finished);
    EXPECT_EQ(noRoot.exitCode, 1);
    EXPECT_TRUE(noRoot.standardError.contains("no sample folder"))
        << noRoot.standardError.constData();

    // --timeout ends it by itself.
    const ProgramRun timed =
        RunProgram(QStringLiteral(QUARVEL_SAMPLES_EXE),
                   {QStringLiteral("--timeout"), QStringLiteral("0.5")}, QString(), 20000);
    ASSERT_TRUE(timed.finished);
    EXPECT_EQ(timed.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(timed.exitCode, 0);
    EXPECT_TRUE(timed.standardOutput.startsWith(
        (BuiltInPortalPathList().first().key + QStringLiteral("=http://127.0.0.2:")).toUtf8()));
}

// --- Quarvel started by a host, with the samples served ---

TEST(QuarvelProgram, StartedByTheHostToolAndClosedByItsCloseCommand)
{
    SamplesTool samples;
    ASSERT_TRUE(samples.readHeader());

    QProcessEnvironment env = ProgramTestEnvironment();
    env.insert(QStringLiteral("QUARVEL_PORTAL_HOSTS"), samples.hostsValue);
    QProcess host;
    host.setProcessEnvironment(env);
    host.start(QStringLiteral(QUARVEL_HOST_EXE),
               {QStringLiteral("--close-after"), QStringLiteral("1.5"), QStringLiteral("--timeout"),
                QStringLiteral("120"), QStringLiteral("--run"), QStringLiteral(QUARVEL_EXE)});
    ASSERT_TRUE(host.waitForStarted(10000));
    ASSERT_TRUE(host.waitForFinished(150000));
    const QStringList events = QString::fromUtf8(host.readAllStandardOutput())
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QByteArray programOutput = host.readAllStandardError();
    const QString all = events.join(QLatin1Char('\n'));

    static const QRegularExpression accepted(QStringLiteral("^accepted 127\\.0\\.0\\.1:\\d+$"),
                                             QRegularExpression::MultilineOption);
    EXPECT_TRUE(accepted.match(all).hasMatch()) << qPrintable(all);
    EXPECT_TRUE(events.contains(QStringLiteral("sent close"))) << qPrintable(all);
    EXPECT_TRUE(events.contains(QStringLiteral("end-of-stream"))) << qPrintable(all);
    EXPECT_TRUE(events.contains(QStringLiteral("quarvel exited 0"))) << qPrintable(all);
    // After the host's close command Quarvel sends nothing at all.
    EXPECT_FALSE(all.contains(QStringLiteral("notice client-closing"))) << qPrintable(all);
    EXPECT_FALSE(all.contains(QStringLiteral("\nline "))) << qPrintable(all);
    EXPECT_FALSE(all.contains(QStringLiteral("error:"))) << qPrintable(all);
    // The samples' hosts value is one the program accepts.
    EXPECT_FALSE(programOutput.contains("QUARVEL_PORTAL_HOSTS")) << programOutput.constData();
    EXPECT_FALSE(programOutput.contains("message-box:")) << programOutput.constData();
}

TEST(QuarvelProgram, OptionsAfterThePortReachItAndUnusableOnesAreNamedNotFatal)
{
    // quarvel-host hands what follows the program's path to it, after the port.
    QProcess host;
    host.setProcessEnvironment(ProgramTestEnvironment());
    host.start(QStringLiteral(QUARVEL_HOST_EXE),
               {QStringLiteral("--close-after"), QStringLiteral("0.5"), QStringLiteral("--timeout"),
                QStringLiteral("120"), QStringLiteral("--run"), QStringLiteral(QUARVEL_EXE),
                QStringLiteral("--cnpj"), QStringLiteral("27.385.904/0001-38"),
                QStringLiteral("--from-a-newer-host"), QStringLiteral("1"), QStringLiteral("--uf"),
                QStringLiteral("SP")});
    ASSERT_TRUE(host.waitForStarted(10000));
    ASSERT_TRUE(host.waitForFinished(150000));
    const QString all = QString::fromUtf8(host.readAllStandardOutput());
    const QString programOutput = QString::fromUtf8(host.readAllStandardError());
    EXPECT_TRUE(all.contains(QStringLiteral("\naccepted 127.0.0.1:"))) << qPrintable(all);
    EXPECT_TRUE(all.contains(QStringLiteral("quarvel exited 0"))) << qPrintable(all);
    EXPECT_TRUE(programOutput.contains(QStringLiteral(
        "quarvel: option \"--cnpj\" ignored: CNPJ \"27.385.904/0001-38\" has wrong check digits")))
        << qPrintable(programOutput);
    EXPECT_TRUE(programOutput.contains(
        QStringLiteral("quarvel: option \"--from-a-newer-host\" ignored: unknown option")))
        << qPrintable(programOutput);
    EXPECT_FALSE(programOutput.contains(QStringLiteral("\"--uf\""))) << qPrintable(programOutput);
    EXPECT_FALSE(programOutput.contains(QStringLiteral("message-box:")))
        << qPrintable(programOutput);
}

TEST(QuarvelProgram, WithoutAPortItExitsByItself)
{
    const ProgramRun run = RunProgram(QStringLiteral(QUARVEL_EXE), {}, QString(), 90000);
    ASSERT_TRUE(run.finished) << "still running after 90 s";
    EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(run.standardError.contains("message-box:")) << run.standardError.constData();
}

} // namespace
