// The demo's unattended run, as a newcomer starts it without a display: its own virtual X
// display, the real programs, the window driven from outside, a summary of five portals.
#include "TestUtil.h"

#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

TEST(Demo, UnattendedRunGetsAllFiveResultBlocks)
{
    for (const char* tool : {"Xvfb", "xdotool", "xdpyinfo"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            GTEST_SKIP() << tool << " is not installed (scripts/setup installs it)";
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("QUARVEL_BUILD_DIR"), QStringLiteral(QUARVEL_BINARY_DIR));
#ifdef __SANITIZE_ADDRESS__
    // On a real X display the toolkit's X platform opens a session-bus connection whose buffers
    // libdbus keeps until exit, reported as leaks with stacks too short to suppress by library.
    // Memory errors are still caught; the leak check runs in every offscreen test of the program.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
#endif
    const ProgramRun run = RunProgram(QStringLiteral(QUARVEL_SOURCE_DIR "/scripts/demo"),
                                      {QStringLiteral("--no-build")}, QString(), 170000, env);
    const QString out = QString::fromUtf8(run.standardOutput);
    ASSERT_TRUE(run.finished) << "still running at the time limit:\n" << qPrintable(out);
    EXPECT_EQ(run.exitCode, 0) << qPrintable(out)
                               << qPrintable(QString::fromUtf8(run.standardError));
    EXPECT_TRUE(out.contains(QStringLiteral("running unattended on a virtual X display")));

    // One summary row per portal, each with its fields and a time.
    const qsizetype summary = out.indexOf(QStringLiteral("demo: summary"));
    ASSERT_GE(summary, 0) << qPrintable(out);
    static const QRegularExpression row(QStringLiteral(R"(^demo:\s+(\w+)\s+(\d+)\s+(\d+) ms$)"),
                                        QRegularExpression::MultilineOption);
    QStringList portals;
    for (auto it = row.globalMatch(out.mid(summary)); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        portals.append(match.captured(1));
        EXPECT_GT(match.captured(2).toInt(), 0) << qPrintable(match.captured(0));
    }
    EXPECT_EQ(portals.size(), 5) << qPrintable(out.mid(summary));
}

} // namespace
