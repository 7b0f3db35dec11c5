#pragma once

#include "shell/LoadFailure.h"
#include "shell/SystemTrust.h"

#include <QHash>
#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>

class LocalNetworkGuard;
class QMenu;
class QMessageBox;
class QWebEngineCertificateError;

// The profile every page of the program uses: off the record (nothing written to disk), and
// every download cancelled, requests of public pages to local addresses refused, and pages
// asked for in Brazilian Portuguese.
QWebEngineProfile* NewQuarvelProfile(QObject* parent);

// The Accept-Language every request of the program's profile carries.
inline constexpr char kAcceptLanguage[] = "pt-BR,pt;q=0.9";

// The context-menu entries that act in this window: history, reload, editing, copying and the
// media controls. Opening a window or tab, saving, downloading and the developer tools are
// refused by the page's policy, so their entries would do nothing.
bool IsContextMenuActionAllowed(QWebEnginePage::WebAction action);

// Takes out of a menu built from page's actions the ones not allowed, and the separators that
// are left doubled or at either end. Entries that are not page actions stay.
void KeepAllowedContextMenuActions(QMenu& menu, const QWebEnginePage& page);

// The page that holds the whole browser policy: no popups, no permissions, no downloads, no
// links handed to other programs, no blocking script dialogs, certificates refused unless the
// engine's only objection is a root that the machine's trust store holds, and the reports of
// frame loads from the frame script.
class QuarvelPage : public QWebEnginePage
{
    Q_OBJECT

public:
    QuarvelPage(QWebEngineProfile* profile, QObject* parent);

    // The store whose roots are accepted where the engine knows no root for a chain; the
    // system's unless a test gives its own.
    void setTrustStore(const TrustStore& store) { m_trustStore = store; }

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
    // The main frame is about to load url (the page's own navigations included, and each
    // redirect).
    void mainFrameNavigationAccepted(const QUrl& url);
    // A main-frame load failed, and the engine shows its error page for it.
    void mainFrameLoadFailed(const QUrl& url, const LoadFailure& failure);

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
    void onCertificateError(QWebEngineCertificateError error);
    void onLoadingChanged(const QWebEngineLoadingInfo& info);

    QString m_token;
    QPointer<QMessageBox> m_scriptMessage;
    QPointer<LocalNetworkGuard> m_localNetworkGuard;
    TrustStore m_trustStore = TrustStore::System();
    // Why the store refused a chain the engine called untrusted, by the origin it came from: the
    // failed load is explained by that (an expired certificate is not a question of roots).
    QHash<QUrl, LoadFailureClass> m_storeRefusals;
};
