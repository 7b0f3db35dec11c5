// The browser component over the real engine, offscreen, against pages served by the test.
#include "EventLoopWait.h"
#include "HttpFixtureServer.h"
#include "shell/CefApplication.h"
#include "shell/Chromium.h"
#include "shell/QuarvelPage.h"

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMetaEnum>
#include <QMouseEvent>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <QWidget>
#include <gtest/gtest.h>
#include <limits>
#include <memory>

namespace {

struct LoadEnd
{
    QString url;
    QString name;
    int status;
};

class BrowserTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
        host = std::make_unique<QWidget>();
        host->resize(800, 600);
        host->show();
        chromium = std::make_unique<TChromium>();
        QObject::connect(chromium.get(), &TChromium::OnLoadEnd,
                         [this](const TCefFrame& frame, int status) {
                             loads.append({frame.GetUrl(), frame.GetName(), status});
                         });
        QObject::connect(chromium.get(), &TChromium::OnTextResultAvailable,
                         [this](const QString& text) { texts.append(text); });
        QSignalSpy created(chromium.get(), &TChromium::OnAfterCreated);
        ASSERT_TRUE(chromium->CreateBrowser(host.get()));
        ASSERT_TRUE(created.wait(10000));
        ASSERT_TRUE(chromium->Initialized());
        // The first page is the blank one.
        ASSERT_TRUE(WaitFor([this] { return hasLoad(QStringLiteral("about:blank")); }, 10000));
    }

    void TearDown() override
    {
        chromium.reset();
        host.reset();
    }

    bool hasLoad(const QString& url, const QString& name = QString()) const
    {
        return !loadsOf(url, name).isEmpty();
    }

    // The statuses of every load end reported for that URL and frame name.
    QList<int> loadsOf(const QString& url, const QString& name = QString()) const
    {
        QList<int> statuses;
        for (const LoadEnd& load : loads) {
            if (load.url == url && load.name == name)
                statuses.append(load.status);
        }
        return statuses;
    }

    // Loads url and waits until this main-frame load has ended.
    void load(const QString& url)
    {
        const qsizetype before = loadsOf(url).size();
        chromium->LoadURL(url);
        ASSERT_TRUE(WaitFor([&] { return loadsOf(url).size() > before; }, 15000))
            << qPrintable(url);
    }

    // A page loaded after an event that must not be followed by anything: whatever the event
    // would bring comes before this page's load ends.
    QString markerUrl()
    {
        server.setPage(QStringLiteral("/marker"), QByteArrayLiteral("<p>marker</p>"));
        return server.url(QStringLiteral("/marker"));
    }

    QString retrieveText(const QString& frameName = QString())
    {
        const qsizetype before = texts.size();
        chromium->RetrieveText(frameName);
        if (!WaitFor([&] { return texts.size() > before; }, 10000))
            return QStringLiteral("<no text>");
        return texts.last();
    }

    HttpFixtureServer server;
    std::unique_ptr<QWidget> host;
    std::unique_ptr<TChromium> chromium;
    QList<LoadEnd> loads;
    QStringList texts;
};

TEST_F(BrowserTest, ReportsMainAndSubFrameLoadsAndTheirTexts)
{
    HttpFixtureServer other; // a second origin for a cross-origin frame
    ASSERT_TRUE(other.listen(QHostAddress(QStringLiteral("127.0.0.2"))));
    other.setPage(QStringLiteral("/far"), QByteArrayLiteral("<p>Far frame text</p>"));
    server.setPage(QStringLiteral("/inner"), QByteArrayLiteral("<p>Inner frame text</p>"));
    server.setPage(QStringLiteral("/main"),
                   "<p>Main page text</p><iframe name=\"inner\" src=\"/inner\"></iframe>"
                   "<iframe name=\"far\" src=\"" +
                       other.url(QStringLiteral("/far")).toUtf8() + "\"></iframe>");

    load(server.url(QStringLiteral("/main")));
    ASSERT_TRUE(WaitFor(
        [&] {
            return hasLoad(server.url(QStringLiteral("/inner")), QStringLiteral("inner")) &&
                   hasLoad(other.url(QStringLiteral("/far")), QStringLiteral("far"));
        },
        15000));

    EXPECT_TRUE(retrieveText().contains(QStringLiteral("Main page text")));
    EXPECT_EQ(retrieveText(QStringLiteral("inner")), QStringLiteral("Inner frame text"));
    EXPECT_EQ(retrieveText(QStringLiteral("far")), QStringLiteral("Far frame text"));

    // An unknown frame gives no text at all: the main frame's text, asked for next, is the next
    // text to arrive.
    const qsizetype before = texts.size();
    chromium->RetrieveText(QStringLiteral("nosuchframe"));
    EXPECT_TRUE(retrieveText().contains(QStringLiteral("Main page text")));
    EXPECT_EQ(texts.size(), before + 1);
}

// The main frame's load end comes from the engine and from the frame script; each load is
// reported once all the same, a failed one with its own URL and no success status.
TEST_F(BrowserTest, EachMainFrameLoadIsReportedOnce)
{
    server.setPage(QStringLiteral("/again"), QByteArrayLiteral("<p>again</p>"));
    server.setPage(QStringLiteral("/framed"),
                   QByteArrayLiteral("<p>framed</p><iframe name=\"f\" src=\"/again\"></iframe>"));
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
    const QString refused = QStringLiteral("http://127.0.0.1:%1/nothing").arg(closed.serverPort());
    closed.close();
    const QString again = server.url(QStringLiteral("/again"));
    const QString framed = server.url(QStringLiteral("/framed"));
    const QString marker = markerUrl();

    load(again);
    load(again);
    load(framed);
    ASSERT_TRUE(WaitFor([&] { return hasLoad(again, QStringLiteral("f")); }, 15000));
    load(refused);
    load(again);
    // A second report of any load above comes before the end of the next page's load.
    load(marker);

    EXPECT_EQ(loadsOf(again), (QList<int>{200, 200, 200}));
    EXPECT_EQ(loadsOf(framed), QList<int>{200});
    EXPECT_EQ(loadsOf(refused), QList<int>{0});
    EXPECT_EQ(loadsOf(again, QStringLiteral("f")), QList<int>{200});
    EXPECT_EQ(loadsOf(marker), QList<int>{200});
    EXPECT_EQ(loads.size(), 8) << "about:blank, the six loads above and the marker, nothing else";
    EXPECT_EQ(loads.last().url, marker);
}

// The engine can signal the end of a load after the next page has been asked for and committed.
// That late signal must not report the next page while it is still loading: its text is not
// all there yet.
TEST_F(BrowserTest, LateLoadSignalDoesNotReportAPageStillLoading)
{
    server.setPage(QStringLiteral("/query"), QByteArrayLiteral("<p>query</p>"));
    server.setPage(QStringLiteral("/result"),
                   QByteArrayLiteral("<p>first part</p><script src=\"/slow.js\"></script>"
                                     "<p>last part</p>"));
    server.setPage(QStringLiteral("/slow.js"),
                   {.body = "1;", .contentType = "text/javascript", .delayMs = 1500});
    const QString result = server.url(QStringLiteral("/result"));
    bool slowServed = false;
    QObject::connect(&server, &HttpFixtureServer::served,
                     [&](const QString&, const QString& path, int) {
                         if (path == QLatin1String("/slow.js"))
                             slowServed = true;
                     });
    QStringList textsAtLoadEnd;
    QObject::connect(chromium.get(), &TChromium::OnLoadEnd, [&](const TCefFrame& frame, int) {
        if (frame.GetUrl() == result)
            textsAtLoadEnd.append(slowServed ? QStringLiteral("complete")
                                             : QStringLiteral("early"));
    });

    load(server.url(QStringLiteral("/query")));
    QSignalSpy slowRequested(&server, &HttpFixtureServer::requested);
    chromium->LoadURL(result);
    // The result document is committed and parsing once its blocking script is asked for.
    ASSERT_TRUE(WaitFor(
        [&] { return slowRequested.contains(QVariantList{QStringLiteral("/slow.js")}); }, 15000));
    Q_EMIT chromium->GetBrowser()->page()->loadFinished(true); // the query page's late signal

    ASSERT_TRUE(WaitFor([&] { return hasLoad(result); }, 15000));
    EXPECT_EQ(textsAtLoadEnd, QStringList{QStringLiteral("complete")});
    EXPECT_TRUE(retrieveText().contains(QStringLiteral("last part")));
}

TEST_F(BrowserTest, PageCannotForgeSubFrameReports)
{
    server.setPage(
        QStringLiteral("/forge"),
        QByteArrayLiteral("<p>forger</p><script>"
                          "for (var i = 0; i < 50; i++) {"
                          "  console.log('quarvel:' + i + ':[\"http://evil/\",\"x\",\"t\"]');"
                          "  console.log('[\"http://evil/\",\"x\",\"t\"]');"
                          "}</script>"));
    load(server.url(QStringLiteral("/forge")));
    // The forged reports are handled before the end of the next page's load.
    load(markerUrl());
    for (const LoadEnd& entry : std::as_const(loads))
        EXPECT_NE(entry.url, QStringLiteral("http://evil/"));
}

TEST_F(BrowserTest, ExecuteJavaScriptChangesTheMainFrame)
{
    server.setPage(QStringLiteral("/links"),
                   QByteArrayLiteral("<a id=\"a\" href=\"/elsewhere\">one</a>"));
    load(server.url(QStringLiteral("/links")));
    const std::optional<TCefFrame> main = chromium->GetMainFrame();
    ASSERT_TRUE(main.has_value());
    EXPECT_EQ(main->GetUrl(), server.url(QStringLiteral("/links")));
    EXPECT_TRUE(main->GetName().isEmpty());
    main->ExecuteJavaScript(
        QStringLiteral("document.body.innerText = 'href=' + document.getElementById('a').href;"
                       "document.getElementById('a');"),
        main->GetUrl(), 0);
    ASSERT_TRUE(WaitFor([&] { return retrieveText().startsWith(QStringLiteral("href=")); }, 10000));
    EXPECT_EQ(texts.last(), QStringLiteral("href=") + server.url(QStringLiteral("/elsewhere")));
}

TEST_F(BrowserTest, ScriptDialogsDoNotBlock)
{
    server.setPage(QStringLiteral("/alerts"),
                   QByteArrayLiteral("<p id=\"p\">waiting</p><script>"
                                     "for (var i = 0; i < 200; i++) alert('again ' + i);"
                                     "confirm('sure?'); prompt('name?');"
                                     "document.getElementById('p').innerText = 'done';</script>"));
    load(server.url(QStringLiteral("/alerts")));
    EXPECT_TRUE(WaitFor([&] { return retrieveText() == QStringLiteral("done"); }, 10000));
}

// New tabs, windows and popups open nothing, and the page stays.
TEST_F(BrowserTest, RefusesEveryNewWindow)
{
    QList<int> popups;
    QList<int> fromTab;
    QObject::connect(chromium.get(), &TChromium::OnBeforePopup, [&](int disposition, bool& result) {
        popups.append(disposition);
        result = IsRefusedDisposition(disposition);
    });
    QObject::connect(chromium.get(), &TChromium::OnOpenUrlFromTab,
                     [&](int disposition, bool& result) {
                         fromTab.append(disposition);
                         result = IsRefusedDisposition(disposition);
                     });
    server.setPage(QStringLiteral("/target"), QByteArrayLiteral("<p>opened</p>"));
    server.setPage(
        QStringLiteral("/opener"),
        QByteArrayLiteral("<style>a{display:block;width:100%;height:500px}</style>"
                          "<a id=\"blank\" target=\"_blank\" href=\"/target\">big link</a>"));
    const QString opener = server.url(QStringLiteral("/opener"));
    load(opener);
    const std::optional<TCefFrame> main = chromium->GetMainFrame();
    ASSERT_TRUE(main);

    main->ExecuteJavaScript(QStringLiteral("document.getElementById('blank').click();"), opener, 0);
    ASSERT_TRUE(WaitFor([&] { return !popups.isEmpty(); }, 10000));
    main->ExecuteJavaScript(QStringLiteral("window.open('/target', 'w', 'width=200');"), opener, 0);
    ASSERT_TRUE(WaitFor([&] { return popups.size() >= 2; }, 10000));

    // A middle click on the link, through the view's input widget. A click that comes before
    // the engine can hit-test the page is lost, so it is given again until one counts.
    QWidget* input = chromium->GetBrowser()->focusProxy();
    ASSERT_NE(input, nullptr);
    const QPoint at(200, 100);
    for (int attempt = 0; attempt < 10 && fromTab.isEmpty(); ++attempt) {
        QMouseEvent press(QEvent::MouseButtonPress, at, input->mapToGlobal(at), Qt::MiddleButton,
                          Qt::MiddleButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, input->mapToGlobal(at),
                            Qt::MiddleButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(input, &press);
        QApplication::sendEvent(input, &release);
        WaitFor([&] { return !fromTab.isEmpty(); }, 1000);
    }
    EXPECT_FALSE(fromTab.isEmpty());
    EXPECT_EQ(chromium->GetMainFrame()->GetUrl(), opener);

    // Whatever the three would still open or load comes before the end of the next page's load.
    const qsizetype loadsBeforeMarker = loads.size();
    const QString marker = markerUrl();
    load(marker);
    for (int disposition : std::as_const(popups))
        EXPECT_TRUE(IsRefusedDisposition(disposition)) << disposition;
    for (int disposition : std::as_const(fromTab))
        EXPECT_EQ(disposition, WOD_NEW_BACKGROUND_TAB);
    ASSERT_EQ(loads.size(), loadsBeforeMarker + 1) << "a load other than the marker's ended";
    EXPECT_EQ(loads.last().url, marker);
    EXPECT_FALSE(server.requests().contains(QStringLiteral("/target")));
}

// The context menu the view opens for a right click at `at`, once the engine has answered.
// A click that comes before the engine can hit-test the page is lost, so it is given again.
QMenu* OpenContextMenu(QWebEngineView* view, const QPoint& at)
{
    QWidget* input = view->focusProxy();
    QMenu* menu = nullptr;
    for (int attempt = 0; attempt < 10 && menu == nullptr; ++attempt) {
        QMouseEvent press(QEvent::MouseButtonPress, at, input->mapToGlobal(at), Qt::RightButton,
                          Qt::RightButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, input->mapToGlobal(at), Qt::RightButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(input, &press);
        QApplication::sendEvent(input, &release);
        WaitFor(
            [&] {
                menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                return menu != nullptr;
            },
            2000);
    }
    return menu;
}

// A menu's entries: a page action by its name, in brackets when disabled; "|" for a separator;
// the text of any other entry.
QStringList MenuEntries(const QMenu& menu, const QWebEnginePage& page)
{
    const QMetaEnum names = QMetaEnum::fromType<QWebEnginePage::WebAction>();
    QStringList entries;
    for (const QAction* entry : menu.actions()) {
        QString name = entry->isSeparator() ? QStringLiteral("|") : entry->text();
        for (int i = 0; i < QWebEnginePage::WebActionCount; ++i) {
            if (page.action(QWebEnginePage::WebAction(i)) == entry)
                name = QLatin1String(names.valueToKey(i));
        }
        entries.append(entry->isEnabled() || entry->isSeparator() ? name : u'(' + name + u')');
    }
    return entries;
}

struct ContextMenuCase
{
    const char* name;
    QPoint at;
    const char* beforeClick; // script run in the page first
    QStringList entries;
};

// The menu holds only what works in this window: no new window or tab, no saving, no download,
// no source view; what is left is in the engine's order, without stray separators.
TEST_F(BrowserTest, ContextMenuOffersOnlyWhatWorksInThisWindow)
{
    server.setPage(QStringLiteral("/first"), QByteArrayLiteral("<p>first</p>"));
    server.setPage(
        QStringLiteral("/menu"),
        QByteArrayLiteral(
            "<style>body{margin:0} *{position:absolute;left:0;margin:0;font-size:20px}</style>"
            "<p id=\"text\" style=\"top:0;width:400px;height:40px\">selectable words</p>"
            "<a id=\"link\" href=\"/elsewhere\" style=\"top:60px;width:400px;height:40px;"
            "display:block\">a link</a>"
            "<input id=\"field\" value=\"typed\" style=\"top:120px;width:400px;height:40px\">"
            "<img id=\"image\" style=\"top:180px;width:100px;height:100px\" src=\"data:image/svg+"
            "xml,%3Csvg xmlns='http://www.w3.org/2000/svg' width='10' height='10'%3E%3Crect "
            "width='10' height='10'/%3E%3C/svg%3E\">"));
    load(server.url(QStringLiteral("/first")));
    const QString page = server.url(QStringLiteral("/menu"));
    load(page);
    QGuiApplication::clipboard()->setText(QStringLiteral("on the clipboard"));

    const QList<ContextMenuCase> cases{
        {"blank part of the page", {600, 400}, "", {"Back", "(Forward)", "Reload"}},
        {"selected text",
         {100, 20},
         "getSelection().selectAllChildren(document.getElementById('text'))",
         {"Copy"}},
        {"link",
         {100, 80},
         "getSelection().removeAllRanges()",
         {"Back", "(Forward)", "Reload", "|", "CopyLinkToClipboard"}},
        {"field",
         {100, 140},
         "",
         {"(Undo)", "(Redo)", "|", "(Cut)", "(Copy)", "Paste", "PasteAndMatchStyle", "SelectAll"}},
        {"image",
         {50, 230},
         "",
         {"Back", "(Forward)", "Reload", "|", "CopyImageToClipboard", "CopyImageUrlToClipboard"}},
    };
    QWebEngineView* view = chromium->GetBrowser();
    for (const ContextMenuCase& row : cases) {
        SCOPED_TRACE(row.name);
        if (*row.beforeClick != '\0') {
            const auto done = std::make_shared<bool>(false);
            view->page()->runJavaScript(QLatin1String(row.beforeClick),
                                        [done](const QVariant&) { *done = true; });
            ASSERT_TRUE(WaitFor([&] { return *done; }, 5000));
        }
        QPointer<QMenu> menu = OpenContextMenu(view, row.at);
        ASSERT_FALSE(menu.isNull()) << "no menu opened";
        const QStringList entries = MenuEntries(*menu, *view->page());
        EXPECT_EQ(entries, row.entries) << qPrintable(entries.join(QStringLiteral(", ")));
        menu->close();
        ASSERT_TRUE(WaitFor([] { return QApplication::activePopupWidget() == nullptr; }, 5000))
            << "the menu stays";
    }

    // What is left works here: the link's address reaches the clipboard, the page stays.
    QPointer<QMenu> menu = OpenContextMenu(view, {100, 80});
    ASSERT_FALSE(menu.isNull());
    // The engine's own menu for the same click offers what the window takes out.
    QMenu* unfiltered = view->createStandardContextMenu();
    const QStringList engineEntries = MenuEntries(*unfiltered, *view->page());
    delete unfiltered;
    for (const char* refused : {"OpenLinkInNewTab", "OpenLinkInNewWindow", "DownloadLinkToDisk"})
        EXPECT_TRUE(engineEntries.contains(QLatin1String(refused)))
            << refused << " in " << qPrintable(engineEntries.join(QStringLiteral(", ")));
    view->page()->action(QWebEnginePage::CopyLinkToClipboard)->trigger();
    menu->close();
    EXPECT_TRUE(WaitFor(
        [&] {
            return QGuiApplication::clipboard()->text() == server.url(QStringLiteral("/elsewhere"));
        },
        5000))
        << qPrintable(QGuiApplication::clipboard()->text());
    EXPECT_EQ(chromium->GetMainFrame()->GetUrl(), page);
}

TEST_F(BrowserTest, CloseRaisesOnCloseThenOnBeforeCloseOnceTheHostAreaIsGone)
{
    QStringList events;
    QObject::connect(chromium.get(), &TChromium::OnClose, [&](TCefCloseBrowserAction& action) {
        events.append(QStringLiteral("close"));
        action = cbaDelay;
        QMetaObject::invokeMethod(
            host.get(),
            [&] {
                events.append(QStringLiteral("host-destroyed"));
                host.reset();
            },
            Qt::QueuedConnection);
    });
    QObject::connect(chromium.get(), &TChromium::OnBeforeClose,
                     [&] { events.append(QStringLiteral("before-close")); });

    chromium->CloseBrowser(true);
    EXPECT_FALSE(chromium->Initialized());
    ASSERT_TRUE(WaitFor([&] { return events.size() == 3; }, 10000));
    EXPECT_EQ(events, (QStringList{QStringLiteral("close"), QStringLiteral("host-destroyed"),
                                   QStringLiteral("before-close")}));
    EXPECT_EQ(chromium->GetBrowser(), nullptr);

    // Once closed, the component does nothing and cannot be closed again.
    chromium->LoadURL(QStringLiteral("about:blank"));
    chromium->RetrieveText();
    chromium->CloseBrowser(true);
    // No browser is left to send anything: a reaction could only be a call already queued.
    ASSERT_TRUE(RunQueuedCalls());
    EXPECT_EQ(events.size(), 3);
}

TEST(BrowserCreation, AtMostOneBrowserPerComponent)
{
    QWidget host;
    TChromium chromium;
    EXPECT_FALSE(chromium.CreateBrowser(nullptr));
    ASSERT_TRUE(chromium.CreateBrowser(&host));
    EXPECT_FALSE(chromium.CreateBrowser(&host));
}

TEST(RuntimeObject, StartsOncePerProcess)
{
    ASSERT_NE(GlobalCEFApp, nullptr);
    EXPECT_EQ(GlobalCEFApp->Status(), asInitialized);
    EXPECT_FALSE(GlobalCEFApp->StartMainProcess());
    EXPECT_EQ(GlobalCEFApp->Status(), asInitialized);

    char program[] = "quarvel";
    char* argv[] = {program, nullptr};
    TCefApplication second(1, argv);
    second.ShowMessageDlg = false;
    EXPECT_FALSE(second.StartMainProcess());
    EXPECT_EQ(second.Status(), asErrorLoadingLibrary);
    EXPECT_EQ(second.LastErrorMessage(),
              QStringLiteral("GlobalCEFApp can only be initialized once per process."));
}

struct DispositionCase
{
    const char* name;
    int disposition;
    bool refused;
};

void PrintTo(const DispositionCase& c, std::ostream* os)
{
    *os << c.name;
}

class Dispositions : public testing::TestWithParam<DispositionCase>
{};

TEST_P(Dispositions, OnlyNewTabsWindowsAndPopupsAreRefused)
{
    EXPECT_EQ(IsRefusedDisposition(GetParam().disposition), GetParam().refused);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Dispositions,
    testing::Values(
        DispositionCase{.name = "Unknown", .disposition = WOD_UNKNOWN, .refused = false},
        DispositionCase{.name = "CurrentTab", .disposition = WOD_CURRENT_TAB, .refused = false},
        DispositionCase{.name = "SingletonTab", .disposition = WOD_SINGLETON_TAB, .refused = false},
        DispositionCase{
            .name = "NewForegroundTab", .disposition = WOD_NEW_FOREGROUND_TAB, .refused = true},
        DispositionCase{
            .name = "NewBackgroundTab", .disposition = WOD_NEW_BACKGROUND_TAB, .refused = true},
        DispositionCase{.name = "NewPopup", .disposition = WOD_NEW_POPUP, .refused = true},
        DispositionCase{.name = "NewWindow", .disposition = WOD_NEW_WINDOW, .refused = true},
        DispositionCase{.name = "SaveToDisk", .disposition = WOD_SAVE_TO_DISK, .refused = false},
        DispositionCase{
            .name = "OffTheRecord", .disposition = WOD_OFF_THE_RECORD, .refused = false},
        DispositionCase{.name = "IgnoreAction", .disposition = WOD_IGNORE_ACTION, .refused = false},
        // Values no engine gives, at and beyond both ends of the range.
        DispositionCase{.name = "MinusOne", .disposition = -1, .refused = false},
        DispositionCase{
            .name = "PastTheLast", .disposition = WOD_IGNORE_ACTION + 1, .refused = false},
        DispositionCase{.name = "Thousand", .disposition = 1000, .refused = false},
        DispositionCase{
            .name = "Lowest", .disposition = std::numeric_limits<int>::min(), .refused = false},
        DispositionCase{
            .name = "Highest", .disposition = std::numeric_limits<int>::max(), .refused = false}),
    [](const testing::TestParamInfo<DispositionCase>& info) {
        return std::string(info.param.name);
    });

} // namespace
