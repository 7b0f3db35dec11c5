#include "shell/StartupChecks.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>

namespace {

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

// Hand-written on purpose: neither Qt nor the engine offers a way to check a pack before the
// engine loads it, and the engine crashes on a damaged one.
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

QStringList EngineDataFiles()
{
    static const char* const dataFiles[] = {"icudtl.dat", "v8_context_snapshot.bin"};
    QStringList present;
    for (const char* file : dataFiles) {
        if (QFileInfo(defaultResourcesDir() + QLatin1Char('/') + QLatin1String(file)).isFile())
            present.append(QLatin1String(file));
    }
    return present;
}

QStringList MissingRuntimeFiles(const QString& resourcesDir, const QString& localesDir,
                                const QStringList& dataFiles)
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
    const QString resources = resourcesDir.isEmpty() ? defaultResourcesDir() : resourcesDir;
    check(resources, resourceFiles);
    // Data files have no header to check; an empty or unreadable one fails like a missing one.
    for (const QString& file : dataFiles) {
        QFile data(resources + QLatin1Char('/') + file);
        if (!QFileInfo(data).isFile() || data.size() == 0 || !data.open(QIODevice::ReadOnly))
            missing.append(data.fileName());
    }
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
