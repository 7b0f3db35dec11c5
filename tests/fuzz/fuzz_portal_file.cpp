// The portal definitions file loader on arbitrary bytes.
#include "FuzzCheck.h"
#include "lookup/PortalFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString name = QStringLiteral("f.json");
    const PortalFileResult result = ParsePortalFile(bytes, name);

    // Either a whole table or problems, never both and never part of a table.
    FUZZ_CHECK(result.ok() == !result.table.portals.isEmpty());
    FUZZ_CHECK(result.table.keys.size() == result.table.portals.size());
    if (!result.ok()) {
        FUZZ_CHECK(result.table.portals.isEmpty());
        for (const QString& problem : result.problems)
            FUZZ_CHECK(problem.startsWith(name + u':'));
        return 0;
    }
    FUZZ_CHECK(!result.table.portals.isEmpty());
    FUZZ_CHECK(result.table.portals.size() <= kMaxPortals);
    for (const TURIEstado& portal : result.table.portals) {
        FUZZ_CHECK(!portal.estado.isEmpty());
        FUZZ_CHECK(portal.fieldDefs.size() <= kMaxFieldsPerPortal);
        for (const TFieldDef& field : portal.fieldDefs) {
            FUZZ_CHECK(!field.fieldName.isEmpty());
            FUZZ_CHECK(!field.fieldName.contains(u'=') && !field.fieldName.contains(u'\n') &&
                       !field.fieldName.contains(u'\r'));
        }
    }
    // An accepted table written out loads back to the same table.
    const QByteArray dumped = PortalTableToJson(result.table);
    const PortalFileResult again = ParsePortalFile(dumped, name);
    FUZZ_CHECK(again.ok());
    FUZZ_CHECK(PortalTableToJson(again.table) == dumped);
    return 0;
}
