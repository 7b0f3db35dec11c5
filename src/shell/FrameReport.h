#pragma once

#include <QString>

// The frame script's protocol: each frame of a page reports its finished load as a console
// message that starts with a secret token, followed by a JSON array
// [url, frame name, frame text, document id]. The main frame also sends a change notice,
// [url, "", "", document id, "change"], once for each call of the change watch.

// A parsed report. A main-frame report has a document id and neither name nor text.
struct FrameReport
{
    QString url;
    QString name;
    QString text;
    QString documentId;
    // A change notice of the main frame's document rather than a load report.
    bool changed = false;
};

// A token the page cannot guess, new for each page.
QString NewFrameReportToken();
// Parses a frame script report; false when the message is not one (wrong token, bad form).
bool ParseFrameReport(const QString& token, const QString& message, FrameReport& report);
// The frame script that reports each frame's load with the given token.
QString FrameScriptSource(const QString& token);
// A script for the application's world of the main frame: evaluates to [document id, URL]; the
// id is empty where the frame script has not run.
QString DocumentIdQuery();
// A script for the application's world of the main frame: asks the frame script for one change
// notice, sent at once when the document changed since the last notice. Does nothing where
// the frame script has not run.
QString ChangeWatchCall();
