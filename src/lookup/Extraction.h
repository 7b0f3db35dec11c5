#pragma once

#include "lookup/CompiledExpression.h"
#include "portals/URIEstado.h"

#include <QList>
#include <QStringList>
#include <QStringView>
#include <memory>
#include <vector>

// The outcome of extracting a portal's fields from a page text.
struct ExtractionResult
{
    QStringList lines;           // one "fieldName=value" per field definition, in table order
    bool success = false;        // at least one field expression matched
    QList<MatchStatus> statuses; // how each field's evaluation ended, parallel to lines
};

// A field's value as sent: every U+00A0 removed, then U+0000..U+0020 trimmed at both ends.
QString CleanFieldValue(QStringView captured);

// A portal with its detection and field expressions compiled once. Its evaluations reuse one
// set of match buffers without a lock, so a portal is used from one thread at a time; a second
// thread compiles a CompiledPortal of its own.
class CompiledPortal
{
public:
    explicit CompiledPortal(const TURIEstado& portal, CompileOptions options = CompileOptions());
    ~CompiledPortal();
    CompiledPortal(CompiledPortal&&) noexcept;
    CompiledPortal& operator=(CompiledPortal&&) noexcept;

    const TURIEstado& portal() const { return m_portal; }

    // Does responseStringDetection match the text? Never, when it is empty or does not compile.
    bool DetectResultPage(QStringView text) const;
    // Evaluates every field expression against the whole text. A field whose expression does
    // not compile or has no capturing group counts as not matched.
    ExtractionResult ExtractFields(QStringView text,
                                   const MatchLimits& limits = MatchLimits()) const;

    // One line per expression that cannot work (compile error, no capturing group).
    QStringList Problems() const;

private:
    struct Scratch;

    TURIEstado m_portal;
    std::unique_ptr<Scratch> m_scratch;
    std::unique_ptr<CompiledExpression> m_detection;
    std::vector<CompiledExpression> m_fields;
};
