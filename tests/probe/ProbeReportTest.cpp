// What the morning check makes of what it saw: the status, the lines for a person and for a
// monitoring system, the fill script's report and the command line.
#include "ProbeReport.h"

#include "PortalProber.h"
#include "QtPrinters.h"
#include "lookup/HostRequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <functional>
#include <gtest/gtest.h>

namespace {

// A portal that passed everything: reached, stayed, both scripts ran, every control there.
PortalProbe HealthyProbe()
{
    PortalProbe probe;
    probe.portal = QStringLiteral("am");
    probe.queryUrl = QStringLiteral("http://127.0.0.3:8081/sintegra/index.asp");
    probe.reached = true;
    probe.httpStatus = 200;
    probe.finalUrl = probe.queryUrl;
    probe.stayed = true;
    probe.readyScript = ScriptRun::Ok;
    probe.fillRan = true;
    probe.fill = FillReport{{QStringLiteral("tipo"), QStringLiteral("cgc")}, {}, true};
    probe.loadMs = 42;
    return probe;
}

struct StatusCase
{
    const char* name;
    std::function<void(PortalProbe&)> change;
    ProbeStatus status;
    const char* line; // the whole plain line
};

void PrintTo(const StatusCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProbeStatusTest : public testing::TestWithParam<StatusCase>
{};

TEST_P(ProbeStatusTest, DecidesAndSaysWhy)
{
    const StatusCase& c = GetParam();
    PortalProbe probe = HealthyProbe();
    c.change(probe);
    EXPECT_EQ(DecideProbeStatus(probe), c.status);
    EXPECT_EQ(ProbePlainLine(probe), QString::fromUtf8(c.line));
}

INSTANTIATE_TEST_SUITE_P(
    Findings, ProbeStatusTest,
    testing::Values(
        StatusCase{"healthy", [](PortalProbe&) {}, ProbeStatus::Ok, "am ok"},
        StatusCase{"status_not_known_is_no_fault", [](PortalProbe& p) { p.httpStatus = 0; },
                   ProbeStatus::Ok, "am ok"},
        StatusCase{"no_ready_script", [](PortalProbe& p) { p.readyScript = ScriptRun::None; },
                   ProbeStatus::Ok, "am ok"},
        StatusCase{"captcha_gone_alone_is_ok", [](PortalProbe& p) { p.fill->captcha = false; },
                   ProbeStatus::Ok, "am ok: no captcha box"},
        StatusCase{"fill_without_report", [](PortalProbe& p) { p.fill.reset(); }, ProbeStatus::Ok,
                   "am ok: controls not checked (the fill script gives no report)"},
        StatusCase{"no_fill_script",
                   [](PortalProbe& p) {
                       p.fill.reset();
                       p.fillRan = false;
                   },
                   ProbeStatus::Ok, "am ok: controls not checked (no fill script)"},
        StatusCase{"control_missing",
                   [](PortalProbe& p) {
                       p.fill = FillReport{{QStringLiteral("tipo")}, {QStringLiteral("cgc")}, true};
                   },
                   ProbeStatus::Changed, "am changed: missing control \"cgc\""},
        StatusCase{
            "controls_and_captcha_missing",
            [](PortalProbe& p) {
                p.fill = FillReport{{}, {QStringLiteral("tipo"), QStringLiteral("cg\nc")}, false};
            },
            ProbeStatus::Changed,
            "am changed: missing controls \"tipo\", \"cg\\x0ac\"; no captcha box"},
        StatusCase{"moved_elsewhere",
                   [](PortalProbe& p) {
                       p.finalUrl = QStringLiteral("http://127.0.0.9:80/novo/");
                       p.stayed = false;
                       p.readyScript = ScriptRun::None;
                       p.fill.reset();
                   },
                   ProbeStatus::Changed, "am changed: moved to http://127.0.0.9:80/novo/"},
        StatusCase{"not_found",
                   [](PortalProbe& p) {
                       p.httpStatus = 404;
                       p.readyScript = ScriptRun::None;
                       p.fill.reset();
                   },
                   ProbeStatus::Changed, "am changed: HTTP 404"},
        StatusCase{"ready_script_error",
                   [](PortalProbe& p) {
                       p.readyScript = ScriptRun::Error;
                       p.readyError = QStringLiteral("\"x is not defined\"");
                   },
                   ProbeStatus::Changed,
                   "am changed: readiness script error: \"x is not defined\""},
        StatusCase{"fill_script_error",
                   [](PortalProbe& p) {
                       p.fill.reset();
                       p.fillFailed = true;
                       p.fillError = QStringLiteral("\"boom\"");
                   },
                   ProbeStatus::Changed, "am changed: fill script error: \"boom\""},
        StatusCase{"server_error_is_unreachable",
                   [](PortalProbe& p) {
                       p.httpStatus = 503;
                       p.readyScript = ScriptRun::None;
                       p.fill.reset();
                   },
                   ProbeStatus::Unreachable, "am unreachable: http-error (HTTP 503)"},
        StatusCase{"refused",
                   [](PortalProbe& p) {
                       p = PortalProbe();
                       p.portal = QStringLiteral("am");
                       p.failure = LoadFailure{LoadFailureClass::Refused, -102,
                                               QStringLiteral("net::ERR_CONNECTION_REFUSED")};
                   },
                   ProbeStatus::Unreachable,
                   "am unreachable: refused (net::ERR_CONNECTION_REFUSED)"},
        StatusCase{"timeout_without_text",
                   [](PortalProbe& p) {
                       p = PortalProbe();
                       p.portal = QStringLiteral("am");
                       p.failure = LoadFailure{LoadFailureClass::Timeout, 0, QString()};
                   },
                   ProbeStatus::Unreachable, "am unreachable: timeout"}));

QJsonObject JsonOf(const PortalProbe& probe)
{
    const QByteArray line = ProbeJsonLine(probe);
    EXPECT_FALSE(line.contains('\n'));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line.constData();
    return document.object();
}

TEST(ProbeJson, HealthyPortalHasEveryMemberButFailure)
{
    const QJsonObject json = JsonOf(HealthyProbe());
    EXPECT_EQ(json.value(u"portal").toString(), u"am");
    EXPECT_EQ(json.value(u"status").toString(), u"ok");
    EXPECT_FALSE(json.contains(u"failure"));
    EXPECT_EQ(json.value(u"httpStatus").toInt(), 200);
    EXPECT_EQ(json.value(u"finalUrl").toString(), HealthyProbe().finalUrl);
    EXPECT_TRUE(json.value(u"stayed").toBool());
    EXPECT_EQ(json.value(u"readyScript").toString(), u"ok");
    EXPECT_EQ(json.value(u"foundControls").toArray(),
              QJsonArray({QStringLiteral("tipo"), QStringLiteral("cgc")}));
    EXPECT_EQ(json.value(u"missingControls").toArray(), QJsonArray());
    EXPECT_TRUE(json.value(u"captcha").toBool());
    EXPECT_EQ(json.value(u"loadMs").toInteger(), 42);
}

TEST(ProbeJson, UnreachablePortalNamesItsFailureAndLeavesTheUnknownNull)
{
    PortalProbe probe;
    probe.portal = QStringLiteral("sp");
    probe.failure = LoadFailure{LoadFailureClass::CertificateUntrusted, -202, QString()};
    probe.loadMs = 7;
    const QJsonObject json = JsonOf(probe);
    EXPECT_EQ(json.value(u"status").toString(), u"unreachable");
    EXPECT_EQ(json.value(u"failure").toString(), u"certificate-untrusted");
    EXPECT_TRUE(json.value(u"httpStatus").isNull());
    EXPECT_FALSE(json.value(u"stayed").toBool());
    EXPECT_EQ(json.value(u"readyScript").toString(), u"none");
    EXPECT_TRUE(json.value(u"missingControls").isNull());
    EXPECT_TRUE(json.value(u"foundControls").isNull());
    EXPECT_TRUE(json.value(u"captcha").isNull());
    // A 5xx answer is unreachable too, its failure http-error.
    probe = HealthyProbe();
    probe.httpStatus = 500;
    EXPECT_EQ(JsonOf(probe).value(u"failure").toString(), u"http-error");
}

TEST(ProbeJson, ChangedPortalListsItsMissingControls)
{
    PortalProbe probe = HealthyProbe();
    probe.fill = FillReport{{QStringLiteral("tipo")}, {QStringLiteral("cgc")}, false};
    const QJsonObject json = JsonOf(probe);
    EXPECT_EQ(json.value(u"status").toString(), u"changed");
    EXPECT_FALSE(json.contains(u"failure"));
    EXPECT_EQ(json.value(u"missingControls").toArray(), QJsonArray({QStringLiteral("cgc")}));
    EXPECT_FALSE(json.value(u"captcha").toBool());
}

QVariantMap Report(const QVariant& found, const QVariant& missing, const QVariant& captcha)
{
    return {{QStringLiteral("found"), found},
            {QStringLiteral("missing"), missing},
            {QStringLiteral("captcha"), captcha}};
}

TEST(FillReport, ReadsTheScriptsObject)
{
    const std::optional<FillReport> report = ReadFillReport(
        Report(QVariantList{QStringLiteral("cgc")}, QVariantList{QStringLiteral("tipo")}, true));
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->found, QStringList{QStringLiteral("cgc")});
    EXPECT_EQ(report->missing, QStringList{QStringLiteral("tipo")});
    EXPECT_TRUE(report->captcha);
}

TEST(FillReport, AnythingElseIsNoReport)
{
    const QVariantList names{QStringLiteral("cgc")};
    const QVariant notReports[] = {
        QVariant(),
        QVariant(QStringLiteral("ok")),
        QVariant(QVariantList{}),
        QVariantMap{},
        Report(names, names, QStringLiteral("true")), // captcha not a boolean
        Report(names, QVariant(), false),             // missing absent
        Report(QVariantList{1.0}, names, false),      // a name that is no string
        Report(QStringLiteral("cgc"), names, false),  // not a list
    };
    for (const QVariant& value : notReports)
        EXPECT_FALSE(ReadFillReport(value).has_value()) << value.toString().toStdString();
}

TEST(FillReport, KeepsAtMostTheBoundOfNames)
{
    QVariantList many;
    for (int i = 0; i < 1000; ++i)
        many.append(QStringLiteral("c%1").arg(i));
    const std::optional<FillReport> report = ReadFillReport(Report(many, many, false));
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->found.size(), kMaxReportedControls);
    EXPECT_EQ(report->missing.size(), kMaxReportedControls);
}

TEST(FillReport, PlaceholderIsAWellFormedCnpj)
{
    EXPECT_TRUE(CnpjCheckDigitsValid(PortalProber::PlaceholderCnpj()));
}

struct ArgumentCase
{
    const char* name;
    QStringList arguments;
    const char* error; // empty: accepted
    QString portalsFile = {};
    bool json = false;
    int timeout = 30;
    QStringList keys = {};
};

void PrintTo(const ArgumentCase& c, std::ostream* os)
{
    *os << c.name;
}

class ProbeArgumentsTest : public testing::TestWithParam<ArgumentCase>
{};

TEST_P(ProbeArgumentsTest, ReadsTheCommandLine)
{
    const ArgumentCase& c = GetParam();
    const ProbeArguments parsed = ParseProbeArguments(c.arguments);
    EXPECT_EQ(parsed.error, QString::fromUtf8(c.error));
    if (!parsed.error.isEmpty())
        return;
    EXPECT_EQ(parsed.options.portalsFile, c.portalsFile);
    EXPECT_EQ(parsed.options.json, c.json);
    EXPECT_EQ(parsed.options.timeoutSeconds, c.timeout);
    EXPECT_EQ(parsed.options.keys, c.keys);
}

const QString kAm = QStringLiteral("am");
const QString kSp = QStringLiteral("sp");

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ProbeArgumentsTest,
    testing::Values(
        ArgumentCase{"none", {}, ""},
        ArgumentCase{"everything",
                     {QStringLiteral("--portals"), QStringLiteral("p.json"),
                      QStringLiteral("--json"), QStringLiteral("--timeout"), QStringLiteral("5"),
                      kAm, kSp},
                     "",
                     QStringLiteral("p.json"),
                     true,
                     5,
                     {kAm, kSp}},
        ArgumentCase{"equals_forms",
                     {QStringLiteral("--portals=p.json"), QStringLiteral("--timeout=600"), kSp},
                     "",
                     QStringLiteral("p.json"),
                     false,
                     600,
                     {kSp}},
        ArgumentCase{"key_twice_once", {kAm, kSp, kAm}, "", {}, false, 30, {kAm, kSp}},
        ArgumentCase{"dash_dash_ends_options",
                     {QStringLiteral("--"), QStringLiteral("--json")},
                     "",
                     {},
                     false,
                     30,
                     {QStringLiteral("--json")}},
        ArgumentCase{"unknown_option", {QStringLiteral("--jsn")}, "unknown option \"--jsn\""},
        ArgumentCase{
            "json_with_value", {QStringLiteral("--json=1")}, "unknown option \"--json=1\""},
        ArgumentCase{"timeout_zero",
                     {QStringLiteral("--timeout"), QStringLiteral("0")},
                     "--timeout needs whole seconds from 1 to 600, not \"0\""},
        ArgumentCase{"timeout_too_long",
                     {QStringLiteral("--timeout=601")},
                     "--timeout needs whole seconds from 1 to 600, not \"601\""},
        ArgumentCase{"timeout_fraction",
                     {QStringLiteral("--timeout=2.5")},
                     "--timeout needs whole seconds from 1 to 600, not \"2.5\""},
        ArgumentCase{"timeout_last_without_value",
                     {QStringLiteral("--timeout")},
                     "--timeout needs whole seconds from 1 to 600, not nothing"},
        ArgumentCase{"timeout_twice",
                     {QStringLiteral("--timeout=1"), QStringLiteral("--timeout=2")},
                     "--timeout given twice"},
        ArgumentCase{
            "portals_without_file", {QStringLiteral("--portals")}, "--portals needs a file name"},
        ArgumentCase{
            "portals_empty", {QStringLiteral("--portals=")}, "--portals needs a file name"},
        ArgumentCase{"portals_twice",
                     {QStringLiteral("--portals=a"), QStringLiteral("--portals=b")},
                     "--portals given twice"}));

TEST(ProbeArguments, HelpAndVersionAreAnswers)
{
    EXPECT_TRUE(ParseProbeArguments({QStringLiteral("--help")}).options.help);
    EXPECT_TRUE(ParseProbeArguments({QStringLiteral("-h")}).options.help);
    EXPECT_TRUE(ParseProbeArguments({QStringLiteral("--version")}).options.version);
}

} // namespace
