#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

// Whether the browser engine runs its renderers in its sandbox (seccomp filters, fresh user, PID
// and network namespaces, an empty root folder). It is on wherever it can work; each reason for
// turning it off is told on one line of standard error.

// What the kernel answered when asked for the namespaces the engine's sandbox is built from.
struct SandboxProbe
{
    bool allowed = false;
    int error = 0; // errno of the refused request
};

struct SandboxDecision
{
    bool on = false;
    QString reason; // why it is off; empty when on
};

// Asks the kernel for a child in a new user namespace with new PID and network namespaces, the
// way the engine's zygote asks for it; the child exits at once.
SandboxProbe ProbeSandboxNamespaces();

// The decision from the effective user id, whether QTWEBENGINE_DISABLE_SANDBOX is set (the
// engine's own switch, which it honours whatever its value) and the probe, asked for only when
// neither of the first two decides.
SandboxDecision DecideSandbox(uid_t effectiveUser, bool disabledByCaller,
                              SandboxProbe (*probe)() = ProbeSandboxNamespaces);

// The line told on standard error when the sandbox is off.
QString SandboxOffLine(const SandboxDecision& decision);
