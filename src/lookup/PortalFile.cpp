#include "lookup/PortalFile.h"

#include "lookup/CompiledExpression.h"
#include "portals/PortalTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QUrl>

namespace {

const char* const kStringMembers[] = {"estado", "URLconsulta", "URLresposta",
                                      "responseStringDetection", "consultaReadyScript"};

// Line and column (1-based) of a byte offset in the file.
void LineAndColumn(const QByteArray& bytes, qsizetype offset, int& line, int& column)
{
    line = 1;
    column = 1;
    offset = qBound<qsizetype>(0, offset, bytes.size());
    for (qsizetype i = 0; i < offset; ++i) {
        if (bytes.at(i) == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
}

bool IsLowercaseAsciiKey(const QString& key)
{
    if (key.isEmpty())
        return false;
    for (const QChar c : key) {
        if (c < u'a' || c > u'z')
            return false;
    }
    return true;
}

class Checker
{
public:
    Checker(const QString& fileName, QStringList& problems)
        : m_fileName(fileName), m_problems(problems)
    {}

    void Add(const QString& where, const QString& what)
    {
        m_problems << QStringLiteral("%1: %2: %3").arg(m_fileName, where, what);
    }

    void CheckExpression(const QString& where, const QString& pattern, bool needsGroup)
    {
        const CompiledExpression expression(pattern, CompileOptions{false});
        if (!expression.isCompiled())
            Add(where,
                QStringLiteral("expression does not compile %1").arg(expression.errorText()));
        else if (needsGroup && expression.captureCount() < 1)
            Add(where, QStringLiteral("field expression has no capturing group"));
    }

private:
    QString m_fileName;
    QStringList& m_problems;
};

} // namespace

KeyedPortalTable BuiltInKeyedPortals(const TURIEstados& builtIn)
{
    KeyedPortalTable table;
    const QList<BuiltInPortalPaths>& paths = BuiltInPortalPathList();
    for (qsizetype i = 0; i < builtIn.size() && i < paths.size(); ++i) {
        table.keys << paths.at(i).key;
        table.portals << builtIn.at(i);
    }
    return table;
}

QByteArray PortalTableToJson(const KeyedPortalTable& table)
{
    QJsonArray portals;
    for (qsizetype i = 0; i < table.portals.size(); ++i) {
        const TURIEstado& p = table.portals.at(i);
        QJsonArray fields;
        for (const TFieldDef& f : p.fieldDefs)
            fields.append(QJsonObject{{QStringLiteral("fieldName"), f.fieldName},
                                      {QStringLiteral("fieldRegEx"), f.fieldRegEx}});
        // QJsonObject sorts its members; the order in the file carries no meaning.
        portals.append(
            QJsonObject{{QStringLiteral("key"), table.keys.value(i)},
                        {QStringLiteral("estado"), p.estado},
                        {QStringLiteral("URLconsulta"), p.URLconsulta},
                        {QStringLiteral("URLresposta"), p.URLresposta},
                        {QStringLiteral("responseStringDetection"), p.responseStringDetection},
                        {QStringLiteral("consultaReadyScript"), p.consultaReadyScript},
                        {QStringLiteral("consultaFillScript"), p.consultaFillScript},
                        {QStringLiteral("fieldDefs"), fields}});
    }
    const QJsonObject root{{QStringLiteral("version"), 1}, {QStringLiteral("portals"), portals}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

PortalFileResult ParsePortalFile(const QByteArray& bytes, const QString& fileName)
{
    PortalFileResult result;
    QStringList& problems = result.problems;
    if (bytes.size() > kMaxPortalFileBytes) {
        problems << QStringLiteral("%1: file is larger than %2 bytes")
                        .arg(fileName)
                        .arg(kMaxPortalFileBytes);
        return result;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        int line = 0;
        int column = 0;
        LineAndColumn(bytes, parseError.offset, line, column);
        problems << QStringLiteral("%1:%2:%3: %4")
                        .arg(fileName)
                        .arg(line)
                        .arg(column)
                        .arg(bytes.isEmpty() ? QStringLiteral("empty file")
                                             : parseError.errorString());
        return result;
    }
    Checker check(fileName, problems);
    if (!document.isObject()) {
        check.Add(QStringLiteral("top level"), QStringLiteral("not a JSON object"));
        return result;
    }
    const QJsonObject root = document.object();
    const QJsonValue version = root.value(u"version");
    if (!version.isDouble() || version.toDouble() != 1.0) {
        check.Add(QStringLiteral("version"), QStringLiteral("version must be the number 1"));
        return result;
    }
    const QJsonValue portalsValue = root.value(u"portals");
    if (!portalsValue.isArray()) {
        check.Add(QStringLiteral("portals"), QStringLiteral("missing or not an array"));
        return result;
    }
    const QJsonArray portals = portalsValue.toArray();
    if (portals.isEmpty())
        check.Add(QStringLiteral("portals"), QStringLiteral("no portal"));
    if (portals.size() > kMaxPortals)
        check.Add(QStringLiteral("portals"),
                  QStringLiteral("%1 portals, at most %2").arg(portals.size()).arg(kMaxPortals));

    KeyedPortalTable table;
    QSet<QString> keys;
    QSet<QString> estados;
    for (qsizetype i = 0; i < portals.size() && i < kMaxPortals; ++i) {
        const QString at = QStringLiteral("portal #%1").arg(i + 1);
        if (!portals.at(i).isObject()) {
            check.Add(at, QStringLiteral("not an object"));
            continue;
        }
        const QJsonObject object = portals.at(i).toObject();
        const QJsonValue keyValue = object.value(u"key");
        QString where = at;
        if (!keyValue.isString()) {
            check.Add(where, QStringLiteral("member \"key\" missing or not a string"));
        } else {
            const QString key = keyValue.toString();
            where = key;
            if (!IsLowercaseAsciiKey(key))
                check.Add(at, QStringLiteral("key \"%1\" is not lowercase ASCII letters").arg(key));
            else if (keys.contains(key))
                check.Add(where, QStringLiteral("duplicate key"));
            keys.insert(key);
        }
        QStringList strings;
        bool typesOk = true;
        for (const char* member : kStringMembers) {
            const QJsonValue v = object.value(QLatin1StringView(member));
            if (!v.isString()) {
                check.Add(where, QStringLiteral("member \"%1\" missing or not a string")
                                     .arg(QLatin1StringView(member)));
                typesOk = false;
            }
            strings << v.toString();
        }
        // Optional: files written before the query could be filled in have none.
        const QJsonValue fillValue = object.value(u"consultaFillScript");
        if (!fillValue.isUndefined() && !fillValue.isString()) {
            check.Add(where, QStringLiteral("member \"consultaFillScript\" not a string"));
            typesOk = false;
        }
        const QJsonValue fieldsValue = object.value(u"fieldDefs");
        if (!fieldsValue.isArray()) {
            check.Add(where, QStringLiteral("member \"fieldDefs\" missing or not an array"));
            typesOk = false;
        }
        if (!typesOk)
            continue;
        TURIEstado portal;
        portal.estado = strings.at(0);
        portal.URLconsulta = strings.at(1);
        portal.URLresposta = strings.at(2);
        portal.responseStringDetection = strings.at(3);
        portal.consultaReadyScript = strings.at(4);
        portal.consultaFillScript = fillValue.toString();
        if (portal.estado.isEmpty())
            check.Add(where, QStringLiteral("estado is empty"));
        else if (estados.contains(portal.estado))
            check.Add(where, QStringLiteral("duplicate estado \"%1\"").arg(portal.estado));
        estados.insert(portal.estado);
        const QUrl url(portal.URLconsulta, QUrl::StrictMode);
        if (!url.isValid() || url.isRelative() || url.host().isEmpty() ||
            (url.scheme() != u"http" && url.scheme() != u"https"))
            check.Add(where, QStringLiteral("URLconsulta \"%1\" is not an absolute http or "
                                            "https URL")
                                 .arg(portal.URLconsulta));
        if (!portal.responseStringDetection.isEmpty())
            check.CheckExpression(where + QStringLiteral("/responseStringDetection"),
                                  portal.responseStringDetection, false);
        const QJsonArray fields = fieldsValue.toArray();
        if (fields.size() > kMaxFieldsPerPortal)
            check.Add(where, QStringLiteral("%1 fields, at most %2")
                                 .arg(fields.size())
                                 .arg(kMaxFieldsPerPortal));
        for (qsizetype j = 0; j < fields.size() && j < kMaxFieldsPerPortal; ++j) {
            const QString fieldAt = where + QStringLiteral("/field #%1").arg(j + 1);
            const QJsonObject field = fields.at(j).toObject();
            const QJsonValue name = field.value(u"fieldName");
            const QJsonValue regex = field.value(u"fieldRegEx");
            if (!fields.at(j).isObject() || !name.isString() || !regex.isString()) {
                check.Add(fieldAt, QStringLiteral("not an object with string members "
                                                  "\"fieldName\" and \"fieldRegEx\""));
                continue;
            }
            const QString fieldName = name.toString();
            const QString fieldWhere = where + u'/' + fieldName;
            if (fieldName.isEmpty())
                check.Add(fieldAt, QStringLiteral("field name is empty"));
            else if (fieldName.contains(u'=') || fieldName.contains(u'\r') ||
                     fieldName.contains(u'\n'))
                check.Add(fieldWhere, QStringLiteral("field name contains '=', CR or LF"));
            check.CheckExpression(fieldWhere, regex.toString(), true);
            portal.fieldDefs << TFieldDef{fieldName, regex.toString()};
        }
        table.keys << keyValue.toString();
        table.portals << portal;
    }
    if (problems.isEmpty())
        result.table = table;
    return result;
}

PortalFileResult LoadPortalFile(const QString& path)
{
    PortalFileResult result;
    const QFileInfo info(path);
    if (info.isDir()) {
        result.problems << QStringLiteral("%1: is a folder, not a file").arg(path);
        return result;
    }
    if (info.exists() && info.size() > kMaxPortalFileBytes) {
        result.problems << QStringLiteral("%1: file is larger than %2 bytes")
                               .arg(path)
                               .arg(kMaxPortalFileBytes);
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.problems << QStringLiteral("%1: cannot open: %2").arg(path, file.errorString());
        return result;
    }
    // One byte more than allowed tells a file that grew after the size check.
    const QByteArray bytes = file.read(kMaxPortalFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        result.problems << QStringLiteral("%1: cannot read: %2").arg(path, file.errorString());
        return result;
    }
    return ParsePortalFile(bytes, path);
}

QString FindPortalFile(const QString& envValue, const QString& exeDir, const QString& etcPath)
{
    if (!envValue.isEmpty())
        return envValue;
    const QString beside = QDir(exeDir).filePath(QStringLiteral("portals.json"));
    if (!exeDir.isEmpty() && QFileInfo::exists(beside))
        return beside;
    if (!etcPath.isEmpty() && QFileInfo::exists(etcPath))
        return etcPath;
    return {};
}

namespace {

QString ReplaceOrigin(const QString& url, const QString& origin)
{
    const qsizetype scheme = url.indexOf(u"://");
    if (scheme < 0)
        return url;
    const qsizetype slash = url.indexOf(u'/', scheme + 3);
    return origin + (slash < 0 ? QString() : url.mid(slash));
}

} // namespace

void ApplyHostsToTable(const PortalHosts& hosts, KeyedPortalTable& table)
{
    const PortalHosts defaults;
    const struct
    {
        const char* key;
        QString PortalHosts::*host;
    } members[] = {{"ccc", &PortalHosts::ccc},
                   {"am", &PortalHosts::am},
                   {"es", &PortalHosts::es},
                   {"ba", &PortalHosts::ba},
                   {"sp", &PortalHosts::sp}};
    for (const auto& m : members) {
        if (hosts.*(m.host) == defaults.*(m.host))
            continue;
        const qsizetype i = table.keys.indexOf(QLatin1StringView(m.key));
        if (i < 0)
            continue;
        TURIEstado& portal = table.portals[i];
        portal.URLconsulta = ReplaceOrigin(portal.URLconsulta, hosts.*(m.host));
        if (!portal.URLresposta.isEmpty())
            portal.URLresposta = ReplaceOrigin(portal.URLresposta, hosts.*(m.host));
    }
}

PortalTableChoice ChoosePortalTable(const QString& envValue, const QString& exeDir,
                                    const QString& etcPath, const PortalHosts& hosts)
{
    PortalTableChoice choice;
    choice.file = FindPortalFile(envValue, exeDir, etcPath);
    if (!choice.file.isEmpty()) {
        PortalFileResult loaded = LoadPortalFile(choice.file);
        if (loaded.ok()) {
            choice.table = loaded.table;
            ApplyHostsToTable(hosts, choice.table);
            return choice;
        }
        choice.problems = loaded.problems;
    }
    choice.table = BuiltInKeyedPortals(BuiltInPortals(hosts));
    return choice;
}
