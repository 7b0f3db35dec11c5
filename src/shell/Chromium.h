#pragma once

#include "shell/LoadFailure.h"
#include "shell/SystemTrust.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

class QPoint;
class QTimer;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;
class QWidget;
class QuarvelPage;

enum TCefCloseBrowserAction
{
    cbaClose = 0,
    cbaDelay = 1,
    cbaCancel = 2,
};

enum TCefWindowOpenDisposition
{
    WOD_UNKNOWN = 0,
    WOD_CURRENT_TAB = 1,
    WOD_SINGLETON_TAB = 2,
    WOD_NEW_FOREGROUND_TAB = 3,
    WOD_NEW_BACKGROUND_TAB = 4,
    WOD_NEW_POPUP = 5,
    WOD_NEW_WINDOW = 6,
    WOD_SAVE_TO_DISK = 7,
    WOD_OFF_THE_RECORD = 8,
    WOD_IGNORE_ACTION = 9,
};

// New tabs, new windows and popups are refused: the window holds exactly one browser.
inline bool IsRefusedDisposition(int disposition)
{
    return disposition >= WOD_NEW_FOREGROUND_TAB && disposition <= WOD_NEW_WINDOW;
}

class TChromium;

// Who asked for a page text: the lookup, or the capture of what the window saw, whose texts never
// reach the lookup.
enum class TextRequest
{
    Lookup,
    Capture,
};

// A frame of the browser as seen at one moment: its URL and name.
class TCefFrame
{
public:
    TCefFrame() = default;
    TCefFrame(QWebEnginePage* page, QString url, QString name, bool isMain);

    QString GetUrl() const { return m_url; }
    QString GetName() const { return m_name; }
    bool IsMain() const { return m_isMain; }
    // Runs code in the frame's page. Only the main frame can run scripts; for a sub-frame this
    // does nothing. The script URL and start line are not used by this engine.
    void ExecuteJavaScript(const QString& code, const QString& scriptUrl, int startLine) const;

private:
    QPointer<QWebEnginePage> m_page;
    QString m_url;
    QString m_name;
    bool m_isMain = false;
};

// The browser component: one embedded browser, created into a host area and closed through a
// handshake with its owner. Every event is raised on the window thread.
class TChromium : public QObject
{
    Q_OBJECT

public:
    explicit TChromium(QObject* parent = nullptr);
    ~TChromium() override;

    // The page a new browser shows first.
    QString DefaultUrl = QStringLiteral("about:blank");
    // Roots accepted where the engine knows none for a server's chain: the system's. Tests give a
    // store of their own before creating the browser; nothing outside the program can change it.
    TrustStore CertificateStore = TrustStore::System();
    // How long a main-frame load may go without its document before it ends as a timeout: the
    // engine itself waits without end for a server that accepts the connection and never
    // answers. Tests shorten it before creating the browser; nothing outside the program can
    // change it.
    int LoadTimeoutMs = DefaultLoadTimeoutMs;
    static constexpr int DefaultLoadTimeoutMs = 60000;

    // Creates the browser as a child of hostArea. False while the engine cannot create yet or
    // while a browser exists; OnAfterCreated follows a true result.
    bool CreateBrowser(QWidget* hostArea);
    // A browser exists and is not closing.
    bool Initialized() const;
    // Asks the browser to close, without letting the page refuse. OnClose, then (once the host
    // area is gone when OnClose answered cbaDelay) OnBeforeClose.
    void CloseBrowser(bool forceClose);
    void LoadURL(const QString& url);
    // Requests the text of the frame of that name (the main frame for an empty name); the text
    // arrives once, with the frame it is from, in OnTextResultAvailable (OnCaptureTextAvailable
    // for a capture). Nothing happens for an unknown frame.
    void RetrieveText(const QString& frameName = QString(),
                      TextRequest request = TextRequest::Lookup);
    // Requests the main frame's text once its document changes (at once when it changed since
    // the last such request); the text arrives in OnChangedTextAvailable. At most one of these
    // requests is outstanding and they start at least ChangedTextIntervalMs apart, however fast
    // the page changes. A call while one is pending adds nothing; a new document drops it.
    void RetrieveTextOnChange();
    static constexpr int ChangedTextIntervalMs = 50;

    QWebEngineView* GetBrowser() const;
    std::optional<TCefFrame> GetMainFrame() const;

    // Navigation from the keyboard; each does nothing without a browser or where the history
    // has no page to go to.
    void GoBack();
    void GoForward();
    void Reload();
    void StopLoad();
    // The zoom of the page, in steps from 25 % to 500 %; nothing keeps it beyond the browser.
    void IncZoomStep();
    void DecZoomStep();
    void ResetZoomStep();

Q_SIGNALS:
    void OnAfterCreated();
    void OnClose(TCefCloseBrowserAction& aAction);
    void OnBeforeClose();
    void OnBeforePopup(int targetDisposition, bool& result);
    void OnOpenUrlFromTab(int targetDisposition, bool& result);
    void OnLoadEnd(const TCefFrame& frame, int httpStatusCode);
    // A main-frame load of url failed (the engine's error, or no answer within LoadTimeoutMs).
    // Sub-frames that fail report nothing here.
    void OnLoadError(const QString& url, const LoadFailure& failure);
    void OnTextResultAvailable(const QString& aText, const TCefFrame& frame);
    void OnCaptureTextAvailable(const QString& aText, const TCefFrame& frame);
    // The main frame started (true) or ended (false) loading, however the load ended.
    void OnLoadingStateChange(bool isLoading);
    // How far the main frame's load has come, from 0 to 1.
    void OnLoadingProgressChange(double progress);
    void OnChangedTextAvailable(const QString& aText);

private:
    void runClose();
    void finishClose();
    void onWindowRefused(TCefWindowOpenDisposition disposition);
    void onLoadFinished(bool ok);
    // The engine's load end, once the shown document's [id, URL] is known.
    void reportEngineLoadEnd(const QString& url, bool ok, const QStringList& shown);
    void onMainFrameLoaded(const QString& url, const QString& documentId);
    void onSubFrameLoaded(const QString& url, const QString& name, const QString& text);
    void deliverText(TextRequest request, const QString& text, const TCefFrame& frame);
    void showContextMenu(const QPoint& position);
    // One level up (direction > 0) or down.
    void zoomBy(int direction);
    void onMainFrameChanged();
    void requestChangedText();
    void onLoadTimedOut();

    QWebEngineProfile* m_profile = nullptr;
    QPointer<QWebEngineView> m_view;
    QPointer<QuarvelPage> m_page;
    bool m_closing = false;
    // Text of each named sub-frame at its last finished load.
    QHash<QString, QString> m_frameTexts;
    // URL of each named sub-frame at its last finished load.
    QHash<QString, QString> m_frameUrls;
    // The main-frame document whose load was last reported.
    QString m_reportedDocument;
    // A changed text is asked for (or waits for its interval): no other is asked for meanwhile.
    bool m_changedTextPending = false;
    QElapsedTimer m_lastChangedText;
    QTimer* m_changedTextDelay = nullptr;
    // Runs from a main-frame load's start until its document is there or the load ends.
    QTimer* m_loadWatch = nullptr;
    QString m_loadingUrl;
};
