#pragma once

#include "shell/LoadFailure.h"

#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

// What the failure page says for a failed load, in the user's words.
struct LoadFailureExplanation
{
    QString title;      // which portal could not be opened
    QString heading;    // what happened, one sentence
    QString advice;     // what the user can do
    QString smallPrint; // the engine's code, for support
};

// portalName: the portal being looked up (empty when none is).
LoadFailureExplanation ExplainLoadFailure(const LoadFailure& failure, const QString& portalName);

// The window's own page in the browser area for a main-frame load that failed: the portal, what
// happened, what to do, "Tentar novamente" and the engine's code in small print.
class TLoadFailurePage : public QWidget
{
    Q_OBJECT

public:
    explicit TLoadFailurePage(QWidget* parent = nullptr);

    void Show(const QString& url, const LoadFailure& failure, const QString& portalName);
    QString FailedUrl() const { return m_url; }

    QLabel* Title = nullptr;
    QLabel* Heading = nullptr;
    QLabel* Advice = nullptr;
    QLabel* SmallPrint = nullptr;
    QPushButton* RetryButton = nullptr;

Q_SIGNALS:
    // "Tentar novamente": the failed URL is to be loaded again.
    void RetryRequested(const QString& url);

private:
    QString m_url;
};
