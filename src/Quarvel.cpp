#include "shell/ProcessEntry.h"
#include "ui/MessageBox.h"
#include "ui/frmQuarvel.h"

#include <QApplication>

int main(int argc, char** argv)
{
    return RunQuarvelProcess(
        argc, argv,
        [](QApplication& app, const QStringList& hostArguments) {
            TForm1 Form1(hostArguments);
            QObject::connect(&Form1, &TForm1::Closed, &app, &QCoreApplication::quit,
                             Qt::QueuedConnection);
            Form1.show();
            return app.exec();
        },
        [](const QString& message) {
            ShowMessageBox({QMessageBox::Critical, QStringLiteral("Error"), message, true});
        });
}
