#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

class QThread;

// One page text as the lookup had it, where it came from, and what came of it.
struct CapturedText
{
    QString text;
    QString portalKey;
    QString frameUrl;
    QString frameName;
    QString mainFrameUrl;
    // The lookup looked at the text (a portal was chosen and the lookup was still open).
    bool examined = false;
    // Taken for the result page: its fields were extracted.
    bool recognised = false;
    qsizetype fieldsMatched = 0;
    // The result block reached the host link.
    bool sent = false;
    QDateTime time = QDateTime::currentDateTimeUtc();
};

// A main-frame load that failed, as the user saw it explained.
struct CapturedFailure
{
    QString portalKey;
    QString url;
    QString failure; // the class name: "refused", "certificate-untrusted", ...
    int errorCode = 0;
    QString errorText;
    QDateTime time = QDateTime::currentDateTimeUtc();
};

// Keeps the texts of one run's lookup on disk for whoever maintains the portal expressions:
// a folder of its own under the capture directory (0700), one UTF-8 file per text (0600) and
// an index of JSON lines. The disk is written by a thread of its own in the order the texts
// came; the window thread only hands them over. Write failures never reach the caller: the
// first one is reported once with qWarning.
class LookupCapture
{
public:
    // The capture the environment asks for (QUARVEL_CAPTURE_DIR), or null when it is unset.
    static std::unique_ptr<LookupCapture> FromEnvironment();

    // Captures below dir; dir itself is created (0700) when it does not exist, but not its
    // parent. beforeEachWrite runs on the writing thread before each item it writes (tests hold
    // the writer with it).
    explicit LookupCapture(const QString& dir, std::function<void()> beforeEachWrite = {});
    // Closes and drops what is pending, then gives the writer a moment to finish the item it
    // is on and the last line; never waits longer.
    ~LookupCapture();
    LookupCapture(const LookupCapture&) = delete;
    LookupCapture& operator=(const LookupCapture&) = delete;

    // Queues the text; returns at once. Ignored once closed.
    void Add(CapturedText capture);
    // Queues an index line for a failed load, in order with the texts; the same rules.
    void AddFailure(CapturedFailure failure);
    // The lookup is over: the index gets a last line, after the texts still queued, with how
    // the lookup ended and how many texts were dropped. Nothing is written for a run that
    // captured nothing. Later calls do nothing. Returns at once.
    void Close();
    // The texts not yet written are skipped; the last line still comes.
    void DropPending();

    struct Queue;

private:
    // Wakes the writer, started with the first item queued.
    void wakeWriter();

    std::shared_ptr<Queue> m_queue;
    QThread* m_thread = nullptr;
    bool m_closed = false;
    bool m_added = false;
    // How the lookup ended, as far as the added texts tell.
    QString m_ending = QStringLiteral("closed without result");
};
