// The message box seam: with QUARVEL_AUTO_DISMISS_BOXES set, a box dismisses itself, and a
// question is then answered by its default button.
#include "ui/MessageBox.h"

#include <QtGlobal>
#include <gtest/gtest.h>
#include <optional>

namespace {

class MessageBoxTest : public testing::Test
{
protected:
    void SetUp() override { qputenv("QUARVEL_AUTO_DISMISS_BOXES", "0"); }
    void TearDown() override { qunsetenv("QUARVEL_AUTO_DISMISS_BOXES"); }
};

struct AnswerCase
{
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
    QMessageBox::StandardButton expected;
};

TEST_F(MessageBoxTest, DismissedBoxesAnswerWithTheirDefaultButton)
{
    const AnswerCase cases[] = {
        {QMessageBox::Yes | QMessageBox::No, QMessageBox::No, QMessageBox::No},
        {QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::Yes},
        // An OK box closes without a button pressed: there was nothing to answer.
        {QMessageBox::Ok, QMessageBox::NoButton, QMessageBox::NoButton},
    };
    for (const AnswerCase& c : cases) {
        std::optional<QMessageBox::StandardButton> answer;
        MessageBoxSpec box{QMessageBox::Question, QStringLiteral("Confirmation"),
                           QStringLiteral("Enviar?")};
        box.buttons = c.buttons;
        box.defaultButton = c.defaultButton;
        box.answered = [&answer](QMessageBox::StandardButton button) { answer = button; };
        ShowMessageBox(box);
        EXPECT_EQ(answer, std::optional(c.expected)) << int(c.defaultButton);
    }
}

} // namespace
