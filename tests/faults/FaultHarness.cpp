#include "FaultHarness.h"

#include "portals/PortalTable.h"

#include <QFile>
#include <QUrl>

namespace {

QString ReadSample(const QString& name)
{
    QFile file(QStringLiteral(QUARVEL_SOURCE_DIR "/tests/lookup/data/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

SampleResult Sample(const QString& key)
{
    SampleResult sample;
    sample.text = ReadSample(key + QStringLiteral(".txt"));
    sample.lines = ReadSample(key + QStringLiteral(".expected")).split(u'\n', Qt::SkipEmptyParts);
    return sample;
}

} // namespace

// --- PortalSite ---

PortalSite::PortalSite()
{
    if (!server.listen(QHostAddress(QStringLiteral("127.0.0.1"))))
        return;
    const QString origin = server.origin();
    QStringList hosts;
    for (const BuiltInPortalPaths& portal : BuiltInPortalPathList())
        hosts << portal.key + u'=' + origin;
    qputenv("QUARVEL_PORTAL_HOSTS", hosts.join(u',').toUtf8());
    for (const TURIEstado& portal : BuiltInPortals(PortalHostsFromEnvironment())) {
        m_query << portal.URLconsulta;
        m_result << (portal.URLresposta.endsWith(u'=') ? portal.URLresposta + QStringLiteral("1")
                                                       : portal.URLresposta);
    }
}

PortalSite::~PortalSite()
{
    qunsetenv("QUARVEL_PORTAL_HOSTS");
}

QString PortalSite::queryUrl(int portal) const
{
    return m_query.value(portal);
}

QString PortalSite::resultUrl(int portal) const
{
    return m_result.value(portal);
}

QString PortalSite::pathOf(const QString& url)
{
    return QUrl(url).path();
}

void PortalSite::setText(const QString& url, const QString& text, int delayMs)
{
    server.setPage(pathOf(url),
                   HttpFixtureServer::Page{text.toUtf8(), "text/plain; charset=utf-8", delayMs});
}

void PortalSite::setHtml(const QString& url, const QByteArray& html, int delayMs)
{
    server.setPage(pathOf(url), HttpFixtureServer::Page{html, "text/html; charset=utf-8", delayMs});
}

SampleResult AmSample(const QString& street)
{
    SampleResult sample = Sample(QStringLiteral("am"));
    if (street.isEmpty())
        return sample;
    const QString original = QStringLiteral("AVENIDA EDUARDO RIBEIRO");
    sample.text.replace(original, street);
    sample.lines.replaceInStrings(QStringLiteral("endereco=") + original,
                                  QStringLiteral("endereco=") + street);
    return sample;
}

SampleResult CccSample()
{
    return Sample(QStringLiteral("ccc"));
}
