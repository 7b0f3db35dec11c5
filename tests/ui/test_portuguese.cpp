// Portuguese whatever the machine's locale (the tests run under C): the toolkit's standard
// buttons, the engine's menu entries, its own texts in pages, and the language pages are asked
// for in.
#include "EventLoopWait.h"
#include "QtPrinters.h"
#include "shell/Chromium.h"
#include "shell/QuarvelPage.h"

#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(PortugueseTest, StandardButtonsOfABoxArePortuguese)
{
    QMessageBox box(QMessageBox::Question, u"Confirmação"_s, u"Enviar?"_s,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text(), u"&Sim"_s);
    EXPECT_EQ(box.button(QMessageBox::No)->text(), u"&Não"_s);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text().remove(u'&'), u"OK"_s);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text().remove(u'&'), u"Cancelar"_s);
}

// Serves one page to every request and keeps the requests' heads.
class RecordingServer
{
public:
    explicit RecordingServer(QByteArray page) : m_page(std::move(page))
    {
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    if (!buffer->contains("\r\n\r\n"))
                        return;
                    heads.append(buffer->left(buffer->indexOf("\r\n\r\n")));
                    socket->write("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                  "Connection: close\r\n\r\n" +
                                  m_page);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url() const { return u"http://127.0.0.1:%1/"_s.arg(server.serverPort()); }

    QTcpServer server;
    QList<QByteArray> heads;

private:
    QByteArray m_page;
};

class EnginePortugueseTest : public testing::Test
{
protected:
    void SetUp() override
    {
        host = std::make_unique<QWidget>();
        host->resize(800, 600);
        host->show();
        chromium = std::make_unique<TChromium>();
        QSignalSpy created(chromium.get(), &TChromium::OnAfterCreated);
        ASSERT_TRUE(chromium->CreateBrowser(host.get()));
        ASSERT_TRUE(created.wait(30000));
    }

    void TearDown() override
    {
        chromium.reset();
        host.reset();
    }

    QWebEnginePage* page() const { return chromium->GetBrowser()->page(); }

    QVariant evaluate(const QString& script)
    {
        auto result = std::make_shared<std::optional<QVariant>>();
        page()->runJavaScript(script, [result](const QVariant& value) { *result = value; });
        if (!WaitFor([&] { return result->has_value(); }, 15000))
            return u"<no answer>"_s;
        return **result;
    }

    std::unique_ptr<QWidget> host;
    std::unique_ptr<TChromium> chromium;
};

TEST_F(EnginePortugueseTest, MenuEntriesThatTheWindowKeepsArePortuguese)
{
    const struct
    {
        QWebEnginePage::WebAction action;
        const char16_t* text;
    } rows[] = {
        {QWebEnginePage::Back, u"Voltar"},
        {QWebEnginePage::Forward, u"Avançar"},
        {QWebEnginePage::Reload, u"Recarregar"},
        {QWebEnginePage::Stop, u"Parar"},
        {QWebEnginePage::Cut, u"Recortar"},
        {QWebEnginePage::Copy, u"Copiar"},
        {QWebEnginePage::Paste, u"Colar"},
        {QWebEnginePage::SelectAll, u"Selecionar tudo"},
        {QWebEnginePage::CopyLinkToClipboard, u"Copiar endereço do link"},
        {QWebEnginePage::Undo, u"Desfazer"},
        {QWebEnginePage::Redo, u"Refazer"},
        {QWebEnginePage::ReloadAndBypassCache, u"Recarregar sem usar o cache"},
        {QWebEnginePage::PasteAndMatchStyle, u"Colar com o mesmo estilo"},
        {QWebEnginePage::Unselect, u"Desmarcar seleção"},
        {QWebEnginePage::OpenLinkInThisWindow, u"Abrir link nesta janela"},
        {QWebEnginePage::CopyImageToClipboard, u"Copiar imagem"},
        {QWebEnginePage::CopyImageUrlToClipboard, u"Copiar endereço da imagem"},
        {QWebEnginePage::CopyMediaUrlToClipboard, u"Copiar endereço da mídia"},
        {QWebEnginePage::ToggleMediaControls, u"Mostrar controles"},
        {QWebEnginePage::ToggleMediaLoop, u"Repetir"},
        {QWebEnginePage::ToggleMediaPlayPause, u"Reproduzir/pausar"},
        {QWebEnginePage::ToggleMediaMute, u"Ativar/desativar som"},
        {QWebEnginePage::ToggleBold, u"&Negrito"},
        {QWebEnginePage::ToggleItalic, u"&Itálico"},
        {QWebEnginePage::ToggleUnderline, u"&Sublinhado"},
        {QWebEnginePage::ToggleStrikethrough, u"&Tachado"},
        {QWebEnginePage::AlignLeft, u"Alinhar à &esquerda"},
        {QWebEnginePage::AlignCenter, u"&Centralizar"},
        {QWebEnginePage::AlignRight, u"Alinhar à &direita"},
        {QWebEnginePage::AlignJustified, u"&Justificar"},
        {QWebEnginePage::Indent, u"&Aumentar recuo"},
        {QWebEnginePage::Outdent, u"&Diminuir recuo"},
        {QWebEnginePage::InsertOrderedList, u"Inserir lista &numerada"},
        {QWebEnginePage::InsertUnorderedList, u"Inserir lista com &marcadores"},
    };
    // Every entry the window's menu can keep.
    int covered = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.action);
        EXPECT_TRUE(IsContextMenuActionAllowed(row.action));
        EXPECT_EQ(page()->action(row.action)->text(), QString::fromUtf16(row.text));
        ++covered;
    }
    int allowed = 0;
    for (int i = 0; i < QWebEnginePage::WebActionCount; ++i)
        allowed += IsContextMenuActionAllowed(static_cast<QWebEnginePage::WebAction>(i)) ? 1 : 0;
    EXPECT_EQ(covered, allowed) << "an entry the menu keeps has no expected text here";
}

TEST_F(EnginePortugueseTest, PagesAreAskedForAndTalkedToInBrazilianPortuguese)
{
    RecordingServer server("<!DOCTYPE html><title>f</title><form><input name=cnpj required>"
                           "<input name=n type=number min=1 value=0></form>");
    ASSERT_TRUE(server.server.listen(QHostAddress::LocalHost));
    QSignalSpy loaded(page(), &QWebEnginePage::loadFinished);
    chromium->LoadURL(server.url());
    ASSERT_TRUE(WaitFor([&] { return !loaded.isEmpty(); }, 20000));

    ASSERT_FALSE(server.heads.isEmpty());
    EXPECT_TRUE(QByteArray(server.heads.first() + "\r\n")
                    .contains("\r\nAccept-Language: pt-BR,pt;q=0.9\r\n"))
        << server.heads.first().toStdString();
    EXPECT_EQ(evaluate(u"navigator.language"_s).toString(), u"pt-BR"_s);
    // The engine's own texts: its form-validation bubbles.
    EXPECT_EQ(evaluate(u"document.querySelector('[name=cnpj]').validationMessage"_s).toString(),
              u"Preencha este campo."_s);
    const QString range =
        evaluate(u"document.querySelector('[name=n]').validationMessage"_s).toString();
    EXPECT_TRUE(range.contains(u"valor"_s)) << qPrintable(range);
}

} // namespace
