// Start-up time and peak memory of Quarvel's main process against a bare Qt WebEngine window,
// measured side by side in one run, with the summed proportional set size (Pss) of each one's
// whole process tree. Prints the medians and their ratios.
//
//   bench_startup [RUNS] [--sandbox]
//
// With --sandbox (run as root) both programs run as the unprivileged user nobody, once with the
// engine's sandbox on and once with it off (QTWEBENGINE_DISABLE_SANDBOX=1), interleaved in the
// same run; the memory of the whole process tree is reported too, as the sandbox adds processes.
#include "ProcessTree.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <map>
#include <unistd.h>
#include <vector>

namespace {

// A field of /proc/PID/status, as a number (the first word of its value).
long statusField(qint64 pid, const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Peak resident memory of a live process, in KiB.
long peakRssKiB(qint64 pid)
{
    return statusField(pid, "VmHWM:");
}

// Resident memory of a live process and all its descendants, in KiB.
long treeRssKiB(qint64 top)
{
    std::map<qint64, qint64> parents;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = name.toLongLong(&number);
        if (number)
            parents[pid] = statusField(pid, "PPid:");
    }
    long total = 0;
    for (const auto& [pid, parent] : parents) {
        for (qint64 p = pid; p > 1; p = parents.count(p) ? parents[p] : 0) {
            if (p == top) {
                total += statusField(pid, "VmRSS:");
                break;
            }
        }
    }
    return total;
}

// How the programs are started: as they are, or as nobody with the sandbox on or off.
struct Setting
{
    bool asNobody = false;
    bool sandboxOff = false;
    QString home; // nobody's home folder
};

void apply(const Setting& setting, QProcess& process)
{
    QProcessEnvironment env = process.processEnvironment();
    if (setting.asNobody) {
        env.insert(QStringLiteral("HOME"), setting.home);
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        process.setChildProcessModifier([] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(120);
        });
    }
    env.remove(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"));
    if (setting.sandboxOff)
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QProcessEnvironment environment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

struct Sample
{
    double ms = -1;
    long peakKiB = -1;
    long treeKiB = -1;
    long treePssKiB = -1;
};

// Quarvel: from the process start until the host accepts its connection.
Sample runQuarvel(const Setting& setting = {})
{
    QTcpServer host;
    host.listen(QHostAddress::LocalHost);
    QProcess process;
    process.setProcessEnvironment(environment());
    apply(setting, process);
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(QUARVEL_EXE), {QString::number(host.serverPort())});
    Sample sample;
    if (host.waitForNewConnection(60000)) {
        sample.ms = clock.nsecsElapsed() / 1e6;
        QThread::msleep(500); // let the first page settle before reading the peak
        sample.peakKiB = peakRssKiB(process.processId());
        sample.treeKiB = treeRssKiB(process.processId());
        sample.treePssKiB = TreePssKiB(process.processId());
        QTcpSocket* link = host.nextPendingConnection();
        link->write("close");
        link->waitForBytesWritten(5000);
        link->disconnectFromHost();
    }
    if (!process.waitForFinished(30000))
        process.kill();
    process.waitForFinished(5000);
    return sample;
}

// The bare window: from the process start until its first finished load.
Sample runBare(const Setting& setting = {})
{
    QProcess process;
    process.setProcessEnvironment(environment());
    apply(setting, process);
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(BARE_BROWSER_EXE), {});
    Sample sample;
    while (process.waitForReadyRead(60000)) {
        if (process.readAllStandardOutput().contains("loaded")) {
            sample.ms = clock.nsecsElapsed() / 1e6;
            break;
        }
    }
    QThread::msleep(500);
    sample.peakKiB = peakRssKiB(process.processId());
    sample.treeKiB = treeRssKiB(process.processId());
    sample.treePssKiB = TreePssKiB(process.processId());
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        process.kill();
    process.waitForFinished(5000);
    return sample;
}

} // namespace

// The sandbox on against off, both as nobody, the four runs of a round interleaved.
int compareSandbox(int runs)
{
    if (::geteuid() != 0) {
        std::fprintf(stderr, "--sandbox starts the programs as nobody: run it as root\n");
        return 2;
    }
    QTemporaryDir home;
    if (!home.isValid() || ::chown(QFile::encodeName(home.path()).constData(), 65534, 65534) != 0)
        return 1;
    const Setting on{true, false, home.path()};
    const Setting off{true, true, home.path()};
    runQuarvel(on); // warm the file cache
    runBare(on);
    const char* const names[] = {"quarvel on", "bare on", "quarvel off", "bare off"};
    std::vector<double> ms[4], peak[4], tree[4];
    for (int i = 0; i < runs; ++i) {
        const Sample samples[] = {runQuarvel(on), runBare(on), runQuarvel(off), runBare(off)};
        std::printf("run %d:", i);
        for (int k = 0; k < 4; ++k) {
            if (samples[k].ms < 0) {
                std::fprintf(stderr, "run %d: %s failed\n", i, names[k]);
                return 1;
            }
            ms[k].push_back(samples[k].ms);
            peak[k].push_back(samples[k].peakKiB);
            tree[k].push_back(samples[k].treeKiB);
            std::printf(" %s %.1f ms %ld/%ld KiB%s", names[k], samples[k].ms, samples[k].peakKiB,
                        samples[k].treeKiB, k < 3 ? "," : "\n");
        }
    }
    for (int k = 0; k < 4; ++k)
        std::printf("median %s: %.1f ms, main process peak %.0f KiB, tree %.0f KiB\n", names[k],
                    median(ms[k]), median(peak[k]), median(tree[k]));
    std::printf("start-up ratio quarvel/bare: sandbox on %.3f, sandbox off %.3f\n",
                median(ms[0]) / median(ms[1]), median(ms[2]) / median(ms[3]));
    std::printf("sandbox on/off: quarvel start-up %.3f, main peak %.3f, tree %.3f\n",
                median(ms[0]) / median(ms[2]), median(peak[0]) / median(peak[2]),
                median(tree[0]) / median(tree[2]));
    return 0;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int runs = 7;
    bool sandbox = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sandbox") == 0)
            sandbox = true;
        else
            runs = std::max(1, atoi(argv[i]));
    }
    if (sandbox)
        return compareSandbox(runs);

    runQuarvel(); // warm the file cache for both
    runBare();
    std::vector<double> quarvelMs, bareMs, quarvelKiB, bareKiB, quarvelPss, barePss;
    for (int i = 0; i < runs; ++i) {
        const Sample q = runQuarvel();
        const Sample b = runBare();
        if (q.ms < 0 || b.ms < 0) {
            std::fprintf(stderr, "run %d failed (quarvel %.1f ms, bare %.1f ms)\n", i, q.ms, b.ms);
            return 1;
        }
        quarvelMs.push_back(q.ms);
        bareMs.push_back(b.ms);
        quarvelKiB.push_back(q.peakKiB);
        bareKiB.push_back(b.peakKiB);
        quarvelPss.push_back(q.treePssKiB);
        barePss.push_back(b.treePssKiB);
        std::printf(
            "run %d: quarvel %.1f ms %ld KiB tree Pss %ld KiB, bare %.1f ms %ld KiB tree Pss "
            "%ld KiB\n",
            i, q.ms, q.peakKiB, q.treePssKiB, b.ms, b.peakKiB, b.treePssKiB);
    }
    const double qm = median(quarvelMs), bm = median(bareMs);
    const double qk = median(quarvelKiB), bk = median(bareKiB);
    std::printf("start-up median: quarvel %.1f ms (to the host's accept), bare %.1f ms (to its "
                "first load), ratio %.3f\n",
                qm, bm, qm / bm);
    std::printf("main process peak RSS median: quarvel %.0f KiB, bare %.0f KiB, ratio %.3f\n", qk,
                bk, qk / bk);
    const double qp = median(quarvelPss), bp = median(barePss);
    std::printf("whole tree summed Pss median: quarvel %.0f KiB, bare %.0f KiB, ratio %.3f\n", qp,
                bp, qp / bp);
    return 0;
}
