#pragma once

#include "hostlink/HostLink.h"
#include "lookup/Extraction.h"
#include "lookup/HostRequest.h"
#include "lookup/LookupCapture.h"
#include "portals/URIEstado.h"
#include "shell/Chromium.h"
#include "ui/MessageBox.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QProgressBar;
class QTimer;
class TCBNorva;
class TLoadFailurePage;

// The program's one window: the portal list above the embedded browser. It creates the browser
// when first shown, opens the host link once the browser exists, runs the lookup and closes only
// after the browser is gone.
class TForm1 : public QWidget
{
    Q_OBJECT

public:
    // hostArguments: the program's arguments as the host gave them (the first is the port).
    explicit TForm1(const QStringList& hostArguments, QWidget* parent = nullptr);
    ~TForm1() override;

    QWidget* AddressPnl = nullptr;
    QLabel* Label1 = nullptr;
    TCBNorva* cbUF = nullptr;
    QWidget* CEFWindowParent1 = nullptr;
    // The main frame's load, along the panel's bottom edge while a page loads.
    QProgressBar* ProgressBar1 = nullptr;
    QTimer* Timer1 = nullptr;
    TChromium* Chromium1 = nullptr;
    // Shown in the browser area in place of the browser when a main-frame load failed; made at
    // the first failure.
    QPointer<TLoadFailurePage> LoadFailurePage1;
    HostLink* IdTCPClient = nullptr;

    // Every message box goes through here; tests replace it so that no box blocks them.
    std::function<void(const MessageBoxSpec&)> ShowBox;
    // A portal recognised by content is also looked at as soon as its page changes; off, the
    // 500 ms watch alone finds its result.
    bool EarlyLook = true;

    const TURIEstados& URIEstados() const { return FURIEstados; }
    bool CanClose() const { return FCanClose; }
    bool Closing() const { return FClosing; }
    QString CurrentSearch() const { return FCurrentSearch; }
    // What the host asked for after the port.
    const HostRequest& Request() const { return m_request; }

    // The portal table.
    void RegisterURIEstado(TURIEstado uriEstado);
    int GetIndex(const QString& _uf) const;

Q_SIGNALS:
    // The window has closed for good: the browser is gone and the close was allowed.
    void Closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // A browser key (WindowKeyFor) that a field of the page took before the window's shortcuts
    // could: the page gives back what it does not use, to its view's parents.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void FormCloseQuery(QCloseEvent* event);
    void Timer1Timer();
    void Chromium1AfterCreated();
    void BrowserCreatedMsg();
    void OpenHostLink();
    void Chromium1Close(TCefCloseBrowserAction& aAction);
    void BrowserDestroyMsg();
    void Chromium1BeforeClose();
    void Chromium1BeforePopup(int targetDisposition, bool& result);
    void Chromium1OpenUrlFromTab(int targetDisposition, bool& result);
    void cbUFClick(int index);
    void Chromium1LoadEnd(const TCefFrame& frame, int httpStatusCode);
    void Chromium1LoadError(const QString& url, const LoadFailure& failure);
    void Chromium1TextResultAvailable(const QString& aText, const TCefFrame& frame);
    void Chromium1CaptureTextAvailable(const QString& aText, const TCefFrame& frame);
    CapturedText SeenText(const QString& aText, const TCefFrame& frame) const;
    void KeepSeenText(CapturedText seen);
    void Chromium1ChangedTextAvailable(const QString& aText);
    void RetryMainFrameText();
    bool SendResultBlock(const QStringList& lines);
    // The portal the host named, chosen as the user chooses one.
    void PreselectPortal();
    void FillQuery(const TCefFrame& frame, const TURIEstado& portal);
    // False when the result must not go out: another taxpayer than the host's, refused by the
    // user (the lookup goes on), or a text already refused.
    // fromWatch: the text came from the 500 ms watch, whose chain goes on while the page is
    // watched.
    bool ConfirmTaxpayer(const QString& text, const QStringList& lines, const TURIEstado& portal,
                         bool fromWatch);
    // A close request: carried out on the window thread, in the order requested.
    void RequestClose();
    void Chromium1LoadingStateChange(bool isLoading);
    void Chromium1LoadingProgressChange(double progress);
    void FocusPortalList();
    // Carries out a browser key; false for WindowKey::None.
    bool RunWindowKey(int key, Qt::KeyboardModifiers modifiers);

    QStringList m_hostArguments;
    bool FCanClose = false;
    bool FClosing = false;
    bool m_shown = false;
    // Once the result block has gone out, the lookup is over: later texts are ignored.
    bool m_lookupFinished = false;
    // The next text handled comes from a look after a change: its failure starts no watch.
    bool m_textFromChange = false;
    TURIEstados FURIEstados;
    // FURIEstados with their expressions compiled once, at the same indexes.
    std::vector<CompiledPortal> m_compiledPortals;
    QString FCurrentSearch;
    // The portals' short keys, at the same indexes.
    QStringList m_portalKeys;
    HostRequest m_request;
    bool m_confirming = false;
    // On a page watched by its content: the text of the result the user refused last, not asked
    // about again while the page shows it.
    QString m_refusedText;
    // What the lookup saw, kept on disk; null unless QUARVEL_CAPTURE_DIR is set.
    std::unique_ptr<LookupCapture> m_capture;
};
