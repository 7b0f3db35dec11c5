#include "ProbeReport.h"

#include "portals/PortalTable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

bool IsClientError(int httpStatus)
{
    return httpStatus >= 400 && httpStatus < 500;
}

bool IsServerError(int httpStatus)
{
    return httpStatus >= 500;
}

QString ReadyScriptName(ScriptRun run)
{
    switch (run) {
    case ScriptRun::Ok:
        return QStringLiteral("ok");
    case ScriptRun::Error:
        return QStringLiteral("error");
    case ScriptRun::None:
        break;
    }
    return QStringLiteral("none");
}

// The failure's class name for an unreachable portal: the load's own, else (a 5xx answer with a
// page of its own) http-error.
QString FailureName(const PortalProbe& probe)
{
    if (probe.failure)
        return LoadFailureClassName(probe.failure->failure);
    return LoadFailureClassName(LoadFailureClass::HttpError);
}

std::optional<QStringList> NameList(const QVariant& value)
{
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QStringList names;
    for (const QVariant& item : value.toList()) {
        if (item.typeId() != QMetaType::QString)
            return std::nullopt;
        if (names.size() < kMaxReportedControls)
            names.append(item.toString());
    }
    return names;
}

QString NameListText(const QStringList& names)
{
    QStringList quoted;
    for (const QString& name : names)
        quoted.append(QuotedForMessage(name));
    return quoted.join(QStringLiteral(", "));
}

} // namespace

QString ProbeStatusName(ProbeStatus status)
{
    switch (status) {
    case ProbeStatus::Ok:
        return QStringLiteral("ok");
    case ProbeStatus::Changed:
        return QStringLiteral("changed");
    case ProbeStatus::Unreachable:
        break;
    }
    return QStringLiteral("unreachable");
}

ProbeStatus DecideProbeStatus(const PortalProbe& probe)
{
    if (!probe.reached || IsServerError(probe.httpStatus))
        return ProbeStatus::Unreachable;
    if (IsClientError(probe.httpStatus) || !probe.stayed || probe.readyScript == ScriptRun::Error ||
        probe.fillFailed || (probe.fill && !probe.fill->missing.isEmpty()))
        return ProbeStatus::Changed;
    return ProbeStatus::Ok;
}

std::optional<FillReport> ReadFillReport(const QVariant& value)
{
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = value.toMap();
    const std::optional<QStringList> found = NameList(map.value(QStringLiteral("found")));
    const std::optional<QStringList> missing = NameList(map.value(QStringLiteral("missing")));
    const QVariant captcha = map.value(QStringLiteral("captcha"));
    if (!found || !missing || captcha.typeId() != QMetaType::Bool)
        return std::nullopt;
    return FillReport{*found, *missing, captcha.toBool()};
}

QString ProbePlainLine(const PortalProbe& probe)
{
    const ProbeStatus status = DecideProbeStatus(probe);
    QStringList notes;
    if (status == ProbeStatus::Unreachable) {
        QString note = FailureName(probe);
        if (probe.failure && !probe.failure->errorText.isEmpty())
            note += QStringLiteral(" (") + probe.failure->errorText + u')';
        else if (probe.httpStatus > 0)
            note += QStringLiteral(" (HTTP %1)").arg(probe.httpStatus);
        notes.append(note);
    } else {
        if (IsClientError(probe.httpStatus))
            notes.append(QStringLiteral("HTTP %1").arg(probe.httpStatus));
        if (!probe.stayed)
            notes.append(QStringLiteral("moved to ") + probe.finalUrl);
        if (probe.readyScript == ScriptRun::Error)
            notes.append(QStringLiteral("readiness script error: ") + probe.readyError);
        if (probe.fillFailed)
            notes.append(QStringLiteral("fill script error: ") + probe.fillError);
        if (probe.fill) {
            const qsizetype missing = probe.fill->missing.size();
            if (missing > 0)
                notes.append(
                    QLatin1String(missing == 1 ? "missing control " : "missing controls ") +
                    NameListText(probe.fill->missing));
            if (!probe.fill->captcha)
                notes.append(QStringLiteral("no captcha box"));
        } else if (!probe.fillFailed && probe.stayed && !IsClientError(probe.httpStatus)) {
            notes.append(
                probe.fillRan
                    ? QStringLiteral("controls not checked (the fill script gives no report)")
                    : QStringLiteral("controls not checked (no fill script)"));
        }
    }
    QString line = probe.portal + u' ' + ProbeStatusName(status);
    if (!notes.isEmpty())
        line += QStringLiteral(": ") + notes.join(QStringLiteral("; "));
    return line;
}

QByteArray ProbeJsonLine(const PortalProbe& probe)
{
    const ProbeStatus status = DecideProbeStatus(probe);
    QJsonObject object;
    object.insert(QStringLiteral("portal"), probe.portal);
    object.insert(QStringLiteral("status"), ProbeStatusName(status));
    if (status == ProbeStatus::Unreachable)
        object.insert(QStringLiteral("failure"), FailureName(probe));
    object.insert(QStringLiteral("httpStatus"),
                  probe.httpStatus > 0 ? QJsonValue(probe.httpStatus) : QJsonValue());
    object.insert(QStringLiteral("finalUrl"), probe.finalUrl);
    object.insert(QStringLiteral("stayed"), probe.stayed);
    object.insert(QStringLiteral("readyScript"), ReadyScriptName(probe.readyScript));
    if (probe.fill) {
        object.insert(QStringLiteral("missingControls"),
                      QJsonArray::fromStringList(probe.fill->missing));
        object.insert(QStringLiteral("foundControls"),
                      QJsonArray::fromStringList(probe.fill->found));
        object.insert(QStringLiteral("captcha"), probe.fill->captcha);
    } else {
        object.insert(QStringLiteral("missingControls"), QJsonValue());
        object.insert(QStringLiteral("foundControls"), QJsonValue());
        object.insert(QStringLiteral("captcha"), QJsonValue());
    }
    object.insert(QStringLiteral("loadMs"), probe.loadMs);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

ProbeArguments ParseProbeArguments(const QStringList& arguments)
{
    ProbeArguments result;
    ProbeOptions& options = result.options;
    bool optionsEnded = false;
    bool timeoutGiven = false;
    bool portalsGiven = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(u'-') || argument == u"-") {
            if (!options.keys.contains(argument))
                options.keys.append(argument);
            continue;
        }
        if (argument == u"--") {
            optionsEnded = true;
            continue;
        }
        QString name = argument;
        std::optional<QString> value;
        if (const qsizetype equals = argument.indexOf(u'='); equals > 0) {
            name = argument.left(equals);
            value = argument.mid(equals + 1);
        }
        const auto takeValue = [&]() -> std::optional<QString> {
            if (value)
                return value;
            if (i + 1 < arguments.size())
                return arguments.at(++i);
            return std::nullopt;
        };
        if ((name == u"--help" || name == u"-h") && !value) {
            options.help = true;
        } else if (name == u"--version" && !value) {
            options.version = true;
        } else if (name == u"--json" && !value) {
            options.json = true;
        } else if (name == u"--portals") {
            const std::optional<QString> file = takeValue();
            if (!file || file->isEmpty()) {
                result.error = QStringLiteral("--portals needs a file name");
                return result;
            }
            if (portalsGiven) {
                result.error = QStringLiteral("--portals given twice");
                return result;
            }
            portalsGiven = true;
            options.portalsFile = *file;
        } else if (name == u"--timeout") {
            const std::optional<QString> seconds = takeValue();
            bool ok = false;
            const int parsed = seconds ? seconds->toInt(&ok) : 0;
            if (!ok || parsed < 1 || parsed > kMaxProbeTimeoutSeconds) {
                result.error =
                    QStringLiteral("--timeout needs whole seconds from 1 to %1, not %2")
                        .arg(kMaxProbeTimeoutSeconds)
                        .arg(seconds ? QuotedForMessage(*seconds) : QStringLiteral("nothing"));
                return result;
            }
            if (timeoutGiven) {
                result.error = QStringLiteral("--timeout given twice");
                return result;
            }
            timeoutGiven = true;
            options.timeoutSeconds = parsed;
        } else {
            result.error = QStringLiteral("unknown option ") + QuotedForMessage(argument);
            return result;
        }
    }
    return result;
}

QString ProbeUsage()
{
    return QStringLiteral(
        "usage: quarvel-probe [--portals FILE] [--json] [--timeout SECONDS] [KEY...]\n"
        "Loads each portal's query page in the browser engine, as the window would, and tells\n"
        "whether it is ok, changed or unreachable. Nothing is submitted or sent to a host.\n"
        "  --portals FILE     the portal definitions file to check (default: the one the window\n"
        "                     uses: QUARVEL_PORTALS, portals.json beside the program,\n"
        "                     /etc/quarvel/portals.json, else the built-in table)\n"
        "  --json             one JSON object per portal and line\n"
        "  --timeout SECONDS  time allowed for each portal (default 30)\n"
        "  KEY...             only these portals (default: every portal of the table)\n"
        "Exit status: 0 every portal checked is ok, 1 any is not, 2 usage error.\n");
}
