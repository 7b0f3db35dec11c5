// quarvel-host: the host's side of the link, for integrators, demonstrations and tests.

#include "HostSession.h"
#include "QuarvelVersion.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cmath>
#include <cstdio>

namespace {

const char kDescription[] =
    "Listens on 127.0.0.1 as the host of Quarvel, optionally starts Quarvel with the port,\n"
    "and prints one event per line on standard output:\n"
    "  listening 127.0.0.1:PORT   always the first line\n"
    "  started PATH               --run: the program was started\n"
    "  accepted 127.0.0.1:PORT    the program connected (from that local port)\n"
    "  notice client-closing      the closing notice arrived\n"
    "  line TEXT                  one line of the result block, as UTF-8; backslash, control\n"
    "                             characters and lone surrogates as \\\\, \\n, \\r, \\t, \\xHH, "
    "\\uHHHH\n"
    "  block N lines              the block's terminator arrived\n"
    "  sent close                 --close-after: \"close\" sent, sending direction shut down\n"
    "  end-of-stream              the program ended its stream\n"
    "  quarvel exited N           --run: the program's exit code (or \"quarvel killed\")\n"
    "  error: TEXT                anything that breaks the protocol, a reset, a timeout\n"
    "Exit status: 0 when a well-formed result block arrived and no error line was printed,\n"
    "1 otherwise.";

bool ParseSeconds(const QString& text, double* seconds)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0 || value > 86400.0 * 24)
        return false;
    *seconds = value;
    return true;
}

int UsageError(const QString& message)
{
    std::fprintf(stderr, "quarvel-host: %s (see --help)\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quarvel-host"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARVEL_VERSION_STR));

    // Everything after --run belongs to the started program.
    QStringList arguments = QCoreApplication::arguments();
    HostOptions options;
    const qsizetype run = arguments.indexOf(QLatin1String("--run"));
    if (run >= 0) {
        if (run + 1 >= arguments.size())
            return UsageError(QStringLiteral("--run needs a program path"));
        options.runPath = arguments.at(run + 1);
        options.runArguments = arguments.mid(run + 2);
        arguments = arguments.mid(0, run);
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("Listen on port N (default: an ephemeral port)."),
        QStringLiteral("N"));
    const QCommandLineOption closeOption(
        QStringLiteral("close-after"),
        QStringLiteral("SECONDS after the connection, send \"close\" and shut down the sending "
                       "direction."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"),
        QStringLiteral("Give up after SECONDS in all (default: no limit); a --run program still "
                       "running is killed."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption runOption(
        QStringLiteral("run"),
        QStringLiteral("Start PATH with the port as its first argument, then ARGS; must come "
                       "last. Waits for it to exit."),
        QStringLiteral("PATH [ARGS...]"));
    parser.addOptions({portOption, closeOption, timeoutOption, runOption});
    parser.process(arguments);
    if (!parser.positionalArguments().isEmpty())
        return UsageError(QStringLiteral("unexpected argument ") + parser.positionalArguments()[0]);

    if (parser.isSet(portOption)) {
        bool ok = false;
        options.port = parser.value(portOption).toUShort(&ok);
        if (!ok)
            return UsageError(QStringLiteral("--port needs a number from 0 to 65535"));
    }
    if (parser.isSet(closeOption) && !ParseSeconds(parser.value(closeOption), &options.closeAfter))
        return UsageError(QStringLiteral("--close-after needs a number of seconds"));
    if (parser.isSet(timeoutOption) && !ParseSeconds(parser.value(timeoutOption), &options.timeout))
        return UsageError(QStringLiteral("--timeout needs a number of seconds"));

    HostSession session(options);
    QObject::connect(&session, &HostSession::finished, &app, &QCoreApplication::exit,
                     Qt::QueuedConnection);
    QString error;
    if (!session.Start(&error)) {
        std::fprintf(stderr, "quarvel-host: %s\n", qPrintable(error));
        return 1;
    }
    return app.exec();
}
