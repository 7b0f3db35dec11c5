#include "portals/PortalTable.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

const QString kCccName = QStringLiteral("Cadastro Centralizado de Contribuinte");

// The names of a portal's fields, in the order their lines are sent.
QStringList FieldNames(const TURIEstado& portal)
{
    QStringList names;
    for (const TFieldDef& field : portal.fieldDefs)
        names << field.fieldName;
    return names;
}

QString Regex(const TURIEstado& portal, const QString& fieldName)
{
    for (const TFieldDef& field : portal.fieldDefs) {
        if (field.fieldName == fieldName)
            return field.fieldRegEx;
    }
    return {};
}

struct GetIndexCase
{
    QString uf;
    int expected;
};

class GetIndexTest : public testing::TestWithParam<GetIndexCase>
{};

TEST_P(GetIndexTest, FindsTheDisplayNameExactly)
{
    EXPECT_EQ(GetIndex(BuiltInPortals(), GetParam().uf), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    BuiltInTable, GetIndexTest,
    testing::Values(GetIndexCase{QStringLiteral("SP"), 4}, GetIndexCase{QStringLiteral("sp"), -1},
                    GetIndexCase{kCccName, 0}, GetIndexCase{QString(), -1},
                    GetIndexCase{QStringLiteral(""), -1}, GetIndexCase{QStringLiteral("AM"), 1},
                    GetIndexCase{QStringLiteral("SP "), -1},
                    GetIndexCase{QStringLiteral("cadastro centralizado de contribuinte"), -1}));

TEST(GetIndexTest, ReturnsTheFirstOfRepeatedNames)
{
    TURIEstados table(3);
    table[0].estado = QStringLiteral("X");
    table[1].estado = QStringLiteral("Y");
    table[2].estado = QStringLiteral("Y");
    EXPECT_EQ(GetIndex(table, QStringLiteral("Y")), 1);
    EXPECT_EQ(GetIndex(TURIEstados(), QStringLiteral("Y")), -1);
}

TEST(PortalTableTest, RegistersTheFivePortalsInOrderEachWithItsOwnFields)
{
    TURIEstados registered;
    BuildPortalTable(PortalHosts(), [&](const TURIEstado& portal) { registered << portal; });

    ASSERT_EQ(registered.size(), 5);
    const QStringList names = {kCccName, QStringLiteral("AM"), QStringLiteral("ES"),
                               QStringLiteral("BA"), QStringLiteral("SP")};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(registered[i].estado, names[i]);

    EXPECT_EQ(FieldNames(registered[0]),
              (QStringList{FIELD_CNPJ, FIELD_CPF, FIELD_NOME, FIELD_RAZAOSOCIAL,
                           FIELD_INSCRICAOESTADUAL, FIELD_ENDERECO, FIELD_NUMERO, FIELD_COMPLEMENTO,
                           FIELD_BAIRRO, FIELD_CIDADE, FIELD_ESTADO, FIELD_CEP}));
    const QStringList amAndBa = {
        FIELD_CNPJ,     FIELD_NOME,     FIELD_RAZAOSOCIAL, FIELD_INSCRICAOESTADUAL,
        FIELD_TELEFONE, FIELD_ENDERECO, FIELD_NUMERO,      FIELD_COMPLEMENTO,
        FIELD_BAIRRO,   FIELD_CIDADE,   FIELD_ESTADO,      FIELD_CEP};
    EXPECT_EQ(FieldNames(registered[1]), amAndBa);
    EXPECT_EQ(
        FieldNames(registered[2]),
        (QStringList{FIELD_CNPJ, FIELD_CPF, FIELD_NOME, FIELD_RAZAOSOCIAL, FIELD_INSCRICAOESTADUAL,
                     FIELD_TELEFONE, FIELD_ENDERECO, FIELD_NUMERO, FIELD_COMPLEMENTO, FIELD_BAIRRO,
                     FIELD_CIDADE, FIELD_ESTADO, FIELD_CEP}));
    EXPECT_EQ(FieldNames(registered[3]), amAndBa);
    // SP's own 11 fields only: the working record starts empty for every portal.
    EXPECT_EQ(FieldNames(registered[4]),
              (QStringList{FIELD_CNPJ, FIELD_NOME, FIELD_RAZAOSOCIAL, FIELD_INSCRICAOESTADUAL,
                           FIELD_ENDERECO, FIELD_NUMERO, FIELD_COMPLEMENTO, FIELD_BAIRRO,
                           FIELD_CIDADE, FIELD_ESTADO, FIELD_CEP}));
}

TEST(PortalTableTest, TextsNotGivenToAPortalStayEmptyAfterOneThatHasThem)
{
    const TURIEstados table = BuiltInPortals();
    const TURIEstado& ba = table[3];
    const TURIEstado& sp = table[4];
    EXPECT_FALSE(ba.URLresposta.isEmpty());
    EXPECT_FALSE(ba.consultaReadyScript.isEmpty());
    EXPECT_TRUE(ba.responseStringDetection.isEmpty());
    EXPECT_TRUE(sp.URLresposta.isEmpty());
    EXPECT_TRUE(sp.consultaReadyScript.isEmpty());
    EXPECT_FALSE(sp.responseStringDetection.isEmpty());
    // The CCC portal, first of all, has neither a result prefix nor a script either.
    EXPECT_TRUE(table[0].URLresposta.isEmpty());
    EXPECT_TRUE(table[0].consultaReadyScript.isEmpty());
}

TEST(PortalTableTest, UrlsAreTheHostFollowedByTheTablePath)
{
    const TURIEstados table = BuiltInPortals();
    EXPECT_EQ(table[0].URLconsulta, QStringLiteral("https://dfe-portal.svrs.rs.gov.br/NFE/CCC"));
    EXPECT_EQ(table[1].URLconsulta,
              QStringLiteral("http://online.sefaz.am.gov.br/sintegra/index.asp"));
    EXPECT_EQ(table[1].URLresposta,
              QStringLiteral("http://online.sefaz.am.gov.br/sintegra/sintegra.asp?hash="));
    EXPECT_EQ(table[2].URLconsulta, QStringLiteral("http://www.sintegra.es.gov.br/"));
    EXPECT_EQ(table[2].URLresposta, QStringLiteral("http://www.sintegra.es.gov.br/resultado.php"));
    EXPECT_EQ(table[3].URLconsulta,
              QStringLiteral("http://www.sefaz.ba.gov.br/Sintegra/sintegra.asp?estado=BA"));
    EXPECT_EQ(table[3].URLresposta,
              QStringLiteral("http://www.sefaz.ba.gov.br/Sintegra/Result.asp"));
    EXPECT_EQ(table[4].URLconsulta,
              QStringLiteral("https://www.cadesp.fazenda.sp.gov.br/Pages/Cadastro/Consultas/"
                             "ConsultaPublica/ConsultaPublica.aspx"));

    PortalHosts hosts;
    hosts.am = QStringLiteral("http://127.0.0.2:8081");
    hosts.sp = QStringLiteral("http://127.0.0.5:8085");
    const TURIEstados local = BuiltInPortals(hosts);
    EXPECT_EQ(local[1].URLconsulta, QStringLiteral("http://127.0.0.2:8081/sintegra/index.asp"));
    EXPECT_EQ(local[1].URLresposta,
              QStringLiteral("http://127.0.0.2:8081/sintegra/sintegra.asp?hash="));
    EXPECT_EQ(local[4].URLconsulta,
              QStringLiteral("http://127.0.0.5:8085/Pages/Cadastro/Consultas/ConsultaPublica/"
                             "ConsultaPublica.aspx"));
    EXPECT_EQ(local[2].URLconsulta, table[2].URLconsulta);
}

// The characters most easily lost when the table is typed.
TEST(PortalTableTest, KeepsTheExactCharactersOfTheTable)
{
    const TURIEstados table = BuiltInPortals();
    const TURIEstado& sp = table[4];
    EXPECT_EQ(Regex(sp, FIELD_NOME), QStringView(u"(?:Nome\u00A0Fantasia:)(?:[\\t]*)(.*)"));
    EXPECT_EQ(Regex(sp, FIELD_RAZAOSOCIAL),
              QStringView(u"(?:Nome\u00A0Empresarial:)(?:[\\t]*)(.*)"));
    EXPECT_EQ(Regex(sp, FIELD_NUMERO), QStringView(u"(?:N\u00BA:)(?:[\\t]*)([^\\t]*)"));
    EXPECT_EQ(sp.responseStringDetection, QStringView(u"C\u00F3digo de controle da consulta: "));
    EXPECT_EQ(table[0].responseStringDetection,
              QStringView(u"Identifica\u00E7\u00E3o do Contribuinte"));

    // No other blank of the table is a no-break space.
    for (const TURIEstado& portal : table) {
        for (const TFieldDef& field : portal.fieldDefs) {
            const bool spName = &portal == &sp && (field.fieldName == FIELD_NOME ||
                                                   field.fieldName == FIELD_RAZAOSOCIAL);
            EXPECT_EQ(field.fieldRegEx.count(QChar(0x00A0)), spName ? 1 : 0)
                << portal.estado.toStdString() << " " << field.fieldName.toStdString();
            EXPECT_FALSE(field.fieldRegEx.contains(QChar(0x00B0))); // degree sign
        }
    }

    const QString script = QStringLiteral(
        "const list = document.getElementsByTagName(\"a\"); for (let i = 0; i < list.length; "
        "i++) {  list[i].href = \"#\" }");
    EXPECT_EQ(script.size(), 110);
    for (int i : {1, 2, 3})
        EXPECT_EQ(table[i].consultaReadyScript, script) << i;
}

TEST(PortalTableTest, EveryPortalFillsItsQueryAndNoneSubmitsIt)
{
    const TURIEstados table = BuiltInPortals();
    for (const TURIEstado& portal : table) {
        const QString& script = portal.consultaFillScript;
        // Called as "(script)(data)": a function expression of one parameter.
        EXPECT_TRUE(script.startsWith(QStringLiteral("function (d) {")))
            << portal.estado.toStdString();
        EXPECT_TRUE(script.endsWith(u'}')) << portal.estado.toStdString();
        EXPECT_FALSE(script.contains(QStringLiteral("submit(")) ||
                     script.contains(QStringLiteral("requestSubmit")))
            << portal.estado.toStdString();
    }
}

TEST(PortalTableTest, TheSharedExpressionsAreTheSameTexts)
{
    const TURIEstados table = BuiltInPortals();
    const TURIEstado& am = table[1];
    const TURIEstado& es = table[2];
    EXPECT_EQ(Regex(am, FIELD_NOME), Regex(am, FIELD_RAZAOSOCIAL));
    EXPECT_EQ(Regex(table[3], FIELD_NOME), Regex(table[3], FIELD_RAZAOSOCIAL));
    for (const QString& name :
         {FIELD_INSCRICAOESTADUAL, FIELD_ENDERECO, FIELD_NUMERO, FIELD_COMPLEMENTO, FIELD_BAIRRO,
          FIELD_CIDADE, FIELD_ESTADO, FIELD_CEP})
        EXPECT_EQ(Regex(es, name), Regex(am, name)) << name.toStdString();
    EXPECT_EQ(Regex(table[4], FIELD_BAIRRO), Regex(am, FIELD_BAIRRO));
}

TEST(PortalRecordTest, RecordsAndFieldListsAreValues)
{
    TURIEstado original;
    original.estado = QStringLiteral("XX");
    AddField(FIELD_CNPJ, QStringLiteral("(a)"), original.fieldDefs);

    TURIEstados table;
    table.append(original); // what registration stores
    original.estado = QStringLiteral("YY");
    AddField(FIELD_CPF, QStringLiteral("(b)"), original.fieldDefs);
    original.fieldDefs[0].fieldRegEx = QStringLiteral("(changed)");

    ASSERT_EQ(table[0].fieldDefs.size(), 1);
    EXPECT_EQ(table[0].estado, QStringLiteral("XX"));
    EXPECT_EQ(table[0].fieldDefs[0].fieldName, FIELD_CNPJ);
    EXPECT_EQ(table[0].fieldDefs[0].fieldRegEx, QStringLiteral("(a)"));
}

TEST(PortalRecordTest, PushFieldDefAppendsACopyAtTheEnd)
{
    TFieldDefList list;
    TFieldDef field{FIELD_CEP, QStringLiteral("(x)")};
    PushFieldDef(field, list);
    AddField(FIELD_CIDADE, QStringLiteral("(y)"), list);
    field.fieldRegEx = QStringLiteral("(z)");
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].fieldName, FIELD_CEP);
    EXPECT_EQ(list[0].fieldRegEx, QStringLiteral("(x)"));
    EXPECT_EQ(list[1].fieldName, FIELD_CIDADE);
}

TEST(PortalTableTest, KeysNameThePortalsInTableOrder)
{
    const TURIEstados table = BuiltInPortals();
    EXPECT_EQ(PortalIndexForKey(QStringLiteral("ccc")), 0);
    EXPECT_EQ(PortalIndexForKey(QStringLiteral("am")), 1);
    EXPECT_EQ(PortalIndexForKey(QStringLiteral("es")), 2);
    EXPECT_EQ(PortalIndexForKey(QStringLiteral("ba")), 3);
    EXPECT_EQ(PortalIndexForKey(QStringLiteral("sp")), 4);
    EXPECT_EQ(PortalIndexForKey(QStringLiteral("SP")), -1);
    EXPECT_EQ(PortalIndexForKey(QString()), -1);
    EXPECT_EQ(PortalIndexForKey(kCccName), -1);
    EXPECT_EQ(table[PortalIndexForKey(QStringLiteral("ba"))].estado, QStringLiteral("BA"));
}

TEST(PortalTableTest, PathListGivesEachPortalsKeyAndPagePaths)
{
    PortalHosts hosts;
    ASSERT_TRUE(ApplyPortalHostsOverride(QStringLiteral("ccc=http://h0,am=http://h1,es=http://h2,"
                                                        "ba=http://h3,sp=http://h4"),
                                         hosts)
                    .isEmpty());
    const TURIEstados table = BuiltInPortals(hosts);
    const QList<BuiltInPortalPaths>& paths = BuiltInPortalPathList();
    ASSERT_EQ(paths.size(), table.size());
    for (int i = 0; i < table.size(); ++i) {
        const QString origin = QStringLiteral("http://h%1").arg(i);
        EXPECT_EQ(PortalIndexForKey(paths[i].key), i);
        EXPECT_EQ(origin + paths[i].queryPath, table[i].URLconsulta);
        EXPECT_EQ(paths[i].resultPath.isEmpty() ? QString() : origin + paths[i].resultPath,
                  table[i].URLresposta);
    }
}

} // namespace
