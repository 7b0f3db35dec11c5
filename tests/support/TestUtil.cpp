#include "TestUtil.h"

#include "EventLoopWait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTcpServer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

ProgramRun RunProgram(const QString& program, const QStringList& arguments,
                      const QString& workingDir, int timeoutMs, const QProcessEnvironment& env,
                      const std::optional<QByteArray>& input)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.setProcessEnvironment(env.isEmpty() ? ProgramTestEnvironment() : env);
    process.start();
    ProgramRun run;
    if (!process.waitForStarted(10000))
        return run;
    if (input) {
        process.write(*input);
        process.closeWriteChannel();
    }
    run.finished = process.waitForFinished(timeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    run.standardOutput = process.readAllStandardOutput();
    run.standardError = process.readAllStandardError();
    return run;
}

QProcessEnvironment ProgramTestEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUARVEL_AUTO_DISMISS_BOXES"), QStringLiteral("50"));
    return env;
}

// --- RunningTool ---

RunningTool::RunningTool(const QString& program, const QStringList& arguments)
{
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
}

RunningTool::~RunningTool()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QString RunningTool::nextLine(int ms)
{
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(ms))
            return {};
    }
    return QString::fromUtf8(process.readLine()).trimmed();
}

int RunningTool::finish(int ms)
{
    if (!process.waitForFinished(ms) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

// --- ProgramBundle ---

ProgramBundle::ProgramBundle(const QString& omit)
{
    // Readable by any user: some cases run the program as an unprivileged one.
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                            QFile::ExeGroup);
    const QString app = m_dir.path() + QStringLiteral("/app");
    QDir().mkpath(app + QStringLiteral("/chromium/locales"));
    m_exe = app + QStringLiteral("/quarvel");
    EXPECT_TRUE(QFile::copy(QStringLiteral(QUARVEL_EXE), m_exe));
    const QString resources =
        QLibraryInfo::path(QLibraryInfo::DataPath) + QStringLiteral("/resources");
    // Every file of the engine's folder, as scripts/bundle copies it: the packs, and the data
    // files some builds of the engine read from there.
    for (const QString& file : QDir(resources).entryList(QDir::Files)) {
        if (file != omit)
            QFile::copy(resources + u'/' + file, chromium() + u'/' + file);
    }
    QFile::copy(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                    QStringLiteral("/qtwebengine_locales/en-US.pak"),
                chromium() + QStringLiteral("/locales/en-US.pak"));
    m_cwd = m_dir.path() + QStringLiteral("/elsewhere");
    QDir().mkpath(m_cwd);
}

QString ProgramBundle::chromium() const
{
    return QFileInfo(m_exe).absolutePath() + QStringLiteral("/chromium");
}

// --- Runs against a host ---

bool AcceptTurning(TestPeer& host, std::chrono::milliseconds timeout,
                   const std::function<bool()>& giveUp)
{
    return host.Accept(timeout, [&] {
        Spin(10);
        return !(giveUp && giveUp());
    });
}

HostedRun RunAgainstHost(const QString& program, const QString& cwd,
                         const std::function<void()>& inChild)
{
    TestPeer host;
    QProcess process;
    process.setProgram(program);
    process.setArguments({QString::number(host.Port())});
    process.setWorkingDirectory(cwd);
    QProcessEnvironment env = ProgramTestEnvironment();
    env.insert(QStringLiteral("HOME"), cwd);
    process.setProcessEnvironment(env);
    if (inChild)
        process.setChildProcessModifier(inChild);
    process.start();
    HostedRun run;
    if (!process.waitForStarted(10000))
        return run;
    run.connected =
        AcceptTurning(host, 60s, [&] { return process.state() == QProcess::NotRunning; });
    if (run.connected) {
        host.Send("close");
        host.ShutdownWrite();
        run.fromProgram = host.ReadUntilEnd(30s);
    }
    run.finished = process.state() == QProcess::NotRunning ||
                   process.waitForFinished(run.connected ? 30000 : 60000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    run.standardError = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void ExpectStoppedForMissingPack(const ProgramRun& run, const QString& missingPath,
                                 QTcpServer& host)
{
    ASSERT_TRUE(run.finished) << "still running";
    EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
    EXPECT_NE(run.exitCode, 0);
    const QString err = QString::fromUtf8(run.standardError);
    // The list names this file, and only this one.
    const QString expected = QStringLiteral("Qt WebEngine binaries missing !\r\n\r\n"
                                            "The missing files are :\r\n") +
                             missingPath + u'\n';
    EXPECT_TRUE(err.contains(expected)) << qPrintable(err);
    EXPECT_TRUE(err.contains(QStringLiteral("message-box: Error: Qt WebEngine binaries missing !")))
        << qPrintable(err);
    // No window, so no host link: the program never connected.
    EXPECT_FALSE(host.hasPendingConnections());
    EXPECT_FALSE(host.waitForNewConnection(200));
}

// --- /proc ---

QByteArray ReadProcFile(qint64 pid, const char* name)
{
    const QString process = pid == 0 ? QStringLiteral("self") : QString::number(pid);
    QFile file(QStringLiteral("/proc/%1/%2").arg(process, QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

qint64 ProcStatusKiB(qint64 pid, const char* field)
{
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : ReadProcFile(pid, "status").split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
