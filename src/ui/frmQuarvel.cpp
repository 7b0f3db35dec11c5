#include "ui/frmQuarvel.h"

#include "hostlink/PortArgument.h"
#include "lookup/PortalFile.h"
#include "lookup/UrlPrefix.h"
#include "portals/PortalTable.h"
#include "ui/CBNorva.h"
#include "ui/LoadFailurePage.h"
#include "ui/WindowKeys.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QScopeGuard>
#include <QScreen>
#include <QShortcut>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <algorithm>
#include <utility>

namespace {

constexpr int kBrowserRetryMs = 300;
constexpr int kTextRetryMs = 500;
constexpr int kLabelGap = 8;
constexpr int kLabelWidth = 206 - 8 - kLabelGap;
constexpr int kProgressHeight = 3;

QFont tahoma(int pixelSize, bool bold = false)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

} // namespace

TForm1::TForm1(const QStringList& hostArguments, QWidget* parent)
    : QWidget(parent), m_hostArguments(hostArguments)
{
    ShowBox = [this](const MessageBoxSpec& box) { ShowMessageBox(box, this); };

    setWindowTitle(QStringLiteral("Iniciando navegador... Aguarde..."));
    setFont(tahoma(11));
    resize(996, 648);

    AddressPnl = new QWidget(this);
    AddressPnl->setFixedHeight(40);
    AddressPnl->setFont(tahoma(11));
    AddressPnl->setEnabled(false);

    Label1 = new QLabel(QStringLiteral("Selecione a UF para consulta:"), AddressPnl);
    Label1->setFont(tahoma(13, true));
    // Text baseline row sits 5 px below the list's top, as in the fixed design.
    Label1->setContentsMargins(0, 5, 0, 0);
    // The label keeps its designed 190 px plus the gap; a wider font pushes cbUF right instead
    // of cutting the text.
    Label1->setMinimumWidth(kLabelWidth);

    cbUF = new TCBNorva(AddressPnl);
    cbUF->setFont(tahoma(15));
    cbUF->setEditable(false);
    cbUF->setFixedHeight(26);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(8, 7, 9, 7);
    row->setSpacing(kLabelGap);
    row->addWidget(Label1, 0, Qt::AlignTop);
    row->addWidget(cbUF, 1, Qt::AlignTop);

    ProgressBar1 = new QProgressBar(AddressPnl);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setFixedHeight(kProgressHeight);
    ProgressBar1->setRange(0, 100);
    // At 3 px the style's framed bar shows as a faint grey line: a plain track, and the part
    // loaded in the highlight colour.
    ProgressBar1->setStyleSheet(
        QStringLiteral("QProgressBar { border: none; background: palette(mid); }"
                       " QProgressBar::chunk { background: palette(highlight); }"));

    // The strip shares the row's cell and lies over its bottom margin, below the list: showing
    // it moves nothing.
    auto* panel = new QGridLayout(AddressPnl);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->addLayout(row, 0, 0);
    panel->addWidget(ProgressBar1, 0, 0, Qt::AlignBottom);
    // No mnemonic can be marked in the label without changing its text; Alt+U does its work.
    Label1->setBuddy(cbUF);

    CEFWindowParent1 = new QWidget(this);
    // The browser, and in its place the failure page when a load failed.
    auto* browserArea = new QStackedLayout(CEFWindowParent1);
    browserArea->setContentsMargins(0, 0, 0, 0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(AddressPnl);
    layout->addWidget(CEFWindowParent1, 1);

    Timer1 = new QTimer(this);
    Timer1->setInterval(kBrowserRetryMs);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);

    Chromium1 = new TChromium(this);
    connect(Chromium1, &TChromium::OnAfterCreated, this, &TForm1::Chromium1AfterCreated);
    // Queued after the call that enables the panel (made by the handler above).
    connect(Chromium1, &TChromium::OnAfterCreated, this, &TForm1::FocusPortalList,
            Qt::QueuedConnection);
    connect(Chromium1, &TChromium::OnLoadingStateChange, this,
            &TForm1::Chromium1LoadingStateChange);
    connect(Chromium1, &TChromium::OnLoadingProgressChange, this,
            &TForm1::Chromium1LoadingProgressChange);
    connect(Chromium1, &TChromium::OnClose, this, &TForm1::Chromium1Close);
    connect(Chromium1, &TChromium::OnBeforeClose, this, &TForm1::Chromium1BeforeClose);
    connect(Chromium1, &TChromium::OnBeforePopup, this, &TForm1::Chromium1BeforePopup);
    connect(Chromium1, &TChromium::OnOpenUrlFromTab, this, &TForm1::Chromium1OpenUrlFromTab);
    connect(Chromium1, &TChromium::OnLoadEnd, this, &TForm1::Chromium1LoadEnd);
    connect(Chromium1, &TChromium::OnLoadError, this, &TForm1::Chromium1LoadError);
    // Queued: the handler may show a modal box, which must not run inside the engine's callback.
    connect(Chromium1, &TChromium::OnTextResultAvailable, this,
            &TForm1::Chromium1TextResultAvailable, Qt::QueuedConnection);
    connect(Chromium1, &TChromium::OnChangedTextAvailable, this,
            &TForm1::Chromium1ChangedTextAvailable, Qt::QueuedConnection);

    IdTCPClient = new HostLink(this);
    connect(IdTCPClient, &HostLink::closeCommandReceived, this, &TForm1::RequestClose);

    connect(cbUF, &QComboBox::activated, this, &TForm1::cbUFClick);

    // Shortcuts come before the focused control: the list would take Ctrl+R for its search.
    for (const QKeySequence& sequence : WindowKeySequences()) {
        auto* shortcut = new QShortcut(sequence, this);
        const QKeyCombination combination = sequence[0];
        connect(shortcut, &QShortcut::activated, this, [this, combination] {
            RunWindowKey(combination.key(), combination.keyboardModifiers());
        });
    }

    FormCreate();
}

TForm1::~TForm1()
{
    // The browser goes before the rest of the window and before the engine shuts down.
    delete Chromium1;
    Chromium1 = nullptr;
}

void TForm1::FormCreate()
{
    FCanClose = false;
    FClosing = false;
    Chromium1->DefaultUrl = QStringLiteral("about:blank");

    const PortalTableChoice portals = ChoosePortalTable(
        qEnvironmentVariable("QUARVEL_PORTALS"), QCoreApplication::applicationDirPath(),
        QStringLiteral("/etc/quarvel/portals.json"), PortalHostsFromEnvironment());
    if (!portals.problems.isEmpty()) {
        const QString text =
            QStringLiteral("Portal definitions file not used (built-in table in force):\n") +
            portals.problems.join(u'\n');
        qWarning("quarvel: %s", qUtf8Printable(text));
        // Queued: the box needs the event loop, which does not run yet while the window is made.
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                ShowBox({QMessageBox::Critical, QStringLiteral("Error"), text});
            },
            Qt::QueuedConnection);
    }
    for (const TURIEstado& uriEstado : portals.table.portals)
        RegisterURIEstado(uriEstado);
    m_portalKeys = portals.table.keys;
    m_request = ParseHostRequest(m_hostArguments, m_portalKeys);
    for (const QString& warning : std::as_const(m_request.warnings))
        qWarning("quarvel: %s", qUtf8Printable(warning));
    m_compiledPortals.reserve(FURIEstados.size());
    for (const TURIEstado& portal : std::as_const(FURIEstados))
        m_compiledPortals.emplace_back(portal);

    m_capture = LookupCapture::FromEnvironment();
    if (m_capture)
        connect(Chromium1, &TChromium::OnCaptureTextAvailable, this,
                &TForm1::Chromium1CaptureTextAvailable, Qt::QueuedConnection);
}

void TForm1::RegisterURIEstado(TURIEstado uriEstado)
{
    FURIEstados.append(uriEstado);
    cbUF->Add(uriEstado.estado, uriEstado.URLconsulta);
}

int TForm1::GetIndex(const QString& _uf) const
{
    return ::GetIndex(FURIEstados, _uf);
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    FormShow();
}

void TForm1::FormShow()
{
    if (!Chromium1->CreateBrowser(CEFWindowParent1))
        Timer1->start();
}

void TForm1::Timer1Timer()
{
    Timer1->stop();
    if (!Chromium1->CreateBrowser(CEFWindowParent1) && !Chromium1->Initialized())
        Timer1->start();
}

void TForm1::Chromium1AfterCreated()
{
    QMetaObject::invokeMethod(this, &TForm1::BrowserCreatedMsg, Qt::QueuedConnection);
}

void TForm1::BrowserCreatedMsg()
{
    setWindowTitle(QStringLiteral("Quarvel"));
    AddressPnl->setEnabled(true);
    OpenHostLink();
    PreselectPortal();
}

void TForm1::OpenHostLink()
{
    const std::optional<std::uint16_t> port =
        PortFromArgument(m_hostArguments.isEmpty() ? QString() : m_hostArguments.first());
    if (!port) {
        RequestClose();
        return;
    }
    // Connected() also covers a host that ended its stream during the connect.
    if (!IdTCPClient->Connect(*port) || !IdTCPClient->Connected())
        RequestClose();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    FormCloseQuery(event);
    if (event->isAccepted())
        Q_EMIT Closed();
}

void TForm1::FormCloseQuery(QCloseEvent* event)
{
    event->setAccepted(FCanClose);

    if (IdTCPClient->SendClosingNoticeIfDue() == HostLink::ClosingNoticeOutcome::Failed) {
        // This close attempt is abandoned; the next one tests the link again.
        event->ignore();
        ShowBox({QMessageBox::Critical, QStringLiteral("Error"),
                 QStringLiteral("Não foi possível avisar o Norva TI do fechamento.")});
        return;
    }

    if (FClosing)
        return;
    FClosing = true;
    hide();
    if (Chromium1->Initialized()) {
        Chromium1->CloseBrowser(true);
    } else if (Chromium1->GetBrowser() == nullptr) {
        // No browser to wait for: nothing else will finish the close.
        Timer1->stop();
        FCanClose = true;
        RequestClose();
    }
}

void TForm1::Chromium1Close(TCefCloseBrowserAction& aAction)
{
    QMetaObject::invokeMethod(this, &TForm1::BrowserDestroyMsg, Qt::QueuedConnection);
    aAction = cbaDelay;
}

void TForm1::BrowserDestroyMsg()
{
    delete CEFWindowParent1;
    CEFWindowParent1 = nullptr;
}

void TForm1::Chromium1BeforeClose()
{
    if (m_capture)
        m_capture->Close();
    FCanClose = true;
    RequestClose();
}

void TForm1::Chromium1BeforePopup(int targetDisposition, bool& result)
{
    result = IsRefusedDisposition(targetDisposition);
}

void TForm1::Chromium1OpenUrlFromTab(int targetDisposition, bool& result)
{
    result = IsRefusedDisposition(targetDisposition);
}

void TForm1::RequestClose()
{
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

// --- The lookup ---

void TForm1::cbUFClick(int index)
{
    if (index < 0 || index >= cbUF->count())
        return;
    FCurrentSearch = cbUF->itemText(index);
    Chromium1->LoadURL(cbUF->ItemsCodigo().value(index));
}

void TForm1::Chromium1LoadEnd(const TCefFrame& frame, int)
{
    const QString search = FCurrentSearch;
    if (search.isEmpty())
        return;
    const int index = GetIndex(search);
    if (index < 0)
        return;
    const TURIEstado& portal = FURIEstados.at(index);

    if (UrlHasPrefix(frame.GetUrl(), portal.URLresposta))
        Chromium1->RetrieveText(frame.GetName());
    else if (m_capture && frame.IsMain())
        Chromium1->RetrieveText(QString(), TextRequest::Capture);
    if (EarlyLook && portal.URLresposta.isEmpty() && frame.IsMain() && !m_lookupFinished)
        Chromium1->RetrieveTextOnChange();

    if (UrlHasPrefix(frame.GetUrl(), portal.URLconsulta) && !portal.consultaReadyScript.isEmpty()) {
        if (const std::optional<TCefFrame> main = Chromium1->GetMainFrame())
            main->ExecuteJavaScript(portal.consultaReadyScript, main->GetUrl(), 0);
    }
    FillQuery(frame, portal);
}

void TForm1::Chromium1LoadError(const QString& url, const LoadFailure& failure)
{
    if (CEFWindowParent1 == nullptr)
        return;
    if (m_capture && !FCurrentSearch.isEmpty())
        m_capture->AddFailure({.portalKey = m_portalKeys.value(GetIndex(FCurrentSearch)),
                               .url = url,
                               .failure = LoadFailureClassName(failure.failure),
                               .errorCode = failure.errorCode,
                               .errorText = failure.errorText});
    auto* browserArea = static_cast<QStackedLayout*>(CEFWindowParent1->layout());
    if (LoadFailurePage1 == nullptr) {
        LoadFailurePage1 = new TLoadFailurePage(CEFWindowParent1);
        // The lookup goes on from the page loaded again, as from the portal's first load.
        connect(LoadFailurePage1, &TLoadFailurePage::RetryRequested, Chromium1,
                &TChromium::LoadURL);
        browserArea->addWidget(LoadFailurePage1);
    }
    browserArea->setCurrentWidget(LoadFailurePage1);
    LoadFailurePage1->Show(url, failure, FCurrentSearch);
}

void TForm1::Chromium1TextResultAvailable(const QString& aText, const TCefFrame& frame)
{
    // Kept for the capture, whatever this text leads to.
    CapturedText seen = SeenText(aText, frame);
    const auto keep = qScopeGuard([&] { KeepSeenText(std::move(seen)); });
    // Taken at once: a box below runs a nested loop, where other texts are handled.
    const bool fromChange = std::exchange(m_textFromChange, false);
    if (m_lookupFinished)
        return;
    const QString search = FCurrentSearch;
    if (search.isEmpty() || cbUF->currentText() != search)
        return;
    const int index = GetIndex(search);
    if (index < 0)
        return;
    const CompiledPortal& portal = m_compiledPortals.at(index);
    const TURIEstado& record = portal.portal();
    seen.examined = true;

    if (record.URLresposta.isEmpty() && !portal.DetectResultPage(aText)) {
        if (!fromChange)
            QTimer::singleShot(kTextRetryMs, this, &TForm1::RetryMainFrameText);
        return;
    }

    const std::optional<TCefFrame> main = Chromium1->GetMainFrame();
    if (!UrlHasPrefix(main ? main->GetUrl() : QString(), record.URLresposta))
        return;

    const ExtractionResult result = portal.ExtractFields(aText);
    seen.recognised = true;
    seen.fieldsMatched =
        std::count(result.statuses.cbegin(), result.statuses.cend(), MatchStatus::Matched);
    if (!ConfirmTaxpayer(aText, result.lines, record, !fromChange))
        return;
    m_lookupFinished = true;
    if (!SendResultBlock(result.lines))
        return;
    seen.sent = true;
    if (!result.success) {
        ShowBox({QMessageBox::Information, QStringLiteral("Information"),
                 QStringLiteral("Cadastro não disponível na Sefaz da UF escolhida.")});
    }
    RequestClose();
}

void TForm1::Chromium1CaptureTextAvailable(const QString& aText, const TCefFrame& frame)
{
    KeepSeenText(SeenText(aText, frame));
}

CapturedText TForm1::SeenText(const QString& aText, const TCefFrame& frame) const
{
    if (!m_capture)
        return {};
    const std::optional<TCefFrame> main = Chromium1->GetMainFrame();
    return {.text = aText,
            .portalKey = m_portalKeys.value(GetIndex(FCurrentSearch)),
            .frameUrl = frame.GetUrl(),
            .frameName = frame.GetName(),
            .mainFrameUrl = main ? main->GetUrl() : QString()};
}

void TForm1::KeepSeenText(CapturedText seen)
{
    // Nothing is kept before a portal is chosen.
    if (m_capture && !seen.portalKey.isEmpty())
        m_capture->Add(std::move(seen));
}

void TForm1::Chromium1ChangedTextAvailable(const QString& aText)
{
    const int index = GetIndex(FCurrentSearch);
    if (!EarlyLook || m_lookupFinished || index < 0 || !FURIEstados.at(index).URLresposta.isEmpty())
        return;
    const std::optional<TCefFrame> main = Chromium1->GetMainFrame();
    if (!main)
        return;
    m_textFromChange = true;
    Chromium1TextResultAvailable(aText, *main);
    if (!m_lookupFinished)
        Chromium1->RetrieveTextOnChange();
}

void TForm1::RetryMainFrameText()
{
    if (const std::optional<TCefFrame> main = Chromium1->GetMainFrame())
        Chromium1->RetrieveText(main->GetName());
}

bool TForm1::SendResultBlock(const QStringList& lines)
{
    if (IdTCPClient->SendResultBlock(lines))
        return true;
    ShowBox({QMessageBox::Critical, QStringLiteral("Error"),
             QStringLiteral("Conexão perdida com o Norva TI. Tente novamente.")});
    RequestClose();
    return false;
}

// --- What the host asked for ---

void TForm1::PreselectPortal()
{
    const int index = int(m_portalKeys.indexOf(m_request.portalKey));
    if (m_request.portalKey.isEmpty() || index < 0 || index >= cbUF->count())
        return;
    cbUF->setCurrentIndex(index);
    cbUFClick(index);
}

void TForm1::FillQuery(const TCefFrame& frame, const TURIEstado& portal)
{
    if (!m_request.fillsQuery() || portal.consultaFillScript.isEmpty() ||
        !UrlHasPrefix(frame.GetUrl(), portal.URLconsulta))
        return;
    if (const std::optional<TCefFrame> main = Chromium1->GetMainFrame())
        main->ExecuteJavaScript(FillScriptCall(portal.consultaFillScript, m_request),
                                main->GetUrl(), 0);
    // The script puts the page's focus on the captcha box; the window's keyboard focus follows it
    // there (the browser's area hands it to the browser), or the user's typing would go to the
    // portal list.
    if (CEFWindowParent1 != nullptr)
        CEFWindowParent1->setFocus(Qt::OtherFocusReason);
}

bool TForm1::ConfirmTaxpayer(const QString& text, const QStringList& lines,
                             const TURIEstado& portal, bool fromWatch)
{
    if (m_request.cnpj.isEmpty())
        return true;
    const QString prefix = FIELD_CNPJ + u'=';
    const auto line = std::find_if(lines.cbegin(), lines.cend(),
                                   [&](const QString& l) { return l.startsWith(prefix); });
    const QString shown = line == lines.cend() ? QString() : DigitsOnly(line->mid(prefix.size()));
    if (shown.isEmpty() || shown == m_request.cnpj)
        return true;
    // A page watched by its content keeps being watched (a text of the 500 ms watch continues its
    // chain; a look after a change starts none), and the text just refused is not asked about
    // again; no text is while the question is open.
    const auto keepWatching = [this, &portal, fromWatch] {
        if (fromWatch && portal.URLresposta.isEmpty())
            QTimer::singleShot(kTextRetryMs, this, &TForm1::RetryMainFrameText);
    };
    if (m_confirming || (portal.URLresposta.isEmpty() && text == m_refusedText)) {
        keepWatching();
        return false;
    }
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    m_confirming = true;
    ShowBox({.icon = QMessageBox::Question,
             .caption = QStringLiteral("Confirmação"),
             .text = QStringLiteral("O resultado mostra o CNPJ %1, mas o Norva TI pediu o CNPJ "
                                    "%2. Enviar assim mesmo?")
                         .arg(PunctuatedCnpj(shown), PunctuatedCnpj(m_request.cnpj)),
             .buttons = QMessageBox::Yes | QMessageBox::No,
             .defaultButton = QMessageBox::No,
             .answered = [&answer](QMessageBox::StandardButton button) { answer = button; }});
    m_confirming = false;
    if (answer == QMessageBox::Yes && !FClosing && !m_lookupFinished)
        return true;
    m_refusedText = text;
    keepWatching();
    return false;
}

// --- Progress and keys ---

void TForm1::Chromium1LoadingStateChange(bool isLoading)
{
    ProgressBar1->setValue(0);
    ProgressBar1->setVisible(isLoading);
    // A new load puts the browser back in place of the failure page.
    if (isLoading && LoadFailurePage1 != nullptr && Chromium1->GetBrowser() != nullptr) {
        const bool hadFocus = LoadFailurePage1->isAncestorOf(QApplication::focusWidget());
        static_cast<QStackedLayout*>(CEFWindowParent1->layout())
            ->setCurrentWidget(Chromium1->GetBrowser());
        if (hadFocus)
            CEFWindowParent1->setFocus(Qt::OtherFocusReason);
    }
}

void TForm1::Chromium1LoadingProgressChange(double progress)
{
    ProgressBar1->setValue(qRound(progress * 100));
}

void TForm1::FocusPortalList()
{
    if (AddressPnl->isEnabled())
        cbUF->setFocus(Qt::OtherFocusReason);
}

void TForm1::keyPressEvent(QKeyEvent* event)
{
    if (RunWindowKey(event->key(), event->modifiers()))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

bool TForm1::RunWindowKey(int key, Qt::KeyboardModifiers modifiers)
{
    switch (WindowKeyFor(key, modifiers)) {
    case WindowKey::None:
        return false;
    case WindowKey::Reload:
        Chromium1->Reload();
        break;
    case WindowKey::Back:
        Chromium1->GoBack();
        break;
    case WindowKey::Forward:
        Chromium1->GoForward();
        break;
    case WindowKey::Stop:
        Chromium1->StopLoad();
        break;
    case WindowKey::ZoomIn:
        Chromium1->IncZoomStep();
        break;
    case WindowKey::ZoomOut:
        Chromium1->DecZoomStep();
        break;
    case WindowKey::ZoomReset:
        Chromium1->ResetZoomStep();
        break;
    case WindowKey::FocusList:
        FocusPortalList();
        break;
    }
    return true;
}
