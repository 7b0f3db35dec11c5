#include "ui/MessageBox.h"

#include <QLoggingCategory>
#include <QPushButton>
#include <QTimer>

// The test seam's lines read "message-box: <caption>: <text>" under Qt's default pattern.
Q_LOGGING_CATEGORY(lcMessageBox, "message-box")

void ShowMessageBox(const MessageBoxSpec& box, QWidget* parent)
{
    QMessageBox dialog(box.icon, box.caption, box.text, box.buttons, parent);
    if (box.defaultButton != QMessageBox::NoButton)
        dialog.setDefaultButton(box.defaultButton);
    if (box.topmost)
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint);

    bool ok = false;
    const int autoDismissMs = qEnvironmentVariableIntValue("QUARVEL_AUTO_DISMISS_BOXES", &ok);
    if (ok && autoDismissMs >= 0) {
        qCWarning(lcMessageBox, "%s: %s", qUtf8Printable(box.caption), qUtf8Printable(box.text));
        QTimer::singleShot(autoDismissMs, &dialog, [&dialog] {
            if (QPushButton* button = dialog.defaultButton())
                button->click();
            else
                dialog.accept();
        });
    }
    dialog.exec();
    if (box.answered)
        box.answered(dialog.standardButton(dialog.clickedButton()));
}
