// quarvel-extract: shows what the program would extract from a page text, for whoever keeps
// the portal expressions up to date.

#include "QuarvelVersion.h"
#include "Utf8Validation.h"
#include "lookup/Extraction.h"
#include "lookup/PortalFile.h"
#include "portals/PortalTable.h"

#include <QCommandLineParser>
#include <QFile>
#include <QString>
#include <QStringList>
#include <cstdio>

namespace {

enum ExitCode
{
    kSomeFieldMatched = 0,
    kNoFieldMatched = 1,
    kUsageError = 2
};

constexpr const char* kUsage = "Usage: quarvel-extract PORTAL FILE\n"
                               "       quarvel-extract --portals DEFS PORTAL FILE\n"
                               "       quarvel-extract [--portals DEFS] --dump-portals\n"
                               "       quarvel-extract --check-portals DEFS\n"
                               "       quarvel-extract --help | --version\n";

constexpr const char* kHelp =
    "Extracts a built-in portal's fields from the text of a result page, exactly as the\n"
    "program would send them to the host.\n"
    "\n"
    "  PORTAL  a portal key (ccc, am, es, ba, sp) or a display name\n"
    "          (\"Cadastro Centralizado de Contribuinte\", AM, ES, BA, SP)\n"
    "  FILE    the page's visible text in UTF-8, or - for standard input; a leading\n"
    "          byte-order mark is ignored\n"
    "\n"
    "Standard output: one fieldName=value line per field of the portal, in the order in\n"
    "which they are sent; a value keeps any line break inside it, and a field whose\n"
    "expression did not match ends with '='.\n"
    "Standard error: whether the text passes the portal's result-page detection (or that\n"
    "the portal is recognised by its result URL instead), how many fields matched, and any\n"
    "expression that cannot be evaluated.\n"
    "\n"
    "Exit status: 0 when at least one field matched, 1 when none did, 2 on bad arguments,\n"
    "an unknown portal, or a file that cannot be read or is not valid UTF-8.\n"
    "\n"
    "QUARVEL_PORTAL_HOSTS (key=scheme://host[:port],...) replaces portal hosts as it does\n"
    "for the program.\n"
    "\n"
    "Options:\n"
    "      --portals DEFS        use the portal definitions file DEFS instead of the\n"
    "                            built-in table\n"
    "      --dump-portals        write the portal table in force as a definitions file\n"
    "      --check-portals DEFS  check DEFS as the program would; one problem a line,\n"
    "                            exit 0 only when the program would accept it\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n";

void PrintError(const QString& message)
{
    std::fprintf(stderr, "quarvel-extract: %s\n", message.toUtf8().constData());
}

int UsageError(const QString& message)
{
    PrintError(message);
    std::fputs(kUsage, stderr);
    return kUsageError;
}

void PrintNote(const QString& message)
{
    std::fprintf(stderr, "%s\n", message.toUtf8().constData());
}

bool ReadInput(const QString& name, QByteArray& bytes, QString& error)
{
    QFile file;
    bool opened = false;
    if (name == u"-") {
        opened = file.open(stdin, QIODevice::ReadOnly);
    } else {
        file.setFileName(name);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        error = QStringLiteral("cannot open %1: %2").arg(name, file.errorString());
        return false;
    }
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("cannot read %1: %2").arg(name, file.errorString());
        return false;
    }
    return true;
}

QString StatusNote(MatchStatus status)
{
    switch (status) {
    case MatchStatus::LimitExceeded:
        return QStringLiteral("the evaluation reached a work limit (counted as not matched)");
    case MatchStatus::EngineError:
        return QStringLiteral("the engine reported an error (counted as not matched)");
    case MatchStatus::NotCompiled:
        return QStringLiteral("the expression does not compile (counted as not matched)");
    case MatchStatus::NoCapturingGroup:
        return QStringLiteral("the expression has no capturing group (counted as not matched)");
    case MatchStatus::Matched:
    case MatchStatus::NoMatch:
        break;
    }
    return {};
}

// The first argument that is not one of the options, as given (for the error message).
QString FirstUnknownOption(const QStringList& arguments)
{
    for (const QString& arg : arguments.sliced(1)) {
        if (arg == u"--")
            break;
        if (arg.startsWith(u'-') && arg != u"-" && arg != u"-h" && arg != u"--help" &&
            arg != u"--version" && arg != u"--dump-portals" && !arg.startsWith(u"--portals") &&
            !arg.startsWith(u"--check-portals"))
            return arg;
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // The help and version texts are this tool's own, so the parser only sorts the arguments.
    QCommandLineParser parser;
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringLiteral("version"));
    const QCommandLineOption portalsOption(QStringLiteral("portals"), QString(),
                                           QStringLiteral("DEFS"));
    const QCommandLineOption dumpOption(QStringLiteral("dump-portals"));
    const QCommandLineOption checkOption(QStringLiteral("check-portals"), QString(),
                                         QStringLiteral("DEFS"));
    parser.addOptions({helpOption, versionOption, portalsOption, dumpOption, checkOption});
    if (!parser.parse(arguments)) {
        const QString unknown = FirstUnknownOption(arguments);
        return UsageError(unknown.isEmpty() ? parser.errorText()
                                            : QStringLiteral("unknown option %1").arg(unknown));
    }
    if (parser.isSet(helpOption)) {
        std::fputs(kUsage, stdout);
        std::fputs("\n", stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("quarvel-extract %s\n", QUARVEL_VERSION_STR);
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(checkOption)) {
        if (!positional.isEmpty() || parser.isSet(dumpOption) || parser.isSet(portalsOption))
            return UsageError(QStringLiteral("--check-portals takes only the file to check"));
        const PortalFileResult checked = LoadPortalFile(parser.value(checkOption));
        for (const QString& problem : checked.problems)
            PrintNote(problem);
        return checked.ok() ? 0 : kNoFieldMatched;
    }

    KeyedPortalTable keyed;
    if (parser.isSet(portalsOption)) {
        PortalFileResult loaded = LoadPortalFile(parser.value(portalsOption));
        if (!loaded.ok()) {
            for (const QString& problem : loaded.problems)
                PrintNote(problem);
            return UsageError(QStringLiteral("cannot use %1").arg(parser.value(portalsOption)));
        }
        keyed = loaded.table;
    } else {
        keyed = BuiltInKeyedPortals(BuiltInPortals(PortalHostsFromEnvironment()));
    }
    if (parser.isSet(dumpOption)) {
        if (!positional.isEmpty())
            return UsageError(QStringLiteral("--dump-portals takes no portal or file"));
        const QByteArray json = PortalTableToJson(keyed);
        std::fwrite(json.constData(), 1, static_cast<std::size_t>(json.size()), stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            PrintError(QStringLiteral("cannot write to standard output"));
            return kUsageError;
        }
        return 0;
    }
    if (positional.size() != 2)
        return UsageError(QStringLiteral("expected a portal and a file"));

    const TURIEstados& table = keyed.portals;
    int index = static_cast<int>(keyed.keys.indexOf(positional.at(0)));
    if (index < 0)
        index = GetIndex(table, positional.at(0));
    if (index < 0) {
        QStringList names;
        for (const TURIEstado& portal : table)
            names << QStringLiteral("\"%1\"").arg(portal.estado);
        return UsageError(QStringLiteral("unknown portal \"%1\" (keys: %2; names: %3)")
                              .arg(positional.at(0), keyed.keys.join(QStringLiteral(", ")),
                                   names.join(QStringLiteral(", "))));
    }

    QByteArray bytes;
    QString error;
    if (!ReadInput(positional.at(1), bytes, error))
        return UsageError(error);
    const qsizetype invalidAt = FirstInvalidUtf8Offset(bytes);
    if (invalidAt >= 0) {
        return UsageError(QStringLiteral("%1 is not valid UTF-8: invalid byte sequence at byte "
                                         "offset %2")
                              .arg(positional.at(1))
                              .arg(invalidAt));
    }
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    const TURIEstado& portal = table.at(index);
    const CompiledPortal compiled(portal);
    for (const QString& problem : compiled.Problems())
        PrintError(QStringLiteral("warning: %1").arg(problem));

    const ExtractionResult result = compiled.ExtractFields(text);
    for (const QString& line : result.lines) {
        const QByteArray utf8 = line.toUtf8();
        std::fwrite(utf8.constData(), 1, static_cast<std::size_t>(utf8.size()), stdout);
        std::fputc('\n', stdout);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        PrintError(QStringLiteral("cannot write to standard output"));
        return kUsageError;
    }

    if (portal.URLresposta.isEmpty()) {
        PrintNote(
            compiled.DetectResultPage(text)
                ? QStringLiteral("detection: matched \"%1\"").arg(portal.responseStringDetection)
                : QStringLiteral("detection: NOT matched \"%1\" (the program would keep "
                                 "waiting for the result page)")
                      .arg(portal.responseStringDetection));
    } else {
        PrintNote(QStringLiteral("detection: none; %1 is recognised by its result URL, which "
                                 "begins with %2")
                      .arg(portal.estado, portal.URLresposta));
    }
    qsizetype matched = 0;
    for (qsizetype i = 0; i < result.statuses.size(); ++i) {
        const MatchStatus status = result.statuses.at(i);
        if (status == MatchStatus::Matched)
            ++matched;
        const QString note = StatusNote(status);
        if (!note.isEmpty())
            PrintNote(QStringLiteral("field %1: %2").arg(portal.fieldDefs.at(i).fieldName, note));
    }
    PrintNote(QStringLiteral("fields matched: %1 of %2").arg(matched).arg(result.lines.size()));
    return result.success ? kSomeFieldMatched : kNoFieldMatched;
}
