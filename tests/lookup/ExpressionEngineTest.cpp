// How one expression is evaluated: the engine's settings and the corners where this engine
// differs from one without Unicode support.

#include "QtPrinters.h"
#include "lookup/CompiledExpression.h"
#include "portals/PortalTable.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <clocale>
#include <gtest/gtest.h>
#include <locale.h>
#include <optional>
#include <pcre2.h>
#include <string>
#include <string_view>

using namespace std::literals;

namespace {

struct EngineCase
{
    const char* name;
    std::u16string_view pattern;
    std::u16string_view subject;
    std::optional<std::u16string_view> capture; // nullopt: no match expected
};

void PrintTo(const EngineCase& c, std::ostream* os)
{
    *os << c.name;
}

class EngineTest : public testing::TestWithParam<std::tuple<EngineCase, bool>>
{};

TEST_P(EngineTest, FirstMatchAndGroupOne)
{
    const auto& [c, jit] = GetParam();
    const CompiledExpression expression(QStringView(c.pattern), CompileOptions{jit});
    ASSERT_TRUE(expression.isCompiled()) << expression.errorText().toStdString();
    const QStringView subject(c.subject);
    const MatchOutcome outcome = expression.match(subject);
    if (!c.capture) {
        EXPECT_EQ(outcome.status, MatchStatus::NoMatch);
        return;
    }
    ASSERT_EQ(outcome.status, MatchStatus::Matched);
    const QStringView captured = outcome.captureStart < 0
                                     ? QStringView()
                                     : subject.sliced(outcome.captureStart, outcome.captureLength);
    EXPECT_EQ(captured.toString(), QStringView(*c.capture).toString());
}

const EngineCase kEngineCases[] = {
    // Search rules
    {"leftmost_match", u"(\\d+)", u"a12b345", u"12"},
    {"empty_match_refused", u"(x*)", u"abc", std::nullopt},
    {"search_goes_on_past_empty_matches", u"(x*)", u"abxx", u"xx"},
    {"group_one_is_the_first_capturing_group", u"(?:a)(b)(c)", u"abc", u"b"},
    {"unset_group_one_is_an_empty_value", u"(a)?b", u"b", u""},
    {"empty_subject", u"(a*)", u"", std::nullopt},
    {"caseless_ascii", u"(cnpj:)", u"CnPj:", u"CnPj:"},
    {"pattern_newline_escape_is_a_line_feed", u"(?:CNPJ:\\n)(.*)", u"CNPJ:\n1", u"1"},
    // Character classes that follow the ASCII tables
    {"word_class_is_ascii", u"(\\w+)", u"JOS\u00C9", u"JOS"},
    {"digit_class_is_ascii", u"(\\d+)", u"\u0661\u0662", std::nullopt},
    {"nbsp_is_not_white_space", u"(\\s)", u"\u00A0", std::nullopt},
    {"non_word_outside_brackets_takes_non_ascii", u"x(\\W)y", u"x\u00E9y", u"\u00E9"},
    {"negated_class_takes_non_ascii", u"([^a])", u"\u4E2D", u"\u4E2D"},
    // Line ends: '.' stops at each of them
    {"dot_stops_at_lf", u"(a.b)", u"a\nb", std::nullopt},
    {"dot_stops_at_cr", u"(a.b)", u"a\rb", std::nullopt},
    {"dot_stops_at_vt", u"(a.b)", u"a\vb", std::nullopt},
    {"dot_stops_at_ff", u"(a.b)", u"a\fb", std::nullopt},
    {"dot_stops_at_nel", u"(a.b)", u"a\u0085b", std::nullopt},
    {"dot_stops_at_line_separator", u"(a.b)", u"a\u2028b", std::nullopt},
    {"dot_stops_at_paragraph_separator", u"(a.b)", u"a\u2029b", std::nullopt},
    {"dot_takes_tab", u"(a.b)", u"a\tb", u"a\tb"},
    {"dot_takes_a_surrogate_pair_whole", u"a(.)b", u"a\U0001F600b", u"\U0001F600"},
    // The three corners where this engine differs from one without Unicode support
    {"corner_caseless_beyond_ascii", u"(Inscri\u00E7\u00E3o)", u"INSCRI\u00C7\u00C3O",
     u"INSCRI\u00C7\u00C3O"},
    {"corner_caseless_kelvin_sign", u"(k)", u"\u212A", u"\u212A"},
    {"corner_white_space_takes_vertical_tab", u"a(\\s)b", u"a\vb", u"\v"},
    {"corner_bracketed_class_above_u00ff", u"x([\\t\\W])y", u"x\u2028y", u"\u2028"},
    // Text that is not valid UTF-16 or holds NULs
    {"lone_surrogate_before_the_label", u"UF:(.*)", u"\xD800UF: SP", u" SP"},
    {"lone_surrogate_ends_a_value", u"UF:(.*)", u"UF: S\xDC00P", u" S"},
    {"lone_surrogate_matches_nothing", u"(.)", u"\xD800", std::nullopt},
    {"nul_inside_a_value", u"UF:(.*)", u"UF:S\0P"sv, u"S\0P"sv},
};

INSTANTIATE_TEST_SUITE_P(Cases, EngineTest,
                         testing::Combine(testing::ValuesIn(kEngineCases), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<EngineCase, bool>>& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_jit" : "_interpreter");
                         });

TEST(EngineTest, NullSubjectIsAnEmptyText)
{
    const CompiledExpression expression(u"(a*)");
    EXPECT_EQ(expression.match(QStringView()).status, MatchStatus::NoMatch);
    const CompiledExpression any(u"(?:)(x?)");
    EXPECT_EQ(any.match(QStringView()).status, MatchStatus::NoMatch); // only an empty match
}

struct BadPattern
{
    std::u16string_view pattern;
    int offset;
};

TEST(CompileErrorTest, ReportsTheMessageAndOffsetAndNeverMatches)
{
    for (const BadPattern& bad : {BadPattern{u"(?:abc", 6}, BadPattern{u"[a-", 3},
                                  BadPattern{u"a{2,1}", 5}, BadPattern{u"ab\xD800", 2}}) {
        const CompiledExpression expression{QStringView(bad.pattern)};
        const std::string pattern = QStringView(bad.pattern).toString().toStdString();
        EXPECT_FALSE(expression.isCompiled()) << pattern;
        EXPECT_TRUE(
            expression.errorText().startsWith(QStringLiteral("at offset %1: ").arg(bad.offset)))
            << pattern << ": " << expression.errorText().toStdString();
        EXPECT_GT(expression.errorText().size(), 14) << "has a message";
        EXPECT_EQ(expression.match(u"abc abc [a- ab").status, MatchStatus::NotCompiled);
    }
}

TEST(CompileTest, CountsCapturingGroups)
{
    EXPECT_EQ(CompiledExpression(u"abc").captureCount(), 0);
    EXPECT_EQ(CompiledExpression(u"(?:a)(?=b)(c)").captureCount(), 1);
    EXPECT_EQ(CompiledExpression(u"(a)(b)").captureCount(), 2);
}

TEST(BuiltInExpressionsTest, CompileWithOneGroupAndUseTheJitWhenAvailable)
{
    std::uint32_t jitAvailable = 0;
    pcre2_config(PCRE2_CONFIG_JIT, &jitAvailable);
    for (const TURIEstado& portal : BuiltInPortals()) {
        if (!portal.responseStringDetection.isEmpty()) {
            const CompiledExpression detection(portal.responseStringDetection);
            EXPECT_TRUE(detection.isCompiled()) << portal.estado.toStdString();
            EXPECT_EQ(detection.usesJit(), jitAvailable != 0);
        }
        for (const TFieldDef& field : portal.fieldDefs) {
            const CompiledExpression expression(field.fieldRegEx);
            const std::string where =
                portal.estado.toStdString() + " " + field.fieldName.toStdString();
            EXPECT_TRUE(expression.isCompiled())
                << where << ": " << expression.errorText().toStdString();
            EXPECT_EQ(expression.captureCount(), 1) << where;
            EXPECT_EQ(expression.usesJit(), jitAvailable != 0) << where;
        }
    }
}

TEST(CharacterTablesTest, AreMadeWithoutChangingTheProcessLocale)
{
    const std::string before = std::setlocale(LC_CTYPE, nullptr);
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr)
        GTEST_SKIP() << "no C.UTF-8 locale on this machine";

    const CharacterTables tables = CharacterTables::MakeForCLocale();
    EXPECT_NE(tables.get(), nullptr);
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C.UTF-8");
    EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), LC_GLOBAL_LOCALE);

    // Expressions compiled with these tables classify by ASCII only.
    const CompiledExpression word(u"(\\w+)", tables);
    const MatchOutcome outcome = word.match(u"\u00E9t\u00E9");
    ASSERT_TRUE(outcome.matched());
    EXPECT_EQ(outcome.captureStart, 1);
    EXPECT_EQ(outcome.captureLength, 1);

    std::setlocale(LC_CTYPE, before.c_str());
}

TEST(MatchLimitTest, AHardBacktrackingTextStopsAtTheLimit)
{
    // ES's CNPJ expression backtracks over a run of characters that both of its classes
    // accept; the work grows with the square of the run.
    const CompiledExpression expression(
        u"(?:CNPJ:)(?:[\\t\\W]*)([\\d.\\/-]*)(?:\\tInscri\u00E7\u00E3o)");
    // The expression's last characters occur later, or the engine would give up at once.
    const QString text = QStringLiteral("CNPJ:") + QString(5000, u'.') +
                         QString::fromUtf16(u"x\tInscri\u00E7\u00E3o");
    MatchLimits small;
    small.match = 1000;
    MatchScratch scratch(small);
    const MatchOutcome outcome = expression.match(text, scratch);
    EXPECT_EQ(outcome.status, MatchStatus::LimitExceeded);
    EXPECT_EQ(outcome.engineCode, PCRE2_ERROR_MATCHLIMIT);

    // The same scratch serves the next evaluation normally.
    const QString good =
        QStringLiteral("CNPJ:\t1.2\tInscri") + QString::fromUtf16(u"\u00E7\u00E3o");
    const MatchOutcome next = expression.match(good, scratch);
    ASSERT_TRUE(next.matched());
    EXPECT_EQ(good.sliced(next.captureStart, next.captureLength), QStringLiteral("1.2"));
}

} // namespace
