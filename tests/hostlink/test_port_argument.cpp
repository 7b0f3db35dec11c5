#include "hostlink/PortArgument.h"

#include <QString>
#include <gtest/gtest.h>
#include <optional>

namespace {

struct PortCase
{
    const char16_t* text;
    std::optional<std::int32_t> value; // nullopt: malformed
};

void PrintTo(const PortCase& c, std::ostream* os)
{
    *os << '"' << QString::fromUtf16(c.text).toStdString() << '"';
}

class StrToIntTest : public testing::TestWithParam<PortCase>
{};

TEST_P(StrToIntTest, ReadsTheHostGrammar)
{
    const PortCase& c = GetParam();
    EXPECT_EQ(StrToInt(QStringView(c.text)), c.value);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Accepted, StrToIntTest, testing::Values(
    PortCase{u"8080", 8080},
    PortCase{u" 8080", 8080},
    PortCase{u"   8080", 8080},
    PortCase{u"+8080", 8080},
    PortCase{u"08080", 8080}, // leading zero is still decimal
    PortCase{u"$1F90", 8080},
    PortCase{u"x1f90", 8080},
    PortCase{u"X1F90", 8080},
    PortCase{u"0x1F90", 8080},
    PortCase{u"0X1f90", 8080},
    PortCase{u"$000000001F90", 8080}, // leading zeros are not significant digits
    PortCase{u"0", 0},
    PortCase{u"-0", 0},
    PortCase{u"-1", -1},
    PortCase{u"2147483647", 2147483647},
    PortCase{u"-2147483648", INT32_MIN},
    PortCase{u"$FFFFFFFF", -1},       // two's complement
    PortCase{u"$80000000", INT32_MIN},
    PortCase{u"-$1", -1},
    PortCase{u"-$FFFFFFFF", 1},       // negated modulo 2^32
    PortCase{u"+0x10", 16}));

INSTANTIATE_TEST_SUITE_P(Rejected, StrToIntTest, testing::Values(
    PortCase{u"", std::nullopt},
    PortCase{u"   ", std::nullopt},
    PortCase{u"8080 ", std::nullopt},   // trailing blank
    PortCase{u"\t8080", std::nullopt},  // only U+0020 is a blank
    PortCase{u"1e3", std::nullopt},
    PortCase{u"x", std::nullopt},
    PortCase{u"$", std::nullopt},
    PortCase{u"0x", std::nullopt},
    PortCase{u"+", std::nullopt},
    PortCase{u"-", std::nullopt},
    PortCase{u"- 5", std::nullopt},
    PortCase{u"+-5", std::nullopt},
    PortCase{u"--5", std::nullopt},
    PortCase{u"2147483648", std::nullopt},
    PortCase{u"-2147483649", std::nullopt},
    PortCase{u"99999999999999999999", std::nullopt},
    PortCase{u"$100000000", std::nullopt}, // a ninth significant digit
    PortCase{u"$1G", std::nullopt},
    PortCase{u"0x$1", std::nullopt},
    PortCase{u"80 80", std::nullopt},
    PortCase{u"\u0668\u0660\u0668\u0660", std::nullopt}, // Arabic-Indic digits
    PortCase{u"\uFF18\uFF10\uFF18\uFF10", std::nullopt}, // full-width digits
    PortCase{u"\u00A08080", std::nullopt}));             // no-break space is not a blank
// clang-format on

struct PortFromArgumentCase
{
    const char16_t* text;
    std::optional<std::uint16_t> port;
};

void PrintTo(const PortFromArgumentCase& c, std::ostream* os)
{
    *os << '"' << QString::fromUtf16(c.text).toStdString() << '"';
}

class PortFromArgumentTest : public testing::TestWithParam<PortFromArgumentCase>
{};

TEST_P(PortFromArgumentTest, KeepsTheLow16Bits)
{
    const PortFromArgumentCase& c = GetParam();
    EXPECT_EQ(PortFromArgument(QStringView(c.text)), c.port);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Ports, PortFromArgumentTest, testing::Values(
    PortFromArgumentCase{u"8080", 8080},
    PortFromArgumentCase{u"-1", 65535},
    PortFromArgumentCase{u"$FFFFFFFF", 65535},
    PortFromArgumentCase{u"70000", 4464},
    PortFromArgumentCase{u"65536", 0},
    PortFromArgumentCase{u"0", 0},
    PortFromArgumentCase{u"-2147483648", 0},
    PortFromArgumentCase{u"2147483647", 65535},
    PortFromArgumentCase{u"-65535", 1},
    PortFromArgumentCase{u"", std::nullopt},
    PortFromArgumentCase{u"8080 ", std::nullopt},
    PortFromArgumentCase{u"2147483648", std::nullopt}));
// clang-format on

} // namespace
