// The frame script's report protocol: which console messages are taken for reports.
#include "shell/FrameReport.h"

#include <gtest/gtest.h>

namespace {

struct MessageCase
{
    const char* name;
    QString body; // after the token
    bool accepted;
    bool changed;
};

void PrintTo(const MessageCase& param, std::ostream* os)
{
    *os << param.name;
}

class FrameReportTest : public testing::TestWithParam<MessageCase>
{};

TEST_P(FrameReportTest, ParsesOnlyWellFormedReports)
{
    const QString token = NewFrameReportToken();
    const MessageCase& param = GetParam();
    FrameReport report;
    ASSERT_EQ(ParseFrameReport(token, token + param.body, report), param.accepted);
    if (param.accepted) {
        EXPECT_EQ(report.changed, param.changed);
    }
    // The same message under another token is never a report.
    EXPECT_FALSE(ParseFrameReport(NewFrameReportToken(), token + param.body, report));
}

INSTANTIATE_TEST_SUITE_P(
    Messages, FrameReportTest,
    testing::Values(
        MessageCase{"SubFrameLoad", QStringLiteral(R"(["http://a/","f","text",""])"), true, false},
        MessageCase{"MainFrameLoad", QStringLiteral(R"(["http://a/","","","id1"])"), true, false},
        MessageCase{"MainFrameChange", QStringLiteral(R"(["http://a/","","","id1","change"])"),
                    true, true},
        // A change notice comes from the main frame, which always has a document id.
        MessageCase{"ChangeWithoutDocument", QStringLiteral(R"(["http://a/","f","","","change"])"),
                    false, false},
        MessageCase{"FifthFieldOfAnotherKind",
                    QStringLiteral(R"(["http://a/","","","id1","load"])"), false, false},
        MessageCase{"ChangeKindNotAString", QStringLiteral(R"(["http://a/","","","id1",1])"), false,
                    false},
        MessageCase{"ThreeFields", QStringLiteral(R"(["http://a/","f","text"])"), false, false},
        MessageCase{"SixFields", QStringLiteral(R"(["http://a/","","","id1","change","x"])"), false,
                    false},
        MessageCase{"NotJson", QStringLiteral("change"), false, false}),
    [](const testing::TestParamInfo<MessageCase>& info) { return std::string(info.param.name); });

} // namespace
