#include "shell/MessageBox.h"

#include <QTimer>
#include <cstdio>

void ShowMessageBox(const MessageBoxSpec& box, QWidget* parent)
{
    QMessageBox dialog(box.icon, box.caption, box.text, QMessageBox::Ok, parent);
    if (box.topmost)
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint);

    bool ok = false;
    const int autoDismissMs = qEnvironmentVariableIntValue("QUARVEL_AUTO_DISMISS_BOXES", &ok);
    if (ok && autoDismissMs >= 0) {
        std::fprintf(stderr, "message-box: %s: %s\n", qUtf8Printable(box.caption),
                     qUtf8Printable(box.text));
        std::fflush(stderr);
        QTimer::singleShot(autoDismissMs, &dialog, &QDialog::accept);
    }
    dialog.exec();
}
