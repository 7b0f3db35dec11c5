// The engine's sandbox decision: the superuser, the caller's own switch and the kernel's answer,
// in that order, and the probe asked for only when it can change the outcome.
#include "KernelNamespaces.h"
#include "shell/SandboxPolicy.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

int s_probes = 0;
SandboxProbe s_answer;

SandboxProbe recordedProbe()
{
    ++s_probes;
    return s_answer;
}

struct PolicyCase
{
    const char* name;
    uid_t euid;
    bool disabledByCaller;
    SandboxProbe answer;
    bool on;
    bool probed;
    const char* reason; // a part of the line that tells why it is off
};

void PrintTo(const PolicyCase& c, std::ostream* os)
{
    *os << c.name;
}

class SandboxPolicyTest : public testing::TestWithParam<PolicyCase>
{};

TEST_P(SandboxPolicyTest, DecidesInOrderAndProbesOnlyWhenItMatters)
{
    const PolicyCase& c = GetParam();
    s_probes = 0;
    s_answer = c.answer;
    const SandboxDecision decision = DecideSandbox(c.euid, c.disabledByCaller, recordedProbe);
    EXPECT_EQ(decision.on, c.on);
    EXPECT_EQ(s_probes, c.probed ? 1 : 0);
    if (c.on) {
        EXPECT_TRUE(decision.reason.isEmpty()) << qPrintable(decision.reason);
        return;
    }
    const QString line = SandboxOffLine(decision);
    EXPECT_TRUE(line.startsWith(QStringLiteral("Quarvel: the browser engine's sandbox is off: ")))
        << qPrintable(line);
    EXPECT_TRUE(line.contains(QLatin1String(c.reason))) << qPrintable(line);
    EXPECT_FALSE(line.contains(u'\n')) << "one line only";
}

const SandboxProbe kAllowed{true, 0};
const SandboxProbe kNoSpace{false, ENOSPC};
const SandboxProbe kNotPermitted{false, EPERM};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Inputs, SandboxPolicyTest, testing::Values(
    PolicyCase{"UserAllowed", 1000, false, kAllowed, true, true, ""},
    PolicyCase{"NobodyAllowed", 65534, false, kAllowed, true, true, ""},
    PolicyCase{"RootAllowed", 0, false, kAllowed, false, false, "running as root"},
    PolicyCase{"RootRefused", 0, false, kNoSpace, false, false, "running as root"},
    PolicyCase{"RootAndCaller", 0, true, kAllowed, false, false, "running as root"},
    PolicyCase{"CallerAllowed", 1000, true, kAllowed, false, false,
               "QTWEBENGINE_DISABLE_SANDBOX is set"},
    PolicyCase{"CallerRefused", 1000, true, kNotPermitted, false, false,
               "QTWEBENGINE_DISABLE_SANDBOX is set"},
    PolicyCase{"LimitReached", 1000, false, kNoSpace, false, true,
               "the kernel refuses a new user namespace"},
    PolicyCase{"NotPermitted", 1000, false, kNotPermitted, false, true,
               "Operation not permitted"}),
    [](const testing::TestParamInfo<PolicyCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST(SandboxProbe, AnswersForThisProcessAsTheKernelDoes)
{
    // The unprivileged cases start processes of their own (tests/faults/test_sandbox.cpp). Where
    // the kernel refuses the namespaces (a plain chroot, a container), the probe must say so too.
    const KernelNamespaces kernel = AskKernelForNamespaces(::geteuid());
    const SandboxProbe probe = ProbeSandboxNamespaces();
    EXPECT_EQ(probe.allowed, kernel.granted) << std::strerror(probe.error);
    if (kernel.granted)
        EXPECT_EQ(probe.error, 0);
    else
        EXPECT_EQ(QString::fromLocal8Bit(std::strerror(probe.error)), kernel.refusal);
}

} // namespace
