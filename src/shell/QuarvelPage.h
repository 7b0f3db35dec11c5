#pragma once

#include <QPointer>
#include <QWebEnginePage>

class LocalNetworkGuard;
class QMenu;
class QMessageBox;

// The profile every page of the program uses: off the record (nothing written to disk), and
// every download cancelled, and requests of public pages to local addresses refused.
QWebEngineProfile* NewQuarvelProfile(QObject* parent);

// The context-menu entries that act in this window: history, reload, editing, copying and the
// media controls. Opening a window or tab, saving, downloading and the developer tools are
// refused by the page's policy, so their entries would do nothing.
bool IsContextMenuActionAllowed(QWebEnginePage::WebAction action);

// Takes out of a menu built from page's actions the ones not allowed, and the separators that
// are left doubled or at either end. Entries that are not page actions stay.
void KeepAllowedContextMenuActions(QMenu& menu, const QWebEnginePage& page);

// The page that holds the whole browser policy: no popups, no permissions, no downloads, no
// links handed to other programs, no blocking script dialogs, and the reports of frame loads
// from the frame script.
class QuarvelPage : public QWebEnginePage
{
    Q_OBJECT

public:
    QuarvelPage(QWebEngineProfile* profile, QObject* parent);

Q_SIGNALS:
    // A page asked for a new window or tab, and was refused it: nothing is ever opened.
    void newWindowRefused(QWebEnginePage::WebWindowType type);
    // A sub-frame finished loading (reported by the frame script).
    void subFrameLoaded(const QString& url, const QString& name, const QString& text);
    // The main frame's document finished loading (reported by the frame script).
    void mainFrameLoaded(const QString& url, const QString& documentId);
    // The main frame's document changed after a change watch call (reported by the frame
    // script).
    void mainFrameChanged();

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
