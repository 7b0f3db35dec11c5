#include "lookup/PortalFile.h"

#include "BrokenPortalFiles.h"
#include "QtPrinters.h"
#include "TestData.h"
#include "lookup/Extraction.h"
#include "portals/PortalTable.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray BuiltInJson()
{
    return PortalTableToJson(BuiltInKeyedPortals(BuiltInPortals()));
}

TEST(PortalFileTest, DumpThenLoadGivesTheBuiltInTableMemberByMember)
{
    const TURIEstados builtIn = BuiltInPortals();
    const PortalFileResult loaded = ParsePortalFile(BuiltInJson(), QStringLiteral("dump"));
    ASSERT_TRUE(loaded.ok()) << loaded.problems.join(u'\n').toStdString();
    EXPECT_EQ(loaded.table.keys, kPortalKeys);
    ASSERT_EQ(loaded.table.portals.size(), builtIn.size());
    for (qsizetype i = 0; i < builtIn.size(); ++i) {
        const TURIEstado& a = builtIn.at(i);
        const TURIEstado& b = loaded.table.portals.at(i);
        EXPECT_EQ(b.estado, a.estado);
        EXPECT_EQ(b.URLconsulta, a.URLconsulta);
        EXPECT_EQ(b.URLresposta, a.URLresposta);
        EXPECT_EQ(b.responseStringDetection, a.responseStringDetection);
        EXPECT_EQ(b.consultaReadyScript, a.consultaReadyScript);
        EXPECT_EQ(b.consultaFillScript, a.consultaFillScript);
        ASSERT_EQ(b.fieldDefs.size(), a.fieldDefs.size());
        for (qsizetype j = 0; j < a.fieldDefs.size(); ++j) {
            EXPECT_EQ(b.fieldDefs.at(j).fieldName, a.fieldDefs.at(j).fieldName);
            EXPECT_EQ(b.fieldDefs.at(j).fieldRegEx, a.fieldDefs.at(j).fieldRegEx);
        }
        // Every sample page gives the same lines through both tables.
        const QString page = ReadTestData(kPortalKeys.at(i) + QStringLiteral(".txt"));
        EXPECT_EQ(CompiledPortal(b).ExtractFields(page).lines,
                  CompiledPortal(a).ExtractFields(page).lines)
            << kPortalKeys.at(i).toStdString();
    }
}

TEST(PortalFileTest, BrokenFilesAreRefusedWithThePlaceNamed)
{
    for (const BrokenCase& c : BrokenPortalFiles()) {
        SCOPED_TRACE(c.name);
        const PortalFileResult r = ParsePortalFile(c.bytes, QStringLiteral("f.json"));
        EXPECT_FALSE(r.ok());
        EXPECT_TRUE(r.table.portals.isEmpty());
        EXPECT_TRUE(r.problems.join(u'\n').contains(QLatin1StringView(c.expected)))
            << r.problems.join(u'\n').toStdString();
    }
    EXPECT_TRUE(ParsePortalFile(ManyPortals(64), QStringLiteral("f.json")).ok());
    EXPECT_TRUE(ParsePortalFile(OnePortal(), QStringLiteral("f.json")).ok());
}

TEST(PortalFileTest, FillScriptIsOptionalAndKeptWhenGiven)
{
    // Files written before the member existed have none: the query is not filled in.
    const PortalFileResult without = ParsePortalFile(OnePortal(), QStringLiteral("f.json"));
    ASSERT_TRUE(without.ok()) << without.problems.join(u'\n').toStdString();
    EXPECT_TRUE(without.table.portals.at(0).consultaFillScript.isEmpty());

    const PortalFileResult with = ParsePortalFile(
        OnePortal("consultaFillScript", R"j("function (d) { x.value = d.cnpj; }")j"),
        QStringLiteral("f.json"));
    ASSERT_TRUE(with.ok()) << with.problems.join(u'\n').toStdString();
    EXPECT_EQ(with.table.portals.at(0).consultaFillScript,
              QStringLiteral("function (d) { x.value = d.cnpj; }"));
    const QJsonObject dumped = QJsonDocument::fromJson(PortalTableToJson(with.table))
                                   .object()
                                   .value(u"portals")
                                   .toArray()
                                   .at(0)
                                   .toObject();
    EXPECT_EQ(dumped.value(u"consultaFillScript").toString(),
              with.table.portals.at(0).consultaFillScript);
}

TEST(PortalFileTest, UnreadableFolderAndMissingPathsAreRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(LoadPortalFile(dir.path()).problems.join(u' ').contains(u"is a folder"));
    EXPECT_TRUE(LoadPortalFile(dir.filePath(QStringLiteral("none.json")))
                    .problems.join(u' ')
                    .contains(u"cannot open"));
    QFile file(dir.filePath(QStringLiteral("p.json")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(BuiltInJson());
    file.close();
    EXPECT_TRUE(LoadPortalFile(file.fileName()).ok());
    file.setPermissions(QFileDevice::Permissions());
    if (!QFile(file.fileName()).open(QIODevice::ReadOnly)) { // root reads anything
        EXPECT_TRUE(LoadPortalFile(file.fileName()).problems.join(u' ').contains(u"cannot open"));
    }
}

TEST(PortalFileTest, SearchOrderVariableThenBesideExecutableThenEtc)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString exeDir = dir.filePath(QStringLiteral("bin"));
    const QString etc = dir.filePath(QStringLiteral("etc.json"));
    QDir().mkpath(exeDir);
    const QString beside = QDir(exeDir).filePath(QStringLiteral("portals.json"));
    EXPECT_EQ(FindPortalFile({}, exeDir, etc), QString());
    ASSERT_TRUE(QFile(etc).open(QIODevice::WriteOnly));
    EXPECT_EQ(FindPortalFile({}, exeDir, etc), etc);
    ASSERT_TRUE(QFile(beside).open(QIODevice::WriteOnly));
    EXPECT_EQ(FindPortalFile({}, exeDir, etc), beside);
    EXPECT_EQ(FindPortalFile(QStringLiteral("/x/v.json"), exeDir, etc),
              QStringLiteral("/x/v.json"));
}

TEST(PortalFileTest, ChosenTableFileOrBuiltInWithHostsOnTop)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    PortalHosts hosts;
    ASSERT_TRUE(
        ApplyPortalHostsOverride(QStringLiteral("am=http://127.0.0.2:8081"), hosts).isEmpty());

    // None found: the built-in table with the hosts applied.
    const PortalTableChoice none = ChoosePortalTable({}, dir.path(), {}, hosts);
    EXPECT_TRUE(none.file.isEmpty());
    EXPECT_EQ(PortalTableToJson(none.table),
              PortalTableToJson(BuiltInKeyedPortals(BuiltInPortals(hosts))));

    // A file with only two portals, the second renamed: it replaces the whole table.
    KeyedPortalTable two = BuiltInKeyedPortals(BuiltInPortals());
    two.keys = two.keys.mid(1, 2);
    two.portals = two.portals.mid(1, 2);
    two.portals[1].estado = QStringLiteral("Espírito Santo");
    const QString path = dir.filePath(QStringLiteral("portals.json"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(PortalTableToJson(two));
    file.close();
    const PortalTableChoice fromFile = ChoosePortalTable({}, dir.path(), {}, hosts);
    EXPECT_EQ(fromFile.file, path);
    EXPECT_TRUE(fromFile.problems.isEmpty());
    EXPECT_EQ(fromFile.table.keys, (QStringList{QStringLiteral("am"), QStringLiteral("es")}));
    ASSERT_EQ(fromFile.table.portals.size(), 2);
    EXPECT_EQ(fromFile.table.portals.at(0).URLconsulta, BuiltInPortals(hosts).at(1).URLconsulta);
    EXPECT_EQ(fromFile.table.portals.at(0).URLresposta, BuiltInPortals(hosts).at(1).URLresposta);
    EXPECT_EQ(fromFile.table.portals.at(1).estado, QStringLiteral("Espírito Santo"));
    EXPECT_EQ(fromFile.table.portals.at(1).URLconsulta, BuiltInPortals().at(2).URLconsulta);

    // A refused file: its problems, and the built-in table in force.
    const QString bad = dir.filePath(QStringLiteral("bad.json"));
    QFile badFile(bad);
    ASSERT_TRUE(badFile.open(QIODevice::WriteOnly));
    badFile.write("{");
    badFile.close();
    const PortalTableChoice refused = ChoosePortalTable(bad, dir.path(), {}, PortalHosts());
    EXPECT_EQ(refused.file, bad);
    ASSERT_EQ(refused.problems.size(), 1);
    EXPECT_TRUE(refused.problems.at(0).startsWith(bad + QStringLiteral(":1:2:")))
        << refused.problems.at(0).toStdString();
    EXPECT_EQ(PortalTableToJson(refused.table), BuiltInJson());
}

} // namespace
