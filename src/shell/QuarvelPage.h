#pragma once

#include <QPointer>
#include <QWebEnginePage>

class LocalNetworkGuard;
class QMessageBox;

// The page that holds the whole browser policy: no popups, no permissions, no downloads, no
// blocking script dialogs, and the reports of frame loads from the frame script.
class QuarvelPage : public QWebEnginePage
{
    Q_OBJECT

public:
    QuarvelPage(QWebEngineProfile* profile, QObject* parent);
    // Puts the redirects of frames to the guard of the profile's requests.
    void setLocalNetworkGuard(LocalNetworkGuard* guard) { m_localNetworkGuard = guard; }

Q_SIGNALS:
    // A page asked for a new window or tab; nothing is ever opened.
    void newWindowRequested(QWebEnginePage::WebWindowType type);
    // A sub-frame finished loading (reported by the frame script).
    void subFrameLoaded(const QString& url, const QString& name, const QString& text);
    // The main frame's document finished loading (reported by the frame script).
    void mainFrameLoaded(const QString& url, const QString& documentId);

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                          const QString& defaultValue, QString* result) override;

private:
    void showScriptMessage(const QString& text);

    QString m_token;
    QPointer<QMessageBox> m_scriptMessage;
    QPointer<LocalNetworkGuard> m_localNetworkGuard;
};

// Parses a frame script report; false when the message is not one (wrong token, bad form).
// A main-frame report has a document id and neither name nor text.
struct FrameReport
{
    QString url;
    QString name;
    QString text;
    QString documentId;
};
bool ParseFrameReport(const QString& token, const QString& message, FrameReport& report);
// The frame script that reports each frame's load with the given token.
QString FrameScriptSource(const QString& token);
// A script for the application's world of the main frame: evaluates to [document id, URL]; the
// id is empty where the frame script has not run.
QString DocumentIdQuery();
