#pragma once

#include "ProbeReport.h"
#include "portals/URIEstado.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <optional>

class QWebEngineLoadingInfo;
class QWebEngineProfile;
class ProbePage;

// A portal to look at: its key and its record as the table in force has it.
struct ProbeTarget
{
    QString key;
    TURIEstado portal;
};

// Looks at portals one after the other, each on a page of its own of the program's profile and
// policy: loads the query page, and once it is there runs the readiness script and the fill
// script (with a placeholder CNPJ, nothing submitted) as the window would, and reports what it
// saw. Each portal has `timeout` in all.
class PortalProber : public QObject
{
    Q_OBJECT

public:
    // The profile must outlive this object.
    PortalProber(QWebEngineProfile* profile, std::chrono::milliseconds timeout,
                 QObject* parent = nullptr);
    ~PortalProber() override;

    // Starts on the targets; portalProbed follows for each, in order, then allProbed. A call
    // while a run is going is ignored.
    void run(const QList<ProbeTarget>& targets);
    bool running() const { return m_running; }

    // The CNPJ the fill script is given: valid check digits, never sent anywhere.
    static QString PlaceholderCnpj();

Q_SIGNALS:
    void portalProbed(const PortalProbe& probe);
    void allProbed();

private:
    void startNext();
    void onLoadingChanged(const QWebEngineLoadingInfo& info);
    void onTimeout();
    void runReadyScript();
    void runFillScript();
    void finish();
    // Runs code in world and hands the result to then, unless the portal's probe ended first.
    void runScript(const QString& code, quint32 world, void (PortalProber::*then)(const QVariant&));
    void readyArrived(const QVariant& value);
    void fillArrived(const QVariant& value);

    QWebEngineProfile* m_profile;
    std::chrono::milliseconds m_timeout;
    QList<ProbeTarget> m_targets;
    qsizetype m_next = 0;
    bool m_running = false;
    // The portal being probed: its page, its record, what is known so far.
    QPointer<ProbePage> m_page;
    // Refuses every request of the page once the fill script is to run.
    ProbeTarget m_target;
    PortalProbe m_probe;
    // The page's own account of its failed load, classified as the window's page classifies it.
    std::optional<LoadFailure> m_pageFailure;
    // How far the portal's probe has come, for what a timeout means.
    enum class Stage
    {
        Loading,
        Ready,
        Fill,
    };
    Stage m_stage = Stage::Loading;
    // Counts the portals probed; a script's late answer for an earlier one is dropped.
    quint64 m_generation = 0;
    QElapsedTimer m_clock;
    QTimer m_timer;
};
