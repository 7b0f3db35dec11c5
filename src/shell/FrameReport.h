#pragma once

#include <QString>

// The frame script's protocol: each frame of a page reports its finished load as a console
// message that starts with a secret token, followed by a JSON array
// [url, frame name, frame text, document id].

// A parsed report. A main-frame report has a document id and neither name nor text.
struct FrameReport
{
    QString url;
    QString name;
    QString text;
    QString documentId;
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
