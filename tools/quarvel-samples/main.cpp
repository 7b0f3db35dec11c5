// quarvel-samples: serves the sample portal pages on loopback, one origin per portal, for the
// demonstration and the end-to-end tests.

#include "HttpFixtureServer.h"
#include "QuarvelVersion.h"
#include "portals/PortalTable.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

const char kDescription[] =
    "Serves the sample pages of the five portals on loopback, each portal on an origin of its\n"
    "own (by default 127.0.0.2 to 127.0.0.6, each on a free port), until it is killed.\n"
    "Standard output:\n"
    "  line 1: the value for QUARVEL_PORTAL_HOSTS, e.g. ccc=http://127.0.0.2:41011,am=...\n"
    "  then one line per portal: KEY QUERY-URL\n"
    "  then one line per request: KEY METHOD TARGET STATUS";

int Fail(const QString& message)
{
    std::fprintf(stderr, "quarvel-samples: %s\n", qPrintable(message));
    return 1;
}

void PrintLine(const QString& line)
{
    std::fputs(line.toUtf8().append('\n').constData(), stdout);
    std::fflush(stdout);
}

// The installed samples beside the program, else the ones of the source tree it was built from.
QString DefaultRoot()
{
    const QString installed = QCoreApplication::applicationDirPath() +
                              QStringLiteral("/../share/quarvel/samples/portals");
    if (QFileInfo(installed).isDir())
        return QDir::cleanPath(installed);
    return QStringLiteral(QUARVEL_SAMPLES_SOURCE_DIR);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quarvel-samples"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARVEL_VERSION_STR));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption rootOption(
        QStringLiteral("root"),
        QStringLiteral("Serve the portal folders (ccc, am, es, ba, sp) under DIR."),
        QStringLiteral("DIR"));
    const QCommandLineOption addressOption(
        QStringLiteral("address"),
        QStringLiteral("Serve every portal on this one loopback address, each on its own port."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Use port N on each address (with --address: ports N to N+4). Default: "
                       "free ports."),
        QStringLiteral("N"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
                                           QStringLiteral("Stop after SECONDS (default: never)."),
                                           QStringLiteral("SECONDS"));
    parser.addOptions({rootOption, addressOption, portOption, timeoutOption});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return Fail(QStringLiteral("unexpected argument ") + parser.positionalArguments()[0]);

    const QString root = parser.isSet(rootOption) ? parser.value(rootOption) : DefaultRoot();
    // One folder under the root per portal, named by its key.
    const QList<BuiltInPortalPaths>& portalPaths = BuiltInPortalPathList();
    for (const BuiltInPortalPaths& portal : portalPaths) {
        if (!QFileInfo(root + QLatin1Char('/') + portal.key).isDir())
            return Fail(QStringLiteral("no sample folder \"%1\" under %2").arg(portal.key, root));
    }

    std::optional<QHostAddress> sharedAddress;
    if (parser.isSet(addressOption)) {
        const QHostAddress address(parser.value(addressOption));
        if (address.isNull() || !address.isLoopback())
            return Fail(QStringLiteral("--address needs a loopback address, such as 127.0.0.1"));
        sharedAddress = address;
    }
    int firstPort = 0;
    if (parser.isSet(portOption)) {
        bool ok = false;
        firstPort = parser.value(portOption).toInt(&ok);
        const int last = sharedAddress ? firstPort + 4 : firstPort;
        if (!ok || firstPort < 1 || last > 65535)
            return Fail(QStringLiteral("--port needs a port number (with --address, up to 65531)"));
    }
    double timeout = 0;
    if (parser.isSet(timeoutOption)) {
        bool ok = false;
        timeout = parser.value(timeoutOption).toDouble(&ok);
        if (!ok || !std::isfinite(timeout) || timeout <= 0 || timeout > 86400.0 * 24)
            return Fail(QStringLiteral("--timeout needs a number of seconds"));
    }

    std::vector<std::unique_ptr<HttpFixtureServer>> servers;
    PortalHosts hosts;
    QStringList hostsValue;
    for (int i = 0; i < portalPaths.size(); ++i) {
        const QString& key = portalPaths.at(i).key;
        const QHostAddress address =
            sharedAddress ? *sharedAddress : QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + i));
        const int port = firstPort == 0 ? 0 : sharedAddress ? firstPort + i : firstPort;
        auto server = std::make_unique<HttpFixtureServer>();
        server->setRoot(root + QLatin1Char('/') + key);
        if (!server->listen(address, quint16(port)))
            return Fail(QStringLiteral("cannot listen on %1:%2: %3")
                            .arg(address.toString())
                            .arg(port)
                            .arg(server->errorString()));
        QObject::connect(
            server.get(), &HttpFixtureServer::served,
            [key](const QString& method, const QString& target, int status) {
                PrintLine(QStringLiteral("%1 %2 %3 %4").arg(key, method, target).arg(status));
            });
        hostsValue.append(key + QLatin1Char('=') + server->origin());
        servers.push_back(std::move(server));
    }
    if (!ApplyPortalHostsOverride(hostsValue.join(QLatin1Char(',')), hosts).isEmpty())
        return Fail(QStringLiteral("internal error: the portal table refuses ") +
                    hostsValue.join(QLatin1Char(',')));

    PrintLine(hostsValue.join(QLatin1Char(',')));
    const TURIEstados portals = BuiltInPortals(hosts);
    for (int i = 0; i < portals.size(); ++i)
        PrintLine(portalPaths.at(i).key + QLatin1Char(' ') + portals.at(i).URLconsulta);

    if (timeout > 0)
        QTimer::singleShot(qRound64(timeout * 1000), &app, &QCoreApplication::quit);
    return app.exec();
}
