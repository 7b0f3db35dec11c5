#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

// A modal box, the way every message reaches the user: one OK button unless buttons says
// otherwise, and then answered learns which one was pressed (defaultButton when the box was
// dismissed by itself, NoButton when it had no answer at all).
//
// Test seam: when QUARVEL_AUTO_DISMISS_BOXES is set to a number of milliseconds, each box
// writes "message-box: <caption>: <text>" to standard error and dismisses itself after that
// delay, so that a test driving the real program never sits on a modal box.
struct MessageBoxSpec
{
    QMessageBox::Icon icon = QMessageBox::Information;
    QString caption;
    QString text;
    bool topmost = false;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    std::function<void(QMessageBox::StandardButton)> answered = nullptr;
};

void ShowMessageBox(const MessageBoxSpec& box, QWidget* parent = nullptr);
