// The quarvel-extract tool, run as a program on the realistic page texts.

#include "BrokenPortalFiles.h"
#include "QuarvelVersion.h"
#include "TestData.h"
#include "TestUtil.h"
#include "Utf8Validation.h"

#include <QByteArray>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <string_view>

using namespace std::literals;

namespace {

struct ToolRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun RunTool(const QStringList& arguments, const QByteArray& input = QByteArray(),
                const QString& hosts = QString())
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QUARVEL_PORTAL_HOSTS"));
    if (!hosts.isEmpty())
        environment.insert(QStringLiteral("QUARVEL_PORTAL_HOSTS"), hosts);
    const ProgramRun program = RunProgram(QStringLiteral(QUARVEL_EXTRACT_EXE), arguments, QString(),
                                          60000, environment, input);
    ToolRun run;
    if (program.finished)
        run.exitCode = program.exitStatus == QProcess::NormalExit ? program.exitCode : -2;
    run.out = program.standardOutput;
    run.err = program.standardError;
    return run;
}

QString DataPath(const QString& name)
{
    return QStringLiteral(QUARVEL_TEST_DATA_DIR "/") + name;
}

QByteArray DataBytes(const QString& name)
{
    QFile file(DataPath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A file in a temporary folder holding bytes.
class ToolTest : public testing::Test
{
protected:
    QString Write(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("page%1.txt").arg(++m_count));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QTemporaryDir m_dir;
    int m_count = 0;
};

class ToolPageTest : public testing::TestWithParam<QString>
{};

TEST_P(ToolPageTest, PrintsTheExpectedBlockAndTheDetection)
{
    const QString key = GetParam();
    const ToolRun run = RunTool({key, DataPath(key + QStringLiteral(".txt"))});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, DataBytes(key + QStringLiteral(".expected")));
    const bool byContent = key == u"ccc" || key == u"sp";
    EXPECT_EQ(run.err.contains("detection: matched"), byContent) << run.err.toStdString();
    EXPECT_EQ(run.err.contains("recognised by its result URL"), !byContent)
        << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("fields matched: ")) << run.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Portals, ToolPageTest, testing::ValuesIn(kPortalKeys),
                         [](const testing::TestParamInfo<QString>& info) {
                             return info.param.toStdString();
                         });

TEST_F(ToolTest, AcceptsDisplayNamesAndStandardInput)
{
    const ToolRun byName = RunTool({QStringLiteral("Cadastro Centralizado de Contribuinte"),
                                    DataPath(QStringLiteral("ccc.txt"))});
    EXPECT_EQ(byName.exitCode, 0);
    EXPECT_EQ(byName.out, DataBytes(QStringLiteral("ccc.expected")));

    const ToolRun fromStdin =
        RunTool({QStringLiteral("SP"), QStringLiteral("-")}, DataBytes(QStringLiteral("sp.txt")));
    EXPECT_EQ(fromStdin.exitCode, 0) << fromStdin.err.toStdString();
    EXPECT_EQ(fromStdin.out, DataBytes(QStringLiteral("sp.expected")));
}

TEST_F(ToolTest, ExitsWithOneWhenNoFieldMatched)
{
    const ToolRun run = RunTool({QStringLiteral("am"), Write("Consulta sem resultado.\n")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, QByteArray("cnpj=\nnome=\nrazaosocial=\ninscricaoestadual=\ntelefone=\n"
                                  "endereco=\nnumero=\ncomplemento=\nbairro=\ncidade=\nestado=\n"
                                  "cep=\n"));
    EXPECT_TRUE(run.err.contains("fields matched: 0 of 12")) << run.err.toStdString();
}

TEST_F(ToolTest, SaysWhenTheDetectionTextIsMissing)
{
    const ToolRun run = RunTool({QStringLiteral("ccc"), Write("CNPJ:\n04.312.419/0001-30\n")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.startsWith("cnpj=04.312.419/0001-30\ncpf=\n"));
    EXPECT_TRUE(run.err.contains("detection: NOT matched")) << run.err.toStdString();
}

TEST_F(ToolTest, PrintsValuesWithTheirLineBreaksAsTheyWouldBeSent)
{
    const ToolRun run =
        RunTool({QStringLiteral("ba"), Write("Logradouro:\tRUA A\nQUADRA 2\xC2\xA0\n")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.contains("\nendereco=RUA A\nQUADRA 2\nnumero=\n")) << run.out.toStdString();
}

TEST_F(ToolTest, IgnoresALeadingByteOrderMark)
{
    const ToolRun run = RunTool(
        {QStringLiteral("ccc"), Write("\xEF\xBB\xBF" + DataBytes(QStringLiteral("ccc.txt")))});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, DataBytes(QStringLiteral("ccc.expected")));
}

TEST_F(ToolTest, ReportsInvalidUtf8WithItsByteOffset)
{
    const ToolRun fromFile = RunTool({QStringLiteral("sp"), Write("CNPJ:\t\xC3(1\n")});
    EXPECT_EQ(fromFile.exitCode, 2);
    EXPECT_TRUE(fromFile.out.isEmpty());
    EXPECT_TRUE(fromFile.err.contains("not valid UTF-8")) << fromFile.err.toStdString();
    EXPECT_TRUE(fromFile.err.contains("byte offset 6")) << fromFile.err.toStdString();

    const ToolRun fromStdin =
        RunTool({QStringLiteral("sp"), QStringLiteral("-")}, QByteArray("ok\xED\xA0\x80"));
    EXPECT_EQ(fromStdin.exitCode, 2);
    EXPECT_TRUE(fromStdin.err.contains("byte offset 2")) << fromStdin.err.toStdString();
}

TEST_F(ToolTest, BadArgumentsExitWithTwoAndTheUsage)
{
    const QString page = DataPath(QStringLiteral("sp.txt"));
    const struct
    {
        QStringList arguments;
        const char* message;
    } cases[] = {
        {{}, "expected a portal and a file"},
        {{QStringLiteral("sp")}, "expected a portal and a file"},
        {{QStringLiteral("sp"), page, page}, "expected a portal and a file"},
        {{QStringLiteral("xx"), page}, "unknown portal \"xx\""},
        {{QStringLiteral("Sp"), page}, "unknown portal \"Sp\""},
        {{QStringLiteral("sp"), m_dir.filePath(QStringLiteral("missing.txt"))}, "cannot open"},
        {{QStringLiteral("sp"), m_dir.path()}, "cannot"},
        {{QStringLiteral("--bogus"), QStringLiteral("sp"), page}, "unknown option --bogus"},
    };
    for (const auto& c : cases) {
        const ToolRun run = RunTool(c.arguments);
        const std::string what = c.arguments.join(u' ').toStdString();
        EXPECT_EQ(run.exitCode, 2) << what;
        EXPECT_TRUE(run.err.contains(c.message)) << what << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("Usage: quarvel-extract PORTAL FILE")) << what;
        EXPECT_TRUE(run.out.isEmpty()) << what;
    }
}

TEST_F(ToolTest, HelpAndVersion)
{
    const ToolRun help = RunTool({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("Usage: quarvel-extract PORTAL FILE"));
    EXPECT_TRUE(help.out.contains("Exit status"));

    const ToolRun version = RunTool({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QByteArray("quarvel-extract " QUARVEL_VERSION_STR "\n"));
}

TEST_F(ToolTest, UsesTheHostOverride)
{
    const ToolRun run = RunTool({QStringLiteral("am"), DataPath(QStringLiteral("am.txt"))},
                                QByteArray(), QStringLiteral("am=http://127.0.0.2:8081,bogus"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains("http://127.0.0.2:8081/sintegra/sintegra.asp?hash="))
        << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("QUARVEL_PORTAL_HOSTS: element \"bogus\" ignored"))
        << run.err.toStdString();
}

TEST_F(ToolTest, DumpCheckAndUseADefinitionsFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const ToolRun dump = RunTool({QStringLiteral("--dump-portals")}, QByteArray(),
                                 QStringLiteral("am=http://127.0.0.2:8081"));
    ASSERT_EQ(dump.exitCode, 0) << dump.err.toStdString();
    EXPECT_TRUE(dump.out.contains("http://127.0.0.2:8081/sintegra/sintegra.asp?hash="));
    const QString defs = dir.filePath(QStringLiteral("portals.json"));
    QFile file(defs);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(dump.out);
    file.close();

    const ToolRun check = RunTool({QStringLiteral("--check-portals"), defs});
    EXPECT_EQ(check.exitCode, 0);
    EXPECT_EQ(check.err, QByteArray());

    for (const QString& key : kPortalKeys) {
        const QString page = DataPath(key + QStringLiteral(".txt"));
        const ToolRun viaFile = RunTool({QStringLiteral("--portals"), defs, key, page});
        const ToolRun builtIn = RunTool({key, page});
        EXPECT_EQ(viaFile.exitCode, builtIn.exitCode) << key.toStdString();
        EXPECT_EQ(viaFile.out, builtIn.out) << key.toStdString();
    }

    // A relabelled field: the file's expression is the one evaluated.
    QByteArray edited = dump.out;
    edited.replace("\"key\": \"sp\"", "\"key\": \"spx\"");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(edited);
    file.close();
    EXPECT_EQ(RunTool({QStringLiteral("--portals"), defs, QStringLiteral("spx"),
                       DataPath(QStringLiteral("sp.txt"))})
                  .out,
              RunTool({QStringLiteral("sp"), DataPath(QStringLiteral("sp.txt"))}).out);
    EXPECT_EQ(RunTool({QStringLiteral("--portals"), defs, QStringLiteral("sp"),
                       DataPath(QStringLiteral("sp.txt"))})
                  .exitCode,
              2);
}

TEST_F(ToolTest, CheckPortalsReportsEachProblemAndExitsNonZero)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct
    {
        QByteArray bytes;
        const char* expected;
    } cases[] = {
        {"{\n  \"version\": 1,", ".json:2:"},
        {R"j({"version": 3, "portals": []})j", ".json: version: version must be the number 1"},
        {"", ".json:1:1: empty file"},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(QStringLiteral("bad.json"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.bytes);
        file.close();
        const ToolRun run = RunTool({QStringLiteral("--check-portals"), path});
        EXPECT_EQ(run.exitCode, 1) << c.expected;
        EXPECT_TRUE(run.err.startsWith(path.toUtf8()) && run.err.contains(c.expected))
            << run.err.toStdString();
    }
    const ToolRun folder = RunTool({QStringLiteral("--check-portals"), dir.path()});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_TRUE(folder.err.contains("is a folder")) << folder.err.toStdString();

    // Every file the loader refuses, with the same message, the place named.
    const QString named = dir.filePath(QStringLiteral("f.json"));
    for (const BrokenCase& c : BrokenPortalFiles()) {
        SCOPED_TRACE(c.name);
        QFile file(named);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.bytes);
        file.close();
        const ToolRun run = RunTool({QStringLiteral("--check-portals"), named});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.startsWith(named.toUtf8()) && run.err.contains(c.expected))
            << run.err.toStdString();
    }
    QFile unreadable(named);
    ASSERT_TRUE(unreadable.open(QIODevice::WriteOnly | QIODevice::Truncate));
    unreadable.write(OnePortal());
    unreadable.close();
    EXPECT_EQ(RunTool({QStringLiteral("--check-portals"), named}).exitCode, 0);
    unreadable.setPermissions(QFileDevice::Permissions());
    if (!QFile(named).open(QIODevice::ReadOnly)) { // root reads anything
        const ToolRun run = RunTool({QStringLiteral("--check-portals"), named});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains("cannot open")) << run.err.toStdString();
    }
}

// ---------------------------------------------------------------------------------------------

TEST(Utf8ValidationTest, FindsTheFirstInvalidSequence)
{
    const std::pair<std::string_view, qsizetype> cases[] = {
        {""sv, -1},
        {"CNPJ:\t1"sv, -1},
        {"a\xC3\xA7\xC3\xA3o"sv, -1},           // ação
        {"\xF0\x9F\x98\x80"sv, -1},             // U+1F600
        {"\xEF\xBF\xBF\xF4\x8F\xBF\xBF"sv, -1}, // U+FFFF, U+10FFFF
        {"a\0b"sv, -1},
        {"a\x80"sv, 1},            // continuation byte without a lead
        {"\xC0\xAF"sv, 0},         // overlong
        {"\xC1\xBF"sv, 0},         // overlong
        {"\xE0\x80\xAF"sv, 0},     // overlong
        {"\xF0\x80\x80\x80"sv, 0}, // overlong
        {"x\xED\xA0\x80"sv, 1},    // surrogate
        {"\xF4\x90\x80\x80"sv, 0}, // above U+10FFFF
        {"\xF5\x80\x80\x80"sv, 0},
        {"ok\xFF"sv, 2},
        {"ab\xC3"sv, 2}, // cut off at the end
        {"ab\xE2\x82"sv, 2},
        {"\xC3\x28"sv, 0}, // bad continuation
        {"\xC3\xA7\xE2\x82\xAC\xC3"sv, 5},
    };
    for (const auto& [bytes, expected] : cases) {
        EXPECT_EQ(FirstInvalidUtf8Offset(QByteArrayView(bytes.data(), qsizetype(bytes.size()))),
                  expected)
            << QByteArray(bytes.data(), qsizetype(bytes.size())).toHex().toStdString();
    }
}

} // namespace
