#include "TestWindow.h"

#include "EventLoopWait.h"
#include "ui/CBNorva.h"

#include <QWebEngineView>
#include <algorithm>

TestWindow::TestWindow(const QStringList& hostArguments)
{
    window = std::make_unique<TForm1>(hostArguments);
    window->ShowBox = [this](const MessageBoxSpec& box) {
        boxes.append(box);
        if (onBox)
            onBox();
    };
    closed = std::make_unique<QSignalSpy>(window.get(), &TForm1::Closed);
    // Connected after the window's own handlers, so these run after them.
    QObject::connect(window->Chromium1, &TChromium::OnLoadEnd, [this](const TCefFrame& frame, int) {
        loads.append({frame.GetUrl(), frame.GetName(), frame.IsMain()});
        if (onLoadEnd)
            onLoadEnd(frame);
    });
    QObject::connect(window->Chromium1, &TChromium::OnTextResultAvailable,
                     [this](const QString& text) { texts.append(text); });
    heartbeat.setInterval(20);
    QObject::connect(&heartbeat, &QTimer::timeout, [this] { ++beats; });
    heartbeat.start();
}

TestWindow::~TestWindow()
{
    heartbeat.stop();
    onLoadEnd = nullptr;
    onBox = nullptr;
    window.reset();
}

bool TestWindow::waitBrowserCreated(int ms) const
{
    return WaitFor([this] { return window->windowTitle() == QStringLiteral("Quarvel"); }, ms);
}

bool TestWindow::waitReady(int ms) const
{
    return WaitFor(
        [this] {
            return window->windowTitle() == QStringLiteral("Quarvel") &&
                   loaded(QStringLiteral("about:blank"));
        },
        ms);
}

bool TestWindow::loaded(const QString& url) const
{
    return std::any_of(loads.begin(), loads.end(),
                       [&](const LoadEnd& load) { return load.url == url; });
}

bool TestWindow::waitMainLoad(const QString& url, int ms) const
{
    return WaitFor(
        [&] {
            return std::any_of(loads.begin(), loads.end(),
                               [&](const LoadEnd& load) { return load.main && load.url == url; });
        },
        ms);
}

void TestWindow::pick(int index)
{
    window->cbUF->setCurrentIndex(index);
    Q_EMIT window->cbUF->activated(index);
}

bool TestWindow::responsive(int ticks, int ms) const
{
    const int before = beats;
    return WaitFor([&] { return beats >= before + ticks; }, ms);
}

bool TestWindow::waitClosed(int ms) const
{
    return WaitFor([this] { return closed->count() > 0; }, ms);
}

bool TestWindow::closeAndWait(int ms)
{
    window->close();
    return waitClosed(ms);
}

QWebEnginePage* TestWindow::page() const
{
    QWebEngineView* view = window->Chromium1->GetBrowser();
    return view != nullptr ? view->page() : nullptr;
}

QStringList TestWindow::boxTexts() const
{
    QStringList texts;
    for (const MessageBoxSpec& box : boxes)
        texts.append(box.text);
    return texts;
}

qsizetype TestWindow::textsContaining(const QString& needle) const
{
    return std::count_if(texts.cbegin(), texts.cend(),
                         [&](const QString& text) { return text.contains(needle); });
}
