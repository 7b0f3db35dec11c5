// Program entry and start-up: process roles, the engine's folders beside the executable, the
// start-up checks, and the real executable started the way the engine and the host start it.
#include "TestUtil.h"
#include "shell/ProcessType.h"
#include "shell/StartupChecks.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

// --- Process type ---

struct RoleCase
{
    std::vector<std::string> arguments;
    TCefProcessType expected;
};

class ProcessTypeTest : public testing::TestWithParam<RoleCase>
{};

TEST_P(ProcessTypeTest, LastTypeSwitchDecidesIgnoringCase)
{
    std::vector<const char*> argv{"quarvel"};
    for (const std::string& argument : GetParam().arguments)
        argv.push_back(argument.c_str());
    EXPECT_EQ(ProcessTypeFromArguments(int(argv.size()), argv.data()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ProcessTypeTest,
    testing::Values(
        RoleCase{{}, ptBrowser}, RoleCase{{"8080"}, ptBrowser},
        RoleCase{{"--TYPE=Renderer"}, ptRenderer}, RoleCase{{"8080", "--type=zygote"}, ptZygote},
        RoleCase{{"--type=GPU-PROCESS"}, ptGPU}, RoleCase{{"--type=utility"}, ptUtility},
        RoleCase{{"--type=broker"}, ptBroker}, RoleCase{{"--type=render"}, ptOther},
        RoleCase{{"--type="}, ptOther}, RoleCase{{"--type=renderer", "--type=utility"}, ptUtility},
        RoleCase{{"--type=utility", "x", "--Type=renderer"}, ptRenderer},
        RoleCase{{"--type", "renderer"}, ptBrowser}, RoleCase{{"-type=renderer"}, ptBrowser},
        RoleCase{{"--types=renderer"}, ptBrowser}, RoleCase{{"x--type=renderer"}, ptBrowser}));

// --- Folders and checks ---

QString writeFile(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
    file.write("x");
    return path;
}

// A resource pack in the engine's format: little-endian header, an index entry (id, offset) per
// resource plus a closing one, the aliases (id, entry index), then the resources' bytes.
QByteArray Pack(quint32 version, const QList<QByteArray>& resources,
                const QList<quint16>& aliasEntries = {})
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << version;
    if (version == 4)
        out << quint32(resources.size()) << quint8(1);
    else
        out << quint32(1) << quint16(resources.size()) << quint16(aliasEntries.size());
    const int headerSize = version == 4 ? 9 : 12;
    quint32 offset = headerSize + (resources.size() + 1) * 6 + aliasEntries.size() * 4;
    for (int i = 0; i <= resources.size(); ++i) {
        out << quint16(100 + i) << offset;
        if (i < resources.size())
            offset += resources[i].size();
    }
    for (int i = 0; i < aliasEntries.size(); ++i)
        out << quint16(500 + i) << aliasEntries[i];
    for (const QByteArray& resource : resources)
        bytes += resource;
    return bytes;
}

QString writePack(const QString& path, const QByteArray& bytes = Pack(5, {"data"}))
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
    file.write(bytes);
    return path;
}

// Offsets of a two-resource version 5 pack's index entries.
constexpr int kFirstOffset = 12 + 2;
constexpr int kSecondOffset = 12 + 6 + 2;

QByteArray Patched(QByteArray bytes, int at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((value >> (8 * i)) & 0xff);
    return bytes;
}

TEST(RuntimeFolders, OnlyWholePacksAreUsable)
{
    const QByteArray two = Pack(5, {"first", "second"});
    const struct
    {
        const char* name;
        QByteArray bytes;
        bool usable;
    } cases[] = {
        {"version 5 with an alias", Pack(5, {"a", "bc"}, {1}), true},
        {"version 4", Pack(4, {"abc", "d"}), true},
        {"no resources", Pack(5, {}), true},
        {"empty", {}, false},
        {"header cut short", two.left(10), false},
        {"index cut short", two.left(20), false},
        {"data cut short", two.chopped(1), false},
        {"offset past the end", Patched(two, kSecondOffset, two.size() + 1), false},
        {"offsets out of order", Patched(two, kSecondOffset, 0), false},
        {"offset inside the index", Patched(two, kFirstOffset, 12), false},
        {"alias to no entry", Pack(5, {"a"}, {1}), false},
        {"unknown version", Patched(two, 0, 6), false},
        {"text", "not a pack at all", false},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        const QString path = writePack(dir.filePath(QString::fromLatin1(c.name)), c.bytes);
        EXPECT_EQ(IsUsablePackFile(path), c.usable) << c.name;
    }
    EXPECT_FALSE(IsUsablePackFile(dir.filePath(QStringLiteral("nothing.pak"))));
    EXPECT_FALSE(IsUsablePackFile(dir.path()));
    // The engine's own packs on this machine.
    const QString installed =
        QLibraryInfo::path(QLibraryInfo::DataPath) + QStringLiteral("/resources");
    for (const QString& pack : QDir(installed).entryList({QStringLiteral("*.pak")}))
        EXPECT_TRUE(IsUsablePackFile(installed + u'/' + pack)) << qPrintable(pack);
}

TEST(RuntimeFolders, ResolvedAgainstTheExecutableFolderAndEmptyWhenMissing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString exeDir = dir.path() + QStringLiteral("/app/");
    QDir().mkpath(exeDir + QStringLiteral("chromium/locales"));

    EXPECT_EQ(ResolveRuntimeFolder(exeDir, QStringLiteral("./chromium/")),
              dir.path() + QStringLiteral("/app/chromium"));
    EXPECT_EQ(ResolveRuntimeFolder(exeDir, QStringLiteral("./chromium/locales")),
              dir.path() + QStringLiteral("/app/chromium/locales"));
    EXPECT_EQ(ResolveRuntimeFolder(exeDir, QStringLiteral("./missing/")), QString());
    EXPECT_EQ(ResolveRuntimeFolder(exeDir, QString()), QString());
    // A file is not a folder.
    writeFile(exeDir + QStringLiteral("plain"));
    EXPECT_EQ(ResolveRuntimeFolder(exeDir, QStringLiteral("./plain")), QString());
}

TEST(RuntimeFolders, ListsEveryMissingPackWithItsFullPath)
{
    QTemporaryDir dir;
    const QString resources = dir.path() + QStringLiteral("/chromium");
    const QString locales = resources + QStringLiteral("/locales");
    writePack(resources + QStringLiteral("/qtwebengine_resources.pak"));
    writePack(resources + QStringLiteral("/qtwebengine_devtools_resources.pak"));
    // Present, but cut short.
    writePack(resources + QStringLiteral("/qtwebengine_resources_200p.pak"), "x");
    QDir().mkpath(locales);

    // The engine's data files, where it reads them: one missing, one empty.
    const QStringList data{QStringLiteral("icudtl.dat"), QStringLiteral("v8_context_snapshot.bin")};
    QFile empty(resources + QStringLiteral("/v8_context_snapshot.bin"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();

    EXPECT_EQ(MissingRuntimeFiles(resources, locales, data),
              (QStringList{resources + QStringLiteral("/qtwebengine_resources_100p.pak"),
                           resources + QStringLiteral("/qtwebengine_resources_200p.pak"),
                           resources + QStringLiteral("/icudtl.dat"),
                           resources + QStringLiteral("/v8_context_snapshot.bin"),
                           locales + QStringLiteral("/en-US.pak")}));

    writePack(resources + QStringLiteral("/qtwebengine_resources_100p.pak"));
    writePack(resources + QStringLiteral("/qtwebengine_resources_200p.pak"));
    writePack(locales + QStringLiteral("/en-US.pak"));
    writePack(resources + QStringLiteral("/icudtl.dat"));
    writePack(resources + QStringLiteral("/v8_context_snapshot.bin"));
    EXPECT_TRUE(MissingRuntimeFiles(resources, locales, data).isEmpty());
    // An engine that reads no data files of its own needs only the packs.
    QFile::remove(resources + QStringLiteral("/icudtl.dat"));
    EXPECT_TRUE(MissingRuntimeFiles(resources, locales, {}).isEmpty());
    // Empty settings stand for the engine's installed folders, which this machine has.
    EXPECT_TRUE(MissingRuntimeFiles(QString(), QString()).isEmpty());
}

TEST(StartupMessages, MissingFilesAndVersionTexts)
{
    EXPECT_EQ(MissingFilesMessage({QStringLiteral(" /a/x.pak "), QStringLiteral("/a/y.pak")}),
              QStringLiteral("Qt WebEngine binaries missing !\r\n\r\nThe missing files are :\r\n"
                             "/a/x.pak\r\n/a/y.pak"));
    EXPECT_EQ(MissingFilesMessage({}), QStringLiteral("Qt WebEngine binaries missing !"));

    EXPECT_EQ(EngineVersionMessage(QStringLiteral("6.4.2"), QStringLiteral("6.4.2")), QString());
    const QString other = EngineVersionMessage(QStringLiteral("6.4.2"), QStringLiteral("6.5.0"));
    EXPECT_TRUE(other.startsWith(QStringLiteral("Unsupported Qt WebEngine version !\r\n")));
    EXPECT_TRUE(other.endsWith(
        QStringLiteral("\r\n\r\nExpected libQt6WebEngineCore.so.6 version : 6.4.2\r\n"
                       "Found libQt6WebEngineCore.so.6 version : 6.5.0")))
        << qPrintable(other);
    const QString unreadable = EngineVersionMessage(QStringLiteral("6.4.2"), QString());
    EXPECT_FALSE(unreadable.contains(QStringLiteral("Expected")));
    EXPECT_EQ(unreadable.count(QStringLiteral("\r\n")), 1);
}

// --- The real executable ---

TEST(ProgramStartup, MissingPackGivesTheMissingFilesBoxAndNoWindow)
{
    const ProgramBundle bundle(QStringLiteral("qtwebengine_resources_200p.pak"));
    QTcpServer host;
    ASSERT_TRUE(host.listen(QHostAddress::LocalHost));

    const ProgramRun run =
        RunProgram(bundle.exe(), {QString::number(host.serverPort())}, bundle.cwd(), 60000);
    ExpectStoppedForMissingPack(
        run, bundle.chromium() + QStringLiteral("/qtwebengine_resources_200p.pak"), host);
}

TEST(ProgramStartup, CompleteBundleStartsFromAnotherDirectory)
{
    const ProgramBundle bundle;
    const HostedRun run = RunAgainstHost(bundle.exe(), bundle.cwd());
    EXPECT_TRUE(run.connected);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.standardError);
    EXPECT_FALSE(run.standardError.contains(QStringLiteral("Release of profile requested")))
        << qPrintable(run.standardError);
}

struct SpawnedRole
{
    const char* name;
    QStringList arguments;
    enum Expect
    {
        MainRole,
        Helper,
        RefusedAtOnce
    } expect;
};

class ProgramRoleTest : public testing::TestWithParam<SpawnedRole>
{
protected:
    static void SetUpTestSuite()
    {
        bundle = std::make_unique<ProgramBundle>(QStringLiteral("qtwebengine_resources_100p.pak"));
    }
    static void TearDownTestSuite() { bundle.reset(); }

    static std::unique_ptr<ProgramBundle> bundle;
};

std::unique_ptr<ProgramBundle> ProgramRoleTest::bundle;

// A bundle with a missing pack shows the role: only the main process checks the packs, and only
// the main process connects to the host.
TEST_P(ProgramRoleTest, TakesTheRoleItsArgumentsGive)
{
    QTcpServer host;
    ASSERT_TRUE(host.listen(QHostAddress::LocalHost));
    QStringList arguments = GetParam().arguments;
    arguments.replaceInStrings(QStringLiteral("PORT"), QString::number(host.serverPort()));

    const ProgramRun run = RunProgram(bundle->exe(), arguments, bundle->cwd(), 60000);
    ASSERT_TRUE(run.finished) << "still running";
    const bool checkedPacks = run.standardError.contains("Qt WebEngine binaries missing !");
    switch (GetParam().expect) {
    case SpawnedRole::MainRole:
        EXPECT_TRUE(checkedPacks);
        EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
        EXPECT_EQ(run.exitCode, 1);
        break;
    case SpawnedRole::Helper:
        EXPECT_FALSE(checkedPacks);
        break;
    case SpawnedRole::RefusedAtOnce:
        EXPECT_FALSE(checkedPacks);
        EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_TRUE(run.standardError.isEmpty()) << run.standardError.constData();
        break;
    }
    EXPECT_FALSE(host.waitForNewConnection(100));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ProgramRoleTest,
    testing::Values(
        SpawnedRole{"NoArgument", {}, SpawnedRole::MainRole},
        SpawnedRole{"Port", {QStringLiteral("PORT")}, SpawnedRole::MainRole},
        SpawnedRole{"RendererAnyCase",
                    {QStringLiteral("PORT"), QStringLiteral("--TYPE=Renderer")},
                    SpawnedRole::Helper},
        SpawnedRole{"Unrecognised", {QStringLiteral("--type=something")}, SpawnedRole::Helper},
        SpawnedRole{"EmptyType",
                    {QStringLiteral("PORT"), QStringLiteral("--type=")},
                    SpawnedRole::RefusedAtOnce},
        SpawnedRole{"LastSwitchHelper",
                    {QStringLiteral("--type="), QStringLiteral("--type=utility")},
                    SpawnedRole::Helper},
        SpawnedRole{"LastSwitchEmpty",
                    {QStringLiteral("--type=utility"), QStringLiteral("--type=")},
                    SpawnedRole::RefusedAtOnce},
        SpawnedRole{"LongArgument", {QString(100000, QLatin1Char('9'))}, SpawnedRole::MainRole},
        SpawnedRole{"OddBytes",
                    {QString::fromLatin1("\xff\xfe%s%n\x01"), QStringLiteral("-platform"),
                     QStringLiteral("nonexistent"), QStringLiteral("--webEngineArgs")},
                    SpawnedRole::MainRole}),
    [](const testing::TestParamInfo<SpawnedRole>& info) { return std::string(info.param.name); });

} // namespace
