// A stand-in for the program on the real HostLink, for the quarvel-host tests:
//   hostlink_fake_quarvel PORT block LINE...   sends a result block, exit 0 on success
//   hostlink_fake_quarvel PORT notice-wait     sends the closing notice, then exits 0 when
//                                              the host's close command arrives
// Exit codes: 1 bad port or no connection, 2 a failed write, 3 link down, 4 no close command.

#include "hostlink/HostLink.h"
#include "hostlink/PortArgument.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3)
        return 1;
    const std::optional<std::uint16_t> port = PortFromArgument(args[1]);
    HostLink link;
    if (!port || !link.Connect(*port))
        return 1;

    if (args[2] == QLatin1String("block"))
        return link.SendResultBlock(args.mid(3)) ? 0 : 2;

    if (link.SendClosingNoticeIfDue() != HostLink::ClosingNoticeOutcome::Sent)
        return 2;
    QObject::connect(&link, &HostLink::closeCommandReceived, &app,
                     [] { QCoreApplication::exit(0); });
    QObject::connect(&link, &HostLink::linkDown, &app, [] { QCoreApplication::exit(3); });
    QTimer::singleShot(10000, &app, [] { QCoreApplication::exit(4); });
    return app.exec();
}
