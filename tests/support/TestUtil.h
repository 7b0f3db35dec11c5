#pragma once

#include "TestPeer.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <optional>

class QTcpServer;

// The outcome of running a program to its end (or until the time limit, when it is killed).
struct ProgramRun
{
    bool finished = false; // false: killed at the time limit
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

// Runs program with arguments from workingDir under env (the test's own environment when empty).
// With input, the program reads it on its standard input, which is then closed.
ProgramRun RunProgram(const QString& program, const QStringList& arguments,
                      const QString& workingDir = QString(), int timeoutMs = 60000,
                      const QProcessEnvironment& env = QProcessEnvironment(),
                      const std::optional<QByteArray>& input = std::nullopt);

// The environment for starting the program in tests: offscreen, boxes dismissed by themselves.
QProcessEnvironment ProgramTestEnvironment();

// A tool running beside the test (a server, a host), its standard error passed through; killed
// if it still runs when this ends.
class RunningTool
{
public:
    RunningTool(const QString& program, const QStringList& arguments);
    ~RunningTool();

    // The next line of standard output without its line end; empty when none comes within ms.
    QString nextLine(int ms = 10000);
    // Waits for the tool to end by itself: its exit code, or -1 when it did not end normally.
    int finish(int ms = 20000);

    QProcess process;
};

// A copy of the built program in a folder of its own (readable by any user), with a chromium
// folder beside it holding the engine's packs and the en-US locale: all of them, or all but
// `omit`.
class ProgramBundle
{
public:
    explicit ProgramBundle(const QString& omit = QString());

    QString root() const { return m_dir.path(); }
    QString exe() const { return m_exe; }
    QString chromium() const;
    // A current directory that is neither the executable's nor the test's.
    QString cwd() const { return m_cwd; }

private:
    QTemporaryDir m_dir;
    QString m_exe;
    QString m_cwd;
};

// Accepts the program's connection while the event loop turns (the window opens its link from
// inside it); gives up early once `giveUp` holds.
bool AcceptTurning(TestPeer& host, std::chrono::milliseconds timeout = std::chrono::seconds(30),
                   const std::function<bool()>& giveUp = nullptr);

// The program started as the host starts it, and what came of it.
struct HostedRun
{
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;
    bool connected = false;
    TestPeer::Received fromProgram; // what the program sent after the host's close command
    QString standardError;
};

// Starts program with a host's port, answers its connection with the close command and waits
// (bounded) for it to end. inChild runs in the child between fork and exec.
HostedRun RunAgainstHost(const QString& program, const QString& cwd,
                         const std::function<void()>& inChild = nullptr);

// The program stopped at start-up because the engine pack at missingPath is missing: it said so
// on standard error (that file alone in the list, and the box), ended with a failure status and
// never opened a window, so never connected to the host.
void ExpectStoppedForMissingPack(const ProgramRun& run, const QString& missingPath,
                                 QTcpServer& host);

// A file of /proc/PID (pid 0: this process), empty when unreadable.
QByteArray ReadProcFile(qint64 pid, const char* name);
// A size in KiB from /proc/PID/status ("VmRSS", "VmHWM", ...), or -1.
qint64 ProcStatusKiB(qint64 pid, const char* field);
