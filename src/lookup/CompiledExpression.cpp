#include "lookup/CompiledExpression.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <iterator>
#include <locale.h>
#include <pcre2.h>

static_assert(sizeof(QChar) == sizeof(PCRE2_UCHAR16));

namespace {

// PCRE2 refuses a null subject even when it is empty.
constexpr char16_t kEmpty[] = u"";

PCRE2_SPTR16 Units(QStringView text)
{
    return reinterpret_cast<PCRE2_SPTR16>(text.isNull() ? kEmpty : text.utf16());
}

struct CompileContextDeleter
{
    void operator()(pcre2_compile_context_16* p) const { pcre2_compile_context_free(p); }
};

// Makes the tables while "C" is this thread's locale; the process's locale is left alone.
const std::uint8_t* MakeTablesUnderCLocale()
{
    const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (c == static_cast<locale_t>(nullptr))
        return nullptr;
    const locale_t previous = uselocale(c);
    const std::uint8_t* tables = pcre2_maketables(nullptr);
    uselocale(previous);
    freelocale(c);
    return tables;
}

QString ErrorMessage(int errorCode)
{
    PCRE2_UCHAR16 buffer[256];
    const int length = pcre2_get_error_message(errorCode, buffer, std::size(buffer));
    if (length < 0)
        return QStringLiteral("error %1").arg(errorCode);
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), length);
}

bool IsLimit(int rc)
{
    return rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
           rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT;
}

} // namespace

CharacterTables CharacterTables::MakeForCLocale()
{
    CharacterTables tables;
    if (const std::uint8_t* made = MakeTablesUnderCLocale()) {
        tables.m_tables = std::shared_ptr<const std::uint8_t>(
            made, [](const std::uint8_t* p) { pcre2_maketables_free(nullptr, p); });
    }
    return tables;
}

void MatchScratch::Deleter::operator()(pcre2_real_match_data_16* p) const
{
    pcre2_match_data_free(p);
}

void MatchScratch::Deleter::operator()(pcre2_real_match_context_16* p) const
{
    pcre2_match_context_free(p);
}

void MatchScratch::Deleter::operator()(pcre2_real_jit_stack_16* p) const
{
    pcre2_jit_stack_free(p);
}

MatchScratch::MatchScratch(const MatchLimits& limits)
    : // Two pairs: the whole match and group 1, the only group that is read.
      m_matchData(pcre2_match_data_create(2, nullptr)),
      m_context(pcre2_match_context_create(nullptr))
{
    setLimits(limits);
}

void MatchScratch::setLimits(const MatchLimits& limits)
{
    if (limits.jitStackBytes != m_limits.jitStackBytes)
        m_jitStack.reset(); // made again, with the new size, by the next JIT evaluation
    m_limits = limits;
    if (m_context) {
        pcre2_set_match_limit(m_context.get(), limits.match);
        pcre2_set_depth_limit(m_context.get(), limits.depth);
        pcre2_set_heap_limit(m_context.get(), limits.heapKiB);
        if (!m_jitStack)
            pcre2_jit_stack_assign(m_context.get(), nullptr, nullptr);
    }
}

MatchScratch::~MatchScratch() = default;
MatchScratch::MatchScratch(MatchScratch&&) noexcept = default;
MatchScratch& MatchScratch::operator=(MatchScratch&&) noexcept = default;

bool MatchScratch::ensureJitStack()
{
    if (!m_jitStack) {
        m_jitStack.reset(pcre2_jit_stack_create(32 * 1024, m_limits.jitStackBytes, nullptr));
        if (!m_jitStack)
            return false;
        pcre2_jit_stack_assign(m_context.get(), nullptr, m_jitStack.get());
    }
    return true;
}

void CompiledExpression::Deleter::operator()(pcre2_real_code_16* p) const
{
    pcre2_code_free(p);
}

CompiledExpression::CompiledExpression(QStringView pattern, CompileOptions options)
    : CompiledExpression(pattern, CharacterTables::MakeForCLocale(), options)
{}

CompiledExpression::CompiledExpression(QStringView pattern, const CharacterTables& tables,
                                       CompileOptions options)
    : m_tables(tables)
{
    const std::unique_ptr<pcre2_compile_context_16, CompileContextDeleter> context(
        pcre2_compile_context_create(nullptr));
    if (!context) {
        m_errorText = QStringLiteral("out of memory");
        return;
    }
    if (m_tables.get() != nullptr)
        pcre2_set_character_tables(context.get(), m_tables.get());
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANY);

    // NO_AUTO_POSSESS changes no result. It keeps the engine from turning a repeat into a
    // possessive one, whose rescans the match limit does not count: without it a text such as
    // "CNPJ:" and a long run of dots costs time quadratic in the run, beyond any limit.
    const std::uint32_t compileOptions =
        PCRE2_UTF | PCRE2_CASELESS | PCRE2_MATCH_INVALID_UTF | PCRE2_NO_AUTO_POSSESS;
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    m_code.reset(pcre2_compile(Units(pattern), static_cast<PCRE2_SIZE>(pattern.size()),
                               compileOptions, &errorCode, &errorOffset, context.get()));
    if (!m_code) {
        m_errorText =
            QStringLiteral("at offset %1: %2").arg(errorOffset).arg(ErrorMessage(errorCode));
        return;
    }
    std::uint32_t captures = 0;
    pcre2_pattern_info(m_code.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
    m_captureCount = static_cast<int>(captures);
    if (options.useJit)
        m_jit = pcre2_jit_compile(m_code.get(), PCRE2_JIT_COMPLETE) == 0;
}

CompiledExpression::~CompiledExpression() = default;
CompiledExpression::CompiledExpression(CompiledExpression&&) noexcept = default;
CompiledExpression& CompiledExpression::operator=(CompiledExpression&&) noexcept = default;

MatchOutcome CompiledExpression::match(QStringView subject) const
{
    MatchScratch scratch;
    return match(subject, scratch);
}

MatchOutcome CompiledExpression::match(QStringView subject, MatchScratch& scratch) const
{
    MatchOutcome outcome;
    if (!m_code) {
        outcome.status = MatchStatus::NotCompiled;
        return outcome;
    }
    if (!scratch.m_matchData || !scratch.m_context) {
        // Without a context there would be no limits: refuse rather than risk a stall.
        outcome.status = MatchStatus::EngineError;
        outcome.engineCode = PCRE2_ERROR_NOMEMORY;
        return outcome;
    }
    if (m_jit)
        scratch.ensureJitStack(); // without one the JIT uses its small built-in stack

    const int rc =
        pcre2_match(m_code.get(), Units(subject), static_cast<PCRE2_SIZE>(subject.size()), 0,
                    PCRE2_NOTEMPTY, scratch.m_matchData.get(), scratch.m_context.get());
    if (rc == PCRE2_ERROR_NOMATCH)
        return outcome;
    if (rc < 0) {
        outcome.status = IsLimit(rc) ? MatchStatus::LimitExceeded : MatchStatus::EngineError;
        outcome.engineCode = rc;
        return outcome;
    }
    // rc == 0 means more groups than pairs in the match data: group 1 is still filled in.
    outcome.status = MatchStatus::Matched;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(scratch.m_matchData.get());
    if (m_captureCount >= 1 && ovector[2] != PCRE2_UNSET && ovector[3] >= ovector[2]) {
        outcome.captureStart = static_cast<qsizetype>(ovector[2]);
        outcome.captureLength = static_cast<qsizetype>(ovector[3] - ovector[2]);
    }
    return outcome;
}
