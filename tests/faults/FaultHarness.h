#pragma once

// Shared pieces of the fault tests: the portals served from loopback and their sample results.
// The window, the waits and the host's accept come from tests/support.

#include "BuiltInTable.h"
#include "EventLoopWait.h"
#include "HttpFixtureServer.h"
#include "TestPeer.h"
#include "TestUtil.h"
#include "TestWindow.h"

#include <QByteArray>
#include <QStringList>

inline const QString kLostConnection =
    QStringLiteral("Conexão perdida com o Norva TI. Tente novamente.");

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

// Resident memory of this process, in KiB (VmRSS).
inline qint64 ResidentKiB()
{
    return ProcStatusKiB(0, "VmRSS");
}
