// Field extraction and result-page detection with the built-in portals.

#include "lookup/Extraction.h"

#include "BuiltInTable.h"
#include "QtPrinters.h"
#include "TestData.h"
#include "lookup/UrlPrefix.h"
#include "portals/PortalTable.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <string_view>

using namespace std::literals;

namespace {

// Every line of the portal's block: the given values, every other field ending with '='.
QStringList ExpectedLines(int portal,
                          const std::map<std::u16string_view, std::u16string_view>& values)
{
    QStringList lines;
    for (const TFieldDef& field : Table()[portal].fieldDefs) {
        QString value;
        for (const auto& [name, given] : values) {
            if (QStringView(name) == field.fieldName)
                value = QStringView(given).toString();
        }
        lines << field.fieldName + u'=' + value;
    }
    return lines;
}

// ---------------------------------------------------------------------------------------------

struct UrlPrefixCase
{
    QString url;
    QString prefix;
    bool expected;
};

TEST(UrlPrefixTest, ComparesTheFirstCodeUnitsExactly)
{
    const UrlPrefixCase cases[] = {
        {QStringLiteral("http://h/sintegra/sintegra.asp?hash=12"),
         QStringLiteral("http://h/sintegra/sintegra.asp?hash="), true},
        {QStringLiteral("http://h/sintegra/sintegra.asp?hash="),
         QStringLiteral("http://h/sintegra/sintegra.asp?hash="), true},
        {QStringLiteral("http://h/sintegra/sintegra.asp"),
         QStringLiteral("http://h/sintegra/sintegra.asp?hash="), false}, // shorter than the prefix
        {QStringLiteral("http://h/Sintegra/Result.asp"), QStringLiteral("http://h/sintegra/"),
         false},
        {QStringLiteral("HTTP://h/x"), QStringLiteral("http://h/"), false},
        {QStringLiteral(" http://h/x"), QStringLiteral("http://h/"), false},
        {QStringLiteral("about:blank"), QString(), true},
        {QString(), QString(), true}, // an empty prefix passes every URL, even a null one
        {QString(), QStringLiteral("h"), false},
    };
    for (const UrlPrefixCase& c : cases)
        EXPECT_EQ(UrlHasPrefix(c.url, c.prefix), c.expected)
            << c.url.toStdString() << " / " << c.prefix.toStdString();
}

TEST(FieldValueTest, RemovesNoBreakSpacesThenTrimsControlsAndBlanks)
{
    const std::pair<std::u16string_view, std::u16string_view> cases[] = {
        {u"  RUA A  ", u"RUA A"},
        {u"\t\r\n RUA A\x01\x1F", u"RUA A"},
        {u"\0RUA A\0"sv, u"RUA A"},
        {u"RUA\u00A0DAS\u00A0FLORES", u"RUADASFLORES"},
        {u" \u00A0 \u00A0 ", u""},
        {u"\u00A0 RUA \u00A0", u"RUA"},
        {u"RUA A\nQUADRA 2", u"RUA A\nQUADRA 2"},
        {u"\u2003RUA\u3000", u"\u2003RUA\u3000"}, // other Unicode blanks stay
        {u"RUA\x7F", u"RUA\x7F"},
        {u"", u""},
    };
    for (const auto& [captured, expected] : cases)
        EXPECT_EQ(CleanFieldValue(QStringView(captured)), QStringView(expected).toString());
}

// ---------------------------------------------------------------------------------------------

struct ExtractionCase
{
    const char* name;
    int portal;
    std::u16string_view text;
    std::map<std::u16string_view, std::u16string_view> values;
    bool success;
};

void PrintTo(const ExtractionCase& c, std::ostream* os)
{
    *os << c.name;
}

class ExtractionEdgeTest : public testing::TestWithParam<ExtractionCase>
{};

TEST_P(ExtractionEdgeTest, GivesOneLinePerFieldInTableOrder)
{
    const ExtractionCase& c = GetParam();
    for (const bool jit : {true, false}) {
        const CompiledPortal portal(Table()[c.portal], CompileOptions{jit});
        const ExtractionResult result = portal.ExtractFields(QStringView(c.text));
        EXPECT_EQ(result.lines, ExpectedLines(c.portal, c.values)) << (jit ? "JIT" : "interpreter");
        EXPECT_EQ(result.success, c.success) << (jit ? "JIT" : "interpreter");
    }
}

const ExtractionCase kEdgeCases[] = {
    {"am_telephone_separator_takes_one_character",
     kAm,
     u"Telefone:\t(92) 3234-5678\n",
     {{u"telefone", u""}},
     true},
    {"am_telephone_without_area_code",
     kAm,
     u"Telefone:\t3234-5678\n",
     {{u"telefone", u"3234-5678"}},
     true},
    {"es_telephone_loses_its_opening_parenthesis",
     kEs,
     u"Telefone:\t(27)3322-1100\n",
     {{u"telefone", u"27)3322-1100"}},
     true},
    {"am_word_class_stops_at_non_ascii_letters",
     kAm,
     u"Raz\u00E3o Social:\tJOS\u00C9 DA SILVA ME\n",
     {{u"nome", u"JOS"}, {u"razaosocial", u"JOS"}},
     true},
    {"ba_white_space_class_runs_over_line_ends",
     kBa,
     u"Raz\u00E3o Social:\tEMPRESA UM\nLINHA DOIS:\n",
     {{u"nome", u"EMPRESA UM\nLINHA DOIS"}, {u"razaosocial", u"EMPRESA UM\nLINHA DOIS"}},
     true},
    {"am_not_tab_class_runs_over_line_ends",
     kAm,
     u"N\u00FAmero:\t12\nBairro:\tCENTRO\n",
     {{u"numero", u"12\nBairro:"}, {u"bairro", u"CENTRO"}},
     true},
    {"sp_dot_star_stops_at_the_line_end",
     kSp,
     u"Logradouro:\tRUA A\nRUA B\n",
     {{u"endereco", u"RUA A"}},
     true},
    {"ccc_blank_field_is_not_taken_from_the_next_label",
     kCcc,
     u"Nome Fantasia:\nData In\u00EDcio Atividade:\n15/03/2005\n",
     {},
     false},
    {"ccc_blank_field_label_found_again_further_on",
     kCcc,
     u"Nome Fantasia:\nData In\u00EDcio Atividade:\n15/03/2005\nNome Fantasia:\nLOJA CENTRO\n",
     {{u"nome", u"LOJA CENTRO"}},
     true},
    {"ccc_number_fields_need_a_digit",
     kCcc,
     u"CNPJ:\nCPF:\n123.456.789-00\n",
     {{u"cpf", u"123.456.789-00"}},
     true},
    {"ccc_city_is_what_follows_the_hyphen",
     kCcc,
     u"Munic\u00EDpio IBGE:\n1302603 - MANAUS\nUF de Localiza\u00E7\u00E3o:\nAM\n",
     {{u"cidade", u"MANAUS"}, {u"estado", u"AM"}},
     true},
    {"am_cnpj_label_dots_match_any_character",
     kAm,
     u"CxNxPxJ:\t12.345.678/0001-90\n",
     {{u"cnpj", u"12.345.678/0001-90"}},
     true},
    {"es_cnpj_with_tab_and_inscricao",
     kEs,
     u"CNPJ:\t27.080.571/0001-30\tInscri\u00E7\u00E3o Estadual:\t082.123.45-6\n",
     {{u"cnpj", u"27.080.571/0001-30"}, {u"inscricaoestadual", u"082.123.45-6"}},
     true},
    {"es_cnpj_followed_by_a_blank_does_not_match",
     kEs,
     u"CNPJ:\t27.080.571/0001-30 Inscri\u00E7\u00E3o\n",
     {},
     false},
    {"es_cnpj_at_the_line_end_does_not_match", kEs, u"CNPJ:\t27.080.571/0001-30\n", {}, false},
    {"label_with_non_ascii_letters_in_capitals",
     kAm,
     u"INSCRI\u00C7\u00C3O ESTADUAL:\t04.123.456-7\n",
     {{u"inscricaoestadual", u"04.123.456-7"}},
     true},
    {"label_with_non_ascii_letters_in_small_letters",
     kAm,
     u"inscri\u00E7\u00E3o estadual:\t04.123.456-7\n",
     {{u"inscricaoestadual", u"04.123.456-7"}},
     true},
    {"separator_class_takes_a_typographic_dash",
     kAm,
     u"C.N.P.J:\u2013 12.345.678/0001-90\n",
     {{u"cnpj", u"12.345.678/0001-90"}},
     true},
    {"white_space_class_takes_a_vertical_tab",
     kBa,
     u"Raz\u00E3o Social:\tEMPRESA\vLTDA\u00A0\n",
     {{u"nome", u"EMPRESA\vLTDA"}, {u"razaosocial", u"EMPRESA\vLTDA"}},
     true},
    {"label_without_its_accents_does_not_match",
     kAm,
     u"Inscricao Estadual:\t04.123.456-7\n",
     {},
     false},
    {"sp_label_needs_its_no_break_space", kSp, u"Nome Fantasia:\tLOJA\n", {}, false},
    {"nbsp_inside_a_value_joins_the_words",
     kSp,
     u"Logradouro:\tRUA\u00A0DAS\u00A0FLORES\n",
     {{u"endereco", u"RUADASFLORES"}},
     true},
    {"value_of_blanks_and_nbsp_is_empty_but_matched",
     kSp,
     u"Complemento:\t \u00A0 \u00A0\n",
     {{u"complemento", u""}},
     true},
    {"line_break_inside_a_value_is_kept",
     kBa,
     u"Logradouro:\tRUA A\nQUADRA 2\u00A0\n",
     {{u"endereco", u"RUA A\nQUADRA 2"}},
     true},
    {"every_field_searches_the_whole_text",
     kSp,
     u"CEP:\t01000-000\t\nCNPJ:\t1.2/3-4\n",
     {{u"cnpj", u"1.2/3-4"}, {u"cep", u"01000-000"}},
     true},
    {"first_occurrence_wins", kSp, u"UF:\tSP\nUF:\tRJ\n", {{u"estado", u"SP"}}, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, ExtractionEdgeTest, testing::ValuesIn(kEdgeCases),
                         [](const testing::TestParamInfo<ExtractionCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(ExtractionTest, NothingMatchedGivesEveryLineEndingWithEquals)
{
    for (int portal = kCcc; portal <= kSp; ++portal) {
        const ExtractionResult result =
            CompiledPortal(Table()[portal]).ExtractFields(u"Consulta sem resultado.\n");
        EXPECT_EQ(result.lines, ExpectedLines(portal, {})) << portal;
        EXPECT_FALSE(result.success);
        for (MatchStatus status : result.statuses)
            EXPECT_EQ(status, MatchStatus::NoMatch);
    }
}

TEST(ExtractionTest, PortalWithoutFieldsGivesNoLines)
{
    TURIEstado portal;
    portal.estado = QStringLiteral("XX");
    const ExtractionResult result = CompiledPortal(portal).ExtractFields(u"CNPJ:\t1");
    EXPECT_TRUE(result.lines.isEmpty());
    EXPECT_FALSE(result.success);
}

TEST(ExtractionTest, ExpressionsThatCannotWorkCountAsNotMatched)
{
    TURIEstado portal;
    portal.estado = QStringLiteral("XX");
    portal.responseStringDetection = QStringLiteral("(");
    AddField(QStringLiteral("broken"), QStringLiteral("(?:abc"), portal.fieldDefs);
    AddField(QStringLiteral("nogroup"), QStringLiteral("abc"), portal.fieldDefs);
    AddField(QStringLiteral("good"), QStringLiteral("(x+)"), portal.fieldDefs);
    const CompiledPortal compiled(portal);

    EXPECT_FALSE(compiled.DetectResultPage(u"( abc"));
    const QStringList problems = compiled.Problems();
    ASSERT_EQ(problems.size(), 3) << problems.join(u'|').toStdString();
    EXPECT_TRUE(problems[0].startsWith(u"detection expression does not compile, at offset 1: "));
    EXPECT_TRUE(
        problems[1].startsWith(u"field broken: expression does not compile, at offset 6: "));
    EXPECT_EQ(problems[2], QStringLiteral("field nogroup: expression has no capturing group"));

    const ExtractionResult some = compiled.ExtractFields(u"abc xx");
    EXPECT_EQ(some.lines, (QStringList{QStringLiteral("broken="), QStringLiteral("nogroup="),
                                       QStringLiteral("good=xx")}));
    EXPECT_TRUE(some.success);
    EXPECT_EQ(some.statuses,
              (QList<MatchStatus>{MatchStatus::NotCompiled, MatchStatus::NoCapturingGroup,
                                  MatchStatus::Matched}));

    // "abc" is found, but without a group there is no value: not a match.
    EXPECT_FALSE(compiled.ExtractFields(u"abc").success);
}

TEST(ExtractionTest, BuiltInPortalsHaveNoProblems)
{
    for (const TURIEstado& portal : Table())
        EXPECT_EQ(CompiledPortal(portal).Problems(), QStringList()) << portal.estado.toStdString();
}

// ---------------------------------------------------------------------------------------------

struct DetectionCase
{
    const char* name;
    int portal;
    std::u16string_view text;
    bool expected;
};

TEST(DetectionTest, ContentPortalsAndUrlPortals)
{
    const DetectionCase cases[] = {
        {"ccc_as_written", kCcc, u"...\nIdentifica\u00E7\u00E3o do Contribuinte\n...", true},
        {"ccc_ascii_letters_in_capitals", kCcc, u"IDENTIFICA\u00E7\u00E3O DO CONTRIBUINTE", true},
        {"ccc_all_capitals", kCcc, u"IDENTIFICA\u00C7\u00C3O DO CONTRIBUINTE", true},
        {"ccc_without_accents", kCcc, u"Identificacao do Contribuinte", false},
        {"ccc_empty", kCcc, u"", false},
        {"sp_with_final_blank", kSp, u"C\u00F3digo de controle da consulta: 7F3A", true},
        {"sp_at_text_end_without_blank", kSp, u"C\u00F3digo de controle da consulta:", false},
        {"sp_tab_instead_of_blank", kSp, u"C\u00F3digo de controle da consulta:\t7F3A", false},
        {"sp_nbsp_instead_of_blank", kSp, u"C\u00F3digo de controle da consulta:\u00A07F3A", false},
        {"sp_o_without_accent", kSp, u"Codigo de controle da consulta: 7F3A", false},
        {"sp_capital_o_acute", kSp, u"C\u00D3DIGO DE CONTROLE DA CONSULTA: 7F3A", true},
        {"am_by_url_only", kAm, u"Identifica\u00E7\u00E3o do Contribuinte", false},
        {"es_by_url_only", kEs, u"C\u00F3digo de controle da consulta: ", false},
        {"ba_by_url_only", kBa, u"anything", false},
    };
    for (const DetectionCase& c : cases) {
        for (const bool jit : {true, false}) {
            EXPECT_EQ(CompiledPortal(Table()[c.portal], CompileOptions{jit})
                          .DetectResultPage(QStringView(c.text)),
                      c.expected)
                << c.name << (jit ? " JIT" : " interpreter");
        }
    }
}

// ---------------------------------------------------------------------------------------------

class RealisticPageTest : public testing::TestWithParam<std::tuple<int, bool>>
{};

TEST_P(RealisticPageTest, GivesTheExpectedBlock)
{
    const auto [portal, jit] = GetParam();
    const QString key = kPortalKeys[portal];
    const QString text = ReadTestData(key + QStringLiteral(".txt"));
    const QString expected = ReadTestData(key + QStringLiteral(".expected"));
    ASSERT_FALSE(text.isEmpty());
    ASSERT_FALSE(expected.isEmpty());

    const CompiledPortal compiled(Table()[portal], CompileOptions{jit});
    const ExtractionResult result = compiled.ExtractFields(text);
    EXPECT_EQ(Block(result.lines), expected);
    EXPECT_TRUE(result.success);
    EXPECT_EQ(compiled.DetectResultPage(text), portal == kCcc || portal == kSp);
}

INSTANTIATE_TEST_SUITE_P(Pages, RealisticPageTest,
                         testing::Combine(testing::Range(int(kCcc), int(kSp) + 1), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<int, bool>>& info) {
                             return kPortalKeys[std::get<0>(info.param)].toStdString() +
                                    (std::get<1>(info.param) ? "_jit" : "_interpreter");
                         });

} // namespace
