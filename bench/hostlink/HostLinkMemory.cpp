// Peak resident memory of a process whose HostLink receives a large message from its host,
// against the same process receiving nothing. Each run is a child process (forked before any
// Qt object exists), so that the peak of one run cannot hide in the other's; the parent plays
// the host and reads the child's peak from wait4().

#include "hostlink/HostLink.h"
#include "hostlink/SocketFd.h"

#include <QCoreApplication>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr long long kFloodBytes = 64LL * 1024 * 1024;

enum ChildExit
{
    kCloseCommand = 0,
    kLinkDown = 1,
    kNoConnection = 2,
    kNoEnd = 3
};

// Calibration: a reader that keeps the whole message, as an unbounded receive buffer would.
[[noreturn]] void RunKeepingReader(std::uint16_t port)
{
    SocketFd connection = ConnectToLoopback(port);
    if (!connection.valid())
        ::_exit(kNoConnection);
    const int fd = connection.get();
    QByteArray kept;
    char buffer[32768];
    ssize_t n = 0;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        kept.append(buffer, n);
    connection.reset();
    ::_exit(kept.startsWith("close") ? kCloseCommand : kLinkDown);
}

// The program's side: connect, then wait for the host's message to end.
[[noreturn]] void RunProgram(std::uint16_t port)
{
    int argc = 1;
    char name[] = "bench_hostlink_memory";
    char* argv[] = {name, nullptr};
    int code = kNoEnd;
    {
        QCoreApplication app(argc, argv);
        HostLink link;
        if (!link.Connect(port))
            ::_exit(kNoConnection);
        QObject::connect(&link, &HostLink::closeCommandReceived, &app, [&] {
            code = kCloseCommand;
            app.quit();
        });
        QObject::connect(&link, &HostLink::linkDown, &app, [&] {
            code = kLinkDown;
            app.quit();
        });
        QTimer::singleShot(60000, &app, &QCoreApplication::quit);
        app.exec();
    }
    ::_exit(code);
}

bool SendAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

struct Run
{
    long maxRssKiB = -1;
    int childExit = -1;
    double seconds = 0;
};

// The host's side: accept, send `extra` bytes after "close" (nothing at all when 0), end the
// stream, wait for the child.
Run Measure(long long extra, bool keepingReader = false)
{
    Run run;
    std::uint16_t port = 0;
    SocketFd listener = ListenOnLoopback(LoopbackListenOptions(), &port);
    if (!listener.valid())
        return run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        listener.reset();
        if (keepingReader)
            RunKeepingReader(port);
        RunProgram(port);
    }
    pollfd p{listener.get(), POLLIN, 0};
    if (pid > 0 && ::poll(&p, 1, 10000) == 1) {
        const SocketFd connection(::accept(listener.get(), nullptr, nullptr));
        if (const int fd = connection.get(); fd >= 0) {
            static char chunk[65536];
            std::memset(chunk, 'z', sizeof chunk);
            bool ok = extra == 0 || SendAll(fd, "close", 5);
            for (long long left = extra; ok && left > 0;
                 left -= static_cast<long long>(sizeof chunk))
                ok = SendAll(fd, chunk,
                             static_cast<std::size_t>(std::min<long long>(left, sizeof chunk)));
            ::shutdown(fd, SHUT_WR);
            char sink[4096];
            while (::recv(fd, sink, sizeof sink, 0) > 0) {
            }
        }
    }
    listener.reset();
    int status = 0;
    rusage usage{};
    if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
        run.maxRssKiB = usage.ru_maxrss; // KiB on Linux
        run.childExit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

const char* Outcome(int childExit)
{
    switch (childExit) {
    case kCloseCommand:
        return "close command";
    case kLinkDown:
        return "link down";
    case kNoConnection:
        return "no connection";
    default:
        return "no end seen";
    }
}

} // namespace

int main()
{
    constexpr int kRepeats = 3;
    long quiet = 0;
    long flooded = 0;
    long keeping = 0;
    double floodSeconds = 1e9;
    for (int i = 0; i < kRepeats; ++i) {
        const Run a = Measure(0);
        const Run b = Measure(kFloodBytes);
        const Run c = Measure(kFloodBytes, true);
        if (a.childExit != kLinkDown || b.childExit != kCloseCommand ||
            c.childExit != kCloseCommand) {
            std::fprintf(stderr, "unexpected outcome: %s / %s\n", Outcome(a.childExit),
                         Outcome(b.childExit));
            return 1;
        }
        quiet = std::max(quiet, a.maxRssKiB);
        flooded = std::max(flooded, b.maxRssKiB);
        keeping = std::max(keeping, c.maxRssKiB);
        floodSeconds = std::min(floodSeconds, b.seconds);
    }
    std::printf("host link peak RSS (ru_maxrss of the child, from wait4), max of %d runs each\n",
                kRepeats);
    std::printf("  nothing received, then end of stream:       %8ld KiB\n", quiet);
    std::printf("  \"close\" + 64 MiB, then end of stream:       %8ld KiB\n", flooded);
    std::printf("  difference:                                %8ld KiB\n", flooded - quiet);
    std::printf("  calibration, a reader keeping all 64 MiB:  %8ld KiB\n", keeping);
    std::printf("  64 MiB received and discarded in            %8.3f s (best run)\n", floodSeconds);
    return 0;
}
