#include "lookup/HostRequest.h"

#include "QtPrinters.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QStringList kKeys = {u"ccc"_s, u"am"_s, u"es"_s, u"ba"_s, u"sp"_s, u"xy"_s};

struct OptionCase
{
    const char* name;
    QStringList arguments; // after the port
    QString portalKey;
    QString uf;
    QString cnpj;
    // One entry per expected warning: a text it contains.
    QStringList warnings;
};

void PrintTo(const OptionCase& c, std::ostream* os)
{
    *os << c.name;
}

class OptionTable : public testing::TestWithParam<OptionCase>
{};

TEST_P(OptionTable, TakesTheGoodValuesAndNamesEachIgnoredOption)
{
    const OptionCase& c = GetParam();
    const HostRequest request = ParseHostRequest(QStringList{u"5000"_s} + c.arguments, kKeys);
    EXPECT_EQ(request.portalKey, c.portalKey);
    EXPECT_EQ(request.uf, c.uf);
    EXPECT_EQ(request.cnpj, c.cnpj);
    ASSERT_EQ(request.warnings.size(), c.warnings.size())
        << qPrintable(request.warnings.join(u'\n'));
    for (qsizetype i = 0; i < c.warnings.size(); ++i) {
        EXPECT_TRUE(request.warnings.at(i).contains(c.warnings.at(i)))
            << qPrintable(request.warnings.at(i)) << " lacks " << qPrintable(c.warnings.at(i));
        EXPECT_FALSE(request.warnings.at(i).contains(u'\n'));
    }
    EXPECT_EQ(request.fillsQuery(), !c.uf.isEmpty() || !c.cnpj.isEmpty());
}

const QString kDigits = u"27385904000139"_s;

INSTANTIATE_TEST_SUITE_P(
    HostRequest, OptionTable,
    testing::Values(
        OptionCase{"PortOnly", {}, {}, {}, {}, {}},
        OptionCase{
            "AllThree",
            {u"--portal"_s, u"sp"_s, u"--uf"_s, u"SP"_s, u"--cnpj"_s, u"27.385.904/0001-39"_s},
            u"sp"_s,
            u"SP"_s,
            kDigits,
            {}},
        OptionCase{"AnyOrderAndEqualsForm",
                   {u"--cnpj=27385904000139"_s, u"--portal=ccc"_s, u"--uf=mg"_s},
                   u"ccc"_s,
                   u"MG"_s,
                   kDigits,
                   {}},
        OptionCase{"KeyOfTheFileInForce", {u"--portal"_s, u"xy"_s}, u"xy"_s, {}, {}, {}},
        OptionCase{"UnknownKey",
                   {u"--portal"_s, u"rj"_s, u"--uf"_s, u"RJ"_s},
                   {},
                   u"RJ"_s,
                   {},
                   {u"--portal\" ignored: unknown portal key \"rj\""_s}},
        OptionCase{"KeyIsCaseSensitive",
                   {u"--portal"_s, u"SP"_s},
                   {},
                   {},
                   {},
                   {u"unknown portal key \"SP\""_s}},
        OptionCase{"BadUfs",
                   {u"--uf"_s, u"XX"_s, u"--uf"_s, u"S"_s, u"--uf"_s, u"SPP"_s, u"--uf=35"_s},
                   {},
                   {},
                   {},
                   {u"\"XX\" is not a state"_s, u"\"S\" is not"_s, u"\"SPP\" is not"_s,
                    u"\"35\" is not"_s}},
        OptionCase{"WrongCheckDigits",
                   {u"--cnpj"_s, u"27.385.904/0001-38"_s, u"--portal"_s, u"am"_s},
                   u"am"_s,
                   {},
                   {},
                   {u"CNPJ \"27.385.904/0001-38\" has wrong check digits"_s}},
        OptionCase{"MalformedCnpjs",
                   {u"--cnpj"_s, u"2738590400013"_s, u"--cnpj"_s, u"273859040001390"_s, u"--cnpj"_s,
                    u"27.385.904.0001-39"_s, u"--cnpj"_s, u"27385.904/0001-39"_s, u"--cnpj"_s,
                    u"\uFF127385904000139"_s, u"--cnpj="_s},
                   {},
                   {},
                   {},
                   {u"\"2738590400013\" is not a CNPJ"_s, u"\"273859040001390\" is not"_s,
                    u"\"27.385.904.0001-39\" is not"_s, u"\"27385.904/0001-39\" is not"_s,
                    u"7385904000139\" is not"_s, u"\"\" is not a CNPJ"_s}},
        // A value that would be code if it were spliced into a script never gets that far.
        OptionCase{"ScriptInAValue",
                   {u"--cnpj"_s, u"\"</script><b>1');alert(1)//"_s, u"--uf"_s, u"'\"<>"_s},
                   {},
                   {},
                   {},
                   {u"--cnpj\" ignored"_s, u"--uf\" ignored"_s}},
        OptionCase{"ControlCharactersStayOnOneLine",
                   {u"--portal"_s, u"s\np"_s},
                   {},
                   {},
                   {},
                   {u"\"s\\x0ap\""_s}},
        OptionCase{"MissingValues",
                   {u"--portal"_s, u"--uf"_s, u"BA"_s, u"--cnpj"_s},
                   {},
                   u"BA"_s,
                   {},
                   {u"--portal\" ignored: no value"_s, u"--cnpj\" ignored: no value"_s}},
        OptionCase{"UnknownOptionsWithAndWithoutValues",
                   {u"--ie"_s, u"123"_s, u"--verbose"_s, u"--portal"_s, u"ba"_s, u"--x=1"_s},
                   u"ba"_s,
                   {},
                   {},
                   {u"\"--ie\" ignored: unknown option"_s, u"\"--verbose\" ignored"_s,
                    u"\"--x\" ignored"_s}},
        OptionCase{"StrayWordsAndSingleDash",
                   {u"sp"_s, u"-uf"_s, u"--uf"_s, u"AM"_s},
                   {},
                   u"AM"_s,
                   {},
                   {u"argument \"sp\" ignored"_s, u"argument \"-uf\" ignored"_s}},
        OptionCase{"RepeatedTheLaterGoodValueWins",
                   {u"--portal"_s, u"am"_s, u"--portal"_s, u"es"_s, u"--cnpj"_s,
                    u"27385904000139"_s, u"--cnpj"_s, u"11222333000181"_s, u"--uf"_s, u"PR"_s,
                    u"--uf"_s, u"PR"_s},
                   u"es"_s,
                   u"PR"_s,
                   u"11222333000181"_s,
                   {u"\"--portal\" \"am\" ignored: given again"_s,
                    u"\"--cnpj\" \"27385904000139\" ignored: given again"_s}},
        OptionCase{"RepeatedABadLaterValueKeepsTheGoodOne",
                   {u"--cnpj"_s, u"27385904000139"_s, u"--cnpj"_s, u"27385904000130"_s},
                   {},
                   {},
                   kDigits,
                   {u"wrong check digits"_s}}),
    [](const testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

TEST(HostRequestTest, ThePortIsNeverReadAsAnOption)
{
    // The port stays first: options before it make the port argument something else, and
    // what follows the first argument is read as usual.
    const HostRequest request =
        ParseHostRequest({u"--portal"_s, u"sp"_s, u"5000"_s, u"--uf"_s, u"SP"_s}, kKeys);
    EXPECT_TRUE(request.portalKey.isEmpty());
    EXPECT_EQ(request.uf, u"SP"_s);
    ASSERT_EQ(request.warnings.size(), 2) << qPrintable(request.warnings.join(u'\n'));
    EXPECT_TRUE(request.warnings.at(0).contains(u"\"sp\""_s));
    EXPECT_TRUE(request.warnings.at(1).contains(u"\"5000\""_s));
    EXPECT_TRUE(ParseHostRequest({}, kKeys).warnings.isEmpty());
    EXPECT_TRUE(ParseHostRequest({u"--cnpj"_s}, kKeys).warnings.isEmpty());
}

struct DigitsCase
{
    const char* digits;
    bool valid;
};

TEST(HostRequestTest, CheckDigitsFollowTheModulus11Rule)
{
    const DigitsCase cases[] = {
        {"27385904000139", true},
        {"11222333000181", true},
        {"12345678000195", true},
        // A remainder of 0 or 1 gives the check digit 0, for either digit.
        {"10000008000101", true},
        {"10000017000100", true},
        {"10000010000180", true},
        {"10000001000190", true},
        {"10000017000101", false},
        {"27385904000138", false}, // last digit off by one
        {"27385904000149", false}, // first check digit off
        {"27385904000193", false}, // the check digits swapped
        {"72385904000139", false}, // two body digits swapped
        {"2738590400013", false},
        {"273859040001390", false},
        {"27.385.904/0001-39", false}, // punctuation is the caller's to remove
        {"2738590400013a", false},
        {"", false},
    };
    for (const DigitsCase& c : cases)
        EXPECT_EQ(CnpjCheckDigitsValid(QString::fromLatin1(c.digits)), c.valid) << c.digits;
}

TEST(HostRequestTest, CnpjFormsAndStateCodes)
{
    EXPECT_EQ(PunctuatedCnpj(kDigits), u"27.385.904/0001-39"_s);
    EXPECT_EQ(PunctuatedCnpj(u"123"_s), u"123"_s);
    EXPECT_EQ(DigitsOnly(u"27.385.904/0001-39\u00A0"_s), kDigits);
    const std::pair<const char*, const char*> states[] = {
        {"RO", "11"}, {"AP", "16"}, {"TO", "17"}, {"MA", "21"}, {"BA", "29"},
        {"MG", "31"}, {"SP", "35"}, {"PR", "41"}, {"RS", "43"}, {"MS", "50"},
        {"DF", "53"}, {"sp", ""},   {"XX", ""},   {"", ""}};
    for (const auto& [uf, code] : states)
        EXPECT_EQ(IbgeStateCode(QString::fromLatin1(uf)), QString::fromLatin1(code)) << uf;
}

TEST(HostRequestTest, TheCallCarriesTheValuesAsJsonData)
{
    HostRequest request;
    request.cnpj = kDigits;
    request.uf = u"GO"_s;
    const QString call = FillScriptCall(u"function (d) {}"_s, request);
    const QString prefix = u"(function (d) {})("_s;
    ASSERT_TRUE(call.startsWith(prefix)) << qPrintable(call);
    ASSERT_TRUE(call.endsWith(u");"_s)) << qPrintable(call);
    const QString json = call.mid(prefix.size(), call.size() - prefix.size() - 2);
    QJsonParseError error;
    const QJsonObject data = QJsonDocument::fromJson(json.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << qPrintable(json);
    EXPECT_EQ(data.value(u"cnpj").toString(), kDigits);
    EXPECT_EQ(data.value(u"cnpjPunctuated").toString(), u"27.385.904/0001-39"_s);
    EXPECT_EQ(data.value(u"uf").toString(), u"GO"_s);
    EXPECT_EQ(data.value(u"ufCode").toString(), u"52"_s);
    EXPECT_EQ(data.size(), 4);
}

} // namespace
