#pragma once

#include <QStringList>
#include <functional>

class QApplication;

// The program entry shared by the program and the engine tests: creates the runtime object,
// points it at the folders beside the executable and starts it. A helper process runs to its
// end; the main process brings up the toolkit and calls mainRole with the arguments that belong
// to the host (the program's own arguments, without the program name), then shuts down in order.
// Returns the process's exit status. startupErrorBox shows a start-up failure to the user;
// without it the failure goes to standard error only.
int RunQuarvelProcess(
    int argc, char** argv,
    const std::function<int(QApplication& app, const QStringList& hostArguments)>& mainRole,
    const std::function<void(const QString& message)>& startupErrorBox = {});
