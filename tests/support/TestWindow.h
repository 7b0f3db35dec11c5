#pragma once

#include "ui/frmQuarvel.h"

#include <QList>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

class QWebEnginePage;

// One ended load, as the browser component reported it.
struct LoadEnd
{
    QString url;
    QString name;
    bool main = false;
};

// The real window over the real engine, not yet shown, its boxes recorded instead of shown, with
// every ended load and every page text recorded, and a timer that proves the event loop turns.
class TestWindow
{
public:
    explicit TestWindow(const QStringList& hostArguments);
    ~TestWindow();

    // The browser exists: the window has its title (and opens its host link then).
    bool waitBrowserCreated(int ms = 30000) const;
    // The browser exists and has shown its first, blank page: a portal picked earlier can race
    // with that first load.
    bool waitReady(int ms = 30000) const;
    // A load of url (in any frame) has ended.
    bool loaded(const QString& url) const;
    // A load of url in the main frame has ended (now, or within ms).
    bool waitMainLoad(const QString& url, int ms = 20000) const;
    // The portal at index is chosen in the list, as the list reports a user's choice.
    void pick(int index);
    // The event loop turns: the heartbeat fires a few more times within a bounded wait.
    bool responsive(int ticks = 3, int ms = 10000) const;
    bool waitClosed(int ms = 30000) const;
    // Asks the window to close, as the user does, and waits for the close to finish.
    bool closeAndWait(int ms = 30000);
    QWebEnginePage* page() const;

    QStringList boxTexts() const;
    qsizetype textsContaining(const QString& needle) const;

    std::unique_ptr<TForm1> window;
    QList<MessageBoxSpec> boxes;
    // Runs after each box is recorded, in place of the user answering it.
    std::function<void()> onBox;
    std::unique_ptr<QSignalSpy> closed;
    // Every ended load from the window's creation on; onLoadEnd runs after each, once the
    // window's own handler has run.
    QList<LoadEnd> loads;
    std::function<void(const TCefFrame&)> onLoadEnd;
    // Every page text the browser delivered, in order.
    QStringList texts;
    QTimer heartbeat;
    int beats = 0;
};
