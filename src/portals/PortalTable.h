#pragma once

#include "portals/URIEstado.h"

#include <QString>
#include <QStringList>
#include <functional>

// Scheme and host of each built-in portal, as the browser reports them in a URL.
struct PortalHosts
{
    QString ccc = QStringLiteral("https://dfe-portal.svrs.rs.gov.br");
    QString am = QStringLiteral("http://online.sefaz.am.gov.br");
    QString es = QStringLiteral("http://www.sintegra.es.gov.br");
    QString ba = QStringLiteral("http://www.sefaz.ba.gov.br");
    QString sp = QStringLiteral("https://www.cadesp.fazenda.sp.gov.br");
};

// Applies an override of the form "am=http://127.0.0.2:8081,sp=http://127.0.0.5:8085" to
// hosts. Keys: ccc, am, es, ba, sp. Each value must be an http or https URL with a host and no
// path, query, fragment or user info; a single trailing "/" is dropped, and the origin is
// written as the browser reports it (lower-case scheme and host, no default port). Blanks
// around elements and empty elements are ignored; a later element for the same key wins.
// Returns one message per malformed element (those elements are ignored, the rest applied).
QStringList ApplyPortalHostsOverride(const QString& value, PortalHosts& hosts);

// The hosts in force: the built-in ones, with QUARVEL_PORTAL_HOSTS applied when set (its
// malformed parts are reported on standard error and ignored).
PortalHosts PortalHostsFromEnvironment();

// Builds the five built-in portals in registration order, handing each to registerURIEstado.
void BuildPortalTable(const PortalHosts& hosts,
                      const std::function<void(const TURIEstado&)>& registerURIEstado);

// The built-in table as a list (for code that has no window: tools, tests, benchmarks).
TURIEstados BuiltInPortals(const PortalHosts& hosts = PortalHosts());

// A built-in portal's short key and the paths of its pages below its host.
struct BuiltInPortalPaths
{
    QString key;        // "ccc", "am", "es", "ba", "sp": QUARVEL_PORTAL_HOSTS and the tools
    QString queryPath;  // URLconsulta without scheme and host
    QString resultPath; // URLresposta without scheme and host; empty: recognised by content
};

// The built-in portals' keys and paths, in registration order.
const QList<BuiltInPortalPaths>& BuiltInPortalPathList();

// Short key of a built-in portal ("ccc", "am", "es", "ba", "sp") to its index, or -1.
int PortalIndexForKey(QStringView key);

// text in double quotes for a one-line message, its control characters shown escaped ("\x0a").
QString QuotedForMessage(QStringView text);
