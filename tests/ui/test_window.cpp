// The main window over the real engine, offscreen, with a host written in the test.
#include "EventLoopWait.h"
#include "HttpFixtureServer.h"
#include "TestHost.h"
#include "TestWindow.h"
#include "ui/CBNorva.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWindow>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sys/socket.h>

namespace {

const QString kStarting = QStringLiteral("Iniciando navegador... Aguarde...");

class WindowTest : public testing::Test
{
protected:
    // The window, not yet shown.
    TForm1* makeWindow(const QStringList& arguments)
    {
        w = std::make_unique<TestWindow>(arguments);
        return w->window.get();
    }

    TestHost host;
    std::unique_ptr<TestWindow> w;
};

TEST_F(WindowTest, LayoutAndPortalListBeforeTheBrowserExists)
{
    auto window = makeWindow({host.port()});
    EXPECT_EQ(window->windowTitle(), kStarting);
    EXPECT_FALSE(window->AddressPnl->isEnabled());
    EXPECT_EQ(window->size(), QSize(996, 648));
    EXPECT_EQ(window->Label1->text(), QStringLiteral("Selecione a UF para consulta:"));
    EXPECT_TRUE(window->Label1->font().bold());
    EXPECT_EQ(window->cbUF->font().pixelSize(), 15);
    EXPECT_FALSE(window->cbUF->isEditable());

    const QStringList names{QStringLiteral("Cadastro Centralizado de Contribuinte"),
                            QStringLiteral("AM"), QStringLiteral("ES"), QStringLiteral("BA"),
                            QStringLiteral("SP")};
    ASSERT_EQ(window->cbUF->count(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(window->cbUF->itemText(i), names[i]);
        EXPECT_EQ(window->cbUF->ItemsCodigo().value(i), window->URIEstados()[i].URLconsulta);
    }
    EXPECT_EQ(window->cbUF->currentIndex(), -1) << "building the table selects nothing";

    // Tahoma is usually absent here; a small bold font has its metrics' room and must get the
    // fixed design exactly.
    QFont narrow = window->Label1->font();
    narrow.setPixelSize(9);
    window->Label1->setFont(narrow);
    ASSERT_LE(window->Label1->sizeHint().width(), 190);
    window->show();
    QTest::qWait(0);
    EXPECT_EQ(window->AddressPnl->geometry(), QRect(0, 0, 996, 40));
    EXPECT_EQ(window->cbUF->geometry(), QRect(206, 7, 781, 26));
    EXPECT_EQ(window->CEFWindowParent1->geometry(), QRect(0, 40, 996, 608));

    // Wider window: the list and the browser area widen, the panel keeps its height.
    window->resize(1096, 700);
    QTest::qWait(0);
    EXPECT_EQ(window->cbUF->geometry(), QRect(206, 7, 881, 26));
    EXPECT_EQ(window->CEFWindowParent1->geometry(), QRect(0, 40, 1096, 660));
    EXPECT_EQ(window->AddressPnl->height(), 40);
}

TEST_F(WindowTest, PortalDefinitionsFileMakesTheListOrIsRefusedWithOneBox)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString good = dir.filePath(QStringLiteral("good.json"));
    QFile goodFile(good);
    ASSERT_TRUE(goodFile.open(QIODevice::WriteOnly));
    goodFile.write(R"j({"version": 1, "portals": [{"key": "xy", "estado": "XY",
 "URLconsulta": "https://a.example/q", "URLresposta": "", "responseStringDetection": "R",
 "consultaReadyScript": "", "fieldDefs": [{"fieldName": "nome", "fieldRegEx": "N:(.*)"}]}]})j");
    goodFile.close();
    const QString bad = dir.filePath(QStringLiteral("bad.json"));
    QFile badFile(bad);
    ASSERT_TRUE(badFile.open(QIODevice::WriteOnly));
    badFile.write(R"j({"version": 7, "portals": []})j");
    badFile.close();

    qputenv("QUARVEL_PORTALS", good.toUtf8());
    auto window = makeWindow({host.port()});
    ASSERT_EQ(window->cbUF->count(), 1);
    EXPECT_EQ(window->cbUF->itemText(0), QStringLiteral("XY"));
    RunQueuedCalls();
    EXPECT_TRUE(w->boxes.isEmpty());
    w.reset();

    qputenv("QUARVEL_PORTALS", bad.toUtf8());
    window = makeWindow({host.port()});
    qunsetenv("QUARVEL_PORTALS");
    EXPECT_EQ(window->cbUF->count(), 5) << "the built-in table stays in force";
    RunQueuedCalls();
    ASSERT_EQ(w->boxes.size(), 1);
    EXPECT_TRUE(w->boxTexts().at(0).contains(bad + QStringLiteral(": version:")))
        << w->boxTexts().at(0).toStdString();
}

TEST_F(WindowTest, WiderLabelFontPushesTheListRightAndShowsTheWholeLabel)
{
    auto window = makeWindow({host.port()});
    const QString text = window->Label1->text();
    struct Row
    {
        int pixelSize;
        int windowWidth;
    };
    for (const Row& row : {Row{16, 996}, Row{20, 996}, Row{20, 1200}}) {
        QFont wide = window->Label1->font();
        wide.setFamily(QStringLiteral("DejaVu Sans"));
        wide.setPixelSize(row.pixelSize);
        window->Label1->setFont(wide);
        window->resize(row.windowWidth, 648);
        window->show();
        QTest::qWait(0);
        const int textWidth = QFontMetrics(wide).horizontalAdvance(text);
        ASSERT_GT(textWidth, 190) << "the row needs a font wider than the design's";
        const QRect label = window->Label1->geometry();
        const QRect list = window->cbUF->geometry();
        EXPECT_EQ(label.left(), 8) << row.pixelSize;
        EXPECT_GE(label.width(), textWidth) << "label text cut at " << row.pixelSize << " px";
        EXPECT_EQ(list.left(), label.right() + 1 + 8) << "same gap after the label";
        EXPECT_EQ(list.top(), 7);
        EXPECT_EQ(list.height(), 26);
        EXPECT_EQ(list.right(), window->AddressPnl->width() - 1 - 9) << "right edge 9 px inside";
    }
}

TEST_F(WindowTest, BrowserCreatedEnablesThePanelAndOpensTheHostLink)
{
    auto window = makeWindow({host.port()});
    window->show();
    ASSERT_TRUE(w->waitBrowserCreated(20000));
    EXPECT_TRUE(window->AddressPnl->isEnabled());
    EXPECT_NE(window->Chromium1->GetBrowser(), nullptr);
    EXPECT_TRUE(host.waitForConnection());
    EXPECT_TRUE(window->IdTCPClient->Connected());
    EXPECT_EQ(w->closed->count(), 0);
}

TEST_F(WindowTest, OneCloseRequestHidesAtOnceAndSendsOneNotice)
{
    auto window = makeWindow({host.port()});
    window->show();
    ASSERT_TRUE(w->waitBrowserCreated(20000));
    ASSERT_TRUE(host.waitForConnection());

    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->Closing());
    // A second request during the handshake changes nothing.
    window->close();
    ASSERT_TRUE(w->waitClosed(15000));
    EXPECT_TRUE(window->CanClose());
    ASSERT_EQ(window->Chromium1->GetBrowser(), nullptr);
    // The browser is gone, so a second close could only be a close request already queued.
    ASSERT_TRUE(RunQueuedCalls());
    EXPECT_EQ(w->closed->count(), 1);
    EXPECT_EQ(host.received(), QByteArrayLiteral("client-closing\r\n"));
    EXPECT_TRUE(w->boxes.isEmpty());
}

TEST_F(WindowTest, CloseBeforeAnyBrowserExistsStillCloses)
{
    auto window = makeWindow({host.port()});
    window->close(); // never shown: no browser was ever asked for
    ASSERT_TRUE(w->waitClosed(5000));
    EXPECT_FALSE(host.server.hasPendingConnections());
}

TEST_F(WindowTest, HostCloseCommandClosesWithoutNotice)
{
    auto window = makeWindow({host.port()});
    window->show();
    ASSERT_TRUE(host.waitForConnection(20000));
    host.link->write("close\r\n");
    host.link->disconnectFromHost();
    ASSERT_TRUE(w->waitClosed(15000));
    EXPECT_TRUE(host.received().isEmpty());
    EXPECT_TRUE(w->boxes.isEmpty());
}

TEST_F(WindowTest, HostClosedFirstThenUserCloseSendsNothing)
{
    auto window = makeWindow({host.port()});
    window->show();
    ASSERT_TRUE(host.waitForConnection(20000));
    host.link->write("hello");
    host.link->disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return !window->IdTCPClient->Connected(); }, 5000));
    // The link went down in a handler of the window's; a close it asked for would be queued.
    ASSERT_TRUE(RunQueuedCalls());
    EXPECT_FALSE(window->Closing()) << "anything but close leaves the window open";
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(w->closed->count(), 0);

    window->close();
    ASSERT_TRUE(w->waitClosed(15000));
    EXPECT_TRUE(host.received().isEmpty());
    EXPECT_TRUE(w->boxes.isEmpty());
}

TEST_F(WindowTest, HostResetGoesDownSilentlyAndTheWindowStillCloses)
{
    auto window = makeWindow({host.port()});
    window->show();
    ASSERT_TRUE(host.waitForConnection(20000));
    // Closing with lingering off sends a reset instead of an orderly end of stream.
    const linger off{1, 0};
    ASSERT_EQ(
        ::setsockopt(int(host.link->socketDescriptor()), SOL_SOCKET, SO_LINGER, &off, sizeof off),
        0);
    host.link->abort();
    ASSERT_TRUE(WaitFor([&] { return !window->IdTCPClient->Connected(); }, 5000));
    EXPECT_EQ(w->closed->count(), 0);

    window->close();
    ASSERT_TRUE(w->waitClosed(15000));
    EXPECT_TRUE(w->boxes.isEmpty());
}

// Shows the window, made active so that it receives keys, and waits for its first page.
void ShowActive(TestWindow& w)
{
    w.window->show();
    w.window->activateWindow();
    ASSERT_TRUE(w.waitReady());
    ASSERT_TRUE(WaitFor([&] { return w.window->isActiveWindow(); }, 10000));
}

// Runs a script in the page and waits for its value.
QVariant RunScript(QWebEnginePage* page, const QString& script)
{
    const auto result = std::make_shared<std::optional<QVariant>>();
    page->runJavaScript(script, [result](const QVariant& value) { *result = value; });
    WaitFor([&] { return result->has_value(); }, 10000);
    return result->value_or(QStringLiteral("<no answer>"));
}

TEST_F(WindowTest, ProgressStripShowsWhileAPageLoadsAndMovesNothing)
{
    HttpFixtureServer server;
    ASSERT_TRUE(server.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
    server.setPage(QStringLiteral("/slow"), {.body = "<p>slow answer</p>", .delayMs = 1500});
    const QString slow = server.url(QStringLiteral("/slow"));
    auto window = makeWindow({host.port()});
    window->show();
    ASSERT_TRUE(w->waitReady());
    ASSERT_TRUE(WaitFor([&] { return !window->ProgressBar1->isVisible(); }, 10000));
    const QRect area = window->CEFWindowParent1->geometry();
    const QRect browser = window->Chromium1->GetBrowser()->geometry();
    const QRect list = window->cbUF->geometry();

    window->Chromium1->LoadURL(slow);
    ASSERT_TRUE(WaitFor([&] { return window->ProgressBar1->isVisible(); }, 10000));
    EXPECT_FALSE(w->loaded(slow)) << "the strip must show before the page has come";
    // Along the panel's bottom edge, below the list.
    EXPECT_EQ(window->ProgressBar1->geometry(), QRect(0, 37, 996, 3));
    EXPECT_GT(window->ProgressBar1->geometry().top(), list.bottom());
    QTest::qWait(0);
    EXPECT_EQ(window->CEFWindowParent1->geometry(), area);
    EXPECT_EQ(window->Chromium1->GetBrowser()->geometry(), browser);
    EXPECT_EQ(window->cbUF->geometry(), list);

    ASSERT_TRUE(w->waitMainLoad(slow));
    EXPECT_TRUE(WaitFor([&] { return !window->ProgressBar1->isVisible(); }, 10000));
    QTest::qWait(0);
    EXPECT_EQ(window->CEFWindowParent1->geometry(), area);
    EXPECT_EQ(window->Chromium1->GetBrowser()->geometry(), browser);
    EXPECT_EQ(window->cbUF->geometry(), list);
}

TEST_F(WindowTest, ListHasTheFocusOnceThePanelIsEnabledAndTabLeadsIntoThePage)
{
    auto window = makeWindow({host.port()});
    EXPECT_EQ(window->Label1->buddy(), window->cbUF);
    ShowActive(*w);
    EXPECT_TRUE(WaitFor([&] { return window->cbUF->hasFocus(); }, 10000));
    QWidget* pageInput = window->Chromium1->GetBrowser()->focusProxy();
    ASSERT_NE(pageInput, nullptr);

    QTest::keyClick(window->windowHandle(), Qt::Key_Tab);
    EXPECT_TRUE(WaitFor([&] { return pageInput->hasFocus(); }, 5000)) << "Tab goes into the page";
    QTest::keyClick(window->windowHandle(), Qt::Key_U, Qt::AltModifier);
    EXPECT_TRUE(WaitFor([&] { return window->cbUF->hasFocus(); }, 5000)) << "Alt+U: the list";
    EXPECT_EQ(window->Label1->text(), QStringLiteral("Selecione a UF para consulta:"));
}

enum class KeyEffect
{
    Reloaded,
    WentBack,
    WentForward,
    Stopped,
    Zoom,
};

struct KeyCase
{
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    KeyEffect effect;
    double zoomBefore = 1.0;
    double zoomAfter = 1.0;
};

// Each key, pressed with the focus in the list, in the page, and in a field of the page, does
// its one thing to the page shown.
TEST_F(WindowTest, BrowserKeysWorkFromTheListAndFromThePage)
{
    HttpFixtureServer server;
    ASSERT_TRUE(server.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
    // The page counts its own loads in the tab's session storage, which a reload keeps.
    const QByteArray counting =
        "<input id=\"field\"><script>var n = +(sessionStorage[location.pathname] || 0) + 1;"
        "sessionStorage[location.pathname] = n; document.title = 'loads ' + n;</script>";
    server.setPage(QStringLiteral("/one"), counting);
    server.setPage(QStringLiteral("/two"), counting);
    server.setPage(QStringLiteral("/slow"), {.body = "<p>too late</p>", .delayMs = 30000});
    const QString one = server.url(QStringLiteral("/one"));
    const QString two = server.url(QStringLiteral("/two"));
    auto window = makeWindow({host.port()});
    ShowActive(*w);
    QWebEnginePage* page = w->page();
    window->Chromium1->LoadURL(one);
    ASSERT_TRUE(w->waitMainLoad(one));
    window->Chromium1->LoadURL(two);
    ASSERT_TRUE(w->waitMainLoad(two));
    const auto url = [&] { return page->url().toString(); };
    const auto loadsShown = [&] { return page->title(); };

    const QList<KeyCase> keys{
        {"F5", Qt::Key_F5, Qt::NoModifier, KeyEffect::Reloaded},
        {"Ctrl+R", Qt::Key_R, Qt::ControlModifier, KeyEffect::Reloaded},
        {"Alt+Left", Qt::Key_Left, Qt::AltModifier, KeyEffect::WentBack},
        {"Alt+Right", Qt::Key_Right, Qt::AltModifier, KeyEffect::WentForward},
        {"Escape", Qt::Key_Escape, Qt::NoModifier, KeyEffect::Stopped},
        {"Ctrl+plus", Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier, KeyEffect::Zoom, 1.0,
         1.1},
        {"Ctrl+=", Qt::Key_Equal, Qt::ControlModifier, KeyEffect::Zoom, 1.1, 1.25},
        {"Ctrl+minus", Qt::Key_Minus, Qt::ControlModifier, KeyEffect::Zoom, 1.0, 0.9},
        {"Ctrl+0", Qt::Key_0, Qt::ControlModifier, KeyEffect::Zoom, 1.5, 1.0},
        {"Ctrl+plus at the top", Qt::Key_Plus, Qt::ControlModifier, KeyEffect::Zoom, 5.0, 5.0},
    };
    const QStringList focuses{QStringLiteral("list"), QStringLiteral("page"),
                              QStringLiteral("field")};
    for (const QString& focus : focuses) {
        for (const KeyCase& row : keys) {
            SCOPED_TRACE(QStringLiteral("%1 with the focus in the %2")
                             .arg(QLatin1String(row.name), focus)
                             .toStdString());
            // Back at /two, with /one behind it.
            if (url() != two) {
                page->triggerAction(QWebEnginePage::Forward);
                ASSERT_TRUE(WaitFor([&] { return url() == two && !page->isLoading(); }, 10000));
            }
            page->setZoomFactor(row.zoomBefore);
            if (row.effect == KeyEffect::WentForward) {
                page->triggerAction(QWebEnginePage::Back);
                ASSERT_TRUE(WaitFor([&] { return url() == one && !page->isLoading(); }, 10000));
            }
            if (focus == QLatin1String("list")) {
                window->cbUF->setFocus();
            } else {
                window->Chromium1->GetBrowser()->setFocus();
                RunScript(page, focus == QLatin1String("field")
                                    ? QStringLiteral("document.getElementById('field').focus()")
                                    : QStringLiteral("document.activeElement.blur()"));
            }
            ASSERT_TRUE(RunQueuedCalls());
            if (row.effect == KeyEffect::Stopped) {
                QSignalSpy asked(&server, &HttpFixtureServer::requested);
                window->Chromium1->LoadURL(server.url(QStringLiteral("/slow")));
                ASSERT_TRUE(asked.wait(10000));
                ASSERT_TRUE(window->ProgressBar1->isVisible());
            }
            const QString shownBefore = loadsShown();
            const int backBefore = page->history()->currentItemIndex();

            QTest::keyClick(window->windowHandle(), row.key, row.modifiers);

            switch (row.effect) {
            case KeyEffect::Reloaded: {
                const int count = shownBefore.mid(6).toInt();
                EXPECT_TRUE(WaitFor(
                    [&] { return loadsShown() == QStringLiteral("loads %1").arg(count + 1); },
                    10000))
                    << qPrintable(loadsShown());
                EXPECT_EQ(url(), two);
                break;
            }
            case KeyEffect::WentBack:
                EXPECT_TRUE(WaitFor([&] { return url() == one; }, 10000)) << qPrintable(url());
                EXPECT_EQ(page->history()->currentItemIndex(), backBefore - 1);
                break;
            case KeyEffect::WentForward:
                EXPECT_TRUE(WaitFor([&] { return url() == two; }, 10000)) << qPrintable(url());
                EXPECT_EQ(page->history()->currentItemIndex(), backBefore + 1);
                break;
            case KeyEffect::Stopped:
                // The slow page answers only after 30 s: the load ends now because it stopped.
                EXPECT_TRUE(WaitFor([&] { return !window->ProgressBar1->isVisible(); }, 10000));
                EXPECT_EQ(url(), two);
                break;
            case KeyEffect::Zoom:
                if (row.zoomAfter != row.zoomBefore) {
                    EXPECT_TRUE(
                        WaitFor([&] { return page->zoomFactor() != row.zoomBefore; }, 10000));
                }
                // Anything a second delivery of the key would do is done by the next round trip.
                RunScript(page, QStringLiteral("1"));
                EXPECT_NEAR(page->zoomFactor(), row.zoomAfter, 1e-6);
                break;
            }
        }
    }
    page->setZoomFactor(1.0);
}

struct BadLinkCase
{
    const char* name;
    QStringList arguments;
};

class WindowBadLinkTest : public WindowTest, public testing::WithParamInterface<BadLinkCase>
{};

// No port, a malformed one, port 0 or nothing listening: the window closes by itself, quietly.
TEST_P(WindowBadLinkTest, ClosesWithoutAMessage)
{
    QStringList arguments = GetParam().arguments;
    QTcpServer unused; // a port that nobody listens on once closed
    ASSERT_TRUE(unused.listen(QHostAddress::LocalHost));
    const QString freePort = QString::number(unused.serverPort());
    unused.close();
    arguments.replaceInStrings(QStringLiteral("FREE"), freePort);

    auto window = makeWindow(arguments);
    window->show();
    ASSERT_TRUE(w->waitClosed(30000));
    EXPECT_TRUE(w->boxes.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Arguments, WindowBadLinkTest,
                         testing::Values(BadLinkCase{"NoArgument", {}},
                                         BadLinkCase{"Empty", {QString()}},
                                         BadLinkCase{"TrailingBlank", {QStringLiteral("8080 ")}},
                                         BadLinkCase{"Zero", {QStringLiteral("0")}},
                                         BadLinkCase{"ZeroAfterCut", {QStringLiteral("65536")}},
                                         BadLinkCase{"NothingListening", {QStringLiteral("FREE")}}),
                         [](const testing::TestParamInfo<BadLinkCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
