#include "lookup/Extraction.h"

// Buffers reused by every evaluation of one portal; the window uses a portal from one thread.
struct CompiledPortal::Scratch
{
    MatchScratch buffers;
};

namespace {

// Removing every U+00A0 and then trimming U+0000..U+0020 gives the same value as trimming
// both kinds of character from the ends first and then removing the inner U+00A0.
bool Trimmable(QChar c)
{
    return c.unicode() <= 0x20 || c.unicode() == 0x00A0;
}

void AppendFieldValue(QString& out, QStringView captured)
{
    qsizetype begin = 0;
    qsizetype end = captured.size();
    while (begin < end && Trimmable(captured[begin]))
        ++begin;
    while (end > begin && Trimmable(captured[end - 1]))
        --end;
    QStringView value = captured.sliced(begin, end - begin);
    for (qsizetype nbsp = value.indexOf(QChar(0x00A0)); nbsp >= 0;
         nbsp = value.indexOf(QChar(0x00A0))) {
        out += value.first(nbsp);
        value = value.sliced(nbsp + 1);
    }
    out += value;
}

} // namespace

QString CleanFieldValue(QStringView captured)
{
    QString value;
    AppendFieldValue(value, captured);
    return value;
}

CompiledPortal::CompiledPortal(const TURIEstado& portal, CompileOptions options)
    : m_portal(portal), m_scratch(std::make_unique<Scratch>())
{
    const CharacterTables tables = CharacterTables::MakeForCLocale();
    if (!m_portal.responseStringDetection.isEmpty()) {
        m_detection =
            std::make_unique<CompiledExpression>(m_portal.responseStringDetection, tables, options);
    }
    m_fields.reserve(static_cast<std::size_t>(m_portal.fieldDefs.size()));
    for (const TFieldDef& field : m_portal.fieldDefs)
        m_fields.emplace_back(field.fieldRegEx, tables, options);
}

CompiledPortal::~CompiledPortal() = default;
CompiledPortal::CompiledPortal(CompiledPortal&&) noexcept = default;
CompiledPortal& CompiledPortal::operator=(CompiledPortal&&) noexcept = default;

bool CompiledPortal::DetectResultPage(QStringView text) const
{
    if (!m_detection)
        return false;
    m_scratch->buffers.setLimits(MatchLimits());
    return m_detection->match(text, m_scratch->buffers).matched();
}

ExtractionResult CompiledPortal::ExtractFields(QStringView text, const MatchLimits& limits) const
{
    ExtractionResult result;
    MatchScratch& scratch = m_scratch->buffers;
    scratch.setLimits(limits);
    result.lines.reserve(static_cast<qsizetype>(m_fields.size()));
    result.statuses.reserve(static_cast<qsizetype>(m_fields.size()));
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        const QString& fieldName = m_portal.fieldDefs.at(static_cast<qsizetype>(i)).fieldName;
        const CompiledExpression& expression = m_fields[i];
        MatchOutcome outcome;
        if (expression.isCompiled() && expression.captureCount() < 1)
            outcome.status = MatchStatus::NoCapturingGroup;
        else
            outcome = expression.match(text, scratch);

        QString line;
        line.reserve(fieldName.size() + 1 + outcome.captureLength);
        line += fieldName;
        line += u'=';
        if (outcome.matched()) {
            if (outcome.captureStart >= 0)
                AppendFieldValue(line, text.sliced(outcome.captureStart, outcome.captureLength));
            result.success = true;
        }
        result.lines.append(std::move(line));
        result.statuses.append(outcome.status);
    }
    return result;
}

QStringList CompiledPortal::Problems() const
{
    QStringList problems;
    if (m_detection && !m_detection->isCompiled())
        problems << QStringLiteral("detection expression does not compile, %1")
                        .arg(m_detection->errorText());
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        const QString& fieldName = m_portal.fieldDefs.at(static_cast<qsizetype>(i)).fieldName;
        const CompiledExpression& expression = m_fields[i];
        if (!expression.isCompiled())
            problems << QStringLiteral("field %1: expression does not compile, %2")
                            .arg(fieldName, expression.errorText());
        else if (expression.captureCount() < 1)
            problems
                << QStringLiteral("field %1: expression has no capturing group").arg(fieldName);
    }
    return problems;
}
