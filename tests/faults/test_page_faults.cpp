// Hostile pages in the real window over the real engine: popup storms, alert loops, navigations
// to local and odd schemes, console floods with forged frame reports, huge texts, pages that
// never finish, a renderer killed in the middle of a lookup. The window keeps turning its event
// loop, closes when asked, and sends the host nothing for a page that is not a result page.
#include "FaultHarness.h"
#include "hostlink/WireFormat.h"
#include "ui/CBNorva.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <csignal>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// Records every URL that the engine hands to the desktop to open (an external application).
class ExternalOpener : public QObject
{
    Q_OBJECT

public:
    explicit ExternalOpener(const QStringList& schemes) : m_schemes(schemes)
    {
        for (const QString& scheme : m_schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~ExternalOpener() override
    {
        for (const QString& scheme : m_schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }

private:
    QStringList m_schemes;
};

QByteArray JsString(const QString& text)
{
    return QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
}

class PageFaultTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(host.Port() > 0);
        w = std::make_unique<TestWindow>(QStringList{QString::number(host.Port())});
        w->window->show();
        ASSERT_TRUE(w->waitReady());
        ASSERT_TRUE(AcceptTurning(host));
    }

    void TearDown() override
    {
        // Ends the host's side first, so that the window's link closes at once.
        host.ShutdownWrite();
        Spin(50);
        w.reset();
    }

    // Picks the portal and waits until its query page has been asked for.
    void openPortal(int portal)
    {
        const QString path = PortalSite::pathOf(site.queryUrl(portal));
        const qsizetype before = site.server.requests().count(path);
        w->pick(portal);
        ASSERT_TRUE(WaitFor([&] { return site.server.requests().count(path) > before; }, 15000));
    }

    std::string loadList() const
    {
        QStringList list;
        for (const LoadEnd& load : w->loads)
            list << load.url + u'|' + load.name;
        return list.join(QStringLiteral(", ")).toStdString();
    }

    bool loaded(const QString& url) const { return w->loaded(url); }

    // Nothing has reached the host: no result block for a page that is not a result page.
    void expectNothingSent() { EXPECT_TRUE(host.ReadFor(100ms).isEmpty()); }

    // The CCC page now holds a whole result: picking CCC sends its block whole and closes.
    void pickCccAndExpectItsResultSent()
    {
        const SampleResult result = CccSample();
        site.setText(site.queryUrl(kCcc), result.text);
        openPortal(kCcc);
        ASSERT_TRUE(w->waitClosed(30000));
        EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxTexts().join(u'|'));
        const TestPeer::Received r = host.ReadUntilEnd(10s);
        EXPECT_EQ(r.bytes, EncodeResultBlock(result.lines));
        EXPECT_TRUE(r.endOfStream);
    }

    // The user closes the window: it closes, the host gets the closing notice and nothing else.
    void closeAndExpectOnlyTheNotice()
    {
        ASSERT_TRUE(w->closeAndWait()) << "the window did not close";
        EXPECT_EQ(host.ReadFor(300ms), ClosingNotice());
        EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxTexts().join(u'|'));
    }

    int visibleTopLevels() const
    {
        int count = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            count += widget->isVisible() ? 1 : 0;
        return count;
    }

    PortalSite site;
    TestPeer host;
    std::unique_ptr<TestWindow> w;
};

TEST_F(PageFaultTest, HundredsOfPopupsOpenNothing)
{
    // Once loaded, the page asks for 400 new windows, without pause. Each request holds up
    // only the page's own renderer, a tenth of a second or so.
    site.setHtml(site.queryUrl(kCcc),
                 "<a id=\"l\" target=\"_blank\" href=\"/popup-link\">link</a><script>"
                 "addEventListener('load', () => setTimeout(() => {"
                 "  for (let n = 0; n < 100; n++) {"
                 "    for (let i = 0; i < 3; i++) window.open('/popup?' + n, '_blank', 'noopener');"
                 "    document.getElementById('l').click(); } }, 0));"
                 "</script>");
    int popups = 0;
    QObject::connect(w->window->Chromium1, &TChromium::OnBeforePopup,
                     [&](int, bool&) { ++popups; });
    QObject::connect(w->window->Chromium1, &TChromium::OnOpenUrlFromTab,
                     [&](int, bool&) { ++popups; });
    const int topLevelsBefore = visibleTopLevels();
    openPortal(kCcc);
    ASSERT_TRUE(WaitFor([&] { return loaded(site.queryUrl(kCcc)); }, 15000)) << loadList();
    EXPECT_TRUE(w->responsive(25));
    // A hundred refused so far, and the storm goes on while the window is checked and closed.
    ASSERT_TRUE(WaitFor([&] { return popups >= 100; }, 60000)) << popups;
    EXPECT_TRUE(w->responsive(25));

    EXPECT_EQ(visibleTopLevels(), topLevelsBefore);
    for (const QString& request : site.server.requests())
        EXPECT_FALSE(request.startsWith(QStringLiteral("/popup"))) << qPrintable(request);
    EXPECT_EQ(w->window->Chromium1->GetMainFrame()->GetUrl(), site.queryUrl(kCcc));
    expectNothingSent();
    closeAndExpectOnlyTheNotice();
}

TEST_F(PageFaultTest, EndlessAlertLoopDoesNotBlockTheWindow)
{
    site.setHtml(site.queryUrl(kCcc),
                 "<p>alerts</p><script>let i = 0; for (;;) { alert('again ' + i++);"
                 " if (i % 100 == 0) { confirm('sure?'); prompt('name?'); } }</script>");
    openPortal(kCcc);
    EXPECT_TRUE(w->responsive(50));
    // However many dialogs the page asks for, at most one box stands open.
    int boxes = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        boxes += qobject_cast<QMessageBox*>(widget) != nullptr && widget->isVisible() ? 1 : 0;
    EXPECT_LE(boxes, 1);
    expectNothingSent();
    closeAndExpectOnlyTheNotice();
}

// A page of the content-recognised portal tries to show, in its place, a page that holds a
// whole result. If one of these navigations got through, a result block would reach the host.
struct Navigation
{
    const char* name;
    QByteArray script; // FILE stands for the file: URL of a local result page
    bool userClick;    // the navigation is a link the user clicks
};

void PrintTo(const Navigation& c, std::ostream* os)
{
    *os << c.name;
}

class NavigationTest : public PageFaultTest, public testing::WithParamInterface<Navigation>
{};

TEST_P(NavigationTest, LeadsNowhereAndSendsNothing)
{
    const Navigation& navigation = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const SampleResult result = CccSample();
    const QString file = dir.filePath(QStringLiteral("result.html"));
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("<pre>" + result.text.toUtf8() + "</pre>");
    }
    const QByteArray fileUrl = QUrl::fromLocalFile(file).toEncoded();
    const QByteArray dataUrl =
        "data:text/html;charset=utf-8," + QUrl::toPercentEncoding(result.text);
    QByteArray script = navigation.script;
    script.replace("FILE", fileUrl).replace("DATA", dataUrl);

    ExternalOpener opener({QStringLiteral("quarvel-odd"), QStringLiteral("file")});
    site.setHtml(site.queryUrl(kCcc), "<style>a{display:block;width:100%;height:400px}</style>"
                                      "<p>query page</p><a id=\"go\" href=\"quarvel-odd://x/y\" "
                                      "onclick=\"document.title = 'clicked'\">go</a><script>" +
                                          script + "</script>");
    openPortal(kCcc);
    ASSERT_TRUE(WaitFor([&] { return loaded(site.queryUrl(kCcc)); }, 15000)) << loadList();
    if (navigation.userClick) {
        // Clicks until the page has seen one: its layout may not be ready for the first.
        QWidget* input = w->window->Chromium1->GetBrowser()->focusProxy();
        ASSERT_NE(input, nullptr);
        const QPoint at(200, 100);
        const bool clicked = WaitFor(
            [&] {
                QMouseEvent press(QEvent::MouseButtonPress, at, input->mapToGlobal(at),
                                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
                QMouseEvent release(QEvent::MouseButtonRelease, at, input->mapToGlobal(at),
                                    Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
                QApplication::sendEvent(input, &press);
                QApplication::sendEvent(input, &release);
                Spin(100);
                return w->page()->title() == QStringLiteral("clicked");
            },
            10000);
        ASSERT_TRUE(clicked) << "the page never saw the click";
    }
    // Time for the navigations to be tried, while the window keeps turning.
    EXPECT_TRUE(w->responsive(75));

    const std::optional<TCefFrame> main = w->window->Chromium1->GetMainFrame();
    ASSERT_TRUE(main.has_value());
    EXPECT_TRUE(main->GetUrl().startsWith(site.server.origin())) << qPrintable(main->GetUrl());
    EXPECT_TRUE(opener.opened.isEmpty())
        << "handed to an external program: " << qPrintable(opener.opened.value(0).toString());
    expectNothingSent();
    closeAndExpectOnlyTheNotice();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Schemes, NavigationTest, testing::Values(
    Navigation{"FileMainFrame", "setTimeout(() => { location.href = 'FILE'; }, 100);", false},
    Navigation{"FileSubFrame",
               "const f = document.createElement('iframe'); f.name = 'local'; f.src = 'FILE';"
               "document.body.appendChild(f);", false},
    Navigation{"DataMainFrame", "setTimeout(() => { location.href = 'DATA'; }, 100);", false},
    Navigation{"DataWindowOpen", "window.open('DATA', '_self');", false},
    Navigation{"JavascriptUrl",
               "setTimeout(() => { location.href = \"javascript:'<p>replaced</p>'\"; }, 100);",
               false},
    Navigation{"UnknownSchemeByScript",
               "setTimeout(() => { location.href = 'quarvel-odd://script/'; }, 100);", false},
    Navigation{"UnknownSchemeFrame",
               "const f = document.createElement('iframe'); f.src = 'quarvel-odd://frame/';"
               "document.body.appendChild(f);", false},
    Navigation{"UnknownSchemeByUserClick", "", true}),
    [](const testing::TestParamInfo<Navigation>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(PageFaultTest, ConsoleFloodWithForgedFrameReports)
{
    const SampleResult result = CccSample();
    site.setHtml(QStringLiteral("/frame"), "<p>just a frame</p>");
    // Reports in the frame script's form, with tokens of the right shape but guessed: each
    // claims that frame "f" holds a whole result.
    site.setHtml(site.queryUrl(kCcc),
                 "<p>query page</p><iframe name=\"f\" src=\"/frame\"></iframe><script>"
                 "const text = " +
                     JsString(result.text) +
                     ";"
                     "function hex() { let s = ''; for (let i = 0; i < 32; i++)"
                     " s += Math.floor(Math.random() * 16).toString(16); return s; }"
                     "for (let i = 0; i < 20000; i++) {"
                     "  console.log('quarvel:' + hex() + ':' +"
                     "              JSON.stringify([location.href, 'f', text]));"
                     "  console.log('quarvel::' + JSON.stringify([location.href, 'f', text]));"
                     "  console.error('noise ' + i);"
                     "}</script>");
    openPortal(kCcc);
    const QString frameUrl = site.server.url(QStringLiteral("/frame"));
    ASSERT_TRUE(WaitFor([&] { return loaded(frameUrl); }, 60000));
    EXPECT_TRUE(w->responsive(50));
    for (const LoadEnd& load : std::as_const(w->loads)) {
        if (!load.name.isEmpty()) {
            EXPECT_EQ(load.url, frameUrl)
                << "a forged report was taken for frame " << qPrintable(load.name);
        }
    }
    expectNothingSent();
    closeAndExpectOnlyTheNotice();
}

// How long the engine may take to lay out such a page: 10 to 40 s seen, by its version (Qt 6.8's
// is slower than 6.4's) and the machine's load. The bound is the fixture's, not the window's.
constexpr int kHugePageLoadMs = 90000;

// Text of about `mebibytes` MiB in lines that no expression looks for.
QString Filler(int mebibytes)
{
    const QString line =
        QStringLiteral("filler line that no field expression looks for 0123456789\n");
    QString text;
    text.reserve(mebibytes * 1024 * 1024);
    while (text.size() < mebibytes * 1024 * 1024)
        text += line;
    return text;
}

TEST_F(PageFaultTest, TensOfMebibytesOfTextThatIsNoResult)
{
    // The content-recognised portal asks for the whole text again every half second.
    site.setText(site.queryUrl(kCcc), Filler(24));
    openPortal(kCcc);
    ASSERT_TRUE(WaitFor([&] { return loaded(site.queryUrl(kCcc)); }, kHugePageLoadMs));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(w->responsive(25));
    expectNothingSent();
    closeAndExpectOnlyTheNotice();
}

TEST_F(PageFaultTest, TensOfMebibytesOfTextAfterAResult)
{
    const SampleResult result = AmSample();
    site.setText(site.resultUrl(kAm), result.text + Filler(24));
    openPortal(kAm);
    w->window->Chromium1->LoadURL(site.resultUrl(kAm));
    ASSERT_TRUE(w->waitClosed(2 * kHugePageLoadMs));
    EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxTexts().join(u'|'));
    const TestPeer::Received r = host.ReadUntilEnd(10s);
    EXPECT_TRUE(r.bytes == EncodeResultBlock(result.lines)) << r.bytes.size() << " bytes";
    EXPECT_TRUE(r.endOfStream);
}

TEST_F(PageFaultTest, HugeSubFrameText)
{
    site.setText(QStringLiteral("/big-frame"), Filler(16));
    site.setHtml(site.queryUrl(kCcc),
                 "<p>query page</p><iframe name=\"big\" src=\"/big-frame\"></iframe>");
    openPortal(kCcc);
    // The frame's report may or may not make it through the engine; the window must not care.
    const bool reported =
        WaitFor([&] { return loaded(site.server.url(QStringLiteral("/big-frame"))); }, 20000);
    std::printf("[ observed ] the 16 MiB frame's load was %sreported\n", reported ? "" : "not ");
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(w->responsive(25));
    expectNothingSent();
    closeAndExpectOnlyTheNotice();
}

TEST_F(PageFaultTest, PageThatNeverAnswersThenAnotherPortal)
{
    site.setHtml(site.queryUrl(kAm), "<p>never</p>", 10 * 60 * 1000);
    openPortal(kAm);
    EXPECT_TRUE(w->responsive(50));
    expectNothingSent();

    // The user gives up and picks another portal: it loads afresh and its result goes out.
    pickCccAndExpectItsResultSent();
}

TEST_F(PageFaultTest, ResultPageThatNeverFinishesLoading)
{
    // The result shows, but an image never arrives, so the page never finishes loading.
    site.setHtml(QStringLiteral("/never.png"), "", 10 * 60 * 1000);
    site.setHtml(site.resultUrl(kAm),
                 "<pre>" + AmSample().text.toUtf8() + "</pre><img src=\"/never.png\">");
    openPortal(kAm);
    w->window->Chromium1->LoadURL(site.resultUrl(kAm));
    ASSERT_TRUE(WaitFor(
        [&] { return site.server.requests().contains(QStringLiteral("/never.png")); }, 15000));
    EXPECT_TRUE(w->responsive(50));
    // Only a finished load is examined: nothing goes out while the page is still loading.
    expectNothingSent();
    closeAndExpectOnlyTheNotice();
}

// The query page goes on to the result page before it has finished loading: by a script, by a
// refresh, or because the user submits while a part of it is still on its way. The result page
// must be examined all the same.
struct EarlyNavigation
{
    const char* name;
    QByteArray queryPage;       // RESULT stands for the result page's URL
    bool userNavigatesOnCommit; // the test loads the result page once the query page committed
};

void PrintTo(const EarlyNavigation& c, std::ostream* os)
{
    *os << c.name;
}

class EarlyNavigationTest : public PageFaultTest,
                            public testing::WithParamInterface<EarlyNavigation>
{};

TEST_P(EarlyNavigationTest, ResultPageIsStillExamined)
{
    const EarlyNavigation& navigation = GetParam();
    const SampleResult result = AmSample();
    site.setText(site.resultUrl(kAm), result.text);
    site.setHtml(QStringLiteral("/slow.png"), "", 1500);
    QByteArray query = navigation.queryPage;
    site.setHtml(site.queryUrl(kAm), query.replace("RESULT", site.resultUrl(kAm).toUtf8()));
    openPortal(kAm);
    if (navigation.userNavigatesOnCommit) {
        ASSERT_TRUE(
            WaitFor([&] { return w->page()->url().toString() == site.queryUrl(kAm); }, 15000));
        w->window->Chromium1->LoadURL(site.resultUrl(kAm));
    }
    ASSERT_TRUE(w->waitClosed(20000))
        << "the result page was not examined; loads ended: " << loadList();
    EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxTexts().join(u'|'));
    const TestPeer::Received r = host.ReadUntilEnd(10s);
    EXPECT_EQ(r.bytes, EncodeResultBlock(result.lines));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Navigations, EarlyNavigationTest, testing::Values(
    EarlyNavigation{"InlineScript", "<script>location.href = 'RESULT';</script>", false},
    EarlyNavigation{"ScriptWhileAnImageLoads",
                    "<img src=\"/slow.png\"><script>setTimeout(() => { location.href = 'RESULT'; },"
                    " 100);</script>", false},
    EarlyNavigation{"RefreshAtOnce", "<meta http-equiv=\"refresh\" content=\"0;url=RESULT\">",
                    false},
    EarlyNavigation{"UserWhileAnImageLoads", "<p>query</p><img src=\"/slow.png\">", true}),
    [](const testing::TestParamInfo<EarlyNavigation>& info) { return std::string(info.param.name); });
// clang-format on

// A new page is asked for at the moment the previous one is being answered: the user submits
// a form as its page arrives, or the host application's portal redirects. The new page's load
// must end in a load report like any other, or a result page would never be examined. Each round
// is one such overlap; the race is narrow, so it is tried many times.
TEST(NavigationRace, EveryPageAskedForWhileAnotherArrivesIsReported)
{
    HttpFixtureServer server;
    ASSERT_TRUE(server.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
    server.setPage(QStringLiteral("/first"), "<p>first</p>");
    server.setPage(QStringLiteral("/second"), "<p>second</p>");
    QWidget hostArea;
    hostArea.resize(800, 600);
    hostArea.show();
    TChromium chromium;
    QStringList ended;
    QObject::connect(&chromium, &TChromium::OnLoadEnd,
                     [&](const TCefFrame& frame, int) { ended.append(frame.GetUrl()); });
    ASSERT_TRUE(chromium.CreateBrowser(&hostArea));
    ASSERT_TRUE(WaitFor([&] { return ended.contains(QStringLiteral("about:blank")); }, 15000));

    constexpr int kRounds = 40;
    int unreported = 0;
    QString firstMiss;
    for (int round = 0; round < kRounds; ++round) {
        const QString first = server.url(QStringLiteral("/first?%1").arg(round));
        const QString second = server.url(QStringLiteral("/second?%1").arg(round));
        // Asked for while the server is about to answer the first page.
        const QMetaObject::Connection overlap =
            QObject::connect(&server, &HttpFixtureServer::requested, [&](const QString& target) {
                // At a moment a little later each round, so that some round falls between
                // the first page's answer and its commit.
                if (target == QStringLiteral("/first?%1").arg(round))
                    QTimer::singleShot(round % 20, &chromium,
                                       [&chromium, second] { chromium.LoadURL(second); });
            });
        chromium.LoadURL(first);
        const bool reported = WaitFor([&] { return ended.contains(second); }, 2000);
        QObject::disconnect(overlap);
        if (!reported) {
            ++unreported;
            if (firstMiss.isEmpty())
                firstMiss = QStringLiteral("round %1: page at %2, requests %3")
                                .arg(round)
                                .arg(chromium.GetMainFrame()->GetUrl(),
                                     QStringList(server.requests()).mid(-4).join(u' '));
        }
    }
    EXPECT_EQ(unreported, 0) << "of " << kRounds << " rounds; first: " << qPrintable(firstMiss);
}

struct RendererKill
{
    const char* name;
    bool pickAgain; // after the kill, the user picks the portal again
};

void PrintTo(const RendererKill& c, std::ostream* os)
{
    *os << c.name;
}

class RendererKillTest : public PageFaultTest, public testing::WithParamInterface<RendererKill>
{};

TEST_P(RendererKillTest, InTheMiddleOfALookup)
{
    // The content-recognised portal's query page: its text is being watched every half second.
    site.setText(site.queryUrl(kCcc), QStringLiteral("query page, no result yet"));
    openPortal(kCcc);
    ASSERT_TRUE(WaitFor([&] { return loaded(site.queryUrl(kCcc)); }, 15000)) << loadList();
    // A retry is on its way once the window has handled the query page's first text.
    ASSERT_TRUE(WaitFor([&] { return !w->texts.isEmpty(); }, 15000));
    ASSERT_TRUE(RunQueuedCalls());

    QWebEnginePage* page = w->page();
    ASSERT_NE(page, nullptr);
    QSignalSpy terminated(page, &QWebEnginePage::renderProcessTerminated);
    const qint64 pid = page->renderProcessPid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
    ASSERT_TRUE(terminated.count() > 0 || terminated.wait(15000));
    EXPECT_TRUE(w->responsive(50));
    expectNothingSent();

    if (!GetParam().pickAgain) {
        closeAndExpectOnlyTheNotice();
        return;
    }
    // Picking the portal again loads it afresh, in a new renderer; its result goes out whole.
    pickCccAndExpectItsResultSent();
}

INSTANTIATE_TEST_SUITE_P(Kills, RendererKillTest,
                         testing::Values(RendererKill{"ThenClose", false},
                                         RendererKill{"ThenPickAgain", true}),
                         [](const testing::TestParamInfo<RendererKill>& info) {
                             return std::string(info.param.name);
                         });

} // namespace

#include "test_page_faults.moc"
