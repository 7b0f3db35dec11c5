// Result detection and field extraction of every built-in portal on arbitrary page text.
//
// Input: the first byte chooses how the rest becomes text: odd, decoded as UTF-8 (readable
// seeds); even, taken as raw UTF-16 code units (lone surrogates and every other unit).
#include "FuzzCheck.h"
#include "lookup/Extraction.h"
#include "portals/PortalTable.h"

#include <vector>

namespace {

struct Portal
{
    CompiledPortal compiled;
    // The same expressions without the JIT: the interpreter is a second opinion on every match.
    std::vector<CompiledExpression> interpreted;
};

const std::vector<Portal>& Portals()
{
    static const std::vector<Portal>* portals = [] {
        auto* list = new std::vector<Portal>;
        const CharacterTables tables = CharacterTables::MakeForCLocale();
        for (const TURIEstado& record : BuiltInPortals()) {
            Portal portal{CompiledPortal(record), {}};
            FUZZ_CHECK(portal.compiled.Problems().isEmpty());
            for (const TFieldDef& field : record.fieldDefs)
                portal.interpreted.emplace_back(field.fieldRegEx, tables, CompileOptions{false});
            list->push_back(std::move(portal));
        }
        FUZZ_CHECK(list->size() == 5);
        return list;
    }();
    return *portals;
}

bool HasLoneSurrogate(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate())
            return true;
    }
    return false;
}

bool Decided(MatchStatus status)
{
    return status == MatchStatus::Matched || status == MatchStatus::NoMatch;
}

void CheckPortal(const Portal& portal, const QString& text)
{
    const TURIEstado& record = portal.compiled.portal();
    const bool detected = portal.compiled.DetectResultPage(text);
    if (record.responseStringDetection.isEmpty())
        FUZZ_CHECK(!detected);
    else if (text.contains(record.responseStringDetection))
        FUZZ_CHECK(detected); // the detection texts are plain words: found as written, detected

    const ExtractionResult result = portal.compiled.ExtractFields(text);
    const qsizetype fields = record.fieldDefs.size();
    FUZZ_CHECK(result.lines.size() == fields);
    FUZZ_CHECK(result.statuses.size() == fields);

    bool anyMatched = false;
    for (qsizetype i = 0; i < fields; ++i) {
        const MatchStatus status = result.statuses[i];
        // A limit is an accepted "no match"; any other engine failure is not.
        FUZZ_CHECK(Decided(status) || status == MatchStatus::LimitExceeded);
        const QString head = record.fieldDefs[i].fieldName + u'=';
        const QString& line = result.lines[i];
        FUZZ_CHECK(line.startsWith(head));
        const QStringView value = QStringView(line).sliced(head.size());
        if (status != MatchStatus::Matched) {
            FUZZ_CHECK(value.isEmpty());
        } else {
            anyMatched = true;
            FUZZ_CHECK(!value.contains(QChar(0x00A0)));
            FUZZ_CHECK(value.isEmpty() ||
                       (value.front().unicode() > 0x20 && value.back().unicode() > 0x20));
            // Invalid UTF-16 is matched by nothing, so a value never carries a lone surrogate.
            FUZZ_CHECK(!HasLoneSurrogate(value));
        }

        const MatchOutcome second = portal.interpreted[static_cast<std::size_t>(i)].match(text);
        if (Decided(status) && Decided(second.status)) {
            FUZZ_CHECK(second.status == status);
            if (status == MatchStatus::Matched) {
                const QStringView captured =
                    second.captureStart < 0
                        ? QStringView()
                        : QStringView(text).sliced(second.captureStart, second.captureLength);
                FUZZ_CHECK(CleanFieldValue(captured) == value);
            }
        }
    }
    FUZZ_CHECK(result.success == anyMatched);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView rest(data + 1, static_cast<qsizetype>(size - 1));
    const QString text = (data[0] & 1) != 0 ? QString::fromUtf8(rest) : RawUtf16(rest);
    for (const Portal& portal : Portals())
        CheckPortal(portal, text);
    return 0;
}
