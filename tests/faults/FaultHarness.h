#pragma once

// Shared pieces of the fault tests: accepting a host's connection, the portals served from
// loopback, and the real window with its message boxes recorded.

#include "BuiltInTable.h"
#include "HttpFixtureServer.h"
#include "TestPeer.h"
#include "ui/MessageBox.h"
#include "ui/frmQuarvel.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QSignalSpy>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

inline const QString kLostConnection =
    QStringLiteral("Conexão perdida com o Norva TI. Tente novamente.");

// Accepts the program's connection while the event loop turns (the window opens its link from
// inside it); gives up early once `giveUp` holds.
bool AcceptTurning(TestPeer& host, std::chrono::milliseconds timeout = std::chrono::seconds(30),
                   const std::function<bool()>& giveUp = nullptr);

// Every built-in portal pointed at one fixture server on 127.0.0.1 (through
// QUARVEL_PORTAL_HOSTS, which the window reads when it builds its table).
class PortalSite
{
public:
    PortalSite();
    ~PortalSite();

    HttpFixtureServer server;
    QString queryUrl(int portal) const;
    QString resultUrl(int portal) const; // the result prefix, with a query when it ends in '='
    static QString pathOf(const QString& url);
    // Serves a plain-text page at url's path.
    void setText(const QString& url, const QString& text, int delayMs = 0);
    void setHtml(const QString& url, const QByteArray& html, int delayMs = 0);

private:
    QStringList m_query;
    QStringList m_result;
};

// The AM sample result page (tests/lookup/data) and the lines it gives, optionally with the
// street replaced by `street`.
struct SampleResult
{
    QString text;
    QStringList lines;
};
SampleResult AmSample(const QString& street = QString());
// The text of a content-recognised CCC result page, with its lines.
SampleResult CccSample();

// The real window over the real engine, its boxes recorded instead of shown, with a timer that
// proves the event loop turns.
class FaultWindow
{
public:
    explicit FaultWindow(const QStringList& arguments);
    ~FaultWindow();

    // The browser exists and has shown its first, blank page: a portal picked earlier can race
    // with that first load.
    bool waitReady(int ms = 30000) const;
    // A load of url (in any frame) has ended.
    bool loaded(const QString& url) const;
    // The user picks portal `index` in the list.
    void pick(int index);
    // The event loop turns: the heartbeat fires a few more times within a bounded wait.
    bool responsive(int ticks = 3, int ms = 10000) const;
    bool waitClosed(int ms = 30000);
    // Asks the window to close, as the user does, and waits for the close to finish.
    bool closeAndWait(int ms = 30000);
    QWebEnginePage* page() const;

    std::unique_ptr<TForm1> window;
    QStringList boxes;
    std::unique_ptr<QSignalSpy> closed;
    QTimer heartbeat;
    int beats = 0;
    // Every ended load, as (URL, frame name), from the window's creation on.
    QList<std::pair<QString, QString>> loads;
};

// Waits until `done` holds, at most `ms`, in a real event loop. QTest::qWaitFor sleeps between
// its rounds of events, and the engine needs many rounds (one per task it hands over between
// threads): under it a page with many messages runs many times slower than in the program.
bool WaitFor(const std::function<bool()>& done, int ms);
// Lets the event loop run for `ms`.
void Spin(int ms);

// Resident memory of this process, in KiB (VmRSS).
qint64 ResidentKiB();
