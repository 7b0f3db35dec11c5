// The engine's sandbox in real processes: this test binary starts itself again as another user
// (root, an unprivileged one, an unprivileged one inside a user namespace that may hold no more
// user namespaces) and runs a whole lookup there, in the real window over the real engine. The
// parent serves the sample portal, is the host, and reads /proc for every process of the child's
// tree while the result page is shown.
#include "FaultHarness.h"
#include "KernelNamespaces.h"
#include "TestUtil.h"
#include "hostlink/WireFormat.h"
#include "shell/SandboxPolicy.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr uid_t kNobody = 65534;
constexpr auto kPortEnv = "QUARVEL_SANDBOX_TEST_PORT";
constexpr char kMark[] = "@@sandbox ";

// --- Becoming another user, between fork and exec (async-signal-safe calls only) ---

enum class RunAs
{
    Root,
    Nobody,
    // Nobody inside a user namespace whose limit of nested user namespaces is 0: the kernel
    // refuses what the engine's sandbox needs, as some hardened or containerised systems do.
    NobodyWithoutNestedNamespaces,
};

bool writeAll(const char* path, const char* text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t length = ssize_t(std::strlen(text));
    const bool ok = ::write(fd, text, std::size_t(length)) == length;
    return ::close(fd) == 0 && ok;
}

bool dropToNobody()
{
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

// Enters a new user namespace mapping root and nobody to themselves, sets its limit of nested
// user namespaces to 0 and becomes nobody. Only a process outside the namespace may map more
// than one id, so a short-lived helper, still root outside, writes the maps.
bool enterNamespaceWithoutNested()
{
    int ready[2];
    if (::pipe(ready) != 0)
        return false;
    const pid_t helper = ::fork();
    if (helper < 0)
        return false;
    if (helper == 0) {
        char byte = 0;
        if (::read(ready[0], &byte, 1) != 1)
            ::_exit(1);
        char path[64];
        const char* const map = "0 0 1\n65534 65534 1\n";
        std::snprintf(path, sizeof path, "/proc/%d/uid_map", int(::getppid()));
        const bool users = writeAll(path, map);
        std::snprintf(path, sizeof path, "/proc/%d/gid_map", int(::getppid()));
        ::_exit(users && writeAll(path, map) ? 0 : 1);
    }
    const bool unshared = ::unshare(CLONE_NEWUSER) == 0;
    const bool told = ::write(ready[1], "x", 1) == 1;
    ::close(ready[0]);
    ::close(ready[1]);
    int status = 0;
    if (::waitpid(helper, &status, 0) != helper || !unshared || !told || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return false;
    return writeAll("/proc/sys/user/max_user_namespaces", "0") && dropToNobody();
}

bool become(RunAs as)
{
    switch (as) {
    case RunAs::Root:
        return true;
    case RunAs::Nobody:
        return dropToNobody();
    case RunAs::NobodyWithoutNestedNamespaces:
        return enterNamespaceWithoutNested();
    }
    return false;
}

// --- The probe itself, in a forked child per user ---

struct ProbeCase
{
    const char* name;
    RunAs as;
    bool allowed;
    int error;
};

void PrintTo(const ProbeCase& c, std::ostream* os)
{
    *os << c.name;
}

class SandboxProbeAsUser : public testing::TestWithParam<ProbeCase>
{};

TEST_P(SandboxProbeAsUser, AnswersAsTheKernelDoes)
{
    const ProbeCase& c = GetParam();
    ASSERT_EQ(::geteuid(), 0u) << "starting other users needs root";
    // The expected answers are an ordinary kernel's; where this one refuses the namespaces, its
    // own refusal is what the probe must report.
    const KernelNamespaces kernel = AskKernelForNamespaces(c.as == RunAs::Root ? 0 : kNobody);
    if (c.as == RunAs::NobodyWithoutNestedNamespaces && !kernel.granted) {
        GTEST_SKIP() << "the kernel refuses new user namespaces here ("
                     << qPrintable(kernel.refusal)
                     << "), so no namespace without nested ones can be made";
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!become(c.as))
            ::_exit(200);
        const SandboxProbe probe = ProbeSandboxNamespaces();
        ::_exit(probe.allowed ? 0 : std::min(probe.error, 199));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 200) << "could not become the user";
    if (kernel.granted) {
        EXPECT_EQ(WEXITSTATUS(status), c.allowed ? 0 : c.error)
            << std::strerror(WEXITSTATUS(status));
    } else {
        ASSERT_NE(WEXITSTATUS(status), 0) << "allowed where the kernel refuses";
        EXPECT_EQ(QString::fromLocal8Bit(std::strerror(WEXITSTATUS(status))), kernel.refusal);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Users, SandboxProbeAsUser,
    testing::Values(ProbeCase{"Root", RunAs::Root, true, 0},
                    ProbeCase{"Nobody", RunAs::Nobody, true, 0},
                    ProbeCase{"NobodyWithoutNestedNamespaces", RunAs::NobodyWithoutNestedNamespaces,
                              false, ENOSPC}),
    [](const testing::TestParamInfo<ProbeCase>& info) { return std::string(info.param.name); });

// --- What /proc shows of a process ---

struct ProcessView
{
    qint64 pid = 0;
    qint64 parent = 0;
    QString type; // the --type= of its command line; empty for the main process
    int seccomp = -1;
    int noNewPrivs = -1;
    QStringList nsPids; // its id in each PID namespace it is in, outermost first
    QString root;       // where its root folder is, as the kernel names it
    int rootEntries = -1;

    QString describe() const
    {
        return u"pid %1 parent %2 type %3 Seccomp %4 NoNewPrivs %5 NSpid %6 root %7 (%8 entries)"_s
            .arg(pid)
            .arg(parent)
            .arg(type.isEmpty() ? u"(main)"_s : type)
            .arg(seccomp)
            .arg(noNewPrivs)
            .arg(nsPids.join(u' '), root)
            .arg(rootEntries);
    }
};

std::optional<ProcessView> ReadProcess(qint64 pid)
{
    const QString base = u"/proc/%1/"_s.arg(pid);
    QFile status(base + u"status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return std::nullopt;
    ProcessView view;
    view.pid = pid;
    for (const QByteArray& line : status.readAll().split('\n')) {
        const QByteArray value = line.mid(line.indexOf(':') + 1).simplified();
        if (line.startsWith("PPid:"))
            view.parent = value.toLongLong();
        else if (line.startsWith("Seccomp:"))
            view.seccomp = value.toInt();
        else if (line.startsWith("NoNewPrivs:"))
            view.noNewPrivs = value.toInt();
        else if (line.startsWith("NSpid:"))
            view.nsPids = QString::fromLatin1(value).split(u' ', Qt::SkipEmptyParts);
    }
    QFile cmdline(base + u"cmdline"_s);
    if (cmdline.open(QIODevice::ReadOnly)) {
        for (const QByteArray& argument : cmdline.readAll().split('\0')) {
            if (argument.startsWith("--type="))
                view.type = QString::fromUtf8(argument.mid(7));
        }
    }
    view.root = QFile::symLinkTarget(base + u"root"_s);
    const QDir root(base + u"root"_s);
    if (root.exists())
        view.rootEntries = int(root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
    return view;
}

// The process and all its descendants.
QList<ProcessView> ProcessTree(qint64 top)
{
    std::map<qint64, ProcessView> all;
    for (const QString& name : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = name.toLongLong(&number);
        if (!number)
            continue;
        if (const std::optional<ProcessView> view = ReadProcess(pid))
            all.emplace(pid, *view);
    }
    QList<ProcessView> tree;
    for (const auto& [pid, view] : all) {
        for (qint64 p = pid; p > 1; p = all.count(p) ? all.at(p).parent : 0) {
            if (p == top) {
                tree.append(view);
                break;
            }
        }
    }
    return tree;
}

// The renderer: forked from the zygote, its command line still reads --type=zygote; the
// seccomp filter tells it apart.
const ProcessView* SandboxedRenderer(const QList<ProcessView>& tree)
{
    for (const ProcessView& view : tree) {
        if (view.seccomp == 2 && view.noNewPrivs == 1 && view.nsPids.size() >= 2)
            return &view;
    }
    return nullptr;
}

// --- The parent: the portal, the host, the child started as another user ---

const QStringList kAmLines = {u"cnpj=23.456.789/0001-10"_s,
                              u"nome=MADEIREIRA RIO NEGRO LTDA"_s,
                              u"razaosocial=MADEIREIRA RIO NEGRO LTDA"_s,
                              u"inscricaoestadual=04.234.567-8"_s,
                              u"telefone="_s,
                              u"endereco=AVENIDA EDUARDO RIBEIRO"_s,
                              u"numero=520"_s,
                              u"complemento=GALPAO 2"_s,
                              u"bairro=CENTRO"_s,
                              u"cidade=MANAUS"_s,
                              u"estado=AM"_s,
                              u"cep=69010-001"_s};

struct ChildRun
{
    bool finished = false;
    int exitCode = -1;
    QByteArray output;
    QString standardError;
    QByteArray atHost;
    bool hostEnded = false;
    // What /proc showed each time the child stopped to be looked at, by the child's words.
    QList<std::pair<QByteArray, QList<ProcessView>>> looks;
};

// Runs one of the child tests below in a copy of this binary, as `as`, against the AM sample
// portal served here and a host here.
ChildRun RunChild(const char* test, RunAs as, const QProcessEnvironment& extra = {})
{
    ChildRun run;
    // Everything the other user needs, readable by it: the binary in a folder of its own, and a
    // home folder it owns. The samples are served from here and read by root.
    QTemporaryDir dir;
    EXPECT_TRUE(dir.isValid());
    const auto readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QFile::setPermissions(dir.path(), readable);
    const QString exe = dir.filePath(u"test_sandbox"_s);
    EXPECT_TRUE(QFile::copy(QFile::symLinkTarget(u"/proc/self/exe"_s), exe));
    QFile::setPermissions(exe, readable);
    const QString home = dir.filePath(u"home"_s);
    QDir().mkpath(home);
    EXPECT_EQ(::chown(QFile::encodeName(home).constData(), as == RunAs::Root ? 0 : kNobody,
                      as == RunAs::Root ? 0 : kNobody),
              0);

    HttpFixtureServer portal;
    portal.setRoot(QStringLiteral(QUARVEL_SOURCE_DIR "/samples/portals/am"));
    EXPECT_TRUE(portal.listen(QHostAddress(u"127.0.0.3"_s)));
    QTcpServer host;
    EXPECT_TRUE(host.listen(QHostAddress::LocalHost));
    std::unique_ptr<QTcpSocket> link;
    QObject::connect(&host, &QTcpServer::newConnection, [&] {
        link.reset(host.nextPendingConnection());
        QTcpSocket* socket = link.get();
        QObject::connect(socket, &QTcpSocket::readyRead,
                         [&run, socket] { run.atHost += socket->readAll(); });
        QObject::connect(socket, &QTcpSocket::disconnected, [&run] { run.hostEnded = true; });
    });

    QProcessEnvironment env = ProgramTestEnvironment();
    env.remove(u"XDG_RUNTIME_DIR"_s);
    env.remove(u"QTWEBENGINE_DISABLE_SANDBOX"_s);
    env.insert(u"HOME"_s, home);
    env.insert(u"QUARVEL_PORTAL_HOSTS"_s, u"am="_s + portal.origin());
    env.insert(QLatin1String(kPortEnv), QString::number(host.serverPort()));
    for (const QString& name : extra.keys())
        env.insert(name, extra.value(name));

    QProcess child;
    child.setProgram(exe);
    child.setArguments({u"--gtest_also_run_disabled_tests"_s,
                        u"--gtest_filter=DISABLED_AsAnotherUser."_s + QLatin1String(test)});
    child.setWorkingDirectory(home);
    child.setProcessEnvironment(env);
    child.setChildProcessModifier([as] {
        if (!become(as))
            ::_exit(120);
    });
    QByteArray pending;
    QObject::connect(&child, &QProcess::readyReadStandardOutput, [&] {
        const QByteArray more = child.readAllStandardOutput();
        run.output += more;
        pending += more;
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (!line.startsWith(kMark))
                continue;
            // The child waits on its standard input while its tree is looked at.
            run.looks.append(
                {line.mid(qsizetype(std::strlen(kMark))), ProcessTree(child.processId())});
            child.write("\n");
        }
    });
    child.start();
    if (!child.waitForStarted(10000))
        return run;
    run.finished = WaitFor([&] { return child.state() == QProcess::NotRunning; }, 150000) &&
                   WaitFor([&] { return run.hostEnded || link == nullptr; }, 5000);
    if (child.state() != QProcess::NotRunning) {
        child.kill();
        child.waitForFinished(5000);
    }
    run.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    run.output += child.readAllStandardOutput();
    run.standardError = QString::fromUtf8(child.readAllStandardError());
    return run;
}

std::string Tail(const ChildRun& run)
{
    const QString text = QString::fromUtf8(run.output.right(3000)) +
                         u"\n--- standard error ---\n"_s + run.standardError.right(3000);
    return text.toStdString();
}

void PrintLooks(const char* name, const ChildRun& run)
{
    for (const auto& [when, tree] : run.looks) {
        for (const ProcessView& view : tree)
            std::printf("[ process  ] %s, %s: %s\n", name, when.constData(),
                        qPrintable(view.describe()));
    }
}

QString OffLines(const QString& standardError)
{
    QStringList lines;
    for (const QString& line : standardError.split(u'\n')) {
        if (line.contains(u"sandbox is off"_s))
            lines << line;
    }
    return lines.join(u'\n');
}

struct LookupCase
{
    const char* name;
    RunAs as;
    bool callerDisables;
    bool sandboxed;
    const char* reason; // in the one line on standard error when off
};

void PrintTo(const LookupCase& c, std::ostream* os)
{
    *os << c.name;
}

// A renderer built with AddressSanitizer cannot map its memory inside the engine's sandbox
// ("failed to allocate ... of stack depot (error code: 12)"), so the sandboxed runs are for the
// normal build only.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif

class SandboxLookupTest : public testing::TestWithParam<LookupCase>
{};

TEST_P(SandboxLookupTest, ResultReachesTheHostAndTheRendererIsAsDecided)
{
    const LookupCase& c = GetParam();
    if (c.sandboxed && kSanitizedBuild)
        GTEST_SKIP() << "a sanitized renderer cannot run inside the engine's sandbox";
    ASSERT_EQ(::geteuid(), 0u) << "starting other users needs root";
    const KernelNamespaces kernel = AskKernelForNamespaces(kNobody);
    if (c.sandboxed && !kernel.granted)
        GTEST_SKIP() << qPrintable(kernel.skipReason());
    RunAs as = c.as;
    QString reason = QLatin1String(c.reason);
    if (as == RunAs::NobodyWithoutNestedNamespaces && !kernel.granted) {
        // The machine refuses by itself: that refusal is the case, as it is.
        as = RunAs::Nobody;
        reason =
            u"the kernel refuses a new user namespace with PID and network namespaces (%1)"_s.arg(
                kernel.refusal);
    }
    QProcessEnvironment extra;
    if (c.callerDisables)
        extra.insert(u"QTWEBENGINE_DISABLE_SANDBOX"_s, u"1"_s);
    const ChildRun run = RunChild("Lookup", as, extra);
    PrintLooks(c.name, run);

    ASSERT_TRUE(run.finished) << Tail(run);
    EXPECT_EQ(run.exitCode, 0) << Tail(run);
    EXPECT_EQ(run.atHost, EncodeResultBlock(kAmLines)) << Tail(run);
    EXPECT_TRUE(run.hostEnded);

    const QString off = OffLines(run.standardError);
    if (c.sandboxed) {
        EXPECT_TRUE(off.isEmpty()) << qPrintable(off);
    } else {
        EXPECT_EQ(off, SandboxOffLine({false, reason})) << qPrintable(off);
    }

    ASSERT_EQ(run.looks.size(), 1) << Tail(run);
    const QList<ProcessView>& tree = run.looks.first().second;
    ASSERT_GE(tree.size(), 2) << "no helper processes seen";
    const ProcessView* renderer = SandboxedRenderer(tree);
    if (c.sandboxed) {
        ASSERT_NE(renderer, nullptr) << "no sandboxed renderer while the result page is shown";
        EXPECT_EQ(renderer->type, u"zygote"_s);
        EXPECT_EQ(renderer->rootEntries, 0) << qPrintable(renderer->describe());
    } else {
        for (const ProcessView& view : tree)
            EXPECT_EQ(view.seccomp, 0) << qPrintable(view.describe());
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Users, SandboxLookupTest, testing::Values(
    LookupCase{"Unprivileged", RunAs::Nobody, false, true, ""},
    LookupCase{"Root", RunAs::Root, false, false, "running as root (effective user id 0)"},
    LookupCase{"ProbeRefused", RunAs::NobodyWithoutNestedNamespaces, false, false,
               "the kernel refuses a new user namespace with PID and network namespaces "
               "(No space left on device)"},
    LookupCase{"CallerDisabled", RunAs::Nobody, true, false,
               "QTWEBENGINE_DISABLE_SANDBOX is set"}),
    [](const testing::TestParamInfo<LookupCase>& info) { return std::string(info.param.name); });
// clang-format on

// The renderer killed in the middle of a lookup with the sandbox on: the renderer the page names
// is the sandboxed one, the window goes on, and picking the portal again finishes the lookup in a
// new sandboxed renderer.
TEST(SandboxRendererKill, ThenPickAgain)
{
    if (kSanitizedBuild)
        GTEST_SKIP() << "a sanitized renderer cannot run inside the engine's sandbox";
    ASSERT_EQ(::geteuid(), 0u) << "starting other users needs root";
    const KernelNamespaces kernel = AskKernelForNamespaces(kNobody);
    if (!kernel.granted)
        GTEST_SKIP() << qPrintable(kernel.skipReason());
    const ChildRun run = RunChild("RendererKill", RunAs::Nobody);
    PrintLooks("RendererKill", run);
    ASSERT_TRUE(run.finished) << Tail(run);
    EXPECT_EQ(run.exitCode, 0) << Tail(run);
    EXPECT_EQ(run.atHost, EncodeResultBlock(kAmLines)) << Tail(run);
    EXPECT_TRUE(OffLines(run.standardError).isEmpty()) << qPrintable(run.standardError);

    ASSERT_EQ(run.looks.size(), 2) << Tail(run);
    ASSERT_TRUE(run.looks[0].first.startsWith("renderer ")) << run.looks[0].first.constData();
    const qint64 killed = run.looks[0].first.mid(9).toLongLong();
    const ProcessView* first = SandboxedRenderer(run.looks[0].second);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->pid, killed) << "the page names another process than the sandboxed one";
    const ProcessView* second = SandboxedRenderer(run.looks[1].second);
    ASSERT_NE(second, nullptr) << "no sandboxed renderer after the kill";
    EXPECT_NE(second->pid, killed);
}

// --- The child: runs as the other user, in the copy of this binary ---

class DISABLED_AsAnotherUser : public testing::Test
{
protected:
    void SetUp() override
    {
        const QByteArray port = qgetenv(kPortEnv);
        if (port.isEmpty())
            GTEST_SKIP() << "started by the tests above only";
        w = std::make_unique<TestWindow>(QStringList{QString::fromLatin1(port)});
        w->window->show();
        ASSERT_TRUE(w->waitReady());
        portal = w->window->URIEstados().at(kAm);
        // Connected after the window's own handler: the page is the result page and shown.
        QObject::connect(w->window->Chromium1, &TChromium::OnLoadEnd,
                         [this](const TCefFrame& frame, int) {
                             if (frame.IsMain() && frame.GetUrl().startsWith(portal.URLresposta))
                                 lookAtMe("result-shown");
                         });
    }

    void TearDown() override { w.reset(); }

    // Tells the parent to look at this tree now, and waits until it has.
    static void lookAtMe(const QByteArray& what)
    {
        std::printf("%s%s\n", kMark, what.constData());
        std::fflush(stdout);
        char byte = 0;
        while (::read(STDIN_FILENO, &byte, 1) < 0 && errno == EINTR) {
        }
    }

    qsizetype queryPageLoads() const
    {
        return std::count_if(w->loads.cbegin(), w->loads.cend(),
                             [this](const auto& load) { return load.url == portal.URLconsulta; });
    }

    void openQueryPage()
    {
        const qsizetype before = queryPageLoads();
        w->pick(kAm);
        ASSERT_TRUE(WaitFor([&] { return queryPageLoads() > before; }, 30000));
    }

    // What the user does in the page: submit the query form.
    void submitAndWaitForTheClose()
    {
        const std::optional<TCefFrame> main = w->window->Chromium1->GetMainFrame();
        ASSERT_TRUE(main.has_value());
        main->ExecuteJavaScript(u"document.getElementById('consulta').requestSubmit();"_s,
                                main->GetUrl(), 0);
        ASSERT_TRUE(w->waitClosed(60000)) << "no result";
        EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxTexts().join(u'|'));
    }

    std::unique_ptr<TestWindow> w;
    TURIEstado portal;
};

TEST_F(DISABLED_AsAnotherUser, Lookup)
{
    ASSERT_NO_FATAL_FAILURE(openQueryPage());
    // The window's readiness script has run in the renderer: it leaves every link of the AM
    // query page pointing nowhere.
    QString links;
    bool answered = false;
    w->page()->runJavaScript(
        u"Array.from(document.getElementsByTagName('a'), a => a.getAttribute('href')).join(' ')"_s,
        [&](const QVariant& value) {
            links = value.toString();
            answered = true;
        });
    ASSERT_TRUE(WaitFor([&] { return answered; }, 10000));
    EXPECT_FALSE(links.isEmpty());
    for (const QString& link : links.split(u' '))
        EXPECT_EQ(link, u"#"_s) << qPrintable(links);
    submitAndWaitForTheClose();
}

TEST_F(DISABLED_AsAnotherUser, RendererKill)
{
    ASSERT_NO_FATAL_FAILURE(openQueryPage());
    QWebEnginePage* page = w->page();
    ASSERT_NE(page, nullptr);
    QSignalSpy terminated(page, &QWebEnginePage::renderProcessTerminated);
    const qint64 pid = page->renderProcessPid();
    ASSERT_GT(pid, 0);
    lookAtMe("renderer " + QByteArray::number(pid));
    ASSERT_EQ(::kill(pid_t(pid), SIGKILL), 0) << std::strerror(errno);
    ASSERT_TRUE(terminated.count() > 0 || terminated.wait(15000));
    EXPECT_TRUE(w->responsive(50));

    ASSERT_NO_FATAL_FAILURE(openQueryPage());
    submitAndWaitForTheClose();
}

} // namespace
