#include "shell/Chromium.h"

#include "shell/CefApplication.h"
#include "shell/FrameReport.h"
#include "shell/QuarvelPage.h"

#include <QMenu>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <algorithm>
#include <iterator>

namespace {

TCefWindowOpenDisposition DispositionForWindowType(QWebEnginePage::WebWindowType type)
{
    switch (type) {
    case QWebEnginePage::WebBrowserTab:
        return WOD_NEW_FOREGROUND_TAB;
    case QWebEnginePage::WebBrowserBackgroundTab:
        return WOD_NEW_BACKGROUND_TAB;
    case QWebEnginePage::WebDialog:
        return WOD_NEW_POPUP;
    case QWebEnginePage::WebBrowserWindow:
        return WOD_NEW_WINDOW;
    }
    return WOD_UNKNOWN;
}

// The zoom levels a step moves between (those of common browsers).
constexpr double kZoomFactors[] = {0.25, 0.33, 0.5,  0.67, 0.75, 0.8, 0.9, 1.0, 1.1,
                                   1.25, 1.5,  1.75, 2.0,  2.5,  3.0, 4.0, 5.0};

} // namespace

TCefFrame::TCefFrame(QWebEnginePage* page, QString url, QString name, bool isMain)
    : m_page(page), m_url(std::move(url)), m_name(std::move(name)), m_isMain(isMain)
{}

void TCefFrame::ExecuteJavaScript(const QString& code, const QString&, int) const
{
    if (m_isMain && m_page != nullptr)
        m_page->runJavaScript(code, QWebEngineScript::MainWorld);
}

TChromium::TChromium(QObject* parent) : QObject(parent)
{
    m_changedTextDelay = new QTimer(this);
    m_changedTextDelay->setSingleShot(true);
    connect(m_changedTextDelay, &QTimer::timeout, this, &TChromium::requestChangedText);
    m_loadWatch = new QTimer(this);
    m_loadWatch->setSingleShot(true);
    connect(m_loadWatch, &QTimer::timeout, this, &TChromium::onLoadTimedOut);
}

TChromium::~TChromium()
{
    // The engine may run pending callbacks from inside the page's destructor: they must find
    // the browser closing, not look at the half-destroyed view.
    m_closing = true;
    // The page must be gone before its profile.
    delete m_view.data();
    delete m_page.data();
    delete m_profile;
}

bool TChromium::CreateBrowser(QWidget* hostArea)
{
    if (GlobalCEFApp == nullptr || !GlobalCEFApp->GlobalContextInitialized())
        return false;
    if (m_view != nullptr || m_closing || hostArea == nullptr)
        return false;

    if (m_profile == nullptr)
        m_profile = NewQuarvelProfile(this);

    m_view = new QWebEngineView(hostArea);
    m_page = new QuarvelPage(m_profile, m_view);
    m_page->setTrustStore(CertificateStore);
    m_view->setPage(m_page);
    if (hostArea->layout() == nullptr) {
        auto* layout = new QVBoxLayout(hostArea);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    hostArea->layout()->addWidget(m_view);
    hostArea->setFocusProxy(m_view);
    // The engine's menu, without the entries this window refuses.
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->show();

    connect(m_page, &QuarvelPage::newWindowRefused, this,
            [this](QWebEnginePage::WebWindowType type) {
                onWindowRefused(DispositionForWindowType(type));
            });
    connect(m_page, &QuarvelPage::subFrameLoaded, this, &TChromium::onSubFrameLoaded);
    connect(m_page, &QuarvelPage::mainFrameLoaded, this, &TChromium::onMainFrameLoaded);
    connect(m_page, &QuarvelPage::mainFrameChanged, this, &TChromium::onMainFrameChanged);
    connect(m_page, &QWebEnginePage::loadFinished, this, &TChromium::onLoadFinished);
    connect(m_view, &QWidget::customContextMenuRequested, this, &TChromium::showContextMenu);
    connect(m_page, &QWebEnginePage::loadStarted, this, [this] {
        if (!m_closing)
            Q_EMIT OnLoadingStateChange(true);
    });
    connect(m_page, &QWebEnginePage::loadProgress, this, [this](int percent) {
        if (!m_closing)
            Q_EMIT OnLoadingProgressChange(percent / 100.0);
    });
    connect(m_page, &QWebEnginePage::loadFinished, this, [this] {
        if (!m_closing)
            Q_EMIT OnLoadingStateChange(false);
    });
    // The engine of Qt 6.4 reports a load's start only once the server has answered: the watch
    // starts with the navigation itself.
    connect(m_page, &QuarvelPage::mainFrameNavigationAccepted, this, [this](const QUrl& url) {
        if (url.scheme() != u"http" && url.scheme() != u"https")
            return;
        m_loadingUrl = url.toString(QUrl::FullyEncoded);
        m_loadWatch->start(LoadTimeoutMs);
    });
    connect(m_page, &QWebEnginePage::loadFinished, m_loadWatch, &QTimer::stop);
    connect(m_page, &QuarvelPage::mainFrameLoadFailed, this,
            [this](const QUrl& url, const LoadFailure& failure) {
                if (!m_closing)
                    Q_EMIT OnLoadError(url.toString(QUrl::FullyEncoded), failure);
            });

    m_page->setUrl(QUrl(DefaultUrl));
    QMetaObject::invokeMethod(this, &TChromium::OnAfterCreated, Qt::QueuedConnection);
    return true;
}

bool TChromium::Initialized() const
{
    return !m_closing && m_view != nullptr;
}

void TChromium::CloseBrowser(bool)
{
    // Deleting the page never runs its unload prompts, so every close is a forced one.
    if (!Initialized())
        return;
    m_closing = true;
    QMetaObject::invokeMethod(this, &TChromium::runClose, Qt::QueuedConnection);
}

void TChromium::runClose()
{
    TCefCloseBrowserAction action = cbaClose;
    Q_EMIT OnClose(action);
    switch (action) {
    case cbaCancel:
        m_closing = false;
        return;
    case cbaDelay:
        // The owner destroys the host area, and the browser with it.
        if (m_view == nullptr)
            QMetaObject::invokeMethod(this, &TChromium::finishClose, Qt::QueuedConnection);
        else
            connect(m_view, &QObject::destroyed, this, &TChromium::finishClose,
                    Qt::QueuedConnection);
        return;
    case cbaClose:
        delete m_view.data();
        QMetaObject::invokeMethod(this, &TChromium::finishClose, Qt::QueuedConnection);
        return;
    }
}

void TChromium::onLoadTimedOut()
{
    // A navigation that ended without a load's end (a download refused, say) is not waited for.
    if (!Initialized() || !m_page->isLoading())
        return;
    // Stopped, the load ends without a failure of its own: this is the only report of it.
    m_page->triggerAction(QWebEnginePage::Stop);
    Q_EMIT OnLoadError(m_loadingUrl, LoadTimeoutFailure());
}

void TChromium::finishClose()
{
    m_frameTexts.clear();
    m_frameUrls.clear();
    m_reportedDocument.clear();
    m_changedTextDelay->stop();
    m_loadWatch->stop();
    Q_EMIT OnBeforeClose();
}

void TChromium::LoadURL(const QString& url)
{
    if (Initialized())
        m_page->setUrl(QUrl(url));
}

void TChromium::RetrieveText(const QString& frameName, TextRequest request)
{
    if (!Initialized())
        return;
    if (frameName.isEmpty()) {
        QPointer<TChromium> self(this);
        m_page->toPlainText([self, request](const QString& text) {
            if (self != nullptr && self->Initialized())
                self->deliverText(request, text, *self->GetMainFrame());
        });
        return;
    }
    const auto it = m_frameTexts.constFind(frameName);
    if (it == m_frameTexts.constEnd())
        return;
    QMetaObject::invokeMethod(
        this,
        [this, request, text = it.value(),
         frame = TCefFrame(m_page, m_frameUrls.value(frameName), frameName, false)] {
            if (Initialized())
                deliverText(request, text, frame);
        },
        Qt::QueuedConnection);
}

void TChromium::deliverText(TextRequest request, const QString& text, const TCefFrame& frame)
{
    if (request == TextRequest::Capture)
        Q_EMIT OnCaptureTextAvailable(text, frame);
    else
        Q_EMIT OnTextResultAvailable(text, frame);
}

void TChromium::RetrieveTextOnChange()
{
    if (Initialized() && !m_changedTextPending)
        m_page->runJavaScript(ChangeWatchCall(), QWebEngineScript::ApplicationWorld);
}

void TChromium::onMainFrameChanged()
{
    if (m_closing || m_changedTextPending)
        return;
    m_changedTextPending = true;
    const qint64 wait =
        m_lastChangedText.isValid() ? ChangedTextIntervalMs - m_lastChangedText.elapsed() : 0;
    if (wait > 0)
        m_changedTextDelay->start(int(wait));
    else
        requestChangedText();
}

void TChromium::requestChangedText()
{
    if (!Initialized()) {
        m_changedTextPending = false;
        return;
    }
    m_lastChangedText.start();
    QPointer<TChromium> self(this);
    m_page->toPlainText([self](const QString& text) {
        if (self == nullptr)
            return;
        self->m_changedTextPending = false;
        if (self->Initialized())
            Q_EMIT self->OnChangedTextAvailable(text);
    });
}

QWebEngineView* TChromium::GetBrowser() const
{
    return m_view;
}

std::optional<TCefFrame> TChromium::GetMainFrame() const
{
    if (m_page == nullptr)
        return std::nullopt;
    return TCefFrame(m_page, m_page->url().toString(QUrl::FullyEncoded), QString(), true);
}

void TChromium::GoBack()
{
    if (Initialized())
        m_page->triggerAction(QWebEnginePage::Back);
}

void TChromium::GoForward()
{
    if (Initialized())
        m_page->triggerAction(QWebEnginePage::Forward);
}

void TChromium::Reload()
{
    if (Initialized())
        m_page->triggerAction(QWebEnginePage::Reload);
}

void TChromium::StopLoad()
{
    if (Initialized())
        m_page->triggerAction(QWebEnginePage::Stop);
}

void TChromium::IncZoomStep()
{
    zoomBy(1);
}

void TChromium::DecZoomStep()
{
    zoomBy(-1);
}

void TChromium::ResetZoomStep()
{
    if (Initialized())
        m_page->setZoomFactor(1.0);
}

void TChromium::zoomBy(int direction)
{
    if (!Initialized())
        return;
    const double current = m_page->zoomFactor();
    const auto* const begin = std::begin(kZoomFactors);
    const auto* const end = std::end(kZoomFactors);
    // The level next to the current one, which may lie between two levels.
    if (direction > 0) {
        const auto* above = std::upper_bound(begin, end, current + 1e-3);
        if (above != end)
            m_page->setZoomFactor(*above);
    } else {
        const auto* below = std::lower_bound(begin, end, current - 1e-3);
        if (below != begin)
            m_page->setZoomFactor(*(below - 1));
    }
}

void TChromium::showContextMenu(const QPoint& position)
{
    if (!Initialized())
        return;
    QMenu* menu = m_view->createStandardContextMenu(); // deletes itself once closed
    KeepAllowedContextMenuActions(*menu, *m_page);
    if (menu->isEmpty()) {
        delete menu;
        return;
    }
    menu->popup(m_view->mapToGlobal(position));
}

void TChromium::onWindowRefused(TCefWindowOpenDisposition disposition)
{
    // The owner's answer is not read: QuarvelPage::createWindow returns no page whatever it
    // says, since the window holds one browser and has nowhere to show a second.
    bool refused = true;
    if (disposition == WOD_NEW_BACKGROUND_TAB)
        Q_EMIT OnOpenUrlFromTab(disposition, refused);
    else
        Q_EMIT OnBeforePopup(disposition, refused);
}

void TChromium::onLoadFinished(bool ok)
{
    if (m_page == nullptr || m_closing)
        return;
    const QString url = m_page->url().toString(QUrl::FullyEncoded);
    // The frame script usually reports this document first; ask which document is shown so that
    // it is reported once.
    QPointer<TChromium> self(this);
    m_page->runJavaScript(DocumentIdQuery(), QWebEngineScript::ApplicationWorld,
                          [self, url, ok](const QVariant& shown) {
                              if (self != nullptr)
                                  self->reportEngineLoadEnd(url, ok, shown.toStringList());
                          });
}

void TChromium::reportEngineLoadEnd(const QString& url, bool ok, const QStringList& shown)
{
    if (m_closing || m_page == nullptr)
        return;
    const QString documentId = shown.value(0);
    const QString shownUrl = shown.value(1);
    if (documentId.isEmpty() && ok && !shownUrl.isEmpty() &&
        !shownUrl.startsWith(QLatin1String("chrome-error:")) &&
        shown.value(2) != QLatin1String("complete")) {
        // A late signal of the previous page answered by the next one, still loading: its text
        // is not there yet, and it reports its own load when it has one.
        return;
    }
    if (!documentId.isEmpty()) {
        // Already reported, or replaced by a document that reports itself.
        if (documentId == m_reportedDocument ||
            QUrl(shown.value(1)).toString(QUrl::FullyEncoded) != url)
            return;
        m_reportedDocument = documentId;
    }
    Q_EMIT OnLoadEnd(TCefFrame(m_page, url, QString(), true), ok ? 200 : 0);
}

void TChromium::onMainFrameLoaded(const QString& url, const QString& documentId)
{
    // The document is there: whatever it still loads is the page's business.
    m_loadWatch->stop();
    if (m_closing || documentId == m_reportedDocument)
        return;
    m_reportedDocument = documentId;
    Q_EMIT OnLoadEnd(TCefFrame(m_page, QUrl(url).toString(QUrl::FullyEncoded), QString(), true),
                     200);
}

void TChromium::onSubFrameLoaded(const QString& url, const QString& name, const QString& text)
{
    if (m_closing)
        return;
    if (!name.isEmpty()) {
        m_frameTexts.insert(name, text);
        m_frameUrls.insert(name, url);
    }
    Q_EMIT OnLoadEnd(TCefFrame(m_page, url, name, false), 200);
}
