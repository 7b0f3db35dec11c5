#pragma once

#include "shell/ProcessType.h"

#include <QString>
#include <QStringList>
#include <functional>

enum TCefAplicationStatus
{
    asLoading = 0,
    asLoaded = 1,
    asInitialized = 2,
    asShuttingDown = 3,
    asUnloaded = 4,
    asErrorMissingFiles = 5,
    asErrorDLLVersion = 6,
    asErrorLoadingLibrary = 7,
    asErrorInitializingLibrary = 8,
    asErrorExecutingProcess = 9,
};

// The process-wide browser runtime object: tells the main process from the engine's helper
// processes, points the engine at its folders, checks them and starts the engine.
class TCefApplication
{
public:
    // Reads the process type from the arguments. argv must outlive the object.
    TCefApplication(int argc, char** argv);
    ~TCefApplication();
    TCefApplication(const TCefApplication&) = delete;
    TCefApplication& operator=(const TCefApplication&) = delete;

    TCefProcessType ProcessType() const { return m_processType; }
    TCefAplicationStatus Status() const { return m_status; }

    // Each setter resolves a relative value against the executable's folder; the setting is
    // empty when the resulting folder does not exist (the engine's installed default is used).
    void SetFrameworkDirPath(const QString& value);
    void SetResourcesDirPath(const QString& value);
    void SetLocalesDirPath(const QString& value);
    QString FrameworkDirPath() const { return m_frameworkDirPath; }
    QString ResourcesDirPath() const { return m_resourcesDirPath; }
    QString LocalesDirPath() const { return m_localesDirPath; }

    // Show start-up failures in a box (they always go to standard error too), through
    // StartupErrorBox; the toolkit is brought up for it when it is not running yet.
    bool ShowMessageDlg = true;
    std::function<void(const QString& message)> StartupErrorBox;

    // True only in the main process once the engine is set up. In a helper process it runs the
    // helper to its end and returns false; ExitCode() then holds the helper's status.
    bool StartMainProcess();
    int ExitCode() const { return m_exitCode; }
    // The text of the last start-up failure, empty when there was none.
    QString LastErrorMessage() const { return m_lastError; }

    // Whether a browser can be created now: the engine is set up and the toolkit runs.
    bool GlobalContextInitialized() const;

private:
    void Fail(TCefAplicationStatus status, const QString& message);
    int RunHelperProcess();
    void ConfigureEngineEnvironment() const;

    int m_argc;
    char** m_argv;
    TCefProcessType m_processType;
    bool m_emptyProcessType = false;
    TCefAplicationStatus m_status = asLoading;
    QString m_frameworkDirPath;
    QString m_resourcesDirPath;
    QString m_localesDirPath;
    QString m_lastError;
    int m_exitCode = 0;
};

// The one runtime object of the process, created first and released last by the entry.
extern TCefApplication* GlobalCEFApp;
