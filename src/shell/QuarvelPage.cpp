#include "shell/QuarvelPage.h"

#include "shell/LocalNetworkGuard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QWebEngineCertificateError>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace {

constexpr auto kFrameScriptName = "quarvel-frame-report";
// Set by the frame script in the main frame, in the application's script world.
constexpr auto kDocumentIdVariable = "__quarvelDocumentId";

QString newToken()
{
    QRandomGenerator* random = QRandomGenerator::system();
    return QStringLiteral("quarvel:%1%2:")
        .arg(random->generate64(), 16, 16, QLatin1Char('0'))
        .arg(random->generate64(), 16, 16, QLatin1Char('0'));
}

} // namespace

QString FrameScriptSource(const QString& token)
{
    // Runs in every frame, in the application's own script world, so the page can neither see
    // the token nor change the function. The main frame reports its load too, under an id of
    // its document: the engine's own load signal is lost when a page is asked for while the
    // previous one is being committed.
    return QStringLiteral(R"JS((function () {
  // The engine's error pages are reported by the engine, under the URL that failed.
  if (location.protocol === "chrome-error:") return;
  var token = %1;
  var main = window.top === window;
  var documentId = "";
  if (main) {
    documentId = Date.now().toString(36) + "." + Math.random().toString(36).slice(2);
    window.%2 = documentId;
  }
  function report() {
    var text = !main && document.body ? document.body.innerText : "";
    console.log(token + JSON.stringify([location.href, main ? "" : window.name, text, documentId]));
  }
  if (document.readyState === "complete") report();
  else window.addEventListener("load", report);
})();)JS")
        .arg(QString::fromUtf8(QJsonDocument(QJsonArray{token}).toJson(QJsonDocument::Compact))
                 .mid(1)
                 .chopped(1),
             QLatin1String(kDocumentIdVariable));
}

QString DocumentIdQuery()
{
    return QStringLiteral("[typeof %1 === \"string\" ? %1 : \"\", location.href]")
        .arg(QLatin1String(kDocumentIdVariable));
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
    if (fields.size() != 4)
        return false;
    for (const QJsonValue& field : fields) {
        if (!field.isString())
            return false;
    }
    report = {fields[0].toString(), fields[1].toString(), fields[2].toString(),
              fields[3].toString()};
    return true;
}

QuarvelPage::QuarvelPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent), m_token(newToken())
{
    QWebEngineScript frameScript;
    frameScript.setName(QLatin1String(kFrameScriptName));
    frameScript.setSourceCode(FrameScriptSource(m_token));
    frameScript.setInjectionPoint(QWebEngineScript::DocumentReady);
    frameScript.setWorldId(QWebEngineScript::ApplicationWorld);
    frameScript.setRunsOnSubFrames(true);
    scripts().insert(frameScript);

    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, QWebEnginePage::Feature feature) {
                setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
            });
    connect(this, &QWebEnginePage::certificateError, this,
            [](QWebEngineCertificateError error) { error.rejectCertificate(); });
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
}

QWebEnginePage* QuarvelPage::createWindow(WebWindowType type)
{
    Q_EMIT newWindowRequested(type);
    return nullptr;
}

bool QuarvelPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool)
{
    // The engine follows a redirect before its request interceptor can refuse it.
    return type != NavigationTypeRedirect || m_localNetworkGuard == nullptr ||
           m_localNetworkGuard->allowsRedirect(url);
}

void QuarvelPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message,
                                           int, const QString&)
{
    FrameReport report;
    if (!ParseFrameReport(m_token, message, report))
        return;
    if (report.documentId.isEmpty())
        Q_EMIT subFrameLoaded(report.url, report.name, report.text);
    else
        Q_EMIT mainFrameLoaded(report.url, report.documentId);
}

// Script dialogs would block the window in a nested loop (a page looping alert() would never
// let go); show their text in one box that does not block instead.
void QuarvelPage::javaScriptAlert(const QUrl&, const QString& msg)
{
    showScriptMessage(msg);
}

bool QuarvelPage::javaScriptConfirm(const QUrl&, const QString& msg)
{
    showScriptMessage(msg);
    return false;
}

bool QuarvelPage::javaScriptPrompt(const QUrl&, const QString& msg, const QString&, QString*)
{
    showScriptMessage(msg);
    return false;
}

void QuarvelPage::showScriptMessage(const QString& text)
{
    if (m_scriptMessage == nullptr) {
        m_scriptMessage = new QMessageBox(QMessageBox::Information, QStringLiteral("Quarvel"),
                                          QString(), QMessageBox::Ok);
        m_scriptMessage->setAttribute(Qt::WA_DeleteOnClose);
        m_scriptMessage->setModal(false);
        connect(this, &QObject::destroyed, m_scriptMessage.data(), &QObject::deleteLater);
    }
    m_scriptMessage->setText(text);
    m_scriptMessage->show();
}
