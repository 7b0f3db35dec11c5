// quarvel-probe: loads each portal's query page in the browser engine, as the window would, and
// says which portals are ok, changed or unreachable, so that support learns of a change before
// a user does.

#include "PortalProber.h"
#include "ProbeReport.h"
#include "QuarvelVersion.h"
#include "lookup/PortalFile.h"
#include "shell/ProcessEntry.h"
#include "shell/ProcessType.h"
#include "shell/QuarvelPage.h"

#include <QApplication>
#include <QWebEngineProfile>
#include <cstdio>
#include <optional>

namespace {

void PrintLine(FILE* stream, const QByteArray& line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void Tell(const QString& message)
{
    PrintLine(stderr, QByteArrayLiteral("quarvel-probe: ") + message.toUtf8());
}

int UsageError(const QString& message)
{
    Tell(message);
    PrintLine(stderr, ProbeUsage().section(u'\n', 0, 0).toUtf8());
    return 2;
}

// The answer to --help, --version or a usage error, when the arguments call for one.
std::optional<int> EarlyAnswer(const ProbeArguments& parsed)
{
    if (!parsed.error.isEmpty())
        return UsageError(parsed.error);
    if (parsed.options.help) {
        std::fputs(ProbeUsage().toUtf8().constData(), stdout);
        return 0;
    }
    if (parsed.options.version) {
        PrintLine(stdout, QByteArrayLiteral("quarvel-probe " QUARVEL_VERSION_STR));
        return 0;
    }
    return std::nullopt;
}

QStringList ArgumentsAfterProgram(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

int Probe(QApplication& app, const ProbeOptions& options)
{
    // The table the window would have in force, or the one named.
    const QString file = options.portalsFile.isEmpty() ? qEnvironmentVariable("QUARVEL_PORTALS")
                                                       : options.portalsFile;
    const PortalTableChoice choice = ChoosePortalTable(file, QCoreApplication::applicationDirPath(),
                                                       QStringLiteral("/etc/quarvel/portals.json"),
                                                       PortalHostsFromEnvironment());
    if (!choice.problems.isEmpty())
        Tell(QStringLiteral("portal definitions file not used, the window would use the built-in "
                            "table (checked here instead):\n") +
             choice.problems.join(u'\n'));

    QList<ProbeTarget> targets;
    const KeyedPortalTable& table = choice.table;
    if (options.keys.isEmpty()) {
        for (qsizetype i = 0; i < table.keys.size(); ++i)
            targets.append({table.keys.at(i), table.portals.at(i)});
    }
    for (const QString& key : options.keys) {
        const qsizetype index = table.keys.indexOf(key);
        if (index < 0)
            return UsageError(
                QStringLiteral("no portal %1 in the table in force (it has: %2)")
                    .arg(QuotedForMessage(key), table.keys.join(QStringLiteral(", "))));
        targets.append({key, table.portals.at(index)});
    }

    QWebEngineProfile* profile = NewQuarvelProfile(nullptr);
    auto* prober = new PortalProber(profile, std::chrono::seconds(options.timeoutSeconds));
    bool allOk = choice.problems.isEmpty();
    QObject::connect(prober, &PortalProber::portalProbed, prober, [&](const PortalProbe& probe) {
        allOk = allOk && DecideProbeStatus(probe) == ProbeStatus::Ok;
        PrintLine(stdout, options.json ? ProbeJsonLine(probe) : ProbePlainLine(probe).toUtf8());
    });
    QObject::connect(prober, &PortalProber::allProbed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    prober->run(targets);
    app.exec();
    // Pages, then the profile, before the engine shuts down.
    delete prober;
    delete profile;
    return allOk ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    // Usage is answered before the engine starts (a helper's arguments are the engine's own).
    std::optional<ProbeArguments> parsed;
    if (ProcessTypeFromArguments(argc, argv) == ptBrowser) {
        parsed = ParseProbeArguments(ArgumentsAfterProgram(argc, argv));
        if (const std::optional<int> answer = EarlyAnswer(*parsed))
            return *answer;
        // Nothing is ever shown: no display is needed, whatever the session has.
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    }
    return RunQuarvelProcess(argc, argv, [&parsed](QApplication& app, const QStringList&) {
        return Probe(app, parsed->options);
    });
}
