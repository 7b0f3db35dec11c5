#include "shell/PortugueseTexts.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>

namespace {

// The engine's English texts, as its menus and actions name them, in Portuguese.
const QHash<QByteArray, QString>& MenuTexts()
{
    static const QHash<QByteArray, QString> texts{
        {"Back", QStringLiteral("Voltar")},
        {"Forward", QStringLiteral("Avançar")},
        {"Stop", QStringLiteral("Parar")},
        {"Reload", QStringLiteral("Recarregar")},
        {"Reload and Bypass Cache", QStringLiteral("Recarregar sem usar o cache")},
        {"Cut", QStringLiteral("Recortar")},
        {"Copy", QStringLiteral("Copiar")},
        {"Paste", QStringLiteral("Colar")},
        {"Paste and match style", QStringLiteral("Colar com o mesmo estilo")},
        {"Undo", QStringLiteral("Desfazer")},
        {"Redo", QStringLiteral("Refazer")},
        {"Select all", QStringLiteral("Selecionar tudo")},
        {"Unselect", QStringLiteral("Desmarcar seleção")},
        {"Open link in this window", QStringLiteral("Abrir link nesta janela")},
        {"Open link in new window", QStringLiteral("Abrir link em nova janela")},
        {"Open link in new tab", QStringLiteral("Abrir link em nova guia")},
        {"Open link in new background tab",
         QStringLiteral("Abrir link em nova guia em segundo plano")},
        {"Copy link address", QStringLiteral("Copiar endereço do link")},
        {"Save link", QStringLiteral("Salvar link")},
        {"Copy image", QStringLiteral("Copiar imagem")},
        {"Copy image address", QStringLiteral("Copiar endereço da imagem")},
        {"Save image", QStringLiteral("Salvar imagem")},
        {"Copy media address", QStringLiteral("Copiar endereço da mídia")},
        {"Show controls", QStringLiteral("Mostrar controles")},
        {"Loop", QStringLiteral("Repetir")},
        {"Save media", QStringLiteral("Salvar mídia")},
        {"Toggle Play/Pause", QStringLiteral("Reproduzir/pausar")},
        {"Toggle Mute", QStringLiteral("Ativar/desativar som")},
        {"Inspect", QStringLiteral("Inspecionar")},
        {"Exit full screen", QStringLiteral("Sair da tela cheia")},
        {"Save page", QStringLiteral("Salvar página")},
        {"View page source", QStringLiteral("Ver código-fonte da página")},
        {"Close Page", QStringLiteral("Fechar página")},
        {"&Bold", QStringLiteral("&Negrito")},
        {"&Italic", QStringLiteral("&Itálico")},
        {"&Underline", QStringLiteral("&Sublinhado")},
        {"&Strikethrough", QStringLiteral("&Tachado")},
        {"Align &Left", QStringLiteral("Alinhar à &esquerda")},
        {"Align &Center", QStringLiteral("&Centralizar")},
        {"Align &Right", QStringLiteral("Alinhar à &direita")},
        {"Align &Justified", QStringLiteral("&Justificar")},
        {"&Indent", QStringLiteral("&Aumentar recuo")},
        {"&Outdent", QStringLiteral("&Diminuir recuo")},
        {"Insert &Ordered List", QStringLiteral("Inserir lista &numerada")},
        {"Insert &Unordered List", QStringLiteral("Inserir lista com &marcadores")},
    };
    return texts;
}

bool IsEngineContext(const char* context)
{
    return context != nullptr && (qstrcmp(context, "RenderViewContextMenuQt") == 0 ||
                                  qstrcmp(context, "QWebEnginePage") == 0);
}

} // namespace

QString EngineMenuTranslator::translate(const char* context, const char* sourceText, const char*,
                                        int) const
{
    if (!IsEngineContext(context) || sourceText == nullptr)
        return QString();
    return MenuTexts().value(QByteArray(sourceText));
}

bool InstallPortugueseTexts(QCoreApplication& app)
{
    QCoreApplication::installTranslator(new EngineMenuTranslator(&app));
    auto* qt = new QTranslator(&app);
    if (!qt->load(EngineLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    QCoreApplication::installTranslator(qt);
    return true;
}
