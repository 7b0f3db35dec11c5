// The host names the portal and the taxpayer on the command line: the real window over the real
// engine, the sample portals on loopback. The portal is chosen and its form filled with no input
// event; only the test, standing in for the user, presses the portal's button.
#include "EventLoopWait.h"
#include "QtPrinters.h"
#include "SamplePortals.h"
#include "TestHost.h"
#include "TestWindow.h"
#include "lookup/HostRequest.h"
#include "ui/CBNorva.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kCnpj = u"27385904000139"_s;
const QString kCnpjPunctuated = u"27.385.904/0001-39"_s;

// Put at the top of a query page: records each input and change event the page sees, as
// "type:name" with the last part of an ASP.NET name.
const QByteArray kEventRecorder =
    "<script>window.seenEvents = []; for (const t of ['input', 'change'])"
    " document.addEventListener(t, (e) => seenEvents.push(t + ':' + e.target.name.split('$')"
    ".pop()), true);</script>";

// The sample lines with another taxpayer's number in the cnpj line.
QStringList LinesFor(int index, const QString& cnpj)
{
    QStringList lines = kSampleLines.at(index);
    lines[0] = u"cnpj="_s + cnpj;
    return lines;
}

class HostRequestTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(portals.start());
        qputenv("QUARVEL_PORTAL_HOSTS", portals.hostsValue.toUtf8());
        for (int i = 0; i < 5; ++i) {
            QObject::connect(&portals.server(i), &HttpFixtureServer::served,
                             [this, i](const QString& method, const QString& target, int) {
                                 requests[i].append(method + u' ' + target);
                             });
        }
    }

    void TearDown() override
    {
        window = nullptr;
        w.reset();
        qunsetenv("QUARVEL_PORTAL_HOSTS");
    }

    // The window as the host starts it with these options after the port.
    void open(const QStringList& options)
    {
        w = std::make_unique<TestWindow>(QStringList{host.port()} + options);
        window = w->window.get();
        window->show();
        ASSERT_TRUE(w->waitBrowserCreated());
        ASSERT_TRUE(host.waitForConnection());
    }

    QVariant evaluate(const QString& script)
    {
        auto result = std::make_shared<std::optional<QVariant>>();
        w->page()->runJavaScript(script, [result](const QVariant& value) { *result = value; });
        if (!WaitFor([&] { return result->has_value(); }, 10000))
            return u"<no answer>"_s;
        return **result;
    }

    // The script's value once it is `expected` (the fill runs after the load has ended), or the
    // last value seen.
    QString settledValue(const QString& script, const QString& expected)
    {
        QString value;
        WaitFor(
            [&] {
                value = evaluate(script).toString();
                return value == expected;
            },
            10000);
        return value;
    }

    // A page load of url in the main frame ended after the first `after` loads.
    bool waitMainLoadAfter(qsizetype after, const QString& url)
    {
        return WaitFor(
            [&] {
                for (qsizetype i = after; i < w->loads.size(); ++i) {
                    if (w->loads.at(i).main && w->loads.at(i).url == url)
                        return true;
                }
                return false;
            },
            20000);
    }

    // Serves the portal's page at path with the sample's taxpayer number replaced.
    void serveWithCnpj(int index, const QString& path, const QString& sampleCnpj,
                       const QString& cnpj, const QByteArray& prefix = {})
    {
        HttpFixtureServer::Page page = portals.server(index).pageFromRoot(path);
        ASSERT_EQ(page.status, 200) << qPrintable(path);
        ASSERT_TRUE(page.body.contains(sampleCnpj.toUtf8())) << qPrintable(path);
        page.body.replace(sampleCnpj.toUtf8(), cnpj.toUtf8());
        if (!prefix.isEmpty())
            page.body.replace(QByteArray("<body>"), QByteArray(QByteArray("<body>\n") + prefix));
        portals.server(index).setPage(path, page);
    }

    void pressTheButton()
    {
        ASSERT_EQ(evaluate(u"document.querySelector('#consulta [type=submit]').click(); true"_s),
                  QVariant(true));
    }

    SamplePortals portals;
    TestHost host;
    std::unique_ptr<TestWindow> w;
    TForm1* window = nullptr;
    // Per portal: "METHOD target" of every request answered.
    QStringList requests[5];
};

// --- Each sample portal chosen and filled in by the host's request ---

struct FillCase
{
    const char* name;
    int index;
    QStringList options = {}; // besides --portal and --cnpj
    // The page whose text is the result (SP answers in its query page) and the number it shows.
    QString resultPath;
    QString sampleCnpj;
    // Where the form goes; a GET query must hold sentQuery.
    QString submitPath;
    QString sentQuery = {};
    // Reads the controls back, one value each, joined by '|'.
    QString readBack;
    QString expected;
    QString events;
};

void PrintTo(const FillCase& c, std::ostream* os)
{
    *os << c.name;
}

class FilledQueryTest : public HostRequestTest, public testing::WithParamInterface<FillCase>
{
protected:
    // Requests that sent the form: a POST to where it goes, or a GET there with a query.
    QStringList submissions() const
    {
        const FillCase& c = GetParam();
        QStringList sent;
        for (const QString& request : requests[c.index]) {
            const QString target = request.section(u' ', 1);
            if (target.startsWith(c.submitPath) &&
                (request.startsWith(u"POST "_s) || target.contains(u'?')))
                sent.append(request);
        }
        return sent;
    }
};

TEST_P(FilledQueryTest, ChosenAndFilledWithNoInputThenSentOnlyWhenTheUserPresses)
{
    const FillCase& c = GetParam();
    const QString queryPath = QueryPath(c.index);
    const bool answersInQueryPage = c.resultPath == queryPath;
    ASSERT_NO_FATAL_FAILURE(serveWithCnpj(c.index, c.resultPath, c.sampleCnpj, kCnpjPunctuated,
                                          answersInQueryPage ? kEventRecorder : QByteArray()));
    if (!answersInQueryPage) {
        // The server selects a page by its path alone.
        const QString queryFile = queryPath.section(u'?', 0, 0);
        HttpFixtureServer::Page query = portals.server(c.index).pageFromRoot(queryFile);
        ASSERT_TRUE(query.body.contains("<body>"));
        query.body.replace(QByteArray("<body>"),
                           QByteArray(QByteArray("<body>\n") + kEventRecorder));
        portals.server(c.index).setPage(queryFile, query);
    }
    const QString key = BuiltInPortalPathList().at(c.index).key;
    ASSERT_NO_FATAL_FAILURE(open(QStringList{u"--portal"_s, key, u"--cnpj"_s, kCnpj} + c.options));

    // Chosen as soon as the browser exists, as a user's choice would have been.
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(c.index)));
    EXPECT_EQ(window->cbUF->currentIndex(), c.index);
    EXPECT_EQ(window->CurrentSearch(), window->URIEstados().at(c.index).estado);

    const QString state = u"[%1].join('|')"_s.arg(c.readBack);
    const QString seen = u"seenEvents.join(' ')"_s;
    const QString focused = u"document.activeElement.name"_s;
    EXPECT_EQ(settledValue(state, c.expected), c.expected);
    EXPECT_EQ(evaluate(seen).toString(), c.events);
    EXPECT_EQ(evaluate(focused).toString(), u"captcha"_s);
    // The window's keyboard focus is in the page too, so what the user types reaches the
    // captcha box rather than the portal list.
    const QWidget* const browser = window->Chromium1->GetBrowser();
    const QWidget* const keyboard = window->focusWidget();
    EXPECT_TRUE(keyboard == browser || browser->isAncestorOf(keyboard))
        << (keyboard ? keyboard->metaObject()->className() : "no focus widget");

    // Emptied, then reloaded: the browser may bring back what the controls held, the fill runs
    // again on the new page.
    ASSERT_NE(evaluate(u"document.getElementById('consulta').reset(); seenEvents.length = 0; "
                       "[%1].join('|')"_s.arg(c.readBack))
                  .toString(),
              c.expected);
    const qsizetype loadsBefore = w->loads.size();
    w->page()->triggerAction(QWebEnginePage::Reload);
    ASSERT_TRUE(waitMainLoadAfter(loadsBefore, portals.queryUrl(c.index)));
    EXPECT_EQ(settledValue(state, c.expected), c.expected);
    EXPECT_EQ(evaluate(seen).toString(), c.events);
    EXPECT_EQ(evaluate(focused).toString(), u"captcha"_s);

    // Nothing was sent by the filling: the form is still there and the server saw no query.
    EXPECT_EQ(evaluate(u"document.getElementById('consulta') !== null"_s), QVariant(true));
    EXPECT_TRUE(submissions().isEmpty()) << qPrintable(submissions().join(u", "));
    EXPECT_TRUE(host.received().isEmpty()) << Readable(host.data);

    ASSERT_NO_FATAL_FAILURE(pressTheButton());
    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    const QByteArray expected = ResultBlock(LinesFor(c.index, kCnpjPunctuated));
    EXPECT_EQ(Readable(host.data), Readable(expected));
    EXPECT_EQ(host.data, expected);
    ASSERT_TRUE(WaitFor([&] { return w->closed->count() > 0; }, 20000));
    EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxTexts().join(u'\n'));
    const QStringList sent = submissions();
    ASSERT_EQ(sent.size(), 1) << qPrintable(requests[c.index].join(u", "));
    if (!c.sentQuery.isEmpty()) {
        EXPECT_TRUE(sent.first().contains(c.sentQuery)) << qPrintable(sent.first());
    }
}

const QString kSpPrefix = u"ctl00_conteudoPaginaPlaceHolder_tcConsultaCompleta_TabPanel1_"_s;

INSTANTIATE_TEST_SUITE_P(
    SamplePortals, FilledQueryTest,
    testing::Values(
        FillCase{.name = "CCC",
                 .index = kCcc,
                 .options = {u"--uf"_s, u"MG"_s},
                 .resultPath = u"/NFE/CCC/Consulta"_s,
                 .sampleCnpj = u"12.345.678/0001-95"_s,
                 .submitPath = u"/NFE/CCC/Consulta"_s,
                 .sentQuery = u"CodUf=31&TipoPesquisa=CNPJ&CodInscrMf=27.385.904%2F0001-39"_s,
                 .readBack = u"CodUf.value, tipoCnpj.checked, tipoIe.checked, CodInscrMf.value"_s,
                 .expected = u"31|true|false|27.385.904/0001-39"_s,
                 .events = u"input:CodUf change:CodUf input:TipoPesquisa change:TipoPesquisa "
                           "input:CodInscrMf change:CodInscrMf"_s},
        FillCase{.name = "AM",
                 .index = kAm,
                 .resultPath = u"/sintegra/sintegra.asp"_s,
                 .sampleCnpj = u"23.456.789/0001-10"_s,
                 .submitPath = u"/sintegra/sintegra.asp"_s,
                 .sentQuery = u"?hash=5e1d9a07c3&tipo=CNPJ&cgc=27.385.904%2F0001-39"_s,
                 .readBack = u"tipoCnpj.checked, tipoIe.checked, document.getElementsByName("
                             "'cgc')[0].value"_s,
                 .expected = u"true|false|27.385.904/0001-39"_s,
                 .events = u"input:tipo change:tipo input:cgc change:cgc"_s},
        // A box of 14 characters takes the digits alone.
        FillCase{.name = "ES",
                 .index = kEs,
                 .resultPath = u"/resultado.php"_s,
                 .sampleCnpj = u"45.678.901/0001-23"_s,
                 .submitPath = u"/resultado.php"_s,
                 .readBack = u"document.getElementsByName('num_cnpj')[0].value"_s,
                 .expected = u"27385904000139"_s,
                 .events = u"input:num_cnpj change:num_cnpj"_s},
        FillCase{.name = "BA",
                 .index = kBa,
                 .resultPath = u"/Sintegra/Result.asp"_s,
                 .sampleCnpj = u"56.789.012/0001-34"_s,
                 .submitPath = u"/Sintegra/Result.asp"_s,
                 .readBack = u"document.getElementsByName('txt_CNPJ')[0].value"_s,
                 .expected = u"27.385.904/0001-39"_s,
                 .events = u"input:txt_CNPJ change:txt_CNPJ"_s},
        // The state is not asked for here: --uf changes nothing.
        FillCase{
            .name = "SP",
            .index = kSp,
            .options = {u"--uf"_s, u"SP"_s},
            .resultPath = QueryPath(kSp),
            .sampleCnpj = u"34.567.890/0001-12"_s,
            .submitPath = QueryPath(kSp),
            .readBack = u"document.getElementById('%1tipoFiltroDropDownList').value, "
                        "document.getElementById('%1valorFiltroTextBox').value"_s.arg(kSpPrefix),
            .expected = u"1|27.385.904/0001-39"_s,
            .events = u"input:tipoFiltroDropDownList change:tipoFiltroDropDownList "
                      "input:valorFiltroTextBox change:valorFiltroTextBox"_s}),
    [](const testing::TestParamInfo<FillCase>& info) { return std::string(info.param.name); });

// --- The result checked against the request ---

// ES's sample result shows 45.678.901/0001-23, another taxpayer than the one asked for.
const QString kEsShown = u"45.678.901/0001-23"_s;

TEST_F(HostRequestTest, AnotherTaxpayersResultIsSentWhenTheUserSaysYes)
{
    ASSERT_NO_FATAL_FAILURE(open({u"--portal"_s, u"es"_s, u"--cnpj"_s, kCnpjPunctuated}));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kEs)));
    std::optional<QByteArray> sentBeforeAnswer;
    w->onBox = [&] {
        sentBeforeAnswer = host.received();
        w->boxes.last().answered(QMessageBox::Yes);
    };
    ASSERT_NO_FATAL_FAILURE(pressTheButton());

    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    EXPECT_EQ(host.data, ResultBlock(kSampleLines[kEs])) << Readable(host.data);
    ASSERT_TRUE(WaitFor([&] { return w->closed->count() > 0; }, 20000));
    ASSERT_EQ(w->boxes.size(), 1);
    const MessageBoxSpec& box = w->boxes.first();
    EXPECT_EQ(box.icon, QMessageBox::Question);
    EXPECT_EQ(box.caption, u"Confirmação"_s);
    EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.defaultButton, QMessageBox::No);
    EXPECT_EQ(box.text, u"O resultado mostra o CNPJ 45.678.901/0001-23, mas o Norva TI pediu o "
                        "CNPJ 27.385.904/0001-39. Enviar assim mesmo?"_s);
    EXPECT_EQ(sentBeforeAnswer, std::optional<QByteArray>(QByteArray()));
}

TEST_F(HostRequestTest, AnotherTaxpayersResultRefusedSendsNothingAndTheNextResultIsExamined)
{
    ASSERT_NO_FATAL_FAILURE(open({u"--portal"_s, u"es"_s, u"--cnpj"_s, kCnpj}));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kEs)));
    w->onBox = [&] { w->boxes.last().answered(QMessageBox::No); };
    ASSERT_NO_FATAL_FAILURE(pressTheButton());
    ASSERT_TRUE(WaitFor([&] { return w->boxes.size() == 1; }, 20000));
    // The window sends right after the answer, in the same call: once the calls queued behind
    // it have run, a block would be in the host's socket.
    ASSERT_TRUE(RunQueuedCalls());
    EXPECT_TRUE(host.received().isEmpty()) << Readable(host.data);
    EXPECT_FALSE(window->Closing());
    EXPECT_EQ(w->closed->count(), 0);

    // The user queries again and the portal now answers for the taxpayer asked for.
    ASSERT_NO_FATAL_FAILURE(serveWithCnpj(kEs, u"/resultado.php"_s, kEsShown, kCnpjPunctuated));
    const qsizetype loadsBefore = w->loads.size();
    w->pick(kEs);
    ASSERT_TRUE(waitMainLoadAfter(loadsBefore, portals.queryUrl(kEs)));
    ASSERT_EQ(settledValue(u"document.getElementsByName('num_cnpj')[0].value"_s, kCnpj), kCnpj);
    ASSERT_NO_FATAL_FAILURE(pressTheButton());

    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    EXPECT_EQ(host.data, ResultBlock(LinesFor(kEs, kCnpjPunctuated))) << Readable(host.data);
    ASSERT_TRUE(WaitFor([&] { return w->closed->count() > 0; }, 20000));
    EXPECT_EQ(w->boxes.size(), 1) << qPrintable(w->boxTexts().join(u'\n'));
}

TEST_F(HostRequestTest, OnAPageWatchedByContentTheRefusedResultIsNotAskedAboutAgain)
{
    // SP answers in its query page, with 34.567.890/0001-12: not the taxpayer asked for.
    ASSERT_NO_FATAL_FAILURE(open({u"--portal"_s, u"sp"_s, u"--cnpj"_s, kCnpj}));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kSp)));
    w->onBox = [&] { w->boxes.last().answered(QMessageBox::No); };
    ASSERT_NO_FATAL_FAILURE(pressTheButton());
    ASSERT_TRUE(WaitFor([&] { return w->boxes.size() == 1; }, 20000));

    // The page is still watched: its text keeps coming, the same result, and is not asked
    // about again. (The watch is a timer: nothing can mark that no second box comes.)
    const qsizetype texts = w->texts.size();
    ASSERT_TRUE(WaitFor([&] { return w->texts.size() >= texts + 2; }, 10000));
    Spin(kQuietPeriodMs);
    EXPECT_EQ(w->boxes.size(), 1) << qPrintable(w->boxTexts().join(u'\n'));
    EXPECT_TRUE(host.received().isEmpty()) << Readable(host.data);

    // The portal's answer changes in the page to the taxpayer asked for: that one is sent.
    ASSERT_EQ(evaluate(u"document.body.innerHTML = document.body.innerHTML.replace("
                       "'34.567.890/0001-12', '27.385.904/0001-39'); true"_s),
              QVariant(true));
    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    EXPECT_EQ(host.data, ResultBlock(LinesFor(kSp, kCnpjPunctuated))) << Readable(host.data);
    EXPECT_EQ(w->boxes.size(), 1);
}

TEST_F(HostRequestTest, ResultWithoutANumberIsSentAsUsual)
{
    portals.server(kBa).setPage(
        BuiltInPortalPathList().at(kBa).resultPath,
        QByteArrayLiteral("<!DOCTYPE html><meta charset=\"utf-8\"><table>"
                          "<tr><td>Razão Social:</td><td>SEM NUMERO LTDA</td></tr></table>"));
    ASSERT_NO_FATAL_FAILURE(open({u"--portal"_s, u"ba"_s, u"--cnpj"_s, kCnpj}));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kBa)));
    ASSERT_NO_FATAL_FAILURE(pressTheButton());
    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    EXPECT_TRUE(host.data.startsWith(ResultBlock({u"cnpj="_s}).chopped(6))) << Readable(host.data);
    ASSERT_TRUE(WaitFor([&] { return w->closed->count() > 0; }, 20000));
    for (const MessageBoxSpec& box : std::as_const(w->boxes))
        EXPECT_NE(box.caption, u"Confirmação"_s);
}

TEST_F(HostRequestTest, EveryFillScriptSkipsControlsThePageLacks)
{
    ASSERT_NO_FATAL_FAILURE(open({}));
    ASSERT_TRUE(w->waitReady());
    // A page with a form but none of the portals' controls, and no captcha box.
    portals.server(kEs).setPage(u"/vazio"_s,
                                QByteArrayLiteral("<!DOCTYPE html><form id=\"consulta\">"
                                                  "<input name=\"outro\"><input type=\"submit\">"
                                                  "</form>"));
    window->Chromium1->LoadURL(portals.server(kEs).url(u"/vazio"_s));
    ASSERT_TRUE(w->waitMainLoad(portals.server(kEs).url(u"/vazio"_s)));

    HostRequest request;
    request.cnpj = kCnpj;
    request.uf = u"SP"_s;
    for (const TURIEstado& portal : window->URIEstados()) {
        const QVariant outcome =
            evaluate(u"try { %1 [document.getElementsByName('outro')[0].value,"
                     " document.activeElement.type].join('|') } catch (e) { String(e) }"_s.arg(
                         FillScriptCall(portal.consultaFillScript, request)));
        // Nothing set, and the keyboard on the submit button for want of a captcha box.
        EXPECT_EQ(outcome.toString(), u"|submit"_s) << qPrintable(portal.estado);
    }
}

// --- The values as data ---

TEST_F(HostRequestTest, TheFillScriptReceivesValuesAsDataThatRunNoCode)
{
    ASSERT_NO_FATAL_FAILURE(open({}));
    ASSERT_TRUE(w->waitReady());
    w->pick(kEs);
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kEs)));

    // Values no validation would let through, set here directly.
    HostRequest request;
    request.cnpj = u"\"</script><script>window.ran = 1</script>'); window.ran = 2; ('"_s;
    request.uf = u"\\\"; window.ran = 3; //\n<b>`${window.ran = 4}`"_s;
    const QString script =
        u"function (d) { window.got = JSON.stringify([d.cnpj, d.uf, d.cnpjPunctuated, "
        "d.ufCode]); }"_s;
    const QString elements = u"document.querySelectorAll('script, b').length"_s;
    const int elementsBefore = evaluate(elements).toInt();
    const std::optional<TCefFrame> main = window->Chromium1->GetMainFrame();
    ASSERT_TRUE(main.has_value());
    main->ExecuteJavaScript(FillScriptCall(script, request), main->GetUrl(), 0);

    ASSERT_EQ(settledValue(u"typeof window.got"_s, u"string"_s), u"string"_s);
    const QString got = evaluate(u"window.got"_s).toString();
    QJsonParseError error;
    const QJsonArray values = QJsonDocument::fromJson(got.toUtf8(), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << qPrintable(got);
    ASSERT_EQ(values.size(), 4);
    EXPECT_EQ(values.at(0).toString(), request.cnpj);
    EXPECT_EQ(values.at(1).toString(), request.uf);
    EXPECT_EQ(values.at(2).toString(), request.cnpj); // not 14 digits: left as it is
    EXPECT_EQ(values.at(3).toString(), QString());
    EXPECT_EQ(evaluate(u"typeof window.ran"_s), QVariant(u"undefined"_s));
    EXPECT_EQ(evaluate(elements).toInt(), elementsBefore);
}

} // namespace
