// End-to-end lookups: the real window over the real engine in the test process, the sample
// portals served from loopback, and a host written in the test. The portal list is driven with
// key presses, the query form is submitted by a script standing in for the user.
#include "BuiltInTable.h"
#include "EventLoopWait.h"
#include "HttpFixtureServer.h"
#include "QtPrinters.h"
#include "SamplePortals.h"
#include "TestHost.h"
#include "TestUtil.h"
#include "TestWindow.h"
#include "lookup/PortalFile.h"
#include "portals/PortalTable.h"
#include "ui/CBNorva.h"

#include <QAbstractItemView>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <algorithm>
#include <array>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kSpDetection = QStringLiteral("Código de controle da consulta: ");

// Holds every close of a window until `ready` holds (at most 10 s): the close goes on once it
// does, as it would have.
class CloseHold : public QObject
{
public:
    CloseHold(QWidget* window, std::function<bool()> ready) : m_ready(std::move(ready))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Close)
            WaitFor(m_ready, 10000);
        return false;
    }

private:
    std::function<bool()> m_ready;
};

class LookupTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(portals.start());
        // Read by the window when it builds its portal table.
        qputenv("QUARVEL_PORTAL_HOSTS", portals.hostsValue.toUtf8());

        w = std::make_unique<TestWindow>(QStringList{host.port()});
        window = w->window.get();
        window->show();
        // The first, blank page has been shown: its late load end cannot be taken for a lookup's.
        ASSERT_TRUE(w->waitReady());
        ASSERT_TRUE(host.waitForConnection());
        ASSERT_TRUE(window->cbUF->isEnabled());
        for (int i = 0; i < 5; ++i)
            ASSERT_EQ(window->URIEstados().at(i).URLconsulta, portals.queryUrl(i))
                << "QUARVEL_PORTAL_HOSTS was not applied";
        QObject::connect(window->Chromium1, &TChromium::OnTextResultAvailable, window,
                         [this](const QString& text) {
                             looks.append({false, text});
                         });
        QObject::connect(window->Chromium1, &TChromium::OnChangedTextAvailable, window,
                         [this](const QString& text) {
                             looks.append({true, text});
                         });
    }

    void TearDown() override
    {
        window = nullptr;
        w.reset();
        qunsetenv("QUARVEL_PORTAL_HOSTS");
    }

    // Chooses entry index the way a user does with the keyboard: open the list, go to the top,
    // step down, confirm.
    void pick(int index)
    {
        TCBNorva* combo = window->cbUF;
        QTest::keyClick(combo, Qt::Key_F4);
        QAbstractItemView* view = combo->view();
        ASSERT_TRUE(WaitFor([&] { return view->isVisible(); }, 5000));
        QTest::keyClick(view, Qt::Key_Home);
        for (int i = 0; i < index; ++i)
            QTest::keyClick(view, Qt::Key_Down);
        QTest::keyClick(view, Qt::Key_Return);
        ASSERT_TRUE(WaitFor([&] { return !view->isVisible(); }, 5000));
        ASSERT_EQ(combo->currentIndex(), index);
    }

    // Runs a script in the main frame's page and waits for its value.
    QVariant evaluate(const QString& script)
    {
        auto result = std::make_shared<std::optional<QVariant>>();
        w->page()->runJavaScript(script, [result](const QVariant& value) { *result = value; });
        if (!WaitFor([&] { return result->has_value(); }, 10000))
            return QStringLiteral("<no answer>");
        return **result;
    }

    // The hrefs of the page's links as written, one per line.
    QStringList linkTargets()
    {
        return evaluate(QStringLiteral("Array.from(document.getElementsByTagName('a'),"
                                       " a => a.getAttribute('href')).join('\\n')"))
            .toString()
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // What the user does in the page: submit the query form.
    void submitQuery()
    {
        const std::optional<TCefFrame> main = window->Chromium1->GetMainFrame();
        ASSERT_TRUE(main.has_value());
        main->ExecuteJavaScript(
            QStringLiteral("document.getElementById('consulta').requestSubmit();"), main->GetUrl(),
            0);
    }

    // How many texts of that kind hold needle.
    qsizetype looksContaining(bool changed, const QString& needle) const
    {
        return std::count_if(looks.cbegin(), looks.cend(), [&](const Look& look) {
            return look.changed == changed && look.text.contains(needle);
        });
    }
    qsizetype looksOfKind(bool changed) const
    {
        return std::count_if(looks.cbegin(), looks.cend(),
                             [&](const Look& look) { return look.changed == changed; });
    }

    SamplePortals portals;
    TestHost host;
    std::unique_ptr<TestWindow> w;
    TForm1* window = nullptr;
    // Every text delivered, in order: by the text watch and load ends, or after a change.
    struct Look
    {
        bool changed;
        QString text;
    };
    QList<Look> looks;
};

// --- One lookup per portal, from the choice in the list to the window's close ---

struct PortalCase
{
    const char* name;
    int index;
    // Recognised by a text in the page (watched for changes, and every 500 ms) rather than by its
    // URL.
    bool byContent;
    // The page that ends the lookup is a page load of its own (SP answers in the query page).
    bool resultIsPageLoad;
    // The readiness script runs in the query page, and in the result page when its URL begins
    // with the query URL.
    bool scriptOnQueryPage;
    bool scriptOnResultPage;
    QStringList expected;
};

void PrintTo(const PortalCase& param, std::ostream* os)
{
    *os << param.name;
}

// What BA's sample result page gives.
const QStringList& kBaLines = kSampleLines[kBa];

class PortalLookupTest : public LookupTest, public testing::WithParamInterface<PortalCase>
{};

TEST_P(PortalLookupTest, FromTheChoiceToTheResultBlockAndTheClose)
{
    const PortalCase& param = GetParam();
    const TURIEstado& portal = window->URIEstados().at(param.index);
    const QString queryUrl = portals.queryUrl(param.index);

    ASSERT_NO_FATAL_FAILURE(pick(param.index));
    EXPECT_EQ(window->CurrentSearch(), portal.estado);
    ASSERT_TRUE(w->waitMainLoad(queryUrl));

    const QStringList queryLinks = linkTargets();
    ASSERT_FALSE(queryLinks.isEmpty());
    for (const QString& target : queryLinks) {
        if (param.scriptOnQueryPage)
            EXPECT_EQ(target, QStringLiteral("#"));
        else
            EXPECT_NE(target, QStringLiteral("#"));
    }

    if (param.byContent) {
        // The query page lacks the detection text: its text is asked for again and again.
        ASSERT_TRUE(WaitFor([&] { return w->texts.size() >= 3; }, 10000));
        EXPECT_EQ(w->textsContaining(portal.responseStringDetection), 0);
    } else {
        EXPECT_TRUE(w->texts.isEmpty()) << "the query page is not a result page: no text asked for";
        // A text of the query page arriving anyway is ignored and asks for nothing more.
        window->Chromium1->RetrieveText();
        ASSERT_TRUE(WaitFor([&] { return w->texts.size() == 1; }, 10000));
        // Asking again would be the text watch, a timer: nothing can mark its absence.
        Spin(kQuietPeriodMs);
        EXPECT_EQ(w->texts.size(), 1) << "a text of the query page was asked for again";
        EXPECT_TRUE(host.data.isEmpty());
    }

    // At the end of the page load that shows the result: is the result already there, and are
    // the links as the readiness script leaves them? (Shared: the answer may come late.)
    struct ResultPage
    {
        QString url;
        std::optional<bool> hasDetection;
        std::optional<QStringList> links;
    };
    auto resultPage = std::make_shared<ResultPage>();
    const qsizetype loadsBeforeSubmit = w->loads.size();
    w->onLoadEnd = [this, resultPage,
                    detection = portal.responseStringDetection](const TCefFrame& frame) {
        if (!frame.IsMain() || !resultPage->url.isEmpty())
            return;
        resultPage->url = frame.GetUrl();
        w->page()->runJavaScript(QStringLiteral("[document.body.innerText,"
                                                " Array.from(document.getElementsByTagName('a'),"
                                                " a => a.getAttribute('href')).join('\\n')]"),
                                 [resultPage, detection](const QVariant& value) {
                                     const QVariantList parts = value.toList();
                                     if (parts.size() != 2)
                                         return;
                                     if (!detection.isEmpty())
                                         resultPage->hasDetection =
                                             parts[0].toString().contains(detection);
                                     resultPage->links = parts[1].toString().split(
                                         QLatin1Char('\n'), Qt::SkipEmptyParts);
                                 });
    };
    // The window closes the page as soon as it has the result, which can be before that answer
    // is in: its close waits for the answer (or for the page load never to have come).
    const CloseHold hold(window, [resultPage] {
        return resultPage->url.isEmpty() || resultPage->links.has_value();
    });
    const qsizetype textsBeforeSubmit = w->texts.size();
    ASSERT_NO_FATAL_FAILURE(submitQuery());

    ASSERT_TRUE(host.waitForEnd()) << "received so far: " << Readable(host.data);
    EXPECT_EQ(Readable(host.data), Readable(ResultBlock(param.expected)));
    EXPECT_EQ(host.data, ResultBlock(param.expected));
    ASSERT_TRUE(WaitFor([&] { return w->closed->count() > 0; }, 20000));
    EXPECT_EQ(window->Chromium1->GetBrowser(), nullptr);
    EXPECT_TRUE(w->boxes.isEmpty());

    if (param.resultIsPageLoad) {
        ASSERT_FALSE(resultPage->url.isEmpty());
        if (!portal.URLresposta.isEmpty()) {
            EXPECT_TRUE(resultPage->url.startsWith(portal.URLresposta))
                << qPrintable(resultPage->url);
        }
        ASSERT_TRUE(resultPage->links.has_value()) << "the result page's links were not read";
        ASSERT_FALSE(resultPage->links->isEmpty());
        for (const QString& target : std::as_const(*resultPage->links)) {
            if (param.scriptOnResultPage)
                EXPECT_EQ(target, QStringLiteral("#"));
            else
                EXPECT_NE(target, QStringLiteral("#"));
        }
    } else {
        EXPECT_EQ(w->loads.size(), loadsBeforeSubmit) << "the answer came without a page load";
    }
    if (param.byContent) {
        // The result showed only after its page had loaded, and no load followed: a later look
        // found it.
        if (param.resultIsPageLoad) {
            ASSERT_TRUE(resultPage->hasDetection.has_value());
            EXPECT_FALSE(*resultPage->hasDetection);
        }
        ASSERT_GT(w->texts.size(), textsBeforeSubmit);
        ASSERT_FALSE(looks.isEmpty());
        EXPECT_TRUE(looks.last().text.contains(portal.responseStringDetection));
    }
}

INSTANTIATE_TEST_SUITE_P(SamplePortals, PortalLookupTest,
                         testing::Values(PortalCase{.name = "CCC",
                                                    .index = kCcc,
                                                    .byContent = true,
                                                    .resultIsPageLoad = true,
                                                    .scriptOnQueryPage = false,
                                                    .scriptOnResultPage = false,
                                                    .expected = kSampleLines[kCcc]},
                                         PortalCase{.name = "AM",
                                                    .index = kAm,
                                                    .byContent = false,
                                                    .resultIsPageLoad = true,
                                                    .scriptOnQueryPage = true,
                                                    .scriptOnResultPage = false,
                                                    .expected = kSampleLines[kAm]},
                                         PortalCase{.name = "ES",
                                                    .index = kEs,
                                                    .byContent = false,
                                                    .resultIsPageLoad = true,
                                                    .scriptOnQueryPage = true,
                                                    .scriptOnResultPage = true,
                                                    .expected = kSampleLines[kEs]},
                                         PortalCase{.name = "BA",
                                                    .index = kBa,
                                                    .byContent = false,
                                                    .resultIsPageLoad = true,
                                                    .scriptOnQueryPage = true,
                                                    .scriptOnResultPage = false,
                                                    .expected = kSampleLines[kBa]},
                                         PortalCase{.name = "SP",
                                                    .index = kSp,
                                                    .byContent = true,
                                                    .resultIsPageLoad = false,
                                                    .scriptOnQueryPage = false,
                                                    .scriptOnResultPage = false,
                                                    .expected = kSampleLines[kSp]}),
                         [](const testing::TestParamInfo<PortalCase>& info) {
                             return std::string(info.param.name);
                         });

// --- The watch, and texts that must change nothing ---

TEST_F(LookupTest, ChoosingAnotherPortalStopsTheWatchOfTheFirst)
{
    // AM's query page is slow to come, so SP's page stays in the browser after AM is chosen.
    HttpFixtureServer::Page slow = portals.server(kAm).pageFromRoot(QueryPath(kAm));
    ASSERT_EQ(slow.status, 200);
    slow.delayMs = 2500;
    portals.server(kAm).setPage(QueryPath(kAm), slow);

    window->cbUF->setFocus();
    QTest::keyClick(window->cbUF, Qt::Key_End); // the last entry: SP
    ASSERT_EQ(window->CurrentSearch(), QStringLiteral("SP"));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kSp)));
    ASSERT_TRUE(WaitFor([&] { return w->texts.size() >= 2; }, 10000)) << "no watch";

    ASSERT_NO_FATAL_FAILURE(pick(kAm));
    ASSERT_EQ(window->CurrentSearch(), QStringLiteral("AM"));
    // SP's answer shows in the page that is still SP's, and a text of it arrives.
    ASSERT_TRUE(evaluate(QStringLiteral("document.getElementById('conteudo').replaceChildren("
                                        "document.getElementById('dados').content.cloneNode(true));"
                                        "document.body.innerText.includes('%1')")
                             .arg(kSpDetection))
                    .toBool());
    window->Chromium1->RetrieveText();
    ASSERT_TRUE(WaitFor([&] { return w->textsContaining(kSpDetection) > 0; }, 10000));

    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kAm), 20000));
    const qsizetype settled = w->texts.size();
    // The watch is a timer: nothing can mark that it stopped.
    Spin(kQuietPeriodMs);
    EXPECT_EQ(w->texts.size(), settled) << "SP's page text is still being asked for";
    EXPECT_TRUE(host.data.isEmpty()) << Readable(host.data);
    EXPECT_EQ(w->closed->count(), 0);
    EXPECT_TRUE(w->boxes.isEmpty());
}

// --- A result page that yields no field ---

// BA's answer for a document it does not know, and the block it gives.
const QByteArray kBaNoMatchPage =
    QByteArrayLiteral("<!DOCTYPE html><meta charset=\"utf-8\"><h2>SINTEGRA - Bahia</h2>"
                      "<p>Nenhum contribuinte encontrado para o documento informado.</p>"
                      "<p><a href=\"/Sintegra/sintegra.asp?estado=BA\">Nova consulta</a></p>");
const QStringList kBaNoMatchLines{
    u"cnpj="_s,     u"nome="_s,     u"razaosocial="_s, u"inscricaoestadual="_s,
    u"telefone="_s, u"endereco="_s, u"numero="_s,      u"complemento="_s,
    u"bairro="_s,   u"cidade="_s,   u"estado="_s,      u"cep="_s};

TEST_F(LookupTest, NoFieldFoundSendsEmptyLinesThenTellsTheUserThenCloses)
{
    portals.server(kBa).setPage(BuiltInPortalPathList().at(kBa).resultPath, kBaNoMatchPage);
    const QByteArray expected = ResultBlock(kBaNoMatchLines);
    std::optional<bool> blockBeforeBox;
    std::optional<int> closesBeforeBox;
    w->onBox = [&] {
        host.pull(expected.size());
        blockBeforeBox = host.data == expected;
        closesBeforeBox = int(w->closed->count());
    };

    ASSERT_NO_FATAL_FAILURE(pick(kBa));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kBa)));
    ASSERT_NO_FATAL_FAILURE(submitQuery());

    ASSERT_TRUE(WaitFor([&] { return w->closed->count() > 0; }, 20000));
    ASSERT_TRUE(host.waitForEnd());
    EXPECT_EQ(host.data, expected) << Readable(host.data);
    ASSERT_EQ(w->boxes.size(), 1);
    EXPECT_EQ(w->boxes[0].icon, QMessageBox::Information);
    EXPECT_EQ(w->boxes[0].caption, QStringLiteral("Information"));
    EXPECT_EQ(w->boxes[0].text,
              QStringLiteral("Cadastro não disponível na Sefaz da UF escolhida."));
    EXPECT_EQ(blockBeforeBox, std::optional<bool>(true)) << "the block goes out before the box";
    EXPECT_EQ(closesBeforeBox, std::optional<int>(0)) << "the window closes after the box";
}

// --- The host gone before the result ---

TEST_F(LookupTest, HostGoneBeforeTheResultShowsTheLostConnectionBoxOnceThenCloses)
{
    host.link->disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return !window->IdTCPClient->Connected(); }, 10000));

    ASSERT_NO_FATAL_FAILURE(pick(kEs));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kEs)));
    ASSERT_NO_FATAL_FAILURE(submitQuery());

    ASSERT_TRUE(WaitFor([&] { return w->closed->count() > 0; }, 20000));
    // The browser is gone, so a second close could only be a close request already queued.
    ASSERT_EQ(window->Chromium1->GetBrowser(), nullptr);
    ASSERT_TRUE(RunQueuedCalls());
    EXPECT_EQ(w->closed->count(), 1);
    ASSERT_EQ(w->boxes.size(), 1);
    EXPECT_EQ(w->boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(w->boxes[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(w->boxes[0].text, QStringLiteral("Conexão perdida com o Norva TI. Tente novamente."));
    EXPECT_TRUE(host.data.isEmpty()) << Readable(host.data);
}

// --- Results in sub-frames ---

// The national portal's answer, complete when the frame loads.
const QByteArray kCccFramePage = QByteArrayLiteral(
    "<!DOCTYPE html><meta charset=\"utf-8\"><h2>Identificação do Contribuinte</h2>"
    "<div>CNPJ:</div><div>67.890.123/0001-45</div><div>CPF:</div>"
    "<div>Inscrição Estadual (IE):</div><div>0987654321</div><div>Situação IE:</div>"
    "<div>Habilitado</div><div>Nome da Empresa:</div><div>QUADRO COMERCIO LTDA</div>"
    "<div>UF:</div><div>RS</div><div>Nome Fantasia:</div><div>Data Início Atividade:</div>"
    "<div>02/02/2002</div><div>Município IBGE:</div><div>4314902 - PORTO ALEGRE</div>"
    "<div>UF de Localização:</div><div>RS</div><div>Logradouro:</div><div>RUA DOS ANDRADAS</div>"
    "<div>Nro:</div><div>77</div><div>Complemento:</div><div>Bairro:</div><div>CENTRO</div>"
    "<div>CEP:</div><div>90020000</div>");

const QStringList kCccFrameLines{u"cnpj=67.890.123/0001-45"_s,
                                 u"cpf="_s,
                                 u"nome="_s,
                                 u"razaosocial=QUADRO COMERCIO LTDA"_s,
                                 u"inscricaoestadual=0987654321"_s,
                                 u"endereco=RUA DOS ANDRADAS"_s,
                                 u"numero=77"_s,
                                 u"complemento="_s,
                                 u"bairro=CENTRO"_s,
                                 u"cidade=PORTO ALEGRE"_s,
                                 u"estado=RS"_s,
                                 u"cep=90020000"_s};

class SubFrameTest : public LookupTest
{
protected:
    // The national portal's query page shows the answer in a frame named "resultado". Its own
    // text comes first with other values: the main frame's text (which holds the frame's too)
    // would give those.
    void serveCccAnswerInAFrame()
    {
        HttpFixtureServer& ccc = portals.server(kCcc);
        ccc.setPage(QueryPath(kCcc),
                    QByteArrayLiteral("<!DOCTYPE html><meta charset=\"utf-8\">"
                                      "<div>CNPJ:</div><div>11.111.111/0001-11</div>"
                                      "<div>Nome da Empresa:</div><div>PAGINA PRINCIPAL</div>"
                                      "<iframe name=\"resultado\" src=\"/NFE/CCC/quadro\""
                                      " width=\"600\" height=\"400\"></iframe>"));
        ccc.setPage(QStringLiteral("/NFE/CCC/quadro"), kCccFramePage);
    }
};

TEST_F(SubFrameTest, ContentPortalExaminesTheFramesOwnText)
{
    serveCccAnswerInAFrame();
    const qsizetype loadsBefore = w->loads.size();
    ASSERT_NO_FATAL_FAILURE(pick(kCcc));

    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    EXPECT_EQ(host.data, ResultBlock(kCccFrameLines)) << Readable(host.data);
    ASSERT_TRUE(WaitFor([&] { return w->closed->count() > 0; }, 20000));
    EXPECT_TRUE(w->boxes.isEmpty());
    // The frame's load came first, and its text was delivered as the frame's alone.
    ASSERT_GT(w->loads.size(), loadsBefore);
    QStringList seen;
    for (const LoadEnd& load : w->loads)
        seen.append(load.url + u' ' + load.name);
    EXPECT_EQ(w->loads.at(loadsBefore).name, QStringLiteral("resultado"))
        << qPrintable(seen.join(u", ")) << " from " << loadsBefore;
    EXPECT_FALSE(w->loads.at(loadsBefore).main);
    ASSERT_FALSE(w->texts.isEmpty());
    EXPECT_FALSE(w->texts.first().contains(QStringLiteral("PAGINA PRINCIPAL")));
}

TEST_F(SubFrameTest, TextArrivingAfterTheBlockIsIgnored)
{
    serveCccAnswerInAFrame();
    // A second delivery of the frame's text right behind the first, as a second watch gives.
    w->onLoadEnd = [this](const TCefFrame& frame) {
        if (frame.GetName() == QStringLiteral("resultado"))
            window->Chromium1->RetrieveText(frame.GetName());
    };
    ASSERT_NO_FATAL_FAILURE(pick(kCcc));

    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    ASSERT_TRUE(WaitFor([&] { return w->closed->count() > 0; }, 20000));
    EXPECT_GE(w->textsContaining(QStringLiteral("QUADRO COMERCIO LTDA")), 2)
        << "the second text never arrived";
    EXPECT_EQ(host.data, ResultBlock(kCccFrameLines)) << Readable(host.data);
    EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxes.value(0).text);
    // The browser is gone, so a second close could only be a close request already queued.
    ASSERT_EQ(window->Chromium1->GetBrowser(), nullptr);
    ASSERT_TRUE(RunQueuedCalls());
    EXPECT_EQ(w->closed->count(), 1);
}

TEST_F(SubFrameTest, UrlPortalChecksTheMainFramesUrl)
{
    // AM's query page with its result page in a frame: the frame's URL is a result URL, the main
    // frame's is not.
    HttpFixtureServer& am = portals.server(kAm);
    QByteArray query = am.pageFromRoot(QueryPath(kAm)).body;
    ASSERT_TRUE(query.contains("</body>"));
    query.replace("</body>", "<iframe name=\"previa\" src=\"/sintegra/sintegra.asp?hash=previa\""
                             " width=\"600\" height=\"400\"></iframe></body>");
    am.setPage(QueryPath(kAm), query);

    ASSERT_NO_FATAL_FAILURE(pick(kAm));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kAm)));
    // The frame's text was asked for, by the frame's name, and has arrived...
    ASSERT_TRUE(
        WaitFor([&] { return w->textsContaining(QStringLiteral("MADEIREIRA RIO NEGRO LTDA")) > 0; },
                10000));
    EXPECT_TRUE(std::any_of(w->loads.cbegin(), w->loads.cend(), [&](const LoadEnd& load) {
        return load.name == QStringLiteral("previa") &&
               load.url.startsWith(am.url(BuiltInPortalPathList().at(kAm).resultPath));
    }));
    EXPECT_FALSE(w->texts.first().contains(QStringLiteral("Consultar")))
        << "the main frame's text was delivered instead of the frame's";
    // ...and changed nothing, the main frame being the query page. The window takes a text in a
    // queued call: once the calls queued behind it have run, a block would be in the host's
    // socket and a close under way.
    ASSERT_TRUE(RunQueuedCalls());
    EXPECT_TRUE(host.received().isEmpty()) << Readable(host.data);
    EXPECT_FALSE(window->Closing());
    EXPECT_EQ(w->closed->count(), 0);

    ASSERT_NO_FATAL_FAILURE(submitQuery());
    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    EXPECT_EQ(host.data,
              ResultBlock({u"cnpj=23.456.789/0001-10"_s, u"nome=MADEIREIRA RIO NEGRO LTDA"_s,
                           u"razaosocial=MADEIREIRA RIO NEGRO LTDA"_s,
                           u"inscricaoestadual=04.234.567-8"_s, u"telefone="_s,
                           u"endereco=AVENIDA EDUARDO RIBEIRO"_s, u"numero=520"_s,
                           u"complemento=GALPAO 2"_s, u"bairro=CENTRO"_s, u"cidade=MANAUS"_s,
                           u"estado=AM"_s, u"cep=69010-001"_s}))
        << Readable(host.data);
    ASSERT_TRUE(WaitFor([&] { return w->closed->count() > 0; }, 20000));
    EXPECT_TRUE(w->boxes.isEmpty());
}

// --- A portal definitions file in force ---

// BA's portal relabelled "Razão Social:" as "Nome Empresarial:"; a definitions file made from
// the built-in table follows it for razaosocial only.
class RelabelledFieldTest : public LookupTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(defsDir.isValid());
        QJsonObject table =
            QJsonDocument::fromJson(PortalTableToJson(BuiltInKeyedPortals(BuiltInPortals())))
                .object();
        QJsonArray list = table[u"portals"_s].toArray();
        QJsonObject ba = list[kBa].toObject();
        ASSERT_EQ(ba[u"key"_s].toString(), u"ba"_s);
        QJsonArray fields = ba[u"fieldDefs"_s].toArray();
        QJsonObject razao = fields[2].toObject();
        ASSERT_EQ(razao[u"fieldName"_s].toString(), u"razaosocial"_s);
        razao[u"fieldRegEx"_s] = kRelabelled;
        fields[2] = razao;
        ba[u"fieldDefs"_s] = fields;
        list[kBa] = ba;
        table[u"portals"_s] = list;
        QFile file(defsDir.filePath(u"portals.json"_s));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.write(QJsonDocument(table).toJson()) > 0);
        file.close();
        qputenv("QUARVEL_PORTALS", file.fileName().toUtf8());
        ASSERT_NO_FATAL_FAILURE(LookupTest::SetUp());
    }

    void TearDown() override
    {
        LookupTest::TearDown();
        qunsetenv("QUARVEL_PORTALS");
    }

    const QString kRelabelled = u"(?:Nome Empresarial:)(?:[\\t]*)([\\w\\s\\d.]*)"_s;
    QTemporaryDir defsDir;
};

TEST_F(RelabelledFieldTest, TheWindowSendsTheFieldsTheFilesExpressionsGive)
{
    const QString resultPath = BuiltInPortalPathList().at(kBa).resultPath;
    QByteArray page = portals.server(kBa).pageFromRoot(resultPath).body;
    const QByteArray oldLabel = u"Razão Social:"_s.toUtf8();
    ASSERT_TRUE(page.contains(oldLabel));
    page.replace(oldLabel, "Nome Empresarial:");
    ASSERT_TRUE(Table().at(kBa).fieldDefs.at(2).fieldRegEx.contains(u"Raz\u00E3o Social:"_s))
        << "the built-in expression would find the new label";
    portals.server(kBa).setPage(resultPath, page);
    ASSERT_EQ(window->URIEstados().at(kBa).fieldDefs.at(2).fieldRegEx, kRelabelled)
        << "the file is not in force";

    ASSERT_NO_FATAL_FAILURE(pick(kBa));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kBa)));
    ASSERT_NO_FATAL_FAILURE(submitQuery());
    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    // nome keeps the built-in expression, which no longer finds its label.
    QStringList expected = kBaLines;
    expected[1] = u"nome="_s;
    EXPECT_EQ(Readable(host.data), Readable(ResultBlock(expected)));
    EXPECT_EQ(host.data, ResultBlock(expected));
    ASSERT_TRUE(w->waitClosed());
    EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxes.value(0).text);
}

// --- The capture of what the window saw ---

// The one run folder the window made under dir, and its index lines.
struct CaptureRun
{
    QString folder;
    QList<QJsonObject> index;

    QByteArray file(const QJsonObject& line) const
    {
        QFile text(QDir(folder).filePath(line[u"file"_s].toString()));
        return text.open(QIODevice::ReadOnly) ? text.readAll() : QByteArray("<no file>");
    }
    bool ended() const { return !index.isEmpty() && index.last().contains(u"ended"_s); }
};

CaptureRun ReadCapture(const QString& dir)
{
    const QStringList folders = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (folders.size() != 1)
        return {};
    CaptureRun run{QDir(dir).filePath(folders.first()), {}};
    QFile index(QDir(run.folder).filePath(u"index.jsonl"_s));
    if (!index.open(QIODevice::ReadOnly))
        return run;
    for (const QByteArray& line : index.readAll().split('\n')) {
        if (!line.isEmpty())
            run.index.append(QJsonDocument::fromJson(line).object());
    }
    return run;
}

// Waits (the event loop turning) until the capture under dir satisfies done.
std::optional<CaptureRun> WaitForCapture(const QString& dir,
                                         const std::function<bool(const CaptureRun&)>& done)
{
    CaptureRun run;
    if (!WaitFor(
            [&] {
                run = ReadCapture(dir);
                return done(run);
            },
            20000))
        return std::nullopt;
    return run;
}

// quarvel-extract on a captured file: its standard output and exit code.
std::pair<QString, int> Extract(const QString& key, const QString& file)
{
    const ProgramRun run = RunProgram(QStringLiteral(QUARVEL_EXTRACT_EXE), {key, file});
    return {QString::fromUtf8(run.standardOutput), run.finished ? run.exitCode : -1};
}

// The tool's output for lines: each followed by a line feed.
QString ToolLines(const QStringList& lines)
{
    QString out;
    for (const QString& line : lines)
        out += line + u'\n';
    return out;
}

class CaptureTest : public LookupTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(captureDir.isValid());
        if (const QString setting = captureSetting(); setting.isNull())
            qunsetenv("QUARVEL_CAPTURE_DIR");
        else
            qputenv("QUARVEL_CAPTURE_DIR", setting.toUtf8());
        ASSERT_NO_FATAL_FAILURE(LookupTest::SetUp());
        QObject::connect(window->Chromium1, &TChromium::OnCaptureTextAvailable,
                         [this](const QString& text) { captureTexts.append(text); });
    }

    void TearDown() override
    {
        LookupTest::TearDown();
        qunsetenv("QUARVEL_CAPTURE_DIR");
    }

    // The value QUARVEL_CAPTURE_DIR is given (unset when null).
    virtual QString captureSetting() const { return captureDir.path(); }

    QTemporaryDir captureDir;
    // The texts asked for the capture alone, as the browser delivered them.
    QStringList captureTexts;
};

TEST_F(CaptureTest, NoMatchLookupKeepsEveryTextWithItsIndexLineAndHowItEnded)
{
    portals.server(kBa).setPage(BuiltInPortalPathList().at(kBa).resultPath, kBaNoMatchPage);
    const QString queryUrl = portals.queryUrl(kBa);
    const QString resultUrl = portals.server(kBa).url(BuiltInPortalPathList().at(kBa).resultPath);

    ASSERT_NO_FATAL_FAILURE(pick(kBa));
    ASSERT_TRUE(w->waitMainLoad(queryUrl));
    ASSERT_NO_FATAL_FAILURE(submitQuery());
    ASSERT_TRUE(w->waitClosed());
    ASSERT_TRUE(host.waitForEnd());
    EXPECT_EQ(host.data, ResultBlock(kBaNoMatchLines)) << Readable(host.data);
    ASSERT_EQ(w->boxes.size(), 1);

    const std::optional<CaptureRun> run =
        WaitForCapture(captureDir.path(), [](const CaptureRun& r) { return r.ended(); });
    ASSERT_TRUE(run.has_value()) << "no last line in the index";
    EXPECT_EQ(QFile::permissions(run->folder) &
                  ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(run->index.size(), 3);

    // The query page: the lookup does not look at it, the capture asked for its text.
    const QJsonObject& query = run->index[0];
    EXPECT_EQ(query[u"portal"_s].toString(), u"ba"_s);
    EXPECT_EQ(query[u"frameUrl"_s].toString(), queryUrl);
    EXPECT_EQ(query[u"frameName"_s].toString(), QString());
    EXPECT_EQ(query[u"mainFrameUrl"_s].toString(), queryUrl);
    EXPECT_EQ(query[u"recognised"_s].toBool(true), false);
    EXPECT_EQ(query[u"outcome"_s].toString(), u"not examined"_s);
    ASSERT_EQ(captureTexts.size(), 1);
    EXPECT_EQ(run->file(query), captureTexts[0].toUtf8());
    EXPECT_TRUE(captureTexts[0].contains(u"CNPJ:"_s)) << captureTexts[0].toStdString();
    ASSERT_EQ(w->texts.size(), 1) << "a text asked for the capture reached the lookup";

    // The result page: examined, recognised, nothing matched, the empty block sent.
    const QJsonObject& result = run->index[1];
    EXPECT_TRUE(result[u"frameUrl"_s].toString().startsWith(resultUrl))
        << result[u"frameUrl"_s].toString().toStdString();
    EXPECT_EQ(result[u"mainFrameUrl"_s].toString(), result[u"frameUrl"_s].toString());
    EXPECT_EQ(result[u"recognised"_s].toBool(false), true);
    EXPECT_EQ(result[u"outcome"_s].toString(), u"nothing matched"_s);
    EXPECT_EQ(result[u"fieldsMatched"_s].toInteger(-1), 0);
    EXPECT_EQ(result[u"sent"_s].toBool(false), true);
    EXPECT_EQ(run->file(result), w->texts[0].toUtf8()) << "not the text the lookup had";

    EXPECT_EQ(run->index[2][u"ended"_s].toString(), u"nothing matched"_s);
    EXPECT_EQ(run->index[2][u"dropped"_s].toInteger(-1), 0);

    const auto [out, code] =
        Extract(u"ba"_s, QDir(run->folder).filePath(result[u"file"_s].toString()));
    EXPECT_EQ(out, ToolLines(kBaNoMatchLines));
    EXPECT_EQ(code, 1) << "no field matched";
}

TEST_F(CaptureTest, ResultPageAtAChangedUrlIsKeptAtItsLoadThoughTheLookupNeverLooks)
{
    // The portal now answers at another address: the form posts there.
    HttpFixtureServer& ba = portals.server(kBa);
    const QString formPath = QUrl(QueryPath(kBa)).path();
    QByteArray query = ba.pageFromRoot(formPath).body;
    const QByteArray oldAction =
        "action=\"" + BuiltInPortalPathList().at(kBa).resultPath.toUtf8() + '"';
    ASSERT_TRUE(query.contains(oldAction));
    query.replace(oldAction, "action=\"/Sintegra/Resultado.asp\"");
    ba.setPage(formPath, query);
    ba.setPage(u"/Sintegra/Resultado.asp"_s,
               ba.pageFromRoot(BuiltInPortalPathList().at(kBa).resultPath).body);
    const QString movedUrl = ba.url(u"/Sintegra/Resultado.asp"_s);

    ASSERT_NO_FATAL_FAILURE(pick(kBa));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kBa)));
    ASSERT_NO_FATAL_FAILURE(submitQuery());
    ASSERT_TRUE(w->waitMainLoad(movedUrl));
    const std::optional<CaptureRun> kept =
        WaitForCapture(captureDir.path(), [&](const CaptureRun& r) { return r.index.size() >= 2; });
    ASSERT_TRUE(kept.has_value()) << "the moved result page was not kept";
    // The window takes a text in a queued call: once the calls queued behind it have run, a
    // block would be in the host's socket.
    ASSERT_TRUE(RunQueuedCalls());
    EXPECT_TRUE(host.received().isEmpty()) << Readable(host.data);
    EXPECT_TRUE(w->texts.isEmpty()) << "the lookup asked for a text";

    ASSERT_TRUE(w->closeAndWait());
    const std::optional<CaptureRun> run =
        WaitForCapture(captureDir.path(), [](const CaptureRun& r) { return r.ended(); });
    ASSERT_TRUE(run.has_value()) << "no last line in the index";
    ASSERT_EQ(run->index.size(), 3);
    const QJsonObject& moved = run->index[1];
    EXPECT_EQ(moved[u"frameUrl"_s].toString(), movedUrl);
    EXPECT_EQ(moved[u"mainFrameUrl"_s].toString(), movedUrl);
    EXPECT_EQ(moved[u"recognised"_s].toBool(true), false);
    EXPECT_EQ(moved[u"outcome"_s].toString(), u"not examined"_s);
    ASSERT_EQ(captureTexts.size(), 2);
    EXPECT_EQ(run->file(moved), captureTexts[1].toUtf8());
    EXPECT_EQ(run->index[2][u"ended"_s].toString(), u"closed without result"_s);

    // What the lookup would have sent, had it recognised the page.
    const auto [out, code] =
        Extract(u"ba"_s, QDir(run->folder).filePath(moved[u"file"_s].toString()));
    EXPECT_EQ(out, ToolLines(kBaLines));
    EXPECT_EQ(code, 0);
}

TEST_F(CaptureTest, TextOfANamedFrameIsKeptWithTheFramesUrlAndName)
{
    HttpFixtureServer& ccc = portals.server(kCcc);
    ccc.setPage(QueryPath(kCcc),
                QByteArrayLiteral("<!DOCTYPE html><meta charset=\"utf-8\"><p>Consulta</p>"
                                  "<iframe name=\"resultado\" src=\"/NFE/CCC/quadro\""
                                  " width=\"600\" height=\"400\"></iframe>"));
    ccc.setPage(u"/NFE/CCC/quadro"_s, kCccFramePage);

    ASSERT_NO_FATAL_FAILURE(pick(kCcc));
    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    EXPECT_EQ(host.data, ResultBlock(kCccFrameLines)) << Readable(host.data);
    ASSERT_TRUE(w->waitClosed());

    const std::optional<CaptureRun> run =
        WaitForCapture(captureDir.path(), [](const CaptureRun& r) { return r.ended(); });
    ASSERT_TRUE(run.has_value()) << "no last line in the index";
    const auto frame =
        std::find_if(run->index.cbegin(), run->index.cend(), [](const QJsonObject& l) {
            return l[u"frameName"_s].toString() == u"resultado"_s;
        });
    ASSERT_NE(frame, run->index.cend()) << "the frame's text was not kept";
    EXPECT_EQ((*frame)[u"frameUrl"_s].toString(), ccc.url(u"/NFE/CCC/quadro"_s));
    EXPECT_EQ((*frame)[u"mainFrameUrl"_s].toString(), portals.queryUrl(kCcc));
    EXPECT_EQ((*frame)[u"outcome"_s].toString(), u"result sent"_s);
    EXPECT_EQ(run->index.last()[u"ended"_s].toString(), u"result sent"_s);
    const auto [out, code] =
        Extract(u"ccc"_s, QDir(run->folder).filePath((*frame)[u"file"_s].toString()));
    EXPECT_EQ(out, ToolLines(kCccFrameLines));
    EXPECT_EQ(code, 0);
}

// Where the capture goes changes nothing in the lookup: the same bytes reach the host, and the
// lookup asks for the same texts.
enum class CaptureSetting
{
    Unset,
    Writable,
    BelowAFile,
};

class CaptureSettingTest : public CaptureTest, public testing::WithParamInterface<CaptureSetting>
{
protected:
    QString captureSetting() const override
    {
        switch (GetParam()) {
        case CaptureSetting::Unset:
            return QString();
        case CaptureSetting::Writable:
            return captureDir.path();
        case CaptureSetting::BelowAFile:
            // No one can make a folder below a file, root included.
            return QDir(captureDir.path()).filePath(u"plain/capture"_s);
        }
        return {};
    }

    void SetUp() override
    {
        if (GetParam() == CaptureSetting::BelowAFile) {
            ASSERT_TRUE(captureDir.isValid());
            QFile plain(QDir(captureDir.path()).filePath(u"plain"_s));
            ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
        }
        ASSERT_NO_FATAL_FAILURE(CaptureTest::SetUp());
    }
};

TEST_P(CaptureSettingTest, TheLookupSendsTheSameBytes)
{
    ASSERT_NO_FATAL_FAILURE(pick(kBa));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kBa)));
    ASSERT_NO_FATAL_FAILURE(submitQuery());
    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    EXPECT_EQ(host.data, ResultBlock(kBaLines)) << Readable(host.data);
    ASSERT_TRUE(w->waitClosed());
    EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxes.value(0).text);
    EXPECT_EQ(w->texts.size(), 1) << "the lookup asks for the result page's text alone";

    const QStringList entries =
        QDir(captureDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    switch (GetParam()) {
    case CaptureSetting::Unset:
        EXPECT_TRUE(captureTexts.isEmpty());
        EXPECT_TRUE(entries.isEmpty());
        break;
    case CaptureSetting::Writable: {
        const std::optional<CaptureRun> run =
            WaitForCapture(captureDir.path(), [](const CaptureRun& r) { return r.ended(); });
        ASSERT_TRUE(run.has_value());
        ASSERT_EQ(run->index.size(), 3);
        EXPECT_EQ(run->index[1][u"outcome"_s].toString(), u"result sent"_s);
        EXPECT_EQ(run->index[1][u"fieldsMatched"_s].toInteger(-1), kBaLines.size());
        EXPECT_EQ(run->index[2][u"ended"_s].toString(), u"result sent"_s);
        break;
    }
    case CaptureSetting::BelowAFile:
        EXPECT_EQ(entries, QStringList{u"plain"_s});
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Capture, CaptureSettingTest,
                         testing::Values(CaptureSetting::Unset, CaptureSetting::Writable,
                                         CaptureSetting::BelowAFile),
                         [](const testing::TestParamInfo<CaptureSetting>& info) {
                             switch (info.param) {
                             case CaptureSetting::Unset:
                                 return std::string("Unset");
                             case CaptureSetting::Writable:
                                 return std::string("Writable");
                             case CaptureSetting::BelowAFile:
                                 return std::string("BelowAFile");
                             }
                             return std::string();
                         });

// --- The look after a change, beside the 500 ms watch ---

// A portal recognised by content whose result the test shows, by the page's own steps, right
// after a text of the watch: the watch's next look is half a second away.
struct ContentCase
{
    const char* name;
    int index;
    bool earlyLook;
    // The page that shows the result, and what it says while the result is not there.
    QString resultPath;
    QString waiting;
    // Shows the result, as the page's own timer does.
    QString show;
    QStringList expected;
};

void PrintTo(const ContentCase& param, std::ostream* os)
{
    *os << param.name;
}

class ContentLookupTest : public LookupTest, public testing::WithParamInterface<ContentCase>
{
protected:
    // The page's result timer put off for an hour: the test shows the result itself.
    void serveWithoutTimer(int index, const QString& path)
    {
        HttpFixtureServer& server = portals.server(index);
        QByteArray body = server.pageFromRoot(path).body;
        ASSERT_TRUE(body.contains("}, 1000);")) << path.toStdString();
        body.replace("}, 1000);", "}, 3600000);");
        server.setPage(path, body);
    }
};

TEST_P(ContentLookupTest, ResultShownByScriptIsFound)
{
    const ContentCase& param = GetParam();
    const QString detection = window->URIEstados().at(param.index).responseStringDetection;
    ASSERT_NO_FATAL_FAILURE(serveWithoutTimer(param.index, param.resultPath));
    window->EarlyLook = param.earlyLook;

    ASSERT_NO_FATAL_FAILURE(pick(param.index));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(param.index)));
    ASSERT_NO_FATAL_FAILURE(submitQuery());
    ASSERT_TRUE(WaitFor([&] { return looksContaining(false, param.waiting) > 0; }, 20000));

    // The result shows just after the next text of the watch has been taken.
    auto shown = std::make_shared<bool>(false);
    QObject::connect(window->Chromium1, &TChromium::OnTextResultAvailable, window,
                     [this, shown, show = param.show](const QString&) {
                         if (!*shown)
                             w->page()->runJavaScript(show);
                         *shown = true;
                     });
    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    EXPECT_EQ(host.data, ResultBlock(param.expected)) << Readable(host.data);
    ASSERT_TRUE(WaitFor([&] { return w->closed->count() > 0; }, 20000));
    EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxes.value(0).text);

    const auto first = std::find_if(looks.cbegin(), looks.cend(), [&](const Look& look) {
        return look.text.contains(detection);
    });
    ASSERT_NE(first, looks.cend());
    EXPECT_EQ(first->changed, param.earlyLook)
        << (param.earlyLook ? "the watch found the result before the look after the change"
                            : "a look after a change ran while switched off");
    if (!param.earlyLook) {
        EXPECT_EQ(looksOfKind(true), 0);
    }
}

const QString kCccShow =
    QStringLiteral("document.getElementById('aguarde').remove();"
                   "document.getElementById('resultado').appendChild("
                   "document.getElementById('dados').content.cloneNode(true));");
const QString kSpShow = QStringLiteral(
    "var conteudo = document.getElementById('conteudo'); conteudo.textContent = '';"
    "conteudo.appendChild(document.getElementById('dados').content.cloneNode(true));");

INSTANTIATE_TEST_SUITE_P(
    SamplePortals, ContentLookupTest,
    testing::Values(ContentCase{"CCC", kCcc, true, u"/NFE/CCC/Consulta"_s,
                                u"Consultando o cadastro"_s, kCccShow, kSampleLines[kCcc]},
                    ContentCase{"CCCWatchAlone", kCcc, false, u"/NFE/CCC/Consulta"_s,
                                u"Consultando o cadastro"_s, kCccShow, kSampleLines[kCcc]},
                    ContentCase{"SP", kSp, true, QueryPath(kSp), u"Consultando, aguarde"_s, kSpShow,
                                kSampleLines[kSp]},
                    ContentCase{"SPWatchAlone", kSp, false, QueryPath(kSp),
                                u"Consultando, aguarde"_s, kSpShow, kSampleLines[kSp]}),
    [](const testing::TestParamInfo<ContentCase>& info) { return std::string(info.param.name); });

TEST_F(LookupTest, PageChangingEveryMillisecondIsLookedAtBoundedly)
{
    // The national portal's result page as its query page, changing every millisecond for ten
    // seconds before the result shows.
    HttpFixtureServer& ccc = portals.server(kCcc);
    QByteArray body = ccc.pageFromRoot(u"/NFE/CCC/Consulta"_s).body;
    ASSERT_TRUE(body.contains("}, 1000);"));
    body.replace("}, 1000);", "}, 10000);");
    body.replace("</body>", "<p id=\"relogio\"></p><script>setInterval(function () {"
                            " document.getElementById('relogio').textContent = performance.now();"
                            "}, 1);</script></body>");
    ccc.setPage(QueryPath(kCcc), body);
    const QString detection = window->URIEstados().at(kCcc).responseStringDetection;

    QElapsedTimer clock;
    clock.start();
    ASSERT_NO_FATAL_FAILURE(pick(kCcc));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kCcc)));
    ASSERT_TRUE(WaitFor([&] { return looksOfKind(true) >= 3; }, 10000));
    // Meanwhile the window answers.
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(RunQueuedCalls());
        EXPECT_TRUE(w->responsive());
    }

    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    const qint64 elapsed = clock.elapsed();
    EXPECT_EQ(host.data, ResultBlock(kSampleLines[kCcc])) << Readable(host.data);
    ASSERT_TRUE(WaitFor([&] { return w->closed->count() > 0; }, 20000));
    EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxes.value(0).text);

    // One look after a change per interval at most, however often the page changes; the 500 ms
    // watch went on beside them.
    const qsizetype changed = looksOfKind(true);
    EXPECT_LE(changed, elapsed / TChromium::ChangedTextIntervalMs + 1)
        << changed << " looks in " << elapsed << " ms";
    EXPECT_GE(changed, 10) << "the changes were hardly looked at";
    const qsizetype watched = looksOfKind(false) - looksContaining(false, detection);
    EXPECT_GE(watched, 5) << "the 500 ms watch stopped";
    // The page's load starts one watch (two should its load be reported twice); a look after a
    // change that started one of its own would multiply them.
    EXPECT_LE(watched, 2 * (elapsed / 500 + 1)) << watched << " texts in " << elapsed << " ms";
}

TEST_F(LookupTest, TextOfALookAfterAChangeArrivingAfterTheBlockIsIgnored)
{
    HttpFixtureServer& sp = portals.server(kSp);
    QByteArray body = sp.pageFromRoot(QueryPath(kSp)).body;
    ASSERT_TRUE(body.contains("}, 1000);"));
    body.replace("}, 1000);", "}, 3600000);");
    sp.setPage(QueryPath(kSp), body);

    ASSERT_NO_FATAL_FAILURE(pick(kSp));
    ASSERT_TRUE(w->waitMainLoad(portals.queryUrl(kSp)));
    ASSERT_NO_FATAL_FAILURE(submitQuery());
    ASSERT_TRUE(
        WaitFor([&] { return looksContaining(false, u"Consultando, aguarde"_s) > 0; }, 20000));
    // The result shows and the watch's text is asked for at once: both looks bring it, one
    // after the other.
    auto shown = std::make_shared<bool>(false);
    QObject::connect(window->Chromium1, &TChromium::OnTextResultAvailable, window,
                     [this, shown](const QString&) {
                         if (*shown)
                             return;
                         *shown = true;
                         w->page()->runJavaScript(kSpShow);
                         window->Chromium1->RetrieveText();
                     });
    // The window closes once it has the first: its close waits for the second.
    const CloseHold hold(window, [this] {
        return looksContaining(true, kSpDetection) > 0 && looksContaining(false, kSpDetection) > 0;
    });
    ASSERT_TRUE(host.waitForEnd()) << Readable(host.data);
    ASSERT_TRUE(WaitFor([&] { return w->closed->count() > 0; }, 20000));
    EXPECT_GE(looksContaining(true, kSpDetection), 1) << "no look after the change";
    EXPECT_GE(looksContaining(false, kSpDetection), 1) << "the watch's text never came";
    EXPECT_EQ(host.data, ResultBlock(kSampleLines[kSp])) << Readable(host.data);
    EXPECT_TRUE(w->boxes.isEmpty()) << qPrintable(w->boxes.value(0).text);
    ASSERT_EQ(window->Chromium1->GetBrowser(), nullptr);
    ASSERT_TRUE(RunQueuedCalls());
    EXPECT_EQ(w->closed->count(), 1);
}

} // namespace
