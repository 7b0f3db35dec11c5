#include "ProcessTree.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <algorithm>
#include <unistd.h>

namespace {

QByteArray readProc(qint64 pid, const char* name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The fields of /proc/PID/stat after the command name (which may hold spaces and parentheses):
// the state is field 0 there, the parent 1, utime 11, stime 12.
QList<QByteArray> statFields(qint64 pid)
{
    const QByteArray stat = readProc(pid, "stat");
    const qsizetype end = stat.lastIndexOf(')');
    if (end < 0)
        return {};
    return stat.mid(end + 2).split(' ');
}

} // namespace

QList<qint64> ProcessTree(qint64 top)
{
    QHash<qint64, qint64> parents;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& name : names) {
        bool number = false;
        const qint64 pid = name.toLongLong(&number);
        if (!number)
            continue;
        const QList<QByteArray> fields = statFields(pid);
        if (fields.size() > 1)
            parents.insert(pid, fields[1].toLongLong());
    }
    QList<qint64> tree;
    if (!parents.contains(top))
        return tree;
    tree.append(top);
    // Breadth first: each round adds the children of the processes found so far.
    for (qsizetype i = 0; i < tree.size(); ++i) {
        for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
            if (it.value() == tree[i])
                tree.append(it.key());
        }
    }
    return tree;
}

long PssKiB(qint64 pid)
{
    for (const QByteArray& line : readProc(pid, "smaps_rollup").split('\n')) {
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

long TreePssKiB(qint64 top)
{
    long total = 0;
    for (const qint64 pid : ProcessTree(top))
        total += std::max(0L, PssKiB(pid));
    return total;
}

int OpenFds(qint64 pid)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    if (!fds.exists())
        return -1;
    return int(fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

int TreeOpenFds(qint64 top)
{
    int total = 0;
    for (const qint64 pid : ProcessTree(top))
        total += std::max(0, OpenFds(pid));
    return total;
}

double CpuSeconds(qint64 pid)
{
    const QList<QByteArray> fields = statFields(pid);
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / ::sysconf(_SC_CLK_TCK);
}

double TreeCpuSeconds(qint64 top)
{
    double total = 0;
    for (const qint64 pid : ProcessTree(top))
        total += std::max(0.0, CpuSeconds(pid));
    return total;
}
