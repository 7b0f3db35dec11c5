#include "shell/SandboxPolicy.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

SandboxProbe ProbeSandboxNamespaces()
{
    // One fork-like clone (no new stack), the call the engine's zygote makes: the child is born
    // in the new namespaces and only exits, so it needs nothing but its copy of this process.
    const long child = ::syscall(SYS_clone, CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET | SIGCHLD,
                                 nullptr, nullptr, nullptr, nullptr);
    if (child == 0)
        ::_exit(0);
    if (child < 0)
        return {false, errno};
    int status = 0;
    while (::waitpid(pid_t(child), &status, 0) < 0 && errno == EINTR) {
    }
    return {true, 0};
}

SandboxDecision DecideSandbox(uid_t effectiveUser, bool disabledByCaller, SandboxProbe (*probe)())
{
    // The engine refuses to start its sandbox for the superuser.
    if (effectiveUser == 0)
        return {false, QStringLiteral("running as root (effective user id 0)")};
    if (disabledByCaller)
        return {false, QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX is set")};
    const SandboxProbe answer = probe();
    if (!answer.allowed) {
        return {false, QStringLiteral("the kernel refuses a new user namespace with PID and "
                                      "network namespaces (%1)")
                           .arg(QString::fromLocal8Bit(std::strerror(answer.error)))};
    }
    return {true, {}};
}

QString SandboxOffLine(const SandboxDecision& decision)
{
    return QStringLiteral("Quarvel: the browser engine's sandbox is off: ") + decision.reason;
}
