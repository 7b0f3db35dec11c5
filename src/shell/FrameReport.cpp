#include "shell/FrameReport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>

namespace {

// Set by the frame script in the main frame, in the application's script world.
constexpr auto kDocumentIdVariable = "__quarvelDocumentId";
// Set by the frame script in the main frame: asks for one notice of the document's next change.
constexpr auto kChangeWatchFunction = "__quarvelWatchChange";
// The last field of a change notice; a load report has four fields.
constexpr auto kChangeKind = "change";

QString frameScriptTemplate()
{
    QFile file(QStringLiteral(":/quarvel/shell/FrameReport.js"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("the frame script resource is missing from the build");
    return QString::fromUtf8(file.readAll());
}

} // namespace

QString NewFrameReportToken()
{
    QRandomGenerator* random = QRandomGenerator::system();
    return QStringLiteral("quarvel:%1%2:")
        .arg(random->generate64(), 16, 16, QLatin1Char('0'))
        .arg(random->generate64(), 16, 16, QLatin1Char('0'));
}

QString FrameScriptSource(const QString& token)
{
    static const QString source = frameScriptTemplate();
    // The token as a script string literal: JSON's quoting of a one-string array, brackets off.
    const QString literal =
        QString::fromUtf8(QJsonDocument(QJsonArray{token}).toJson(QJsonDocument::Compact))
            .mid(1)
            .chopped(1);
    return source.arg(literal, QLatin1String(kDocumentIdVariable),
                      QLatin1String(kChangeWatchFunction));
}

QString DocumentIdQuery()
{
    return QStringLiteral(
               "[typeof %1 === \"string\" ? %1 : \"\", location.href, document.readyState]")
        .arg(QLatin1String(kDocumentIdVariable));
}

QString ChangeWatchCall()
{
    return QStringLiteral("typeof %1 === \"function\" && %1();")
        .arg(QLatin1String(kChangeWatchFunction));
}

bool ParseFrameReport(const QString& token, const QString& message, FrameReport& report)
{
    if (!message.startsWith(token))
        return false;
    QJsonParseError error;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QStringView(message).mid(token.size()).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return false;
    const QJsonArray fields = doc.array();
    const bool change = fields.size() == 5 && fields[4].toString() == QLatin1String(kChangeKind);
    if (fields.size() != 4 && !change)
        return false;
    for (const QJsonValue& field : fields) {
        if (!field.isString())
            return false;
    }
    report = {fields[0].toString(), fields[1].toString(), fields[2].toString(),
              fields[3].toString(), change};
    // A change notice comes from a main frame only.
    return !change || !report.documentId.isEmpty();
}
