#pragma once

// Looking at a shipped copy of the program from the outside: run it against a host peer, see
// which files its engine has mapped and which executables its helper processes are.

#include "TestUtil.h"

#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <memory>

// The test environment without anything that would point the engine at other folders or
// helpers, and with the English locale so that the engine reads en-US.pak.
QProcessEnvironment ShippedProgramEnvironment();

// The program started with a listening host peer's port as its only argument.
class HostedProgram
{
public:
    HostedProgram(const QString& exe, const QString& workingDir);
    ~HostedProgram();

    qint64 pid() const { return m_process.processId(); }
    // Waits for the program to connect to the host (it does once its browser exists).
    bool WaitForConnection(int timeoutMs);
    // Sends the host's "close" and waits for the program to end.
    ProgramRun CloseAndWait(int timeoutMs);
    // What the program wrote on standard error so far.
    QByteArray StandardError();

private:
    QTcpServer m_host;
    QProcess m_process;
    QTcpSocket* m_link = nullptr;
    QByteArray m_standardError;
};

// Paths of the files ending in suffix that the process has mapped (/proc/PID/maps).
QStringList MappedFiles(qint64 pid, const QString& suffix);
// Processes whose parent is pid.
QList<qint64> ChildProcesses(qint64 pid);
// The executable of a process, canonical (/proc/PID/exe).
QString ProcessExecutable(qint64 pid);
// The command line of a process (/proc/PID/cmdline).
QStringList ProcessArguments(qint64 pid);

// Canonical paths of the regular files directly in folder whose names match filter.
QStringList FilesIn(const QString& folder, const QString& filter = QStringLiteral("*"));

// Does the file hold bytes (the way a version string sits in an ELF)?
bool FileContains(const QString& path, const QByteArray& bytes);
