// Start-up under damaged conditions: engine packs that are cut short, empty, unreadable or not
// files at all; the program reached through a symbolic link; a current directory that no longer
// exists. The program either runs as usual (connects, obeys the host's close, exits 0) or ends
// by itself with a non-zero status after telling the user in a box. It never crashes, never
// hangs, and never ends quietly as if all went well.
#include "FaultHarness.h"
#include "TestUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// How a bundle is damaged before the program starts from it.
struct Damage
{
    const char* name;
    const char* file; // under chromium/
    enum Kind
    {
        None,
        Truncate,
        Empty,
        Folder,
        DanglingLink,
        Unreadable
    } kind;
};

void PrintTo(const Damage& c, std::ostream* os)
{
    *os << c.name;
}

void Apply(const Damage& damage, const ProgramBundle& bundle)
{
    const QString path = bundle.chromium() + u'/' + QLatin1String(damage.file);
    switch (damage.kind) {
    case Damage::None:
        return;
    case Damage::Truncate:
        ASSERT_TRUE(QFile::resize(path, 100));
        return;
    case Damage::Empty:
        ASSERT_TRUE(QFile::resize(path, 0));
        return;
    case Damage::Folder:
        ASSERT_TRUE(QFile::remove(path));
        ASSERT_TRUE(QDir().mkpath(path));
        return;
    case Damage::DanglingLink:
        ASSERT_TRUE(QFile::remove(path));
        ASSERT_TRUE(QFile::link(bundle.root() + QStringLiteral("/nothing-here.pak"), path));
        return;
    case Damage::Unreadable:
        ASSERT_TRUE(QFile::setPermissions(path, {}));
        return;
    }
}

// An unprivileged user, for whom a file without permissions is really unreadable (the
// superuser reads it all the same).
constexpr uid_t kNobody = 65534;

class DamagedBundleTest : public testing::TestWithParam<Damage>
{};

TEST_P(DamagedBundleTest, RunsOrTellsTheUserAndEnds)
{
    const Damage& damage = GetParam();
    ProgramBundle bundle;
    if (damage.kind != Damage::None &&
        !QFileInfo::exists(bundle.chromium() + u'/' + QLatin1String(damage.file)))
        GTEST_SKIP() << "the engine here has no " << damage.file << " of its own";
    Apply(damage, bundle);
    std::function<void()> asNobody;
    if (damage.kind == Damage::Unreadable && ::geteuid() == 0) {
        asNobody = [] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(111);
        };
    }
    const HostedRun run = RunAgainstHost(bundle.exe(), bundle.cwd(), asNobody);

    const bool toldUser = run.standardError.contains(QStringLiteral("message-box: "));
    std::printf("[ outcome  ] %s: %s, exit %s %d%s\n", damage.name,
                run.connected ? "connected" : "never connected",
                run.exitStatus == QProcess::NormalExit ? "code" : "crashed, signal", run.exitCode,
                toldUser ? ", with a box" : "");
    ASSERT_TRUE(run.finished) << "the program hung";
    EXPECT_EQ(run.exitStatus, QProcess::NormalExit) << "the program crashed:\n"
                                                    << qPrintable(run.standardError.right(3000));
    if (run.connected) {
        EXPECT_EQ(run.exitCode, 0) << qPrintable(run.standardError.right(3000));
        EXPECT_TRUE(run.fromProgram.bytes.isEmpty());
        EXPECT_TRUE(run.fromProgram.endOfStream);
    } else {
        // Ending without a window must not look like a normal run, and the user is told why.
        EXPECT_NE(run.exitCode, 0);
        EXPECT_TRUE(toldUser) << qPrintable(run.standardError.right(3000));
        if (damage.kind != Damage::None) {
            EXPECT_TRUE(run.standardError.contains(QLatin1String(damage.file)))
                << "the box does not name the damaged file:\n"
                << qPrintable(run.standardError.right(3000));
        }
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Packs, DamagedBundleTest, testing::Values(
    Damage{"Intact", "", Damage::None},
    Damage{"MainPackCutShort", "qtwebengine_resources.pak", Damage::Truncate},
    Damage{"ScalePackEmpty", "qtwebengine_resources_100p.pak", Damage::Empty},
    Damage{"DevtoolsPackCutShort", "qtwebengine_devtools_resources.pak", Damage::Truncate},
    Damage{"LocalePackCutShort", "locales/en-US.pak", Damage::Truncate},
    Damage{"MainPackIsAFolder", "qtwebengine_resources.pak", Damage::Folder},
    Damage{"MainPackDanglingLink", "qtwebengine_resources.pak", Damage::DanglingLink},
    Damage{"MainPackUnreadable", "qtwebengine_resources.pak", Damage::Unreadable},
    Damage{"LocalePackUnreadable", "locales/en-US.pak", Damage::Unreadable},
    // Data files that some builds of the engine (Debian 13's) read from the same folder.
    Damage{"IcuDataEmpty", "icudtl.dat", Damage::Empty},
    Damage{"IcuDataDanglingLink", "icudtl.dat", Damage::DanglingLink},
    Damage{"SnapshotEmpty", "v8_context_snapshot.bin", Damage::Empty}),
    [](const testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });
// clang-format on

// The engine's folders are found beside the real executable, not beside a link to it nor in the
// current directory.
TEST(StartupPaths, ThroughASymbolicLinkBesideADecoyFolder)
{
    ProgramBundle bundle;
    QTemporaryDir other;
    // A decoy beside the link: an empty chromium folder, every pack missing.
    ASSERT_TRUE(QDir().mkpath(other.path() + QStringLiteral("/chromium/locales")));
    const QString link = other.path() + QStringLiteral("/quarvel-link");
    ASSERT_TRUE(QFile::link(bundle.exe(), link));
    const HostedRun run = RunAgainstHost(link, other.path());
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(run.connected) << qPrintable(run.standardError.right(3000));
    EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(run.exitCode, 0);
}

TEST(StartupPaths, ThroughASymbolicLinkToADamagedBundleNamesTheRealFolder)
{
    ProgramBundle bundle;
    ASSERT_TRUE(QFile::remove(bundle.chromium() + QStringLiteral("/qtwebengine_resources.pak")));
    // The link's folder holds a complete bundle; it must not stand in for the real one.
    ProgramBundle beside;
    const QString link = QFileInfo(beside.exe()).absolutePath() + QStringLiteral("/quarvel-link");
    ASSERT_TRUE(QFile::link(bundle.exe(), link));
    const HostedRun run = RunAgainstHost(link, beside.cwd());
    ASSERT_TRUE(run.finished);
    EXPECT_FALSE(run.connected);
    EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.standardError.contains(bundle.chromium() +
                                           QStringLiteral("/qtwebengine_resources.pak")))
        << qPrintable(run.standardError.right(3000));
}

TEST(StartupPaths, CurrentDirectoryDeletedBeforeStart)
{
    ProgramBundle bundle;
    const QString gone = bundle.root() + QStringLiteral("/gone");
    ASSERT_TRUE(QDir().mkpath(gone));
    const QByteArray gonePath = QFile::encodeName(gone);
    // In the child, between fork and exec: enter the folder, then remove it.
    const HostedRun run = RunAgainstHost(bundle.exe(), bundle.cwd(), [gonePath] {
        if (::chdir(gonePath.constData()) != 0 || ::rmdir(gonePath.constData()) != 0)
            ::_exit(112);
    });
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(run.connected) << qPrintable(run.standardError.right(3000));
    EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.standardError.right(3000));
}

} // namespace
