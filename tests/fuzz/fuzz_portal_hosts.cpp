// The QUARVEL_PORTAL_HOSTS parser on arbitrary values.
//
// Input: the first byte chooses how the rest becomes the value: odd, decoded as UTF-8 (as the
// environment reaches the program); even, taken as raw UTF-16 code units.
#include "FuzzCheck.h"
#include "portals/PortalTable.h"

#include <QUrl>
#include <array>

namespace {

struct Key
{
    const char16_t* name;
    QString PortalHosts::*host;
};

constexpr std::array<Key, 5> kKeys{{{u"ccc", &PortalHosts::ccc},
                                    {u"am", &PortalHosts::am},
                                    {u"es", &PortalHosts::es},
                                    {u"ba", &PortalHosts::ba},
                                    {u"sp", &PortalHosts::sp}}};

// An origin as the override stores it: what the browser shows before a URL's path.
void CheckOrigin(const QString& origin)
{
    const QUrl url(origin, QUrl::StrictMode);
    FUZZ_CHECK(url.isValid());
    FUZZ_CHECK(url.scheme() == u"http" || url.scheme() == u"https");
    FUZZ_CHECK(!url.host().isEmpty());
    FUZZ_CHECK(url.userInfo().isEmpty());
    FUZZ_CHECK(url.path().isEmpty());
    FUZZ_CHECK(!url.hasQuery() && !url.hasFragment());
    FUZZ_CHECK(url.port() != (url.scheme() == u"https" ? 443 : 80));
    FUZZ_CHECK(origin == origin.toLower());
    FUZZ_CHECK(!origin.endsWith(u'/'));
    // Plain ASCII without blanks or separators: it can stand in a URL and in the variable.
    for (const QChar c : origin)
        FUZZ_CHECK(c.unicode() > 0x20 && c.unicode() < 0x7F && c != u',');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView rest(data + 1, static_cast<qsizetype>(size - 1));
    const QString value = (data[0] & 1) != 0 ? QString::fromUtf8(rest) : RawUtf16(rest);

    const PortalHosts builtIn;
    PortalHosts hosts;
    const QStringList errors = ApplyPortalHostsOverride(value, hosts);

    qsizetype elements = 0;
    for (const QStringView element : QStringView(value).split(u','))
        elements += element.trimmed().isEmpty() ? 0 : 1;
    FUZZ_CHECK(errors.size() <= elements);
    // Each message is one line on standard error, its control characters shown escaped.
    for (const QString& error : errors) {
        FUZZ_CHECK(!error.isEmpty());
        for (const QChar c : error)
            FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7F);
    }

    for (const Key& key : kKeys) {
        const QString& origin = hosts.*(key.host);
        if (origin == builtIn.*(key.host))
            continue;
        CheckOrigin(origin);
        // An origin the parser produced is accepted as it is and kept unchanged.
        PortalHosts again;
        const QString element = QString::fromUtf16(key.name) + u'=' + origin;
        FUZZ_CHECK(ApplyPortalHostsOverride(element, again).isEmpty());
        FUZZ_CHECK(again.*(key.host) == origin);
    }

    // The portal table built on those hosts keeps its paths after the new origins.
    const TURIEstados table = BuiltInPortals(hosts);
    FUZZ_CHECK(table.size() == 5);
    for (const TURIEstado& portal : table)
        FUZZ_CHECK(portal.URLconsulta.startsWith(u"http://") ||
                   portal.URLconsulta.startsWith(u"https://"));
    return 0;
}
