// A long session: one window, many portal picks, then many lookups each in a fresh program.
//
//   bench_soak [PICKS] [LOOKUPS]      (500 and 100 unless given)
//
// 1. One window (this process) picks the five sample portals' query pages in turn, PICKS times,
//    sending no result; every 50 picks it prints the summed Pss of its whole process tree, the
//    tree's process count and its open file descriptors.
// 2. LOOKUPS full lookups in a row, each in a fresh program started by this process acting as
//    the host: the program is this executable's window mode (the real window and engine, with
//    the pick and the form's submission done in the process in place of a user), chosen by
//    QUARVEL_SOAK_PORTAL=INDEX in its environment, the host's port its one argument. Each must
//    deliver its block and end; afterwards no process of any of them may be left, and no file
//    may be left behind in /tmp, in HOME or in the programs' working folder.
#include "EventLoopWait.h"
#include "HttpFixtureServer.h"
#include "ProcessTree.h"
#include "portals/PortalTable.h"
#include "shell/ProcessEntry.h"
#include "ui/CBNorva.h"
#include "ui/frmQuarvel.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <array>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kPortals = 5;

// The sample portals, each on a loopback address of its own.
struct SampleServers
{
    std::array<std::unique_ptr<HttpFixtureServer>, kPortals> servers;
    QString hosts;

    bool start()
    {
        const QList<BuiltInPortalPaths>& portals = BuiltInPortalPathList();
        QStringList list;
        for (int i = 0; i < kPortals; ++i) {
            servers[i] = std::make_unique<HttpFixtureServer>();
            servers[i]->setRoot(QStringLiteral(QUARVEL_SAMPLES_DIR "/") + portals.at(i).key);
            if (!servers[i]->listen(QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + i))))
                return false;
            list.append(portals.at(i).key + u'=' + servers[i]->origin());
        }
        hosts = list.join(u',');
        return true;
    }
};

// Picks portal index in the list as the list reports a user's choice; true once its query
// page's main-frame load has ended.
bool pickAndWait(TForm1& window, int index)
{
    const QString queryUrl = window.URIEstados().at(index).URLconsulta;
    bool loaded = false;
    const QMetaObject::Connection connection =
        QObject::connect(window.Chromium1, &TChromium::OnLoadEnd, [&](const TCefFrame& frame, int) {
            loaded = loaded || (frame.IsMain() && frame.GetUrl() == queryUrl);
        });
    window.cbUF->setCurrentIndex(index);
    Q_EMIT window.cbUF->activated(index);
    const bool ok = WaitFor([&] { return loaded; }, 30000);
    QObject::disconnect(connection);
    return ok;
}

struct TreeFigures
{
    long pssKiB;
    qsizetype processes;
    int fds;
};

TreeFigures treeFigures()
{
    const qint64 self = ::getpid();
    return {TreePssKiB(self), ProcessTree(self).size(), TreeOpenFds(self)};
}

int soakPicks(int picks)
{
    QTcpServer host;
    host.listen(QHostAddress::LocalHost);
    TForm1 window({QString::number(host.serverPort())});
    window.ShowBox = [](const MessageBoxSpec& box) {
        std::fprintf(stderr, "box: %s\n", qPrintable(box.text));
    };
    QSignalSpy closed(&window, &TForm1::Closed);
    window.show();
    if (!WaitFor([&] { return host.hasPendingConnections(); }, 30000))
        return 1;
    std::unique_ptr<QTcpSocket> link(host.nextPendingConnection());
    if (!WaitFor([&] { return window.AddressPnl->isEnabled(); }, 30000))
        return 1;

    std::printf("%6s %12s %10s %8s\n", "picks", "tree Pss KiB", "processes", "fds");
    long pssAt50 = -1;
    TreeFigures last{};
    for (int pick = 1; pick <= picks; ++pick) {
        if (!pickAndWait(window, (pick - 1) % kPortals)) {
            std::fprintf(stderr, "pick %d: the query page did not load\n", pick);
            return 1;
        }
        if (pick % 50 == 0) {
            // Let the page's own timers and the engine's clean-up settle before reading.
            Spin(1000);
            last = treeFigures();
            if (pick == 50)
                pssAt50 = last.pssKiB;
            std::printf("%6d %12ld %10lld %8d\n", pick, last.pssKiB, qlonglong(last.processes),
                        last.fds);
            std::fflush(stdout);
        }
    }
    if (pssAt50 > 0)
        std::printf("tree Pss growth from pick 50 to pick %d: %+.1f %%\n", picks,
                    100.0 * (last.pssKiB - pssAt50) / pssAt50);
    link->waitForReadyRead(0);
    std::printf("bytes sent to the host during the picks: %lld\n",
                qlonglong(link->bytesAvailable()));
    window.close();
    WaitFor([&] { return closed.count() > 0; }, 20000);
    return 0;
}

// Window mode: one lookup of portal index, the pick and the submission done here.
int lookupWindow(const QStringList& arguments, int index)
{
    TForm1 window(arguments);
    window.ShowBox = [](const MessageBoxSpec& box) {
        std::fprintf(stderr, "box: %s\n", qPrintable(box.text));
    };
    QSignalSpy closed(&window, &TForm1::Closed);
    window.show();
    if (!WaitFor([&] { return window.AddressPnl->isEnabled(); }, 30000) ||
        !pickAndWait(window, index))
        return 3;
    const std::optional<TCefFrame> main = window.Chromium1->GetMainFrame();
    if (!main)
        return 3;
    main->ExecuteJavaScript(QStringLiteral("document.getElementById('consulta').requestSubmit();"),
                            main->GetUrl(), 0);
    return WaitFor([&] { return closed.count() > 0; }, 30000) ? 0 : 4;
}

// Every path below root (not following links), skipping what other work on a shared machine
// writes meanwhile: the compiler's temporary files and cache, and the shell jobs' folders.
QSet<QString> pathsBelow(const QString& root)
{
    static const QRegularExpression others(
        QStringLiteral("ccache|^/tmp/cc[A-Za-z0-9]{6}\\.|^/tmp/bash_(jobs|tool)"));
    QSet<QString> paths;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!others.match(path).hasMatch())
            paths.insert(path);
    }
    return paths;
}

// A process by its id and start time, which together never name another.
struct ProcessId
{
    qint64 pid;
    QByteArray start;
    int lookup = 0; // which lookup's program it belonged to
    bool operator==(const ProcessId& other) const
    {
        return pid == other.pid && start == other.start;
    }
};

QByteArray startTime(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ').value(19);
}

int soakLookups(int lookups)
{
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    const QString home = QDir::homePath();
    const QSet<QString> tmpBefore = pathsBelow(QDir::tempPath());
    const QSet<QString> homeBefore = pathsBelow(home);
    QList<ProcessId> seen;
    int blocks = 0;
    QList<int> exitCodes;
    for (int i = 0; i < lookups; ++i) {
        const int index = i % kPortals;
        QTcpServer host;
        host.listen(QHostAddress::LocalHost);
        QProcess program;
        program.setWorkingDirectory(work.path());
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUARVEL_SOAK_PORTAL"), QString::number(index));
        program.setProcessEnvironment(env);
        program.start(QCoreApplication::applicationFilePath(),
                      {QString::number(host.serverPort())});
        // The sample servers live in this process: every wait turns the event loop.
        if (!WaitFor([&] { return host.hasPendingConnections(); }, 60000)) {
            std::fprintf(stderr, "lookup %d: the program never connected\n", i);
            return 1;
        }
        std::unique_ptr<QTcpSocket> link(host.nextPendingConnection());
        QByteArray received;
        const QByteArray end(".\0\r\0\n\0", 6);
        QObject::connect(link.get(), &QTcpSocket::readyRead, [&] { received += link->readAll(); });
        // The program's processes, read while it works.
        const auto note = [&] {
            for (const qint64 pid : ProcessTree(program.processId())) {
                const ProcessId id{pid, startTime(pid), i};
                if (!seen.contains(id))
                    seen.append(id);
            }
        };
        QElapsedTimer sinceNote;
        sinceNote.start();
        note();
        WaitFor(
            [&] {
                if (sinceNote.elapsed() >= 100) {
                    note();
                    sinceNote.restart();
                }
                return received.endsWith(end) || program.state() == QProcess::NotRunning;
            },
            60000);
        if (received.endsWith(end))
            ++blocks;
        else
            std::fprintf(stderr, "lookup %d (portal %d): no block\n", i, index);
        if (!WaitFor([&] { return program.state() == QProcess::NotRunning; }, 60000)) {
            std::fprintf(stderr, "lookup %d: the program did not end\n", i);
            program.kill();
            program.waitForFinished(5000);
        }
        exitCodes.append(program.exitCode());
        if (program.exitCode() != 0)
            std::fprintf(stderr, "lookup %d: exit status %d\n", i, program.exitCode());
        if ((i + 1) % 10 == 0) {
            std::printf("lookups %d: blocks %d\n", i + 1, blocks);
            std::fflush(stdout);
        }
    }
    // A program's engine helpers end a moment after it: wait for them, at most 10 s.
    const auto alive = [&] {
        QList<ProcessId> running;
        for (const ProcessId& id : std::as_const(seen)) {
            if (startTime(id.pid) == id.start)
                running.append(id);
        }
        return running;
    };
    QElapsedTimer settle;
    settle.start();
    WaitFor([&] { return alive().isEmpty(); }, 10000);
    const QList<ProcessId> running = alive();
    std::printf("the programs' processes all gone %lld ms after the last program ended\n",
                running.isEmpty() ? settle.elapsed() : -1LL);
    for (const ProcessId& id : running) {
        QFile status(QStringLiteral("/proc/%1/status").arg(id.pid));
        // A process that ended meanwhile reads as empty lines.
        const QList<QByteArray> lines =
            status.open(QIODevice::ReadOnly) ? status.readAll().split('\n') : QList<QByteArray>();
        std::printf("left running: pid %lld of lookup %d: %s %s %s\n", id.pid, id.lookup,
                    lines.value(0).constData(), lines.value(2).constData(),
                    lines.value(6).constData());
    }
    const qsizetype left = running.size();
    int nonZero = 0;
    for (const int code : std::as_const(exitCodes))
        nonZero += code != 0;
    QStringList newFiles;
    for (const QString& path : pathsBelow(QDir::tempPath()) - tmpBefore)
        newFiles.append(path);
    for (const QString& path : pathsBelow(home) - homeBefore)
        newFiles.append(path);
    for (const QString& path : pathsBelow(work.path()))
        newFiles.append(path);
    newFiles.sort();
    std::printf("lookups: %d, blocks received: %d, non-zero exits: %d, processes seen: %lld, "
                "left running: %lld\n",
                lookups, blocks, nonZero, qlonglong(seen.size()), qlonglong(left));
    std::printf("new paths in %s, %s and the working folder: %lld\n", qPrintable(QDir::tempPath()),
                qPrintable(home), qlonglong(newFiles.size()));
    for (const QString& path : std::as_const(newFiles))
        std::printf("  %s\n", qPrintable(path));
    return blocks == lookups && left == 0 ? 0 : 1;
}

int soak(const QStringList& arguments)
{
    const int picks = std::max(50, arguments.value(0, QStringLiteral("500")).toInt());
    const int lookups = std::max(1, arguments.value(1, QStringLiteral("100")).toInt());
    SampleServers samples;
    if (!samples.start())
        return 1;
    qputenv("QUARVEL_PORTAL_HOSTS", samples.hosts.toUtf8());
    if (const int status = soakPicks(picks))
        return status;
    return soakLookups(lookups);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return RunQuarvelProcess(argc, argv, [](QApplication&, const QStringList& arguments) {
        if (qEnvironmentVariableIsSet("QUARVEL_SOAK_PORTAL"))
            return lookupWindow(arguments, qEnvironmentVariableIntValue("QUARVEL_SOAK_PORTAL"));
        return soak(arguments);
    });
}
