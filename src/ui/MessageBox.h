#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// A modal box with one OK button, the way every message reaches the user.
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
};

void ShowMessageBox(const MessageBoxSpec& box, QWidget* parent = nullptr);
