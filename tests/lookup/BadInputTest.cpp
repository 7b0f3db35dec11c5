// Text that is not what a portal page usually holds: invalid UTF-16, NULs, random units,
// very large texts, and texts built to make the expressions backtrack hard. None may crash or
// stall; a limit reached counts as "not matched" for that field only.

#include "BuiltInTable.h"
#include "QtPrinters.h"
#include "TestData.h"
#include "lookup/Extraction.h"
#include "portals/PortalTable.h"

#include <gtest/gtest.h>
#include <random>

namespace {

QString Page(int portal)
{
    return ReadTestData(kPortalKeys[portal] + QStringLiteral(".txt"));
}

QStringList ExpectedLines(int portal)
{
    return ReadTestData(kPortalKeys[portal] + QStringLiteral(".expected"))
        .split(u'\n', Qt::SkipEmptyParts);
}

// Neutral text without any label, repeated up to size code units.
QString Filler(qsizetype size)
{
    const QString sentence = QString::fromUtf16(
        u"A consulta p\u00FAblica n\u00E3o substitui documentos oficiais\tVers\u00E3o 2.4\n"
        u"Secretaria da Fazenda \u2013 atendimento ao contribuinte de segunda a sexta\n");
    QString text;
    text.reserve(size + sentence.size());
    while (text.size() < size)
        text += sentence;
    return text;
}

void ExpectOnlyOrdinaryOutcomes(const ExtractionResult& result, int portal)
{
    EXPECT_EQ(result.lines.size(), Table()[portal].fieldDefs.size());
    for (qsizetype i = 0; i < result.lines.size(); ++i) {
        EXPECT_TRUE(result.lines[i].startsWith(Table()[portal].fieldDefs[i].fieldName + u'='));
        EXPECT_NE(result.statuses[i], MatchStatus::EngineError) << portal << " " << i;
    }
}

TEST(BadInputTest, LoneSurrogatesAndNulsAroundThePageChangeNothing)
{
    const QString before = QString::fromUtf16(u"\xD800\0Aviso\xDC00 importante\n\xDBFF", 21);
    const QString after = QString::fromUtf16(u"\0\xDFFF\xD800", 3);
    for (int portal = kCcc; portal <= kSp; ++portal) {
        const CompiledPortal compiled(Table()[portal]);
        const QString text = before + Page(portal) + after;
        EXPECT_EQ(compiled.ExtractFields(text).lines, ExpectedLines(portal)) << portal;
        EXPECT_EQ(compiled.DetectResultPage(text), portal == kCcc || portal == kSp);
    }
}

TEST(BadInputTest, RandomCodeUnitsIncludingSurrogates)
{
    std::mt19937 random(20241210);
    std::uniform_int_distribution<int> unit(0, 0xFFFF);
    QString text(1 << 20, Qt::Uninitialized);
    for (QChar& c : text)
        c = QChar(static_cast<char16_t>(unit(random)));
    for (int portal = kCcc; portal <= kSp; ++portal) {
        const CompiledPortal compiled(Table()[portal]);
        ExpectOnlyOrdinaryOutcomes(compiled.ExtractFields(text), portal);
        compiled.DetectResultPage(text);
    }
}

TEST(BadInputTest, RandomSoupOfLabelsAndSeparators)
{
    const QStringList pieces = {QStringLiteral("CNPJ:"),
                                QStringLiteral("C.N.P.J:"),
                                QString::fromUtf16(u"Raz\u00E3o Social:"),
                                QString::fromUtf16(u"Munic\u00EDpio IBGE:\n"),
                                QString::fromUtf16(u"Inscri\u00E7\u00E3o"),
                                QStringLiteral("Telefone:"),
                                QStringLiteral("UF:"),
                                QStringLiteral("CEP:\n"),
                                QStringLiteral("\t"),
                                QStringLiteral("."),
                                QStringLiteral("-"),
                                QStringLiteral("/"),
                                QStringLiteral("\n"),
                                QStringLiteral(" "),
                                QString(QChar(0x00A0)),
                                QString(QChar(0xD800)),
                                QString(QChar(0)),
                                QStringLiteral("1"),
                                QStringLiteral("A"),
                                QStringLiteral("(")};
    std::mt19937 random(7);
    std::uniform_int_distribution<qsizetype> pick(0, pieces.size() - 1);
    QString text;
    while (text.size() < (1 << 20))
        text += pieces[pick(random)];
    for (int portal = kCcc; portal <= kSp; ++portal) {
        for (const bool jit : {true, false}) {
            const CompiledPortal compiled(Table()[portal], CompileOptions{jit});
            ExpectOnlyOrdinaryOutcomes(compiled.ExtractFields(text), portal);
        }
    }
}

TEST(BadInputTest, SixteenMebibytesBeforeThePageStillGiveItsBlock)
{
    const QString filler = Filler(16 * 1024 * 1024);
    for (const int portal : {kCcc, kSp}) {
        const CompiledPortal compiled(Table()[portal]);
        const QString text = filler + Page(portal);
        EXPECT_EQ(compiled.ExtractFields(text).lines, ExpectedLines(portal)) << portal;
        EXPECT_TRUE(compiled.DetectResultPage(text));
    }
}

TEST(BacktrackingTest, OneHugeRunStopsThatFieldAtTheLimit)
{
    // "CNPJ:" and 16 Mi dots: ES's CNPJ expression would need time quadratic in the run.
    const QString text =
        QStringLiteral("CNPJ:") + QString(16 * 1024 * 1024, u'.') + u'\n' + Page(kEs);
    const ExtractionResult result = CompiledPortal(Table()[kEs]).ExtractFields(text);
    QStringList expected = ExpectedLines(kEs);
    expected[0] = QStringLiteral("cnpj="); // the limit ends this field's search for good
    EXPECT_EQ(result.lines, expected);
    EXPECT_EQ(result.statuses[0], MatchStatus::LimitExceeded);
    EXPECT_TRUE(result.success);
}

TEST(BacktrackingTest, ManyRunsJustUnderTheLimitStillReachTheValue)
{
    // Each start costs a few thousand steps, below the limit, so the search goes on.
    const QString unit = QStringLiteral("CNPJ:") + QString(120, u'.') + QStringLiteral("x\n");
    QString text;
    while (text.size() < (1 << 20))
        text += unit;
    text += Page(kEs);
    for (const bool jit : {true, false}) {
        const ExtractionResult result =
            CompiledPortal(Table()[kEs], CompileOptions{jit}).ExtractFields(text);
        EXPECT_EQ(result.lines, ExpectedLines(kEs)) << jit;
    }
}

TEST(BacktrackingTest, ManyCityLabelsWithoutAValueStillReachTheValue)
{
    // Every label makes CCC's city expression scan to the next hyphen and back.
    QString block;
    for (int i = 0; i < 100; ++i)
        block += QString::fromUtf16(u"Munic\u00EDpio IBGE:\n");
    block += QStringLiteral("-x");
    QString text;
    while (text.size() < (1 << 20))
        text += block;
    text += Page(kCcc);
    for (const bool jit : {true, false}) {
        const ExtractionResult result =
            CompiledPortal(Table()[kCcc], CompileOptions{jit}).ExtractFields(text);
        EXPECT_EQ(result.lines, ExpectedLines(kCcc)) << jit;
    }
}

} // namespace
