#pragma once

#include <QList>

// Figures of live processes read from /proc, for the benchmarks. A figure of a process that is
// gone (or unreadable) reads as -1, or adds nothing to a tree's sum.

// top and every live descendant of it, top first.
QList<qint64> ProcessTree(qint64 top);
// Proportional set size (Pss of /proc/PID/smaps_rollup), in KiB.
long PssKiB(qint64 pid);
// The Pss of top's whole tree, summed: shared pages are counted once, split among their users.
long TreePssKiB(qint64 top);
// Open file descriptors of a process.
int OpenFds(qint64 pid);
// The file descriptors of top's whole tree, summed.
int TreeOpenFds(qint64 top);
// CPU time used so far by a process (user and system), in seconds.
double CpuSeconds(qint64 pid);
// The CPU time of the live processes of top's tree, summed.
double TreeCpuSeconds(qint64 top);
