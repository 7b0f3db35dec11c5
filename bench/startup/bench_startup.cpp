// Start-up time and peak memory of Quarvel's main process against a bare Qt WebEngine window,
// measured side by side in one run. Prints the medians and their ratios.
//
//   bench_startup [RUNS]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Peak resident memory of a live process, in KiB.
long peakRssKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
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
};

// Quarvel: from the process start until the host accepts its connection.
Sample runQuarvel()
{
    QTcpServer host;
    host.listen(QHostAddress::LocalHost);
    QProcess process;
    process.setProcessEnvironment(environment());
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(QUARVEL_EXE), {QString::number(host.serverPort())});
    Sample sample;
    if (host.waitForNewConnection(60000)) {
        sample.ms = clock.nsecsElapsed() / 1e6;
        QThread::msleep(500); // let the first page settle before reading the peak
        sample.peakKiB = peakRssKiB(process.processId());
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
Sample runBare()
{
    QProcess process;
    process.setProcessEnvironment(environment());
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
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        process.kill();
    process.waitForFinished(5000);
    return sample;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;

    runQuarvel(); // warm the file cache for both
    runBare();
    std::vector<double> quarvelMs, bareMs, quarvelKiB, bareKiB;
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
        std::printf("run %d: quarvel %.1f ms %ld KiB, bare %.1f ms %ld KiB\n", i, q.ms, q.peakKiB,
                    b.ms, b.peakKiB);
    }
    const double qm = median(quarvelMs), bm = median(bareMs);
    const double qk = median(quarvelKiB), bk = median(bareKiB);
    std::printf("start-up median: quarvel %.1f ms (to the host's accept), bare %.1f ms (to its "
                "first load), ratio %.3f\n",
                qm, bm, qm / bm);
    std::printf("main process peak RSS median: quarvel %.0f KiB, bare %.0f KiB, ratio %.3f\n", qk,
                bk, qk / bk);
    return 0;
}
