#include "hostlink/WireFormat.h"

#include <gtest/gtest.h>

namespace {

QByteArray Hex(const char* hex)
{
    return QByteArray::fromHex(QByteArray(hex));
}

TEST(WireFormat, WorkedExampleIsExactly40Bytes)
{
    const QByteArray bytes =
        EncodeResultBlock({QStringLiteral("estado=SP"), QStringLiteral("cep=")});
    EXPECT_EQ(bytes, Hex("65 00 73 00 74 00 61 00 64 00 6F 00 3D 00 53 00 50 00 0D 00 0A 00"
                         "63 00 65 00 70 00 3D 00 0D 00 0A 00 2E 00 0D 00 0A 00"));
    EXPECT_EQ(bytes.size(), 40);
}

TEST(WireFormat, EmptyBlockIsTheTerminatorOnly)
{
    EXPECT_EQ(EncodeResultBlock({}), Hex("2E 00 0D 00 0A 00"));
}

struct LineCase
{
    const char* name;
    QString line;
    QByteArray lineBytes; // the line's UTF-16LE bytes, before CR LF
};

void PrintTo(const LineCase& c, std::ostream* os)
{
    *os << c.name;
}

class EncodedLineTest : public testing::TestWithParam<LineCase>
{};

TEST_P(EncodedLineTest, CodeUnitsGoOutUnchanged)
{
    const LineCase& c = GetParam();
    EXPECT_EQ(EncodeResultBlock({c.line}), c.lineBytes + Hex("0D 00 0A 00 2E 00 0D 00 0A 00"));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lines, EncodedLineTest, testing::Values(
    LineCase{"NonAscii", QString::fromUtf16(u"nome=S\u00e3o"), Hex("6E 00 6F 00 6D 00 65 00 3D 00 53 00 E3 00 6F 00")},
    LineCase{"LeadingDotNotEscaped", QStringLiteral(".x"), Hex("2E 00 78 00")},
    LineCase{"LoneDot", QStringLiteral("."), Hex("2E 00")},
    LineCase{"LoneLfNotEscaped", QStringLiteral("a\nb"), Hex("61 00 0A 00 62 00")},
    LineCase{"SurrogatePair", QString::fromUtf16(u"\U0001F600"), Hex("3D D8 00 DE")},
    LineCase{"LoneHighSurrogate", QString(QChar(0xD800)), Hex("00 D8")},
    LineCase{"LoneLowSurrogate", QString(QChar(0xDC01)) + QLatin1Char('a'), Hex("01 DC 61 00")},
    LineCase{"Nul", QString(QChar(0)), Hex("00 00")},
    LineCase{"Empty", QString(), QByteArray()}),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST(WireFormat, ClosingNoticeIsSixteenAsciiBytes)
{
    EXPECT_EQ(ClosingNotice(), Hex("63 6C 69 65 6E 74 2D 63 6C 6F 73 69 6E 67 0D 0A"));
}

TEST(WireFormat, CloseCommandIsDecidedByTheFirstFiveBytes)
{
    EXPECT_TRUE(IsCloseCommand("close"));
    EXPECT_TRUE(IsCloseCommand("close\r\n"));
    EXPECT_TRUE(IsCloseCommand("closed"));
    EXPECT_FALSE(IsCloseCommand("CLOSE"));
    EXPECT_FALSE(IsCloseCommand("clos"));
    EXPECT_FALSE(IsCloseCommand(""));
    EXPECT_FALSE(IsCloseCommand(" close"));
    EXPECT_FALSE(IsCloseCommand(QByteArrayView("c\0l\0o\0s\0e\0", 10)));
}

} // namespace
