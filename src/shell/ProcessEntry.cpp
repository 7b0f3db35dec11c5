#include "shell/ProcessEntry.h"

#include "shell/CefApplication.h"
#include "shell/PortugueseTexts.h"

#include <QApplication>

int RunQuarvelProcess(
    int argc, char** argv,
    const std::function<int(QApplication& app, const QStringList& hostArguments)>& mainRole,
    const std::function<void(const QString& message)>& startupErrorBox)
{
    GlobalCEFApp = new TCefApplication(argc, argv);
    GlobalCEFApp->StartupErrorBox = startupErrorBox;
    GlobalCEFApp->SetFrameworkDirPath(QStringLiteral("./chromium/"));
    GlobalCEFApp->SetResourcesDirPath(QStringLiteral("./chromium/"));
    GlobalCEFApp->SetLocalesDirPath(QStringLiteral("./chromium/locales"));

    int exitCode = 1;
    if (GlobalCEFApp->StartMainProcess()) {
        QStringList hostArguments;
        for (int i = 1; i < argc; ++i)
            hostArguments.append(QString::fromLocal8Bit(argv[i]));

        // The arguments belong to the host: the toolkit must not read options out of them.
        int toolkitArgc = 1;
        char* toolkitArgv[] = {argv[0], nullptr};
        QApplication app(toolkitArgc, toolkitArgv);
        QCoreApplication::setApplicationName(QStringLiteral("Quarvel"));
        if (!InstallPortugueseTexts(app))
            qWarning("quarvel: Qt's Portuguese translations (qtbase_pt_BR.qm) are not installed; "
                     "the standard buttons of the boxes stay in English");
        // The main window decides when the program ends (after the browser is gone).
        QApplication::setQuitOnLastWindowClosed(false);
        exitCode = mainRole(app, hostArguments);
    } else if (GlobalCEFApp->ProcessType() != ptBrowser) {
        exitCode = GlobalCEFApp->ExitCode();
    }

    delete GlobalCEFApp;
    GlobalCEFApp = nullptr;
    return exitCode;
}
