#include "PortalProber.h"

#include "lookup/HostRequest.h"
#include "lookup/UrlPrefix.h"
#include "portals/PortalTable.h"
#include "shell/QuarvelPage.h"

#include <QWebEngineLoadingInfo>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <atomic>

// The fill sets the placeholder and fires the events the page listens to; a page script that
// answers them (a form sent on change, a request that checks the number) must reach no server.
// Once closed, every request of the page is refused.
class ClosedAfterFill : public QWebEngineUrlRequestInterceptor
{
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void close() { m_closed = true; }
    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        if (m_closed)
            info.block(true);
    }

private:
    std::atomic<bool> m_closed = false;
};

// The window's page policy, and nothing more leaves the page once the fill is to run. A form
// sent on change is a navigation, refused here before it starts: with Qt 6.8 a form's POST was
// seen to reach the server past the request interceptor.
class ProbePage : public QuarvelPage
{
public:
    ProbePage(QWebEngineProfile* profile, QObject* parent)
        : QuarvelPage(profile, parent), m_guard(new ClosedAfterFill(this))
    {
        setUrlRequestInterceptor(m_guard);
    }

    void closeAfterFill()
    {
        m_closed = true;
        m_guard->close();
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        return !m_closed && QuarvelPage::acceptNavigationRequest(url, type, isMainFrame);
    }

private:
    ClosedAfterFill* m_guard;
    bool m_closed = false;
};

namespace {

// Error texts come from the page's engine and the definitions file: one line, bounded.
QString ScriptErrorText(const QVariant& error)
{
    QString text = error.toString();
    if (text.size() > 200)
        text = text.left(200) + QStringLiteral("...");
    return QuotedForMessage(text);
}

// {ok: true} or {ok: false, error}; anything else (the wrapper itself did not run, as for a
// script with a syntax error) is an error without a text.
std::optional<QString> WrapperError(const QVariant& value)
{
    const QVariantMap map = value.toMap();
    if (value.typeId() == QMetaType::QVariantMap && map.value(QStringLiteral("ok")).toBool())
        return std::nullopt;
    if (map.contains(QStringLiteral("error")))
        return ScriptErrorText(map.value(QStringLiteral("error")));
    return QStringLiteral("the script did not run (a syntax error?)");
}

} // namespace

PortalProber::PortalProber(QWebEngineProfile* profile, std::chrono::milliseconds timeout,
                           QObject* parent)
    : QObject(parent), m_profile(profile), m_timeout(timeout)
{
    m_timer.setSingleShot(true);
    // Not a coarse timer, which may fire a little early: the time allowed is the time given.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &PortalProber::onTimeout);
}

PortalProber::~PortalProber()
{
    // Pages go before the profile, which the caller deletes after this.
    delete m_page;
}

QString PortalProber::PlaceholderCnpj()
{
    return QStringLiteral("11222333000181");
}

void PortalProber::run(const QList<ProbeTarget>& targets)
{
    if (m_running)
        return;
    m_running = true;
    m_targets = targets;
    m_next = 0;
    // Queued, so that a caller connects to the signals' first emission whatever it does next.
    QMetaObject::invokeMethod(this, &PortalProber::startNext, Qt::QueuedConnection);
}

void PortalProber::startNext()
{
    if (m_next >= m_targets.size()) {
        m_running = false;
        Q_EMIT allProbed();
        return;
    }
    m_target = m_targets.at(m_next++);
    ++m_generation;
    m_probe = PortalProbe();
    m_probe.portal = m_target.key;
    m_probe.queryUrl = m_target.portal.URLconsulta;
    m_stage = Stage::Loading;

    m_page = new ProbePage(m_profile, this);
    // The check asks for nothing the page does not load itself, not even its icon.
    m_page->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    m_pageFailure.reset();
    // The page reports its failure before the loading change reaches this object.
    connect(m_page, &QuarvelPage::mainFrameLoadFailed, this,
            [this](const QUrl&, const LoadFailure& failure) { m_pageFailure = failure; });
    connect(m_page, &QWebEnginePage::loadingChanged, this, &PortalProber::onLoadingChanged);
    m_clock.start();
    m_timer.start(m_timeout);
    m_page->load(QUrl(m_target.portal.URLconsulta));
}

void PortalProber::onLoadingChanged(const QWebEngineLoadingInfo& info)
{
    if (m_stage != Stage::Loading || sender() != m_page)
        return;
    if (info.status() != QWebEngineLoadingInfo::LoadSucceededStatus &&
        info.status() != QWebEngineLoadingInfo::LoadFailedStatus)
        return;
    m_stage = Stage::Ready;
    m_probe.loadMs = m_clock.elapsed();
    m_probe.finalUrl = info.url().toString(QUrl::FullyEncoded);
    if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus) {
        if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
            // The server answered, with an error status: nothing of the query page to look at.
            m_probe.reached = true;
            m_probe.httpStatus = info.errorCode();
            m_probe.stayed = UrlHasPrefix(m_probe.finalUrl, m_probe.queryUrl);
        } else {
            m_probe.failure = m_pageFailure.value_or(
                LoadFailure{ClassifyLoadFailure(info.errorDomain(), info.errorCode()),
                            info.errorCode(), info.errorString()});
        }
        finish();
        return;
    }
    m_probe.reached = true;
    // The engine tells the answer's status in this domain, a success's too.
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
        m_probe.httpStatus = info.errorCode();
    m_probe.stayed = UrlHasPrefix(m_probe.finalUrl, m_probe.queryUrl);
    // The window runs the portal's scripts only on its query page.
    if (!m_probe.stayed) {
        finish();
        return;
    }
    runReadyScript();
}

void PortalProber::onTimeout()
{
    const QString late = QStringLiteral("did not finish within %1 s")
                             .arg(std::chrono::duration<double>(m_timeout).count());
    switch (m_stage) {
    case Stage::Loading:
        m_probe.loadMs = m_clock.elapsed();
        m_probe.failure = LoadFailure{LoadFailureClass::Timeout, 0,
                                      QStringLiteral("no answer within %1 s")
                                          .arg(std::chrono::duration<double>(m_timeout).count())};
        m_probe.finalUrl = m_page->url().toString(QUrl::FullyEncoded);
        break;
    case Stage::Ready:
        if (!m_target.portal.consultaReadyScript.isEmpty()) {
            m_probe.readyScript = ScriptRun::Error;
            m_probe.readyError = late;
        } else {
            m_probe.fillFailed = true;
            m_probe.fillError = late;
        }
        break;
    case Stage::Fill:
        m_probe.fillFailed = true;
        m_probe.fillError = late;
        break;
    }
    finish();
}

void PortalProber::runScript(const QString& code, quint32 world,
                             void (PortalProber::*then)(const QVariant&))
{
    const quint64 generation = m_generation;
    const QPointer<PortalProber> self(this);
    m_page->runJavaScript(code, world, [self, generation, then](const QVariant& value) {
        if (self != nullptr && self->m_generation == generation && self->m_page != nullptr)
            (self.data()->*then)(value);
    });
}

void PortalProber::runReadyScript()
{
    const QString& script = m_target.portal.consultaReadyScript;
    if (script.isEmpty()) {
        runFillScript();
        return;
    }
    m_stage = Stage::Ready;
    // The script's own text inside a function, so that an exception it raises is caught and
    // told; a script that does not even parse leaves the wrapper without a result.
    const QString code = QStringLiteral("(function () { try {\n") + script +
                         QStringLiteral("\n;} catch (e) { return {ok: false, error: String(e && "
                                        "e.message || e)}; } return {ok: true}; })()");
    runScript(code, QWebEngineScript::MainWorld, &PortalProber::readyArrived);
}

void PortalProber::readyArrived(const QVariant& value)
{
    if (const std::optional<QString> error = WrapperError(value)) {
        m_probe.readyScript = ScriptRun::Error;
        m_probe.readyError = *error;
    } else {
        m_probe.readyScript = ScriptRun::Ok;
    }
    runFillScript();
}

void PortalProber::runFillScript()
{
    const QString& script = m_target.portal.consultaFillScript;
    if (script.isEmpty()) {
        finish();
        return;
    }
    m_stage = Stage::Fill;
    m_probe.fillRan = true;
    m_page->closeAfterFill();
    HostRequest request;
    request.portalKey = m_target.key;
    request.cnpj = PlaceholderCnpj();
    // The report goes through JSON, so that only plain data comes back, whatever the script
    // returns; a value JSON cannot hold counts as no report.
    const QString code =
        QStringLiteral("(function () { try { const r = ") + FillScriptCall(script, request) +
        QStringLiteral(";\n let report = null; try { report = JSON.parse(JSON.stringify(r === "
                       "undefined ? null : r)); } catch (e) {}\n return {ok: true, report: "
                       "report}; } catch (e) { return {ok: false, error: String(e && e.message "
                       "|| e)}; } })()");
    runScript(code, QWebEngineScript::MainWorld, &PortalProber::fillArrived);
}

void PortalProber::fillArrived(const QVariant& value)
{
    if (const std::optional<QString> error = WrapperError(value)) {
        m_probe.fillFailed = true;
        m_probe.fillError = *error;
    } else {
        m_probe.fill = ReadFillReport(value.toMap().value(QStringLiteral("report")));
    }
    finish();
}

void PortalProber::finish()
{
    m_timer.stop();
    ++m_generation;
    if (m_page != nullptr) {
        m_page->disconnect(this);
        // Stopped first, so that nothing the page still loads goes on; deleted later, as this
        // may run inside one of the page's own signals.
        m_page->triggerAction(QWebEnginePage::Stop);
        m_page->deleteLater();
        m_page = nullptr;
    }
    Q_EMIT portalProbed(m_probe);
    QMetaObject::invokeMethod(this, &PortalProber::startNext, Qt::QueuedConnection);
}
