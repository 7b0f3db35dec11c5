#include "shell/CefApplication.h"

#include "shell/MessageBox.h"

#include <QApplication>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QtWebEngineCore/qtwebenginecoreglobal.h>
#include <QtWebEngineCore/qtwebenginecoreversion.h>
#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>

namespace QtWebEngineCore {
// Exported by the engine library: runs one of the engine's helper processes.
int processMain(int argc, const char** argv);
} // namespace QtWebEngineCore

TCefApplication* GlobalCEFApp = nullptr;

namespace {

// The engine can be started once per process, whichever runtime object asks.
std::atomic_bool s_engineStarted{false};

constexpr auto kEngineLibrary = "libQt6WebEngineCore.so.6";

QString defaultResourcesDir()
{
    return QLibraryInfo::path(QLibraryInfo::DataPath) + QStringLiteral("/resources");
}

QString defaultLocalesDir()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
           QStringLiteral("/qtwebengine_locales");
}

void appendEnvironment(const char* name, const QByteArray& extra)
{
    QByteArray value = qgetenv(name);
    if (!value.isEmpty())
        value += ' ';
    qputenv(name, value + extra);
}

} // namespace

QString ExecutableDir()
{
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    QString path = exe.canonicalFilePath();
    if (path.isEmpty())
        path = exe.symLinkTarget();
    return QFileInfo(path).absolutePath() + QLatin1Char('/');
}

QString ResolveRuntimeFolder(const QString& exeDir, const QString& value)
{
    if (value.isEmpty())
        return {};
    const QString joined = QDir::isAbsolutePath(value) ? value : exeDir + value;
    QString cleaned = QDir::cleanPath(joined);
    if (cleaned.isEmpty())
        cleaned = joined;
    if (!QFileInfo(cleaned).isDir())
        return {};
    return cleaned;
}

bool IsUsablePackFile(const QString& path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    QDataStream in(&file);
    in.setByteOrder(QDataStream::LittleEndian);
    quint32 version = 0;
    in >> version;
    quint32 resources = 0;
    quint32 aliases = 0;
    qint64 headerSize = 0;
    if (version == 4) {
        quint8 encoding = 0;
        in >> resources >> encoding;
        headerSize = 9;
    } else if (version == 5) {
        quint32 encoding = 0;
        quint16 resourceCount = 0;
        quint16 aliasCount = 0;
        in >> encoding >> resourceCount >> aliasCount;
        resources = resourceCount;
        aliases = aliasCount;
        headerSize = 12;
    } else {
        return false;
    }
    // The index: an entry (id, offset) per resource and a closing one, then the aliases
    // (id, entry index). Every offset lies within the file, in order, after the index.
    const qint64 indexEnd = headerSize + (qint64(resources) + 1) * 6 + qint64(aliases) * 4;
    if (in.status() != QDataStream::Ok || indexEnd > size)
        return false;
    qint64 previous = indexEnd;
    for (quint32 i = 0; i <= resources; ++i) {
        quint16 id = 0;
        quint32 offset = 0;
        in >> id >> offset;
        if (offset < previous || offset > size)
            return false;
        previous = offset;
    }
    for (quint32 i = 0; i < aliases; ++i) {
        quint16 id = 0;
        quint16 entry = 0;
        in >> id >> entry;
        if (entry >= resources)
            return false;
    }
    return in.status() == QDataStream::Ok;
}

QStringList MissingRuntimeFiles(const QString& resourcesDir, const QString& localesDir)
{
    static const char* const resourceFiles[] = {
        "qtwebengine_resources.pak", "qtwebengine_resources_100p.pak",
        "qtwebengine_resources_200p.pak", "qtwebengine_devtools_resources.pak"};
    // The engine falls back to this pack when the system's language has none.
    static const char* const localeFiles[] = {"en-US.pak"};

    QStringList missing;
    const auto check = [&missing](const QString& folder, const auto& files) {
        for (const char* file : files) {
            const QString path = folder + QLatin1Char('/') + QLatin1String(file);
            // A pack cut short or unreadable would crash the engine instead of failing.
            if (!IsUsablePackFile(path))
                missing.append(path);
        }
    };
    check(resourcesDir.isEmpty() ? defaultResourcesDir() : resourcesDir, resourceFiles);
    check(localesDir.isEmpty() ? defaultLocalesDir() : localesDir, localeFiles);
    return missing;
}

QString MissingFilesMessage(const QStringList& missing)
{
    QString message = QStringLiteral("Qt WebEngine binaries missing !");
    QStringList trimmed;
    for (const QString& file : missing) {
        if (!file.trimmed().isEmpty())
            trimmed.append(file.trimmed());
    }
    if (!trimmed.isEmpty()) {
        message += QStringLiteral("\r\n\r\nThe missing files are :\r\n") +
                   trimmed.join(QStringLiteral("\r\n"));
    }
    return message;
}

QString EngineVersionMessage(const QString& expected, const QString& found)
{
    if (expected == found)
        return {};
    QString message = QStringLiteral("Unsupported Qt WebEngine version !\r\n"
                                     "Quarvel runs only with the Qt WebEngine it was built "
                                     "against; see the README's requirements.");
    if (!found.isEmpty()) {
        const QString library = QLatin1String(kEngineLibrary);
        message += QStringLiteral("\r\n\r\nExpected ") + library + QStringLiteral(" version : ") +
                   expected + QStringLiteral("\r\nFound ") + library +
                   QStringLiteral(" version : ") + found;
    }
    return message;
}

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
    std::fprintf(stderr, "%s\n", qUtf8Printable(message));
    std::fflush(stderr);
    if (!ShowMessageDlg)
        return;
    // Start-up runs before the toolkit: bring one up just for the box when there is none.
    int boxArgc = 1;
    char* boxArgv[] = {m_argv[0], nullptr};
    std::unique_ptr<QApplication> boxApp;
    if (QCoreApplication::instance() == nullptr)
        boxApp = std::make_unique<QApplication>(boxArgc, boxArgv);
    ShowMessageBox({QMessageBox::Critical, QStringLiteral("Error"), message, true});
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
    // Chromium refuses to run as root with its sandbox on.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The engine's start-up report is a log of its own; the program keeps none.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext=false"));
}
