// The Debian package made by CPack from the built tree: its name, control fields and computed
// dependencies, its install layout, and the programs in it run from where it was unpacked.
#include "ProgramProbe.h"
#include "QuarvelVersion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr)
{
    const ProgramRun result = RunProgram(program, arguments, QString(), 60000);
    if (exitCode != nullptr)
        *exitCode = result.finished ? result.exitCode : -1;
    return QString::fromUtf8(result.standardOutput);
}

// Resolved libraries of a binary as its loader finds them: soname to path.
QMap<QString, QString> resolvedLibraries(const QString& binary)
{
    QMap<QString, QString> libraries;
    static const QRegularExpression line(QStringLiteral("^\\s*(\\S+) => (/\\S+)"),
                                         QRegularExpression::MultilineOption);
    auto matches = line.globalMatch(run(QStringLiteral("ldd"), {binary}));
    while (matches.hasNext()) {
        const auto match = matches.next();
        libraries.insert(match.captured(1), match.captured(2));
    }
    return libraries;
}

// The libraries a binary links directly (its NEEDED entries).
QStringList neededLibraries(const QString& binary)
{
    QStringList needed;
    static const QRegularExpression entry(QStringLiteral("\\(NEEDED\\).*\\[(.+)\\]"));
    auto matches =
        entry.globalMatch(run(QStringLiteral("readelf"), {QStringLiteral("-d"), binary}));
    while (matches.hasNext())
        needed.append(matches.next().captured(1));
    return needed;
}

// The Debian package that installed a file. dpkg knows each file by one path, which may be the
// /lib or the /usr/lib spelling of it (merged /usr), through symbolic links or not.
QString owningPackage(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    QStringList candidates{path, canonical};
    for (const QString& candidate : QStringList{path, canonical}) {
        if (candidate.startsWith(QStringLiteral("/usr/")))
            candidates.append(candidate.mid(4));
        else
            candidates.append(QStringLiteral("/usr") + candidate);
    }
    for (const QString& candidate : candidates) {
        int status = -1;
        const QString owner =
            run(QStringLiteral("dpkg"), {QStringLiteral("-S"), candidate}, &status);
        if (status == 0)
            return owner.section(QLatin1Char(':'), 0, 0).trimmed();
    }
    return {};
}

// Package names of a Depends field, alternatives included, without versions or architectures.
QStringList packageNames(const QString& depends)
{
    QStringList names;
    for (const QString& alternatives : depends.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        for (const QString& entry : alternatives.split(QLatin1Char('|')))
            names.append(
                entry.trimmed().section(QLatin1Char(' '), 0, 0).section(QLatin1Char(':'), 0, 0));
    }
    return names;
}

class PackageTest : public testing::Test
{
protected:
    // One package for the whole run, made by CPack into a scratch folder and unpacked there.
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(s_dir->isValid());
        const QString out = s_dir->path() + QStringLiteral("/out");
        s_packed = RunProgram(QStringLiteral(QUARVEL_CPACK_COMMAND),
                              {QStringLiteral("--config"),
                               QStringLiteral(QUARVEL_BINARY_DIR "/CPackConfig.cmake"),
                               QStringLiteral("-B"), out},
                              s_dir->path(), 150000);
        const QStringList debs = FilesIn(out, QStringLiteral("*.deb"));
        if (debs.size() == 1)
            s_deb = debs.first();
        s_root = s_dir->path() + QStringLiteral("/root");
        if (!s_deb.isEmpty())
            RunProgram(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), s_deb, s_root});
        s_root = QDir(s_root).canonicalPath();
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_packed.finished) << "cpack still running";
        ASSERT_EQ(s_packed.exitCode, 0)
            << s_packed.standardOutput.constData() << s_packed.standardError.constData();
        ASSERT_FALSE(s_deb.isEmpty()) << s_packed.standardOutput.constData();
        ASSERT_FALSE(s_root.isEmpty());
    }

    static QString field(const char* name)
    {
        return run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), s_deb, QLatin1String(name)})
            .trimmed();
    }
    static QString bin(const char* name)
    {
        return s_root + QStringLiteral("/usr/bin/") + QLatin1String(name);
    }

    static std::unique_ptr<QTemporaryDir> s_dir;
    static ProgramRun s_packed;
    static QString s_deb;
    static QString s_root;
};

std::unique_ptr<QTemporaryDir> PackageTest::s_dir;
ProgramRun PackageTest::s_packed;
QString PackageTest::s_deb;
QString PackageTest::s_root;

const char* const kBinaries[] = {"quarvel", "quarvel-host", "quarvel-extract", "quarvel-probe"};

// The numbered Debian release this machine runs (12, 13), empty on testing and unstable.
QString DebianVersionId()
{
    QFile file(QStringLiteral("/etc/os-release"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("VERSION_ID="))
            return QString::fromUtf8(line.mid(11)).remove(QLatin1Char('"'));
    }
    return {};
}

TEST_F(PackageTest, NameAndControlFieldsCarryTheProjectVersionAndTheRelease)
{
    const QString arch =
        run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")}).trimmed();
    ASSERT_FALSE(arch.isEmpty());
    // Packages made on two releases differ in their Depends, so their versions tell them apart.
    const QString id = DebianVersionId();
    const QString version =
        QStringLiteral(QUARVEL_VERSION_STR "-1") + (id.isEmpty() ? QString() : u"~deb" + id);
    EXPECT_EQ(QFileInfo(s_deb).fileName(), u"quarvel_" + version + u'_' + arch + u".deb");
    EXPECT_EQ(field("Package"), QStringLiteral("quarvel"));
    EXPECT_EQ(field("Version"), version);
    EXPECT_EQ(field("Architecture"), arch);
    EXPECT_TRUE(field("Maintainer").contains(QRegularExpression(QStringLiteral(".+ <.+@.+>"))))
        << qPrintable(field("Maintainer"));
    const QString synopsis = field("Description").section(QLatin1Char('\n'), 0, 0);
    EXPECT_FALSE(synopsis.isEmpty());
    EXPECT_LE(synopsis.size(), 80) << qPrintable(synopsis);
}

// Every library a shipped binary links directly comes from a package in Depends: the list is
// computed from the binaries, so it names exactly what they link.
TEST_F(PackageTest, DependsOnThePackageOfEveryDirectlyLinkedLibrary)
{
    const QStringList depends = packageNames(field("Depends"));
    int checked = 0;
    for (const char* binary : kBinaries) {
        const QMap<QString, QString> resolved = resolvedLibraries(bin(binary));
        for (const QString& soname : neededLibraries(bin(binary))) {
            ASSERT_TRUE(resolved.contains(soname)) << binary << ": " << qPrintable(soname);
            const QString owner = owningPackage(resolved.value(soname));
            ASSERT_FALSE(owner.isEmpty()) << qPrintable(resolved.value(soname));
            EXPECT_TRUE(depends.contains(owner))
                << binary << " links " << qPrintable(soname) << " of " << qPrintable(owner)
                << ", not in Depends: " << qPrintable(depends.join(QStringLiteral(", ")));
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
}

// Installing the package brings the engine, Qt Network and PCRE2 runtimes: each library's
// package is in Depends, or (for a library that only the engine links) in the Depends of a
// package there.
TEST_F(PackageTest, DependenciesBringTheEngineNetworkAndPcre2Runtimes)
{
    const QStringList depends = packageNames(field("Depends"));
    const QMap<QString, QString> resolved = resolvedLibraries(bin("quarvel"));
    for (const char* soname :
         {"libQt6WebEngineCore.so.6", "libQt6Network.so.6", "libpcre2-16.so.0"}) {
        const QString library = resolved.value(QLatin1String(soname));
        ASSERT_FALSE(library.isEmpty()) << "quarvel does not load " << soname;
        const QString owner = owningPackage(library);
        ASSERT_FALSE(owner.isEmpty()) << qPrintable(library);
        QString through;
        if (!depends.contains(owner)) {
            for (const QString& dependency : depends) {
                const QString theirs =
                    run(QStringLiteral("dpkg-query"),
                        {QStringLiteral("-W"), QStringLiteral("-f=${Depends}"), dependency});
                if (packageNames(theirs).contains(owner)) {
                    through = dependency;
                    break;
                }
            }
        }
        EXPECT_TRUE(depends.contains(owner) || !through.isEmpty())
            << qPrintable(owner) << " (" << soname
            << ") is not brought by Depends: " << qPrintable(depends.join(QStringLiteral(", ")));
    }
}

TEST_F(PackageTest, InstallsTheBinariesAndTheDocumentation)
{
    for (const char* binary : kBinaries) {
        const QFileInfo info(bin(binary));
        EXPECT_TRUE(info.isFile() && info.isExecutable()) << binary;
    }
    const QString doc = s_root + QStringLiteral("/usr/share/doc/quarvel/");
    for (const char* file : {"README.md", "host-protocol.md", "integrators.md"})
        EXPECT_TRUE(QFileInfo(doc + QLatin1String(file)).isFile()) << file;
    EXPECT_TRUE(QFileInfo(doc + QStringLiteral("copyright")).isFile());
    EXPECT_TRUE(QFileInfo(doc + QStringLiteral("changelog.Debian.gz")).isFile());
    // No engine packs of its own: the installed program uses the system's.
    EXPECT_FALSE(QFileInfo::exists(s_root + QStringLiteral("/usr/bin/chromium")));
}

TEST_F(PackageTest, ToolsRunFromTheUnpackedTree)
{
    for (const char* tool : {"quarvel-host", "quarvel-extract", "quarvel-probe"}) {
        int status = -1;
        EXPECT_EQ(run(bin(tool), {QStringLiteral("--version")}, &status).trimmed(),
                  QLatin1String(tool) + QStringLiteral(" " QUARVEL_VERSION_STR));
        EXPECT_EQ(status, 0) << tool;
    }
    int status = -1;
    const QString help = run(bin("quarvel-host"), {QStringLiteral("--help")}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(help.contains(QStringLiteral("quarvel-host"))) << qPrintable(help);
    EXPECT_TRUE(help.contains(QStringLiteral("--run"))) << qPrintable(help);

    // The sample page texts, one per portal key: the packaged tool gives what the built one does.
    const QFileInfoList samples =
        QDir(QStringLiteral(QUARVEL_SOURCE_DIR "/tests/lookup/data"))
            .entryInfoList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
    ASSERT_FALSE(samples.isEmpty());
    int matched = 0;
    for (const QFileInfo& sample : samples) {
        const QStringList arguments{sample.baseName(), sample.filePath()};
        const ProgramRun packaged = RunProgram(bin("quarvel-extract"), arguments);
        const ProgramRun built = RunProgram(QStringLiteral(QUARVEL_EXTRACT_EXE), arguments);
        ASSERT_TRUE(packaged.finished && built.finished);
        EXPECT_EQ(packaged.exitCode, built.exitCode) << qPrintable(sample.fileName());
        EXPECT_EQ(packaged.standardOutput, built.standardOutput) << qPrintable(sample.fileName());
        if (packaged.exitCode == 0 && !packaged.standardOutput.isEmpty())
            ++matched;
    }
    EXPECT_GT(matched, 0) << "no sample gave a field from the packaged quarvel-extract";
}

// Every installed program has its page; each decompresses to the source kept in the repository.
TEST_F(PackageTest, InstallsAManualPageForEveryProgram)
{
    const QStringList programs = QDir(s_root + QStringLiteral("/usr/bin")).entryList(QDir::Files);
    ASSERT_FALSE(programs.isEmpty());
    for (const QString& program : programs) {
        const QString page =
            s_root + QStringLiteral("/usr/share/man/man1/") + program + QStringLiteral(".1.gz");
        ASSERT_TRUE(QFileInfo(page).isFile()) << qPrintable(program);
        QFile source(QStringLiteral(QUARVEL_SOURCE_DIR "/docs/man/") + program +
                     QStringLiteral(".1"));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly)) << qPrintable(program);
        const ProgramRun unpacked =
            RunProgram(QStringLiteral("gzip"), {QStringLiteral("-dc"), page});
        ASSERT_TRUE(unpacked.finished);
        EXPECT_EQ(unpacked.standardOutput, source.readAll()) << qPrintable(program);
    }
}

// Debian's own checker, with its default profile: any error or warning fails the package.
// Overrides, when there are any, ship in the package and say why in a comment.
TEST_F(PackageTest, LintianReportsNoErrorOrWarning)
{
    const ProgramRun checked =
        RunProgram(QStringLiteral("lintian"),
                   {QStringLiteral("--tag-display-limit"), QStringLiteral("0"),
                    QStringLiteral("--fail-on"), QStringLiteral("error,warning"), s_deb},
                   s_dir->path(), 240000);
    ASSERT_TRUE(checked.finished) << "lintian did not finish (scripts/setup installs it)";
    const QString report = QString::fromUtf8(checked.standardOutput + checked.standardError);
    static const QRegularExpression tag(QStringLiteral("^[EW]: "),
                                        QRegularExpression::MultilineOption);
    EXPECT_FALSE(report.contains(tag)) << qPrintable(report);
    EXPECT_EQ(checked.exitCode, 0) << qPrintable(report);
}

TEST_F(PackageTest, ProgramCarriesItsVersionRecord)
{
    EXPECT_TRUE(
        FileContains(bin("quarvel"), QByteArrayLiteral("quarvel version " QUARVEL_VERSION_STR)));
    const QString notes = run(QStringLiteral("readelf"), {QStringLiteral("-n"), bin("quarvel")});
    EXPECT_TRUE(notes.contains(QStringLiteral(".note.quarvel.version"))) << qPrintable(notes);
    EXPECT_TRUE(notes.contains(QRegularExpression(QStringLiteral("\\n\\s*Quarvel\\s+0x"))))
        << qPrintable(notes);
}

// Installed without a chromium folder beside it, the program runs on the system's packs and is
// still its own engine helper from where it was unpacked.
TEST_F(PackageTest, InstalledProgramIsItsOwnHelperOnTheSystemPacks)
{
    HostedProgram program(bin("quarvel"), s_dir->path());
    ASSERT_TRUE(program.WaitForConnection(60000))
        << "the program never connected: " << program.StandardError().constData();

    const QString systemPack = QFileInfo(QLibraryInfo::path(QLibraryInfo::DataPath) +
                                         QStringLiteral("/resources/qtwebengine_resources.pak"))
                                   .canonicalFilePath();
    QStringList packs;
    const bool mapped = QTest::qWaitFor(
        [&] {
            packs = MappedFiles(program.pid(), QStringLiteral(".pak"));
            return packs.contains(systemPack);
        },
        30000);
    EXPECT_TRUE(mapped) << qPrintable(packs.join(QLatin1Char('\n')));

    QList<qint64> helpers;
    const bool started = QTest::qWaitFor(
        [&] { return !(helpers = ChildProcesses(program.pid())).isEmpty(); }, 30000);
    ASSERT_TRUE(started) << "no helper process";
    for (const qint64 helper : helpers)
        EXPECT_EQ(ProcessExecutable(helper), bin("quarvel"));

    const ProgramRun result = program.CloseAndWait(60000);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(result.exitCode, 0) << result.standardError.constData();
}

} // namespace
