#include "lookup/LookupCapture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <deque>
#include <optional>

namespace {

constexpr QFile::Permissions kFolderMode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr QFile::Permissions kFileMode = QFile::ReadOwner | QFile::WriteOwner;
// How long the destructor lets the writer finish the item it is on.
constexpr int kFinishMs = 1000;
// Runs started in the same second by the same process id get -2, -3, ...
constexpr int kFolderAttempts = 100;

QString Timestamp(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QString Outcome(const CapturedText& capture)
{
    if (!capture.examined)
        return QStringLiteral("not examined");
    if (!capture.recognised)
        return QStringLiteral("not recognised");
    // A result page that did not go out: the user refused another taxpayer's result, or the host
    // link was gone.
    if (!capture.sent)
        return QStringLiteral("not sent");
    return capture.fieldsMatched > 0 ? QStringLiteral("result sent")
                                     : QStringLiteral("nothing matched");
}

} // namespace

struct LookupCapture::Queue
{
    struct Item
    {
        std::optional<CapturedText> capture; // neither this nor failure: the last line
        QString ending;
        QDateTime time;
        std::optional<CapturedFailure> failure;
    };

    QMutex mutex;
    QWaitCondition wake;
    std::deque<Item> items;
    bool closed = false;
    // Texts still queued are skipped (and counted) rather than written.
    bool dropping = false;
};

namespace {

// The writing thread's side: the run's folder, its files and its index.
class Writer
{
public:
    Writer(QString dir, QString folderName, std::function<void()> beforeEachWrite)
        : m_dir(std::move(dir)), m_folderName(std::move(folderName)),
          m_beforeEachWrite(std::move(beforeEachWrite))
    {}

    void run(LookupCapture::Queue& queue)
    {
        for (;;) {
            LookupCapture::Queue::Item item;
            {
                QMutexLocker lock(&queue.mutex);
                while (queue.items.empty() && !queue.closed)
                    queue.wake.wait(&queue.mutex);
                if (queue.items.empty())
                    return;
                item = std::move(queue.items.front());
                queue.items.pop_front();
                if ((item.capture || item.failure) && queue.dropping) {
                    ++m_dropped;
                    continue;
                }
            }
            if (m_beforeEachWrite)
                m_beforeEachWrite();
            if (item.capture)
                writeCapture(*item.capture);
            else if (item.failure)
                writeFailure(*item.failure);
            else
                writeEnd(item);
        }
    }

private:
    void writeCapture(const CapturedText& capture)
    {
        if (!ensureFolder())
            return;
        ++m_sequence;
        const QString name = QStringLiteral("%1.txt").arg(m_sequence, 4, 10, QLatin1Char('0'));
        QJsonObject line{
            {QStringLiteral("time"), Timestamp(capture.time)},
            {QStringLiteral("portal"), capture.portalKey},
            {QStringLiteral("frameUrl"), capture.frameUrl},
            {QStringLiteral("frameName"), capture.frameName},
            {QStringLiteral("mainFrameUrl"), capture.mainFrameUrl},
            {QStringLiteral("recognised"), capture.recognised},
            {QStringLiteral("outcome"), Outcome(capture)},
        };
        if (capture.recognised) {
            line.insert(QStringLiteral("fieldsMatched"), capture.fieldsMatched);
            line.insert(QStringLiteral("sent"), capture.sent);
        }
        // An index line without "file" says the text itself could not be kept.
        if (writeFile(name, capture.text.toUtf8(), QIODevice::NewOnly))
            line.insert(QStringLiteral("file"), name);
        appendIndex(line);
    }

    void writeFailure(const CapturedFailure& failure)
    {
        if (!ensureFolder())
            return;
        appendIndex({{QStringLiteral("time"), Timestamp(failure.time)},
                     {QStringLiteral("portal"), failure.portalKey},
                     {QStringLiteral("url"), failure.url},
                     {QStringLiteral("failure"), failure.failure},
                     {QStringLiteral("errorCode"), failure.errorCode},
                     {QStringLiteral("errorText"), failure.errorText}});
    }

    void writeEnd(const LookupCapture::Queue::Item& item)
    {
        if (!ensureFolder())
            return;
        appendIndex({{QStringLiteral("time"), Timestamp(item.time)},
                     {QStringLiteral("ended"), item.ending},
                     {QStringLiteral("dropped"), m_dropped}});
    }

    void appendIndex(const QJsonObject& line)
    {
        writeFile(QStringLiteral("index.jsonl"),
                  QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n', QIODevice::Append);
    }

    bool writeFile(const QString& name, const QByteArray& bytes, QIODevice::OpenMode mode)
    {
        QFile file(QDir(m_folder).filePath(name));
        if (!file.open(QIODevice::WriteOnly | mode, kFileMode)) {
            fail(file.fileName(), file.errorString());
            return false;
        }
        if (file.write(bytes) != bytes.size() || !file.flush()) {
            fail(file.fileName(), file.errorString());
            return false;
        }
        return true;
    }

    bool ensureFolder()
    {
        if (!m_folder.isEmpty())
            return true;
        const QDir dir(m_dir);
        // The capture directory itself may be new; its parent must exist.
        if (!dir.exists())
            QDir().mkdir(m_dir, kFolderMode);
        for (int attempt = 1; attempt <= kFolderAttempts; ++attempt) {
            const QString name =
                attempt == 1 ? m_folderName : m_folderName + u'-' + QString::number(attempt);
            if (dir.mkdir(name, kFolderMode)) {
                m_folder = dir.filePath(name);
                // Exactly owner-only, whatever the umask left.
                QFile::setPermissions(m_folder, kFolderMode);
                return true;
            }
            if (!QFileInfo::exists(dir.filePath(name)))
                break;
        }
        const QFileInfo info(m_dir);
        fail(m_dir, info.isDir()    ? QStringLiteral("cannot create a folder in it")
                    : info.exists() ? QStringLiteral("not a folder")
                                    : QStringLiteral("no such folder"));
        return false;
    }

    void fail(const QString& path, const QString& why)
    {
        if (m_warned)
            return;
        m_warned = true;
        qWarning("quarvel: lookup capture not written (%s: %s); the lookup is not affected, and "
                 "further capture failures are not reported",
                 qUtf8Printable(QDir::toNativeSeparators(path)), qUtf8Printable(why));
    }

    QString m_dir;
    QString m_folderName;
    std::function<void()> m_beforeEachWrite;
    QString m_folder;
    int m_sequence = 0;
    qsizetype m_dropped = 0;
    bool m_warned = false;
};

// The thread owns its writer and shares only the queue, so that it may outlive the capture
// when the disk hangs.
class WriterThread : public QThread
{
public:
    WriterThread(std::shared_ptr<LookupCapture::Queue> queue, Writer writer)
        : m_queue(std::move(queue)), m_writer(std::move(writer))
    {}

protected:
    void run() override { m_writer.run(*m_queue); }

private:
    std::shared_ptr<LookupCapture::Queue> m_queue;
    Writer m_writer;
};

} // namespace

std::unique_ptr<LookupCapture> LookupCapture::FromEnvironment()
{
    const QString dir = qEnvironmentVariable("QUARVEL_CAPTURE_DIR");
    if (dir.isEmpty())
        return nullptr;
    return std::make_unique<LookupCapture>(QDir(dir).absolutePath());
}

LookupCapture::LookupCapture(const QString& dir, std::function<void()> beforeEachWrite)
    : m_queue(std::make_shared<Queue>())
{
    const QString folderName =
        QStringLiteral("quarvel-%1-%2")
            .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")))
            .arg(QCoreApplication::applicationPid());
    m_thread = new WriterThread(m_queue, Writer(dir, folderName, std::move(beforeEachWrite)));
}

LookupCapture::~LookupCapture()
{
    Close();
    DropPending();
    if (!m_thread->isRunning() || m_thread->wait(QDeadlineTimer(kFinishMs)))
        delete m_thread;
    // Otherwise the thread is left to end with the process.
}

void LookupCapture::Add(CapturedText capture)
{
    if (m_closed)
        return;
    if (capture.recognised && capture.sent)
        m_ending = Outcome(capture);
    {
        QMutexLocker lock(&m_queue->mutex);
        m_queue->items.push_back({std::move(capture), {}, {}, {}});
    }
    wakeWriter();
}

void LookupCapture::AddFailure(CapturedFailure failure)
{
    if (m_closed)
        return;
    {
        QMutexLocker lock(&m_queue->mutex);
        m_queue->items.push_back({std::nullopt, {}, {}, std::move(failure)});
    }
    wakeWriter();
}

void LookupCapture::wakeWriter()
{
    m_queue->wake.wakeOne();
    if (!m_added) {
        m_added = true;
        m_thread->start();
    }
}

void LookupCapture::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    {
        QMutexLocker lock(&m_queue->mutex);
        if (m_added)
            m_queue->items.push_back(
                {std::nullopt, m_ending, QDateTime::currentDateTimeUtc(), std::nullopt});
        m_queue->closed = true;
    }
    m_queue->wake.wakeOne();
}

void LookupCapture::DropPending()
{
    QMutexLocker lock(&m_queue->mutex);
    m_queue->dropping = true;
}
