#include "ui/LoadFailurePage.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString Heading(const LoadFailure& failure)
{
    switch (failure.failure) {
    case LoadFailureClass::Offline:
        return QStringLiteral("Este computador está sem acesso à internet, ou o endereço do "
                              "portal não foi encontrado.");
    case LoadFailureClass::Refused:
        return QStringLiteral("O servidor do portal recusou ou interrompeu a conexão.");
    case LoadFailureClass::Timeout:
        return QStringLiteral("O servidor do portal não respondeu a tempo.");
    case LoadFailureClass::CertificateUntrusted:
        return QStringLiteral("O certificado de segurança do portal foi emitido por uma "
                              "autoridade em que este computador não confia.");
    case LoadFailureClass::CertificateExpired:
        return QStringLiteral("O certificado de segurança do portal está vencido ou ainda não "
                              "é válido.");
    case LoadFailureClass::CertificateName:
        return QStringLiteral("O certificado de segurança apresentado foi emitido para outro "
                              "endereço, não para o do portal.");
    case LoadFailureClass::CertificateOther:
        return QStringLiteral("O certificado de segurança do portal foi recusado (revogado, "
                              "fraco ou inválido).");
    case LoadFailureClass::HttpError:
        return QStringLiteral("O servidor do portal respondeu com um erro (HTTP %1), sem "
                              "página.")
            .arg(failure.errorCode);
    case LoadFailureClass::Other:
        break;
    }
    return QStringLiteral("A página do portal não pôde ser carregada.");
}

QString Advice(LoadFailureClass failure)
{
    switch (failure) {
    case LoadFailureClass::Offline:
        return QStringLiteral("Verifique a conexão de rede deste computador e tente novamente.");
    case LoadFailureClass::Refused:
    case LoadFailureClass::Timeout:
    case LoadFailureClass::HttpError:
        return QStringLiteral("O portal pode estar fora do ar ou sobrecarregado. Tente novamente "
                              "em alguns minutos.");
    case LoadFailureClass::CertificateUntrusted:
        return QStringLiteral("Se o portal é assinado pela ICP-Brasil, peça ao administrador "
                              "deste computador que instale a raiz da ICP-Brasil no repositório "
                              "de certificados do sistema e tente novamente.");
    case LoadFailureClass::CertificateExpired:
        return QStringLiteral("Confira se a data e a hora deste computador estão certas. Se "
                              "estiverem, o problema é do portal: tente novamente mais tarde.");
    case LoadFailureClass::CertificateName:
    case LoadFailureClass::CertificateOther:
        return QStringLiteral("A conexão não é segura e não será aberta. Tente novamente mais "
                              "tarde; se continuar, avise o suporte.");
    case LoadFailureClass::Other:
        break;
    }
    return QStringLiteral("Tente novamente. Se o problema continuar, avise o suporte.");
}

} // namespace

LoadFailureExplanation ExplainLoadFailure(const LoadFailure& failure, const QString& portalName)
{
    const QString what =
        failure.errorText.isEmpty()
            ? QStringLiteral("código %1").arg(failure.errorCode)
            : QStringLiteral("%1 (%2)").arg(failure.errorText).arg(failure.errorCode);
    return {
        portalName.isEmpty() ? QStringLiteral("Não foi possível abrir a página")
                             : QStringLiteral("Não foi possível abrir o portal %1").arg(portalName),
        Heading(failure), Advice(failure.failure),
        QStringLiteral("Para o suporte: %1, %2").arg(what, LoadFailureClassName(failure.failure))};
}

TLoadFailurePage::TLoadFailurePage(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    Title = new QLabel(this);
    QFont titleFont = font();
    titleFont.setPixelSize(20);
    titleFont.setBold(true);
    Title->setFont(titleFont);
    Title->setWordWrap(true);

    Heading = new QLabel(this);
    QFont headingFont = font();
    headingFont.setPixelSize(15);
    Heading->setFont(headingFont);
    Heading->setWordWrap(true);

    Advice = new QLabel(this);
    Advice->setFont(headingFont);
    Advice->setWordWrap(true);

    RetryButton = new QPushButton(QStringLiteral("Tentar novamente"), this);
    RetryButton->setDefault(true);
    RetryButton->setAutoDefault(true);

    SmallPrint = new QLabel(this);
    QFont smallFont = font();
    smallFont.setPixelSize(10);
    SmallPrint->setFont(smallFont);
    SmallPrint->setForegroundRole(QPalette::PlaceholderText);
    SmallPrint->setTextInteractionFlags(Qt::TextSelectableByMouse);
    SmallPrint->setWordWrap(true);

    auto* column = new QVBoxLayout;
    column->setSpacing(14);
    column->addWidget(Title);
    column->addWidget(Heading);
    column->addWidget(Advice);
    column->addSpacing(6);
    column->addWidget(RetryButton, 0, Qt::AlignLeft);
    column->addSpacing(18);
    column->addWidget(SmallPrint);

    // A readable column near the top, as a browser shows its own pages.
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(48, 56, 48, 24);
    layout->addStretch(1);
    auto* holder = new QVBoxLayout;
    holder->addLayout(column);
    holder->addStretch(1);
    layout->addLayout(holder, 6);
    layout->addStretch(1);

    // Names and URLs come from outside: never read as markup.
    for (QLabel* label : {Title, Heading, Advice, SmallPrint})
        label->setTextFormat(Qt::PlainText);

    connect(RetryButton, &QPushButton::clicked, this, [this] { Q_EMIT RetryRequested(m_url); });
}

void TLoadFailurePage::Show(const QString& url, const LoadFailure& failure,
                            const QString& portalName)
{
    m_url = url;
    const LoadFailureExplanation text = ExplainLoadFailure(failure, portalName);
    Title->setText(text.title);
    Heading->setText(text.heading);
    Advice->setText(text.advice);
    SmallPrint->setText(text.smallPrint + QStringLiteral("\n") + url);
    show();
    RetryButton->setFocus(Qt::OtherFocusReason);
}
