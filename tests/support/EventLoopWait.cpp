#include "EventLoopWait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <memory>

bool WaitFor(const std::function<bool()>& done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(2);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

void Spin(int ms)
{
    WaitFor([] { return false; }, ms);
}

namespace {

// One hop of RunQueuedCalls: counts down, and posts the next hop while any are left.
void PostHop(const std::shared_ptr<int>& left)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [left] {
            if (--*left > 0)
                PostHop(left);
        },
        Qt::QueuedConnection);
}

} // namespace

bool RunQueuedCalls(int hops, int ms)
{
    // Shared with the hops, which may outlive a wait that gave up.
    const auto left = std::make_shared<int>(hops);
    PostHop(left);
    return WaitFor([&] { return *left <= 0; }, ms);
}
