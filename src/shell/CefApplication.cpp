#include "shell/CefApplication.h"

#include "shell/PortugueseTexts.h"
#include "shell/SandboxPolicy.h"
#include "shell/StartupChecks.h"

#include <QApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QtWebEngineCore/qtwebenginecoreglobal.h>
#include <QtWebEngineCore/qtwebenginecoreversion.h>
#include <atomic>
#include <exception>
#include <memory>
#include <unistd.h>

namespace QtWebEngineCore {
// Exported by the engine library: runs one of the engine's helper processes.
int processMain(int argc, const char** argv);
} // namespace QtWebEngineCore

TCefApplication* GlobalCEFApp = nullptr;

namespace {

// The engine can be started once per process, whichever runtime object asks.
std::atomic_bool s_engineStarted{false};

void appendEnvironment(const char* name, const QByteArray& extra)
{
    QByteArray value = qgetenv(name);
    if (!value.isEmpty())
        value += ' ';
    value += extra;
    qputenv(name, value);
}

} // namespace

TCefApplication::TCefApplication(int argc, char** argv) : m_argc(argc), m_argv(argv)
{
    std::string value;
    m_processType = ProcessTypeFromArguments(argc, argv, &value);
    m_emptyProcessType = m_processType == ptOther && value.empty();
}

TCefApplication::~TCefApplication()
{
    if (m_processType == ptBrowser && m_status == asInitialized)
        m_status = asShuttingDown; // the engine shuts down with the toolkit, already gone
    if (m_status == asLoaded || m_status == asShuttingDown)
        m_status = asUnloaded;
}

void TCefApplication::SetFrameworkDirPath(const QString& value)
{
    m_frameworkDirPath = ResolveRuntimeFolder(ExecutableDir(), value);
}

void TCefApplication::SetResourcesDirPath(const QString& value)
{
    m_resourcesDirPath = ResolveRuntimeFolder(ExecutableDir(), value);
}

void TCefApplication::SetLocalesDirPath(const QString& value)
{
    m_localesDirPath = ResolveRuntimeFolder(ExecutableDir(), value);
}

bool TCefApplication::GlobalContextInitialized() const
{
    return m_status == asInitialized && qobject_cast<QApplication*>(QCoreApplication::instance());
}

void TCefApplication::Fail(TCefAplicationStatus status, const QString& message)
{
    m_status = status;
    m_lastError = message;
    if (message.isEmpty())
        return;
    // In the default category, so that the line is the box's text exactly, with no prefix.
    qCritical("%s", qUtf8Printable(message));
    if (!ShowMessageDlg || !StartupErrorBox)
        return;
    // Start-up runs before the toolkit: bring one up just for the box when there is none.
    int boxArgc = 1;
    char* boxArgv[] = {m_argv[0], nullptr};
    std::unique_ptr<QApplication> boxApp;
    if (QCoreApplication::instance() == nullptr)
        boxApp = std::make_unique<QApplication>(boxArgc, boxArgv);
    StartupErrorBox(message);
}

bool TCefApplication::StartMainProcess()
{
    if (m_status != asLoading)
        return false;
    try {
        if (m_processType == ptBrowser) {
            const QStringList missing = MissingRuntimeFiles(m_resourcesDirPath, m_localesDirPath);
            if (!missing.isEmpty()) {
                Fail(asErrorMissingFiles, MissingFilesMessage(missing));
                return false;
            }
            const QString version = EngineVersionMessage(
                QStringLiteral(QTWEBENGINECORE_VERSION_STR), QLatin1String(qWebEngineVersion()));
            if (!version.isEmpty()) {
                Fail(asErrorDLLVersion, version);
                return false;
            }
        }
        if (s_engineStarted.exchange(true)) {
            Fail(asErrorLoadingLibrary,
                 QStringLiteral("GlobalCEFApp can only be initialized once per process."));
            return false;
        }
        m_status = asLoaded;

        if (m_processType != ptBrowser) {
            m_exitCode = RunHelperProcess();
            return false;
        }

        ConfigureEngineEnvironment();
        m_status = asInitialized;
        return true;
    } catch (const std::exception& e) {
        Fail(asErrorExecutingProcess, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        Fail(asErrorExecutingProcess, QStringLiteral("Unexpected error while starting."));
    }
    return false;
}

int TCefApplication::RunHelperProcess()
{
    // The engine's helper entry takes an empty type for the main process and would start a
    // whole browser of its own: refuse it.
    if (m_emptyProcessType)
        return 1;
    QCoreApplication helperApp(m_argc, m_argv);
    return QtWebEngineCore::processMain(m_argc, const_cast<const char**>(m_argv));
}

void TCefApplication::ConfigureEngineEnvironment() const
{
    // The engine's helpers are this executable again.
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!self.isEmpty())
        qputenv("QTWEBENGINEPROCESS_PATH", QFile::encodeName(self));
    if (!m_resourcesDirPath.isEmpty())
        qputenv("QTWEBENGINE_RESOURCES_PATH", QFile::encodeName(m_resourcesDirPath));
    if (!m_localesDirPath.isEmpty())
        qputenv("QTWEBENGINE_LOCALES_PATH", QFile::encodeName(m_localesDirPath));
    appendEnvironment("QTWEBENGINE_CHROMIUM_FLAGS",
                      "--disable-gpu --disable-gpu-compositing --disable-gpu-shader-disk-cache");
    // The engine's own check of where a connection lands: a name of the internet that resolves
    // to a local address, from a page served by a public address.
    appendEnvironment(
        "QTWEBENGINE_CHROMIUM_FLAGS",
        "--enable-features=BlockInsecurePrivateNetworkRequests,"
        "PrivateNetworkAccessSendPreflights,PrivateNetworkAccessRespectPreflightResults,"
        "PrivateNetworkAccessForWorkers");
    // The caller's own switch is left as it is.
    const bool callerDisabled = qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX");
    const SandboxDecision sandbox = DecideSandbox(::geteuid(), callerDisabled);
    if (!sandbox.on) {
        qWarning("%s", qUtf8Printable(SandboxOffLine(sandbox)));
        if (!callerDisabled)
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    // The engine takes its locale (its pages, bubbles and pickers) from the default one.
    QLocale::setDefault(EngineLocale());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The engine's start-up report is a log of its own; the program keeps none.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext=false"));
}
