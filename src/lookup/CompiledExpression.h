#pragma once

#include <QString>
#include <QStringView>
#include <cstddef>
#include <cstdint>
#include <memory>

// PCRE2 (16-bit library) types, declared here so that users of this header need no PCRE2 headers.
struct pcre2_real_code_16;
struct pcre2_real_match_data_16;
struct pcre2_real_match_context_16;
struct pcre2_real_jit_stack_16;

// Character tables made by PCRE2 while the "C" locale is in force: ASCII classification only,
// whatever the process's locale. Shared by the expressions compiled with them.
class CharacterTables
{
public:
    static CharacterTables MakeForCLocale();
    // Null when the tables could not be made; PCRE2 then uses its built-in (also "C") tables.
    const std::uint8_t* get() const { return m_tables.get(); }

private:
    std::shared_ptr<const std::uint8_t> m_tables;
};

// Bounds on one evaluation, so that no text can stall the program. PCRE2 applies the match
// limit to each starting position separately; the built-in expressions need fewer than ten
// steps per position on real pages, so 10 000 leaves a wide margin while keeping the worst
// case (texts built to make them backtrack) to a fraction of a second per MiB with the JIT.
struct MatchLimits
{
    std::uint32_t match = 10'000;
    std::uint32_t depth = 10'000;      // interpreter only
    std::uint32_t heapKiB = 16 * 1024; // interpreter only
    std::size_t jitStackBytes = 1024 * 1024;
};

// Buffers for evaluating expressions: match data, a match context with the limits, a JIT stack.
// Reused from one evaluation to the next (making them costs more than a match on a page);
// not to be used by two threads at once.
class MatchScratch
{
public:
    explicit MatchScratch(const MatchLimits& limits = MatchLimits());
    ~MatchScratch();
    MatchScratch(MatchScratch&&) noexcept;
    MatchScratch& operator=(MatchScratch&&) noexcept;

    // Applies other limits to the following evaluations.
    void setLimits(const MatchLimits& limits);

private:
    friend class CompiledExpression;
    struct Deleter
    {
        void operator()(pcre2_real_match_data_16* p) const;
        void operator()(pcre2_real_match_context_16* p) const;
        void operator()(pcre2_real_jit_stack_16* p) const;
    };
    bool ensureJitStack();

    MatchLimits m_limits;
    std::unique_ptr<pcre2_real_match_data_16, Deleter> m_matchData;
    std::unique_ptr<pcre2_real_match_context_16, Deleter> m_context;
    std::unique_ptr<pcre2_real_jit_stack_16, Deleter> m_jitStack;
};

enum class MatchStatus
{
    Matched,
    NoMatch,
    NotCompiled,      // the expression did not compile
    NoCapturingGroup, // a field expression without group 1: there is no value to take
    LimitExceeded,    // match, depth, heap or JIT stack limit: treated as no match
    EngineError,      // any other failure reported by PCRE2: treated as no match
};

struct MatchOutcome
{
    MatchStatus status = MatchStatus::NoMatch;
    qsizetype captureStart = -1; // group 1 in the subject; -1 when it is absent or unset
    qsizetype captureLength = 0;
    int engineCode = 0; // PCRE2's return code for LimitExceeded and EngineError

    bool matched() const { return status == MatchStatus::Matched; }
};

struct CompileOptions
{
    bool useJit = true; // falls back to the interpreter when JIT compilation fails
};

// One expression compiled once for evaluation on UTF-16 text: UTF, caseless, any newline,
// C-locale tables; evaluated with NOTEMPTY; invalid UTF-16 in the subject (lone surrogates)
// is matched by nothing but never makes the evaluation fail.
class CompiledExpression
{
public:
    explicit CompiledExpression(QStringView pattern, CompileOptions options = CompileOptions());
    CompiledExpression(QStringView pattern, const CharacterTables& tables,
                       CompileOptions options = CompileOptions());
    ~CompiledExpression();
    CompiledExpression(CompiledExpression&&) noexcept;
    CompiledExpression& operator=(CompiledExpression&&) noexcept;

    bool isCompiled() const { return m_code != nullptr; }
    // "at offset N: message" when the expression did not compile, else empty.
    const QString& errorText() const { return m_errorText; }
    int captureCount() const { return m_captureCount; }
    bool usesJit() const { return m_jit; }

    // The first match in subject (leftmost, in PCRE2's backtracking order), never an empty one.
    MatchOutcome match(QStringView subject, MatchScratch& scratch) const;
    MatchOutcome match(QStringView subject) const;

private:
    struct Deleter
    {
        void operator()(pcre2_real_code_16* p) const;
    };

    CharacterTables m_tables; // the compiled code points into them
    std::unique_ptr<pcre2_real_code_16, Deleter> m_code;
    QString m_errorText;
    int m_captureCount = 0;
    bool m_jit = false;
};
