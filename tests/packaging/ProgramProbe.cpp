#include "ProgramProbe.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>

QProcessEnvironment ShippedProgramEnvironment()
{
    QProcessEnvironment env = ProgramTestEnvironment();
    for (const char* name : {"QTWEBENGINE_RESOURCES_PATH", "QTWEBENGINE_LOCALES_PATH",
                             "QTWEBENGINEPROCESS_PATH", "LC_ALL", "LC_MESSAGES", "LANGUAGE"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    return env;
}

HostedProgram::HostedProgram(const QString& exe, const QString& workingDir)
{
    m_host.listen(QHostAddress::LocalHost);
    m_process.setProgram(exe);
    m_process.setArguments({QString::number(m_host.serverPort())});
    m_process.setWorkingDirectory(workingDir);
    m_process.setProcessEnvironment(ShippedProgramEnvironment());
    m_process.start();
    m_process.waitForStarted(10000);
}

HostedProgram::~HostedProgram()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool HostedProgram::WaitForConnection(int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    // Give up early when the program has ended without connecting.
    while (m_link == nullptr && !waited.hasExpired(timeoutMs)) {
        if (m_host.waitForNewConnection(100))
            m_link = m_host.nextPendingConnection();
        else if (m_process.state() == QProcess::NotRunning)
            break;
    }
    return m_link != nullptr;
}

QByteArray HostedProgram::StandardError()
{
    m_standardError += m_process.readAllStandardError();
    return m_standardError;
}

ProgramRun HostedProgram::CloseAndWait(int timeoutMs)
{
    if (m_link != nullptr) {
        m_link->write("close");
        m_link->waitForBytesWritten(5000);
        m_link->disconnectFromHost();
    }
    ProgramRun run;
    run.finished = m_process.waitForFinished(timeoutMs);
    if (!run.finished) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    run.exitStatus = m_process.exitStatus();
    run.exitCode = m_process.exitCode();
    run.standardOutput = m_process.readAllStandardOutput();
    run.standardError = StandardError();
    return run;
}

QStringList MappedFiles(qint64 pid, const QString& suffix)
{
    QStringList files;
    // address perms offset dev inode path
    for (const QByteArray& line : ReadProcFile(pid, "maps").split('\n')) {
        const qsizetype slash = line.indexOf('/');
        if (slash < 0)
            continue;
        const QString path = QString::fromUtf8(line.mid(slash));
        if (path.endsWith(suffix) && !files.contains(path))
            files.append(path);
    }
    return files;
}

QList<qint64> ChildProcesses(qint64 pid)
{
    QList<qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool numeric = false;
        const qint64 candidate = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        // pid (comm) state ppid ...; comm may hold blanks and parentheses.
        const QByteArray stat = ReadProcFile(candidate, "stat");
        const qsizetype end = stat.lastIndexOf(')');
        if (end < 0)
            continue;
        const QList<QByteArray> fields = stat.mid(end + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == pid)
            children.append(candidate);
    }
    return children;
}

QString ProcessExecutable(qint64 pid)
{
    return QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath();
}

QStringList ProcessArguments(qint64 pid)
{
    QStringList arguments;
    QByteArray cmdline = ReadProcFile(pid, "cmdline");
    if (cmdline.endsWith('\0'))
        cmdline.chop(1);
    for (const QByteArray& argument : cmdline.split('\0'))
        arguments.append(QString::fromLocal8Bit(argument));
    return arguments;
}

QStringList FilesIn(const QString& folder, const QString& filter)
{
    QStringList files;
    const QDir dir(folder);
    for (const QFileInfo& info : dir.entryInfoList({filter}, QDir::Files, QDir::Name))
        files.append(info.canonicalFilePath());
    return files;
}

bool FileContains(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.readAll().contains(bytes);
}
