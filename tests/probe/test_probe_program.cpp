// quarvel-probe as support runs it: against quarvel-samples, with its exit status, its plain and
// JSON lines, a definitions file, and nothing left behind on disk.
#include "TestUtil.h"
#include "lookup/PortalFile.h"
#include "portals/PortalTable.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>
#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// A running quarvel-samples: its QUARVEL_PORTAL_HOSTS value, then a line per request it serves.
class SamplesTool : public RunningTool
{
public:
    SamplesTool()
        : RunningTool(QStringLiteral(QUARVEL_SAMPLES_EXE),
                      {QStringLiteral("--timeout"), QStringLiteral("170")})
    {
        hostsValue = nextLine();
        for (int i = 0; i < 5; ++i)
            nextLine(); // KEY QUERY-URL
    }

    // The requests served so far ("KEY METHOD TARGET STATUS"), read until none comes for a while.
    QStringList servedLines()
    {
        QStringList lines;
        for (QString line = nextLine(1000); !line.isEmpty(); line = nextLine(1000))
            lines.append(line);
        return lines;
    }

    QString hostsValue;
};

// The probe run with hosts (QUARVEL_PORTAL_HOSTS) and HOME, the XDG folders and the current
// directory all in one empty folder, so that whatever it writes shows.
struct ProbeRun
{
    ProgramRun run;
    QStringList lines;   // standard output
    QStringList written; // files under the empty folder afterwards
};

ProbeRun RunProbe(const QStringList& arguments, const QString& hosts = QString(),
                  const QString& portalsEnv = QString())
{
    QTemporaryDir home;
    QProcessEnvironment env = ProgramTestEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM")); // the probe needs no display of its own
    env.remove(QStringLiteral("QUARVEL_PORTALS"));
    if (!hosts.isEmpty())
        env.insert(QStringLiteral("QUARVEL_PORTAL_HOSTS"), hosts);
    if (!portalsEnv.isEmpty())
        env.insert(QStringLiteral("QUARVEL_PORTALS"), portalsEnv);
    env.insert(QStringLiteral("HOME"), home.path());
    for (const char* name : {"XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "TMPDIR"})
        env.insert(QString::fromLatin1(name), home.path());
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    ProbeRun result;
    result.run = RunProgram(QStringLiteral(QUARVEL_PROBE_EXE), arguments, home.path(), 150000, env);
    const QString out = QString::fromUtf8(result.run.standardOutput);
    result.lines = out.split(u'\n', Qt::SkipEmptyParts);
    QDirIterator files(home.path(),
                       QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDirIterator::Subdirectories);
    while (files.hasNext())
        result.written.append(files.next());
    return result;
}

TEST(ProbeProgram, SamplePortalsAreOkAndNothingButTheirQueryPagesIsAsked)
{
    SamplesTool samples;
    ASSERT_FALSE(samples.hostsValue.isEmpty());
    const ProbeRun probe = RunProbe({}, samples.hostsValue);
    ASSERT_TRUE(probe.run.finished);
    EXPECT_EQ(probe.run.exitCode, 0) << probe.run.standardError.constData();
    EXPECT_EQ(probe.lines, QStringList({QStringLiteral("ccc ok"), QStringLiteral("am ok"),
                                        QStringLiteral("es ok"), QStringLiteral("ba ok"),
                                        QStringLiteral("sp ok")}))
        << probe.run.standardOutput.constData();
    EXPECT_TRUE(probe.written.isEmpty()) << probe.written.join(u' ').toStdString();

    // Each query page once, and nothing else: no result page, no form sent, not even an icon.
    QStringList expected;
    for (const BuiltInPortalPaths& portal : BuiltInPortalPathList())
        expected.append(portal.key + u" GET " + portal.queryPath + u" 200");
    EXPECT_EQ(samples.servedLines(), expected);
}

TEST(ProbeProgram, JsonLinesInTheOrderNamedWithEveryMember)
{
    SamplesTool samples;
    const ProbeRun probe = RunProbe(
        {QStringLiteral("--json"), QStringLiteral("sp"), QStringLiteral("am")}, samples.hostsValue);
    EXPECT_EQ(probe.run.exitCode, 0) << probe.run.standardError.constData();
    ASSERT_EQ(probe.lines.size(), 2) << probe.run.standardOutput.constData();
    const QString keys[] = {QStringLiteral("sp"), QStringLiteral("am")};
    for (int i = 0; i < 2; ++i) {
        QJsonParseError error;
        const QJsonObject json =
            QJsonDocument::fromJson(probe.lines.at(i).toUtf8(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << probe.lines.at(i).toStdString();
        EXPECT_EQ(json.value(u"portal").toString(), keys[i]);
        EXPECT_EQ(json.value(u"status").toString(), u"ok");
        EXPECT_FALSE(json.contains(u"failure"));
        for (const char* member : {"httpStatus", "finalUrl", "stayed", "readyScript",
                                   "missingControls", "foundControls", "captcha", "loadMs"})
            EXPECT_TRUE(json.contains(QLatin1String(member))) << member;
        EXPECT_EQ(json.value(u"httpStatus").toInt(), 200);
        EXPECT_TRUE(json.value(u"stayed").toBool());
        EXPECT_EQ(json.value(u"readyScript").toString(), i == 0 ? u"none" : u"ok");
        EXPECT_TRUE(json.value(u"missingControls").toArray().isEmpty());
        EXPECT_FALSE(json.value(u"foundControls").toArray().isEmpty());
        EXPECT_TRUE(json.value(u"captcha").toBool());
    }
}

TEST(ProbeProgram, AnUnreachablePortalMakesTheExitStatusOne)
{
    SamplesTool samples;
    quint16 port = 0;
    {
        QTcpServer closed;
        ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
        port = closed.serverPort();
    }
    const QString hosts = samples.hostsValue + QStringLiteral(",am=http://127.0.0.1:%1").arg(port);
    const ProbeRun probe = RunProbe({QStringLiteral("am"), QStringLiteral("es")}, hosts);
    EXPECT_EQ(probe.run.exitCode, 1);
    ASSERT_EQ(probe.lines.size(), 2) << probe.run.standardOutput.constData();
    EXPECT_EQ(probe.lines.at(0), u"am unreachable: refused (net::ERR_CONNECTION_REFUSED)");
    EXPECT_EQ(probe.lines.at(1), u"es ok");
}

TEST(ProbeProgram, DefinitionsFileWhoseFillScriptsGiveNoReportIsNotChecked)
{
    SamplesTool samples;
    PortalHosts hosts;
    ASSERT_TRUE(ApplyPortalHostsOverride(samples.hostsValue, hosts).isEmpty());
    KeyedPortalTable table = BuiltInKeyedPortals(BuiltInPortals(hosts));
    // Fills the box as an older file's script would, returning nothing.
    for (TURIEstado& portal : table.portals)
        portal.consultaFillScript =
            QStringLiteral("function (d) { const e = document.getElementsByName('num_cnpj')[0];"
                           " if (e) e.value = d.cnpj; }");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("portals.json"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(PortalTableToJson(table));
    out.close();

    // Named on the command line, and through the variable the window reads.
    for (const bool viaOption : {true, false}) {
        SCOPED_TRACE(viaOption ? "--portals" : "QUARVEL_PORTALS");
        const ProbeRun probe =
            viaOption ? RunProbe({QStringLiteral("--portals"), file, QStringLiteral("es")})
                      : RunProbe({QStringLiteral("es")}, QString(), file);
        EXPECT_EQ(probe.run.exitCode, 0) << probe.run.standardError.constData();
        EXPECT_EQ(probe.lines,
                  QStringList{QStringLiteral(
                      "es ok: controls not checked (the fill script gives no report)")});
    }
}

TEST(ProbeProgram, RefusedDefinitionsFileIsToldAndFailsTheCheck)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("portals.json"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("{\"version\": 2}");
    out.close();
    SamplesTool samples;
    const ProbeRun probe =
        RunProbe({QStringLiteral("--portals"), file, QStringLiteral("es")}, samples.hostsValue);
    EXPECT_EQ(probe.run.exitCode, 1);
    EXPECT_TRUE(probe.run.standardError.contains("portal definitions file not used"));
    EXPECT_TRUE(probe.run.standardError.contains(file.toUtf8()));
    // What the window would then have in force is still checked.
    EXPECT_EQ(probe.lines, QStringList{QStringLiteral("es ok")});
}

// As a normal user, from a copy of the program any user can run, with the sandbox as the window
// would decide it (on, where the kernel lets this user have it).
TEST(ProbeProgram, RunsAsANormalUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::setPermissions(
        dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                        QFileDevice::ReadOther | QFileDevice::ExeOther));
    const QString copy = dir.filePath(QStringLiteral("quarvel-probe"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QUARVEL_PROBE_EXE), copy));
    SamplesTool samples;
    QProcess process;
    QProcessEnvironment env = ProgramTestEnvironment();
    env.insert(QStringLiteral("QUARVEL_PORTAL_HOSTS"), samples.hostsValue);
    env.insert(QStringLiteral("HOME"), QStringLiteral("/nonexistent"));
#if defined(__SANITIZE_ADDRESS__)
    // A sanitized renderer cannot map its memory inside the engine's sandbox: the normal user's
    // run without it.
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
#else
    env.remove(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"));
#endif
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(QStringLiteral("/"));
    process.setChildProcessModifier([] {
        constexpr uid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(99);
    });
    process.start(copy, {QStringLiteral("es")});
    ASSERT_TRUE(process.waitForFinished(120000));
    const QByteArray standardError = process.readAllStandardError();
    EXPECT_EQ(process.exitCode(), 0) << standardError.constData();
    EXPECT_EQ(process.readAllStandardOutput(), "es ok\n") << standardError.constData();
    EXPECT_FALSE(standardError.contains("running as root")) << standardError.constData();
}

struct UsageCase
{
    const char* name;
    QStringList arguments;
    int exitCode;
    const char* saying; // on standard error, or on standard output for exit status 0
};

void PrintTo(const UsageCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProbeUsageTest : public testing::TestWithParam<UsageCase>
{};

TEST_P(ProbeUsageTest, AnswersWithoutProbing)
{
    const UsageCase& c = GetParam();
    const ProbeRun probe = RunProbe(c.arguments);
    ASSERT_TRUE(probe.run.finished);
    EXPECT_EQ(probe.run.exitCode, c.exitCode);
    const QByteArray& text = c.exitCode == 0 ? probe.run.standardOutput : probe.run.standardError;
    EXPECT_TRUE(text.contains(c.saying)) << text.constData();
    if (c.exitCode != 0) {
        EXPECT_TRUE(probe.run.standardOutput.isEmpty()) << probe.run.standardOutput.constData();
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ProbeUsageTest,
    testing::Values(
        UsageCase{"help", {QStringLiteral("--help")}, 0, "usage: quarvel-probe"},
        UsageCase{"version", {QStringLiteral("--version")}, 0, "quarvel-probe "},
        UsageCase{"unknown_option", {QStringLiteral("--all")}, 2, "unknown option \"--all\""},
        UsageCase{"bad_timeout",
                  {QStringLiteral("--timeout"), QStringLiteral("0")},
                  2,
                  "--timeout needs whole seconds"},
        UsageCase{"unknown_key",
                  {QStringLiteral("rj")},
                  2,
                  "no portal \"rj\" in the table in force (it has: ccc, am, es, ba, sp)"}));

} // namespace
