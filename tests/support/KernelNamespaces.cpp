#include "KernelNamespaces.h"

#include "TestUtil.h"

#include <QStringList>

QString KernelNamespaces::skipReason() const
{
    return QStringLiteral("the kernel refuses new user namespaces here (%1), so the engine's "
                          "sandbox cannot run")
        .arg(refusal);
}

KernelNamespaces AskKernelForNamespaces(uid_t user)
{
    const QStringList unshare{QStringLiteral("unshare"), QStringLiteral("--user"),
                              QStringLiteral("--pid"),   QStringLiteral("--net"),
                              QStringLiteral("--fork"),  QStringLiteral("true")};
    QStringList command;
    if (user != 0) {
        const QString id = QString::number(user);
        command << QStringLiteral("--reuid=") + id << QStringLiteral("--regid=") + id
                << QStringLiteral("--clear-groups");
    }
    command << unshare;
    const ProgramRun run = user != 0 ? RunProgram(QStringLiteral("setpriv"), command)
                                     : RunProgram(command.takeFirst(), command);
    if (run.finished && run.exitStatus == QProcess::NormalExit && run.exitCode == 0)
        return {true, {}};
    // "unshare: unshare failed: Operation not permitted": the reason is the last part.
    const QString message = QString::fromLocal8Bit(run.standardError).trimmed();
    const qsizetype colon = message.lastIndexOf(QLatin1String(": "));
    return {false, colon < 0 ? message : message.mid(colon + 2)};
}
