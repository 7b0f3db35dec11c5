// Extraction of every field of each built-in portal: with the expressions compiled once (as
// the program does) and compiled anew at every evaluation (the naive way), on the realistic
// page texts and on 64 KiB and 1 MiB texts that end with the same page.

#include "lookup/Extraction.h"
#include "portals/PortalTable.h"

#include <QFile>
#include <array>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

QString ReadPage(const QString& key)
{
    QFile file(QStringLiteral(QUARVEL_BENCH_DATA_DIR "/") + key + QStringLiteral(".txt"));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "bench_extraction: cannot read %s\n",
                     file.fileName().toLocal8Bit().constData());
        std::exit(1);
    }
    return QString::fromUtf8(file.readAll());
}

// Neutral page text without labels in front of the page, up to size code units: every field
// expression that is not found early has to scan all of it.
QString Padded(const QString& page, qsizetype size)
{
    const QString sentence = QString::fromUtf16(
        u"A consulta p\u00FAblica n\u00E3o substitui documentos oficiais\tVers\u00E3o 2.4\n"
        u"Secretaria da Fazenda \u2013 atendimento ao contribuinte de segunda a sexta\n");
    QString text;
    text.reserve(size);
    while (text.size() + sentence.size() + page.size() <= size)
        text += sentence;
    text += page;
    return text;
}

void CountBytes(benchmark::State& state, const QString& text)
{
    state.SetBytesProcessed(state.iterations() * text.size() * qsizetype(sizeof(QChar)));
}

void CompiledOnce(benchmark::State& state, const TURIEstado& portal, const QString& text)
{
    const CompiledPortal compiled(portal);
    bool success = false;
    for (auto _ : state) {
        const ExtractionResult result = compiled.ExtractFields(text);
        benchmark::DoNotOptimize(result.lines.constData());
        success = result.success;
    }
    if (!success)
        state.SkipWithError("no field matched");
    CountBytes(state, text);
}

// What the program would do without keeping the compiled expressions: compile each one
// (without JIT, which only pays off when kept) right before evaluating it.
void CompileEachTime(benchmark::State& state, const TURIEstado& portal, const QString& text,
                     bool jit)
{
    bool success = false;
    for (auto _ : state) {
        const CompiledPortal compiled(portal, CompileOptions{jit});
        const ExtractionResult result = compiled.ExtractFields(text);
        benchmark::DoNotOptimize(result.lines.constData());
        success = result.success;
    }
    if (!success)
        state.SkipWithError("no field matched");
    CountBytes(state, text);
}

// The most literal naive reading: every expression made from scratch, with its own character
// tables and match buffers, for every evaluation.
void CompileEachExpressionAlone(benchmark::State& state, const TURIEstado& portal,
                                const QString& text)
{
    bool success = false;
    for (auto _ : state) {
        QStringList lines;
        success = false;
        for (const TFieldDef& field : portal.fieldDefs) {
            const CompiledExpression expression(field.fieldRegEx, CompileOptions{false});
            const MatchOutcome outcome = expression.match(text);
            QString line = field.fieldName + u'=';
            if (outcome.matched()) {
                if (outcome.captureStart >= 0)
                    line += CleanFieldValue(
                        QStringView(text).sliced(outcome.captureStart, outcome.captureLength));
                success = true;
            }
            lines << line;
        }
        benchmark::DoNotOptimize(lines.constData());
    }
    if (!success)
        state.SkipWithError("no field matched");
    CountBytes(state, text);
}

void Adversarial(benchmark::State& state, const TURIEstado& portal, const QString& text)
{
    const CompiledPortal compiled(portal);
    for (auto _ : state)
        benchmark::DoNotOptimize(compiled.ExtractFields(text).lines.constData());
    CountBytes(state, text);
}

} // namespace

int main(int argc, char** argv)
{
    // Texts and portals are locals of main: they outlive every benchmark run.
    const TURIEstados table = BuiltInPortals();
    const QList<BuiltInPortalPaths>& portals = BuiltInPortalPathList();
    std::vector<std::array<QString, 3>> texts(static_cast<std::size_t>(portals.size()));
    const qsizetype sizes[] = {0, 64 * 1024, 1024 * 1024};
    const char* sizeNames[] = {"page", "64KiB", "1MiB"};

    for (qsizetype p = 0; p < portals.size(); ++p) {
        const std::string key = portals[p].key.toStdString();
        const QString page = ReadPage(portals[p].key);
        for (int s = 0; s < 3; ++s) {
            texts[p][s] = s == 0 ? page : Padded(page, sizes[s]);
            const std::string suffix = key + "/" + sizeNames[s];
            benchmark::RegisterBenchmark(("compiled_once/" + suffix).c_str(), CompiledOnce,
                                         std::cref(table[p]), std::cref(texts[p][s]));
        }
        benchmark::RegisterBenchmark(("compile_each_time/" + key + "/page").c_str(),
                                     CompileEachTime, std::cref(table[p]), std::cref(texts[p][0]),
                                     false);
        benchmark::RegisterBenchmark(("compile_each_time_jit/" + key + "/page").c_str(),
                                     CompileEachTime, std::cref(table[p]), std::cref(texts[p][0]),
                                     true);
        benchmark::RegisterBenchmark(("compile_each_expression_alone/" + key + "/page").c_str(),
                                     CompileEachExpressionAlone, std::cref(table[p]),
                                     std::cref(texts[p][0]));
    }

    // Worst cases for the match limit: many starts that each stay just under it.
    QString esRuns;
    const QString unit = QStringLiteral("CNPJ:") + QString(135, u'.') + QStringLiteral("x\n");
    while (esRuns.size() < 1024 * 1024)
        esRuns += unit;
    esRuns += ReadPage(QStringLiteral("es"));
    benchmark::RegisterBenchmark("backtracking/es_cnpj_runs/1MiB", Adversarial,
                                 std::cref(table[PortalIndexForKey(u"es")]), std::cref(esRuns));
    QString cccLabels;
    QString block;
    for (int i = 0; i < 100; ++i)
        block += QString::fromUtf16(u"Munic\u00EDpio IBGE:\n");
    block += QStringLiteral("-x");
    while (cccLabels.size() < 1024 * 1024)
        cccLabels += block;
    cccLabels += ReadPage(QStringLiteral("ccc"));
    benchmark::RegisterBenchmark("backtracking/ccc_city_labels/1MiB", Adversarial,
                                 std::cref(table[PortalIndexForKey(u"ccc")]), std::cref(cccLabels));

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
