#pragma once

#include <QString>
#include <sys/types.h>

// Whether the kernel here grants a user the namespaces the engine's sandbox is built from (a new
// user namespace with new PID and network namespaces), asked with util-linux's unshare rather
// than the program's own probe, which is what the sandbox tests check. A plain chroot, a
// container's default seccomp profile or user.max_user_namespaces=0 refuse them.
struct KernelNamespaces
{
    bool granted = false;
    QString refusal; // the kernel's reason ("Operation not permitted"); empty when granted

    // Why a test that needs a sandboxed renderer cannot run here.
    QString skipReason() const;
};

// Asked as the given user (root, or another user through setpriv; needs root then).
KernelNamespaces AskKernelForNamespaces(uid_t user);
