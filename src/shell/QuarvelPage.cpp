#include "shell/QuarvelPage.h"

#include "shell/FrameReport.h"
#include "shell/LocalNetworkGuard.h"

#include <QMenu>
#include <QMessageBox>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineLoadingInfo>
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
#include <QWebEnginePermission>
#endif
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

namespace {

constexpr auto kFrameScriptName = "quarvel-frame-report";

QUrl Origin(const QUrl& url)
{
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                        QUrl::RemoveFragment);
}

LoadFailureClass ClassOfRefusal(ChainVerdict verdict)
{
    switch (verdict) {
    case ChainVerdict::Expired:
        return LoadFailureClass::CertificateExpired;
    case ChainVerdict::WrongName:
        return LoadFailureClass::CertificateName;
    case ChainVerdict::Other:
        return LoadFailureClass::CertificateOther;
    case ChainVerdict::Trusted:
    case ChainVerdict::Untrusted:
        break;
    }
    return LoadFailureClass::CertificateUntrusted;
}

} // namespace

QWebEngineProfile* NewQuarvelProfile(QObject* parent)
{
    // No storage name: off the record, nothing written to disk.
    auto* profile = new QWebEngineProfile(parent);
    profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    QObject::connect(profile, &QWebEngineProfile::downloadRequested, profile,
                     [](QWebEngineDownloadRequest* download) { download->cancel(); });
    profile->setUrlRequestInterceptor(new LocalNetworkGuard(profile));
    profile->setHttpAcceptLanguage(QLatin1String(kAcceptLanguage));
    return profile;
}

bool IsContextMenuActionAllowed(QWebEnginePage::WebAction action)
{
    switch (action) {
    case QWebEnginePage::Back:
    case QWebEnginePage::Forward:
    case QWebEnginePage::Stop:
    case QWebEnginePage::Reload:
    case QWebEnginePage::ReloadAndBypassCache:
    case QWebEnginePage::Cut:
    case QWebEnginePage::Copy:
    case QWebEnginePage::Paste:
    case QWebEnginePage::PasteAndMatchStyle:
    case QWebEnginePage::Undo:
    case QWebEnginePage::Redo:
    case QWebEnginePage::SelectAll:
    case QWebEnginePage::Unselect:
    case QWebEnginePage::OpenLinkInThisWindow:
    case QWebEnginePage::CopyLinkToClipboard:
    case QWebEnginePage::CopyImageToClipboard:
    case QWebEnginePage::CopyImageUrlToClipboard:
    case QWebEnginePage::CopyMediaUrlToClipboard:
    case QWebEnginePage::ToggleMediaControls:
    case QWebEnginePage::ToggleMediaLoop:
    case QWebEnginePage::ToggleMediaPlayPause:
    case QWebEnginePage::ToggleMediaMute:
    case QWebEnginePage::ToggleBold:
    case QWebEnginePage::ToggleItalic:
    case QWebEnginePage::ToggleUnderline:
    case QWebEnginePage::ToggleStrikethrough:
    case QWebEnginePage::AlignLeft:
    case QWebEnginePage::AlignCenter:
    case QWebEnginePage::AlignRight:
    case QWebEnginePage::AlignJustified:
    case QWebEnginePage::Indent:
    case QWebEnginePage::Outdent:
    case QWebEnginePage::InsertOrderedList:
    case QWebEnginePage::InsertUnorderedList:
        return true;
    default:
        // New windows and tabs, downloads, saving, view source, the inspector, closing the
        // page, full screen (never entered) and any action an engine adds later.
        return false;
    }
}

void KeepAllowedContextMenuActions(QMenu& menu, const QWebEnginePage& page)
{
    for (int i = 0; i < QWebEnginePage::WebActionCount; ++i) {
        const auto action = static_cast<QWebEnginePage::WebAction>(i);
        if (!IsContextMenuActionAllowed(action))
            menu.removeAction(page.action(action));
    }
    // What is left of a group between separators may be nothing.
    QAction* previous = nullptr;
    for (QAction* entry : menu.actions()) {
        if (entry->isSeparator() && (previous == nullptr || previous->isSeparator()))
            menu.removeAction(entry);
        else
            previous = entry;
    }
    if (previous != nullptr && previous->isSeparator())
        menu.removeAction(previous);
}

QuarvelPage::QuarvelPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent), m_token(NewFrameReportToken()),
      // The program's profile holds one (NewQuarvelProfile); a page on another profile has none.
      m_localNetworkGuard(profile->findChild<LocalNetworkGuard*>())
{
    QWebEngineScript frameScript;
    frameScript.setName(QLatin1String(kFrameScriptName));
    frameScript.setSourceCode(FrameScriptSource(m_token));
    frameScript.setInjectionPoint(QWebEngineScript::DocumentReady);
    frameScript.setWorldId(QWebEngineScript::ApplicationWorld);
    frameScript.setRunsOnSubFrames(true);
    scripts().insert(frameScript);

    // A click on a link of a scheme the engine does not know would hand it to another program.
    settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);

    // Every permission a page asks for (camera, location, notifications...) is denied.
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    connect(this, &QWebEnginePage::permissionRequested, this,
            [](QWebEnginePermission permission) { permission.deny(); });
#else
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, QWebEnginePage::Feature feature) {
                setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
            });
#endif
    connect(this, &QWebEnginePage::certificateError, this, &QuarvelPage::onCertificateError);
    connect(this, &QWebEnginePage::loadingChanged, this, &QuarvelPage::onLoadingChanged);
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
}

void QuarvelPage::onCertificateError(QWebEngineCertificateError error)
{
    // The engine names the gravest of a chain's faults, and an unknown root outranks an expired
    // or misnamed certificate: the store's own check looks at those again.
    const QUrl origin = Origin(error.url());
    if (error.type() == QWebEngineCertificateError::CertificateAuthorityInvalid &&
        error.isOverridable()) {
        const ChainVerdict verdict =
            VerifyChain(error.certificateChain(), error.url().host(), m_trustStore);
        if (verdict == ChainVerdict::Trusted) {
            m_storeRefusals.remove(origin);
            error.acceptCertificate();
            return;
        }
        m_storeRefusals.insert(origin, ClassOfRefusal(verdict));
    }
    error.rejectCertificate();
}

void QuarvelPage::onLoadingChanged(const QWebEngineLoadingInfo& info)
{
    std::optional<LoadFailure> failure = LoadFailureFromLoadingInfo(info);
    if (!failure)
        return;
    if (failure->failure == LoadFailureClass::CertificateUntrusted)
        failure->failure = m_storeRefusals.value(Origin(info.url()), failure->failure);
    Q_EMIT mainFrameLoadFailed(info.url(), *failure);
}

QWebEnginePage* QuarvelPage::createWindow(WebWindowType type)
{
    Q_EMIT newWindowRefused(type);
    return nullptr;
}

bool QuarvelPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    // The engine follows a redirect before its request interceptor can refuse it.
    const bool accepted = type != NavigationTypeRedirect || m_localNetworkGuard == nullptr ||
                          m_localNetworkGuard->allowsRedirect(url);
    if (accepted && isMainFrame)
        Q_EMIT mainFrameNavigationAccepted(url);
    return accepted;
}

void QuarvelPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message,
                                           int, const QString&)
{
    FrameReport report;
    if (!ParseFrameReport(m_token, message, report))
        return;
    if (report.changed)
        Q_EMIT mainFrameChanged();
    else if (report.documentId.isEmpty())
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
