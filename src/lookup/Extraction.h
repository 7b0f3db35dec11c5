#pragma once

#include "portals/URIEstado.h"

#include <QStringList>
#include <QStringView>

#include <memory>
#include <vector>

class CompiledExpression;

// The outcome of extracting a portal's fields from a page text.
struct ExtractionResult
{
    QStringList lines; // one "fieldName=value" per field definition, in table order
    bool success = false; // at least one field expression matched
};

// A portal with its detection and field expressions compiled once.
class CompiledPortal
{
public:
    explicit CompiledPortal(const TURIEstado& portal);
    ~CompiledPortal();
    CompiledPortal(CompiledPortal&&) noexcept;
    CompiledPortal& operator=(CompiledPortal&&) noexcept;

    const TURIEstado& portal() const { return m_portal; }

    // Does responseStringDetection match the text?
    bool DetectResultPage(QStringView text) const;
    // Evaluates every field expression against the whole text.
    ExtractionResult ExtractFields(QStringView text) const;

private:
    TURIEstado m_portal;
    std::unique_ptr<CompiledExpression> m_detection;
    std::vector<CompiledExpression> m_fields;
};
