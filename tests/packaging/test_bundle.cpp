// The bundle made by scripts/bundle: the program and its tools with the engine's packs in a
// chromium folder beside them, used from any current directory, and refused when incomplete.
#include "ProgramProbe.h"
#include "QuarvelVersion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <cctype>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace {

// The engine's installed folders, found the way the program finds its defaults.
QString systemResources()
{
    return QLibraryInfo::path(QLibraryInfo::DataPath) + QStringLiteral("/resources");
}

QString systemLocales()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
           QStringLiteral("/qtwebengine_locales");
}

QStringList names(const QStringList& paths)
{
    QStringList result;
    for (const QString& path : paths)
        result.append(QFileInfo(path).fileName());
    return result;
}

class BundleTest : public testing::Test
{
protected:
    // One bundle for the whole run, made by the script from the built tree.
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(s_dir->isValid());
        s_bundle = s_dir->path() + QStringLiteral("/Quarvel");
        s_cwd = s_dir->path() + QStringLiteral("/elsewhere");
        QDir().mkpath(s_cwd);
        s_made = RunProgram(
            QStringLiteral(QUARVEL_SOURCE_DIR "/scripts/bundle"),
            {QStringLiteral("--build-dir"), QStringLiteral(QUARVEL_BINARY_DIR), s_bundle}, s_cwd,
            120000);
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_made.finished);
        ASSERT_EQ(s_made.exitCode, 0) << s_made.standardError.constData();
    }

    static QString exe() { return QDir(s_bundle).canonicalPath() + QStringLiteral("/quarvel"); }
    static QString chromium()
    {
        return QDir(s_bundle).canonicalPath() + QStringLiteral("/chromium");
    }

    static std::unique_ptr<QTemporaryDir> s_dir;
    static QString s_bundle;
    static QString s_cwd;
    static ProgramRun s_made;
};

std::unique_ptr<QTemporaryDir> BundleTest::s_dir;
QString BundleTest::s_bundle;
QString BundleTest::s_cwd;
ProgramRun BundleTest::s_made;

TEST_F(BundleTest, HoldsTheProgramItsToolsAndEveryEnginePack)
{
    for (const char* tool : {"quarvel", "quarvel-host", "quarvel-extract", "quarvel-probe"}) {
        const QFileInfo info(s_bundle + QLatin1Char('/') + QLatin1String(tool));
        EXPECT_TRUE(info.isFile() && info.isExecutable()) << tool;
    }
    EXPECT_EQ(names(FilesIn(chromium())), names(FilesIn(systemResources())));
    EXPECT_EQ(names(FilesIn(chromium() + QStringLiteral("/locales"))),
              names(FilesIn(systemLocales(), QStringLiteral("*.pak"))));
    // Copies, not something else with the same names.
    for (const QString& pack : FilesIn(systemResources())) {
        const QString copy = chromium() + QLatin1Char('/') + QFileInfo(pack).fileName();
        EXPECT_EQ(QFileInfo(copy).size(), QFileInfo(pack).size()) << qPrintable(copy);
    }
    EXPECT_TRUE(FileContains(exe(), QByteArrayLiteral("quarvel version " QUARVEL_VERSION_STR)));
}

TEST_F(BundleTest, ToolsReportTheVersion)
{
    for (const char* tool : {"quarvel-host", "quarvel-extract", "quarvel-probe"}) {
        const ProgramRun run = RunProgram(s_bundle + QLatin1Char('/') + QLatin1String(tool),
                                          {QStringLiteral("--version")}, s_cwd);
        ASSERT_TRUE(run.finished) << tool;
        EXPECT_EQ(run.exitCode, 0) << tool;
        EXPECT_EQ(run.standardOutput.trimmed(),
                  QByteArray(tool) + QByteArrayLiteral(" " QUARVEL_VERSION_STR));
    }
}

// Started from another current directory, the bundled program's engine maps the bundle's packs
// and none of the system's, and its helper processes are the bundled executable.
TEST_F(BundleTest, CompleteBundleRunsOnItsOwnPacksFromAnotherDirectory)
{
    HostedProgram program(exe(), s_cwd);
    ASSERT_TRUE(program.WaitForConnection(60000))
        << "the program never connected: " << program.StandardError().constData();

    const QString ownPack = chromium() + QStringLiteral("/qtwebengine_resources.pak");
    QStringList packs;
    const bool mapped = QTest::qWaitFor(
        [&] {
            packs = MappedFiles(program.pid(), QStringLiteral(".pak"));
            return packs.contains(ownPack);
        },
        30000);
    EXPECT_TRUE(mapped) << qPrintable(packs.join(QLatin1Char('\n')));
    // The engine speaks Brazilian Portuguese whatever the machine's locale.
    EXPECT_TRUE(packs.contains(chromium() + QStringLiteral("/locales/pt-BR.pak")))
        << qPrintable(packs.join(QLatin1Char('\n')));
    for (const QString& pack : packs)
        EXPECT_TRUE(pack.startsWith(chromium() + QLatin1Char('/'))) << qPrintable(pack);

    QList<qint64> helpers;
    const bool started = QTest::qWaitFor(
        [&] { return !(helpers = ChildProcesses(program.pid())).isEmpty(); }, 30000);
    ASSERT_TRUE(started) << "no helper process";
    for (const qint64 helper : helpers) {
        EXPECT_EQ(ProcessExecutable(helper), exe());
        EXPECT_TRUE(ProcessArguments(helper).filter(QStringLiteral("--type=")).size() > 0)
            << qPrintable(ProcessArguments(helper).join(QLatin1Char(' ')));
    }

    const ProgramRun run = program.CloseAndWait(60000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(run.exitCode, 0) << run.standardError.constData();
}

// The bundled probe runs the engine too, from another directory: a port nobody listens on is
// told as the engine's own refusal.
TEST_F(BundleTest, BundledProbeRunsItsEngine)
{
    quint16 port = 0;
    {
        QTcpServer closed;
        ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
        port = closed.serverPort();
    }
    QProcessEnvironment env = ShippedProgramEnvironment();
    env.insert(QStringLiteral("QUARVEL_PORTAL_HOSTS"),
               QStringLiteral("es=http://127.0.0.1:%1").arg(port));
    const ProgramRun run = RunProgram(s_bundle + QStringLiteral("/quarvel-probe"),
                                      {QStringLiteral("es")}, s_cwd, 120000, env);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1) << run.standardError.constData();
    EXPECT_EQ(run.standardOutput, "es unreachable: refused (net::ERR_CONNECTION_REFUSED)\n")
        << run.standardError.constData();
}

// Each required pack taken out of the bundle in turn (and put back afterwards).
class IncompleteBundleTest : public BundleTest, public testing::WithParamInterface<const char*>
{};

TEST_P(IncompleteBundleTest, StopsWithTheMissingFileAndNoWindow)
{
    const QString removed = chromium() + QLatin1Char('/') + QLatin1String(GetParam());
    const QString aside = s_dir->path() + QStringLiteral("/aside.pak");
    ASSERT_TRUE(QFile::rename(removed, aside)) << qPrintable(removed);

    QTcpServer host;
    ASSERT_TRUE(host.listen(QHostAddress::LocalHost));
    const ProgramRun run = RunProgram(exe(), {QString::number(host.serverPort())}, s_cwd, 60000,
                                      ShippedProgramEnvironment());
    ASSERT_TRUE(QFile::rename(aside, removed));
    ExpectStoppedForMissingPack(run, removed, host);
}

INSTANTIATE_TEST_SUITE_P(RequiredPacks, IncompleteBundleTest,
                         testing::Values("qtwebengine_resources.pak",
                                         "qtwebengine_resources_100p.pak",
                                         "qtwebengine_resources_200p.pak",
                                         "qtwebengine_devtools_resources.pak", "locales/en-US.pak"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name;
                             for (const char* c = info.param; *c != '\0'; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

} // namespace
