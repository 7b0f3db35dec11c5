#include "StreamDecoder.h"
#include "hostlink/WireFormat.h"

#include <gtest/gtest.h>

namespace {

QStringList Decode(const QByteArray& stream, bool byteByByte, bool* wellFormed)
{
    StreamDecoder decoder;
    QStringList events;
    if (byteByByte)
        for (qsizetype i = 0; i < stream.size(); ++i)
            events << decoder.Feed(stream.mid(i, 1));
    else
        events << decoder.Feed(stream);
    events << decoder.Finish();
    *wellFormed = decoder.WellFormedBlock();
    return events;
}

struct StreamCase
{
    const char* name;
    QByteArray stream;
    QStringList events;
    bool wellFormed;
};

const QByteArray kBlock = EncodeResultBlock({QStringLiteral("estado=SP"), QStringLiteral("cep=")});
const QStringList kBlockEvents{QStringLiteral("line estado=SP"), QStringLiteral("line cep="),
                               QStringLiteral("block 2 lines")};

// clang-format off
const StreamCase kCases[] = {
    {"Block", kBlock, kBlockEvents, true},
    {"NoticeThenBlock", ClosingNotice() + kBlock,
     QStringList{QStringLiteral("notice client-closing")} + kBlockEvents, true},
    {"NoticeOnly", ClosingNotice(), {QStringLiteral("notice client-closing")}, false},
    {"Nothing", QByteArray(), {}, false},
    {"EmptyBlock", EncodeResultBlock({}), {QStringLiteral("block 0 lines")}, true},
    {"NonAsciiAndEscapes",
     EncodeResultBlock({QString::fromUtf16(u"nome=S\u00e3o \\ \U0001F600"), QStringLiteral("x=a\nb\tc\x01"),
                        QStringLiteral("y=") + QChar(0xD800)}),
     {QString::fromUtf16(u"line nome=S\u00e3o \\\\ \U0001F600"), QStringLiteral("line x=a\\nb\\tc\\x01"),
      QStringLiteral("line y=\\uD800"), QStringLiteral("block 3 lines")}, true},
    {"LeadingDotLine", EncodeResultBlock({QStringLiteral(".x=1")}),
     {QStringLiteral("line .x=1"), QStringLiteral("block 1 lines")}, true},
    {"OddByteCount", kBlock.chopped(1),
     {QStringLiteral("line estado=SP"), QStringLiteral("line cep="),
      QStringLiteral("error: odd byte count in the result block"),
      QStringLiteral("error: missing terminator after 2 lines and a partial line: .\\r")}, false},
    {"MissingTerminator", kBlock.chopped(6),
     {QStringLiteral("line estado=SP"), QStringLiteral("line cep="),
      QStringLiteral("error: missing terminator after 2 lines")}, false},
    {"BytesAfterTerminator", kBlock + "xyz",
     kBlockEvents + QStringList{QStringLiteral("error: 3 bytes after the terminator")}, false},
    {"NoticeAfterBlock", kBlock + ClosingNotice(),
     kBlockEvents + QStringList{QStringLiteral("error: 16 bytes after the terminator")}, false},
    {"AsciiData", QByteArray("estado=SP\r\n.\r\n"),
     {QStringLiteral("error: unexpected ASCII data, 14 bytes: estado=SP\\x0D\\x0A.\\x0D\\x0A")}, false},
    {"LongAsciiData", QByteArray(50, 'a'),
     {QStringLiteral("error: unexpected ASCII data, 50 bytes: ") + QString(40, QLatin1Char('a')) +
      QStringLiteral("...")}, false},
    {"SecondNotice", ClosingNotice() + ClosingNotice() + kBlock,
     QStringList{QStringLiteral("notice client-closing"), QStringLiteral("error: second closing notice")} +
         kBlockEvents, false},
    {"IncompleteNotice", ClosingNotice().left(6),
     {QStringLiteral("error: incomplete closing notice: client")}, false},
};
// clang-format on

class StreamDecoderTest : public testing::TestWithParam<std::tuple<StreamCase, bool>>
{};

TEST_P(StreamDecoderTest, EventsDoNotDependOnHowBytesArrive)
{
    const auto& [c, byteByByte] = GetParam();
    bool wellFormed = false;
    EXPECT_EQ(Decode(c.stream, byteByByte, &wellFormed), c.events);
    EXPECT_EQ(wellFormed, c.wellFormed);
}

INSTANTIATE_TEST_SUITE_P(Streams, StreamDecoderTest,
                         testing::Combine(testing::ValuesIn(kCases), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<StreamCase, bool>>& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_ByteByByte" : "_Whole");
                         });

} // namespace
