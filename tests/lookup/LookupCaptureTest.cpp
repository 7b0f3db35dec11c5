#include "lookup/LookupCapture.h"

#include "QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSemaphore>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <optional>

namespace {

using namespace Qt::Literals::StringLiterals;

constexpr QFile::Permissions kOwnerAll = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr QFile::Permissions kOwnerReadWrite = QFile::ReadOwner | QFile::WriteOwner;

// The permission bits of path as the file system has them (Qt's user bits follow the caller).
QFile::Permissions Mode(const QString& path)
{
    return QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
}

// The run folders the capture made under dir.
QStringList RunFolders(const QString& dir)
{
    return QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// Waits, bounded, until the one run folder under dir has the index's last line.
QString EndedRun(const QString& dir)
{
    for (int i = 0; i < 4000; ++i) {
        const QStringList folders = RunFolders(dir);
        if (folders.size() == 1) {
            QFile index(QDir(dir).filePath(folders[0] + u"/index.jsonl"_s));
            if (index.open(QIODevice::ReadOnly) && index.readAll().contains("\"ended\""))
                return QDir(dir).filePath(folders[0]);
        }
        QThread::msleep(5);
    }
    return {};
}

QList<QJsonObject> IndexLines(const QString& folder)
{
    QFile file(QDir(folder).filePath(u"index.jsonl"_s));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QJsonObject> lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        lines.append(doc.object());
    }
    return lines;
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

CapturedText Seen(const QString& text, bool examined, bool recognised, qsizetype matched, bool sent)
{
    return {.text = text,
            .portalKey = u"ba"_s,
            .frameUrl = u"http://127.0.0.5:8080/Sintegra/Result.asp"_s,
            .frameName = QString(),
            .mainFrameUrl = u"http://127.0.0.5:8080/Sintegra/Result.asp"_s,
            .examined = examined,
            .recognised = recognised,
            .fieldsMatched = matched,
            .sent = sent};
}

// Warnings raised on any thread while an instance lives.
class WarningLog
{
public:
    WarningLog()
    {
        s_log = this;
        m_previous = qInstallMessageHandler(&WarningLog::handle);
    }
    ~WarningLog()
    {
        qInstallMessageHandler(m_previous);
        s_log = nullptr;
    }

    QStringList warnings() const
    {
        QMutexLocker lock(&m_mutex);
        return m_warnings;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (type != QtWarningMsg || s_log == nullptr)
            return;
        QMutexLocker lock(&s_log->m_mutex);
        s_log->m_warnings.append(message);
    }

    static inline WarningLog* s_log = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QStringList m_warnings;
};

TEST(LookupCaptureTest, OneFilePerTextExactlyAsGivenAndOneIndexLineEachThenTheEnd)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Row
    {
        CapturedText seen;
        QString outcome;
    };
    // Texts as pages give them: non-ASCII, no-break spaces, tabs, CR LF, a NUL.
    const QList<Row> rows{
        {Seen(u"Consulta\nCNPJ:\t"_s, false, false, 0, false), u"not examined"_s},
        {Seen(u"Aguarde\u00A0processando…"_s, true, false, 0, false), u"not recognised"_s},
        {Seen(u"Razão Social:\tDENDÊ LTDA\u00A0\r\nCEP:\t40010010"_s, true, true, 7, true),
         u"result sent"_s},
        {Seen(u"Nenhum contribuinte\0encontrado"_s, true, true, 0, true), u"nothing matched"_s},
    };
    {
        LookupCapture capture(dir.path());
        for (const Row& row : rows)
            capture.Add(row.seen);
        capture.Close();
        ASSERT_FALSE(EndedRun(dir.path()).isEmpty()) << "no last line";
    }

    const QStringList folders = RunFolders(dir.path());
    ASSERT_EQ(folders.size(), 1) << folders.join(u", ").toStdString();
    const QString folder = QDir(dir.path()).filePath(folders.first());
    EXPECT_EQ(Mode(folder), kOwnerAll);

    const QList<QJsonObject> index = IndexLines(folder);
    ASSERT_EQ(index.size(), rows.size() + 1);
    QStringList files;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].outcome.toStdString());
        const CapturedText& seen = rows[i].seen;
        const QJsonObject& line = index[i];
        EXPECT_EQ(line[u"outcome"_s].toString(), rows[i].outcome);
        EXPECT_EQ(line[u"portal"_s].toString(), u"ba"_s);
        EXPECT_EQ(line[u"frameUrl"_s].toString(), seen.frameUrl);
        EXPECT_EQ(line[u"frameName"_s].toString(), QString());
        EXPECT_EQ(line[u"mainFrameUrl"_s].toString(), seen.mainFrameUrl);
        EXPECT_EQ(line[u"recognised"_s].toBool(true), seen.recognised);
        EXPECT_EQ(QDateTime::fromString(line[u"time"_s].toString(), Qt::ISODateWithMs),
                  seen.time.toUTC());
        if (seen.recognised) {
            EXPECT_EQ(line[u"fieldsMatched"_s].toInteger(-1), seen.fieldsMatched);
            EXPECT_EQ(line[u"sent"_s].toBool(false), true);
        } else {
            EXPECT_FALSE(line.contains(u"fieldsMatched"_s));
        }
        const QString file = QDir(folder).filePath(line[u"file"_s].toString());
        files.append(line[u"file"_s].toString());
        EXPECT_EQ(FileBytes(file), seen.text.toUtf8());
        EXPECT_EQ(Mode(file), kOwnerReadWrite);
    }
    EXPECT_EQ(files.size(), QSet<QString>(files.cbegin(), files.cend()).size())
        << "two texts share a file";
    EXPECT_EQ(Mode(QDir(folder).filePath(u"index.jsonl"_s)), kOwnerReadWrite);

    const QJsonObject& end = index.last();
    EXPECT_EQ(end[u"ended"_s].toString(), u"nothing matched"_s)
        << "the last block sent decides how the lookup ended";
    EXPECT_EQ(end[u"dropped"_s].toInteger(-1), 0);
}

TEST(LookupCaptureTest, TheLastLineSaysHowTheLookupEnded)
{
    struct Row
    {
        const char* name;
        QList<CapturedText> seen;
        QString ended;
    };
    const QList<Row> rows{
        {"never recognised",
         {Seen(u"a"_s, true, false, 0, false), Seen(u"b"_s, false, false, 0, false)},
         u"closed without result"_s},
        {"fields sent",
         {Seen(u"a"_s, true, false, 0, false), Seen(u"b"_s, true, true, 3, true)},
         u"result sent"_s},
        {"empty block sent", {Seen(u"a"_s, true, true, 0, true)}, u"nothing matched"_s},
        // The host link was gone: nothing reached the host.
        {"block not sent", {Seen(u"a"_s, true, true, 5, false)}, u"closed without result"_s},
        {"text after the block",
         {Seen(u"a"_s, true, true, 2, true), Seen(u"b"_s, false, false, 0, false)},
         u"result sent"_s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        {
            LookupCapture capture(dir.path());
            for (const CapturedText& seen : row.seen)
                capture.Add(seen);
            capture.Close();
            // A second close, as the window's destruction after its close gives, adds nothing.
            capture.Close();
            ASSERT_FALSE(EndedRun(dir.path()).isEmpty()) << "no last line";
        }
        const QStringList folders = RunFolders(dir.path());
        ASSERT_EQ(folders.size(), 1);
        const QList<QJsonObject> index = IndexLines(QDir(dir.path()).filePath(folders.first()));
        ASSERT_EQ(index.size(), row.seen.size() + 1);
        EXPECT_EQ(index.last()[u"ended"_s].toString(), row.ended);
    }
}

TEST(LookupCaptureTest, AResultPageThatDidNotGoOutIsNotCountedAsSent)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    {
        LookupCapture capture(dir.path());
        // Another taxpayer's result the user refused, then the window closed.
        capture.Add(Seen(u"CNPJ: 34.567.890/0001-12"_s, true, true, 5, false));
        capture.Close();
        ASSERT_FALSE(EndedRun(dir.path()).isEmpty()) << "no last line";
    }
    const QStringList folders = RunFolders(dir.path());
    ASSERT_EQ(folders.size(), 1);
    const QList<QJsonObject> index = IndexLines(QDir(dir.path()).filePath(folders.first()));
    ASSERT_EQ(index.size(), 2);
    EXPECT_EQ(index[0][u"outcome"_s].toString(), u"not sent"_s);
    EXPECT_EQ(index[0][u"fieldsMatched"_s].toInteger(-1), 5);
    EXPECT_EQ(index[1][u"ended"_s].toString(), u"closed without result"_s);
}

TEST(LookupCaptureTest, WritesNothingWithoutATextOrWhenTheVariableIsUnset)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    {
        LookupCapture capture(dir.path());
        capture.Close();
    }
    {
        // Destroyed without a close, as a window that never saw a portal chosen.
        LookupCapture capture(dir.path());
    }
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    const QByteArray saved = qgetenv("QUARVEL_CAPTURE_DIR");
    qunsetenv("QUARVEL_CAPTURE_DIR");
    EXPECT_EQ(LookupCapture::FromEnvironment(), nullptr);
    qputenv("QUARVEL_CAPTURE_DIR", QByteArray());
    EXPECT_EQ(LookupCapture::FromEnvironment(), nullptr);
    qputenv("QUARVEL_CAPTURE_DIR", dir.path().toUtf8());
    EXPECT_NE(LookupCapture::FromEnvironment(), nullptr);
    if (saved.isNull())
        qunsetenv("QUARVEL_CAPTURE_DIR");
    else
        qputenv("QUARVEL_CAPTURE_DIR", saved);
}

TEST(LookupCaptureTest, EachRunHasAFolderOfItsOwn)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Two runs of this process in the same second ask for the same folder name.
    {
        LookupCapture first(dir.path());
        LookupCapture second(dir.path());
        first.Add(Seen(u"first"_s, false, false, 0, false));
        first.Close();
        ASSERT_FALSE(EndedRun(dir.path()).isEmpty());
        second.Add(Seen(u"second"_s, false, false, 0, false));
        second.Close();
        for (int i = 0; i < 4000 && RunFolders(dir.path()).size() < 2; ++i)
            QThread::msleep(5);
        for (int i = 0; i < 4000; ++i) {
            const QStringList folders = RunFolders(dir.path());
            if (folders.size() == 2 &&
                IndexLines(QDir(dir.path()).filePath(folders[0])).size() == 2 &&
                IndexLines(QDir(dir.path()).filePath(folders[1])).size() == 2)
                break;
            QThread::msleep(5);
        }
    }
    const QStringList folders = RunFolders(dir.path());
    ASSERT_EQ(folders.size(), 2) << folders.join(u", ").toStdString();
    QStringList texts;
    for (const QString& name : folders) {
        const QString folder = QDir(dir.path()).filePath(name);
        const QList<QJsonObject> index = IndexLines(folder);
        ASSERT_EQ(index.size(), 2) << name.toStdString();
        texts.append(
            QString::fromUtf8(FileBytes(QDir(folder).filePath(index[0][u"file"_s].toString()))));
    }
    texts.sort();
    EXPECT_EQ(texts, (QStringList{u"first"_s, u"second"_s}));
}

TEST(LookupCaptureTest, AnUnwritableDirectoryCostsOneWarningAndNothingElse)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile plain(QDir(dir.path()).filePath(u"plain"_s));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    struct Row
    {
        const char* name;
        QString path;
    };
    // A file's path stays unwritable as a folder whoever runs the test, root included; a missing
    // directory is made, but only one level of it.
    const QList<Row> rows{{"missing parent", QDir(dir.path()).filePath(u"missing/capture"_s)},
                          {"a file", plain.fileName()},
                          {"below a file", QDir(plain.fileName()).filePath(u"sub"_s)}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const WarningLog log;
        {
            LookupCapture capture(row.path);
            for (int i = 0; i < 5; ++i)
                capture.Add(Seen(u"text"_s, true, i == 4, 2, i == 4));
            capture.Close();
        }
        const QStringList warnings = log.warnings();
        ASSERT_EQ(warnings.size(), 1) << warnings.join(u'\n').toStdString();
        EXPECT_TRUE(warnings[0].contains(QDir::toNativeSeparators(row.path)))
            << warnings[0].toStdString();
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{u"plain"_s});
}

TEST(LookupCaptureTest, ADirectoryNotThereYetIsMadeOwnerOnlyOnTheFirstText)
{
    QTemporaryDir parent;
    ASSERT_TRUE(parent.isValid());
    const QString dir = QDir(parent.path()).filePath(u"capture"_s);
    const WarningLog log;
    {
        LookupCapture capture(dir);
        // Nothing is made for a run that keeps nothing.
        EXPECT_FALSE(QFileInfo::exists(dir));
        capture.Add(Seen(u"text"_s, true, false, 0, false));
        capture.Close();
        ASSERT_FALSE(EndedRun(dir).isEmpty());
    }
    EXPECT_EQ(Mode(dir), kOwnerAll);
    EXPECT_EQ(RunFolders(dir).size(), 1);
    EXPECT_TRUE(log.warnings().isEmpty()) << log.warnings().join(u'\n').toStdString();
}

TEST(LookupCaptureTest, AFailedLoadIsALineOfItsOwnInOrderWithTheTexts)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDateTime when = QDateTime::fromString(u"2026-03-02T10:04:05.006Z"_s, Qt::ISODateWithMs);
    QString run;
    {
        LookupCapture capture(dir.path());
        capture.Add(Seen(u"before"_s, false, false, 0, false));
        capture.AddFailure({.portalKey = u"sp"_s,
                            .url = u"https://www.cadesp.fazenda.sp.gov.br/x?a=\"b\""_s,
                            .failure = u"certificate-untrusted"_s,
                            .errorCode = -202,
                            .errorText = u"net::ERR_CERT_AUTHORITY_INVALID"_s,
                            .time = when});
        capture.Add(Seen(u"after"_s, false, false, 0, false));
        capture.Close();
        // Before the capture goes, which drops what is still queued.
        run = EndedRun(dir.path());
    }
    ASSERT_FALSE(run.isEmpty());
    const QList<QJsonObject> lines = IndexLines(run);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0][u"file"_s].toString(), u"0001.txt"_s);
    const QJsonObject failure = lines[1];
    EXPECT_EQ(failure, (QJsonObject{{u"time"_s, u"2026-03-02T10:04:05.006Z"_s},
                                    {u"portal"_s, u"sp"_s},
                                    {u"url"_s, u"https://www.cadesp.fazenda.sp.gov.br/x?a=\"b\""_s},
                                    {u"failure"_s, u"certificate-untrusted"_s},
                                    {u"errorCode"_s, -202},
                                    {u"errorText"_s, u"net::ERR_CERT_AUTHORITY_INVALID"_s}}));
    // The next text keeps its own number: a failure has no file.
    EXPECT_EQ(lines[2][u"file"_s].toString(), u"0002.txt"_s);
    EXPECT_EQ(lines[3][u"ended"_s].toString(), u"closed without result"_s);
}

TEST(LookupCaptureTest, WhatIsPendingAtCloseIsDroppedAndTheIndexSaysSo)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSemaphore writing;
    QSemaphore release;
    int writes = 0;
    {
        // The writer is held on its first text until the close has been asked for.
        LookupCapture capture(dir.path(), [&] {
            if (++writes == 1) {
                writing.release();
                release.acquire();
            }
        });
        for (int i = 1; i <= 5; ++i)
            capture.Add(Seen(u"text %1"_s.arg(i), false, false, 0, false));
        ASSERT_TRUE(writing.tryAcquire(1, 20000)) << "the writer never started";
        capture.Close();
        capture.DropPending();
        // Ignored: the lookup is over.
        capture.Add(Seen(u"late"_s, false, false, 0, false));
        release.release();
    }
    const QStringList folders = RunFolders(dir.path());
    ASSERT_EQ(folders.size(), 1);
    const QString folder = QDir(dir.path()).filePath(folders.first());
    const QList<QJsonObject> index = IndexLines(folder);
    ASSERT_EQ(index.size(), 2);
    EXPECT_EQ(FileBytes(QDir(folder).filePath(index[0][u"file"_s].toString())), "text 1");
    EXPECT_EQ(index[1][u"ended"_s].toString(), u"closed without result"_s);
    EXPECT_EQ(index[1][u"dropped"_s].toInteger(-1), 4);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files, QDir::Name),
              (QStringList{u"0001.txt"_s, u"index.jsonl"_s}));
}

} // namespace
