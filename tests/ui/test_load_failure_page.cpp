// The window's page for a failed load: what it says for each class, and how it treats the
// names and addresses it is given.
#include "QtPrinters.h"
#include "ui/LoadFailurePage.h"

#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr LoadFailureClass kClasses[] = {LoadFailureClass::Offline,
                                         LoadFailureClass::Refused,
                                         LoadFailureClass::Timeout,
                                         LoadFailureClass::CertificateUntrusted,
                                         LoadFailureClass::CertificateExpired,
                                         LoadFailureClass::CertificateName,
                                         LoadFailureClass::CertificateOther,
                                         LoadFailureClass::HttpError,
                                         LoadFailureClass::Other};

TEST(LoadFailurePageTest, EachClassIsToldApartInPortugueseWithTheCodeInSmallPrint)
{
    QSet<QString> headings;
    for (const LoadFailureClass failure : kClasses) {
        const QString name = LoadFailureClassName(failure);
        SCOPED_TRACE(name.toStdString());
        const LoadFailureExplanation text =
            ExplainLoadFailure({failure, -105, u"net::ERR_NAME_NOT_RESOLVED"_s}, u"SP"_s);
        EXPECT_EQ(text.title, u"Não foi possível abrir o portal SP"_s);
        headings.insert(text.heading);
        EXPECT_FALSE(text.advice.isEmpty());
        EXPECT_EQ(text.smallPrint, u"Para o suporte: net::ERR_NAME_NOT_RESOLVED (-105), "_s + name);
        // Nothing of the engine's English in what the user reads.
        for (const QString& line : {text.heading, text.advice})
            EXPECT_FALSE(line.contains(u"ERR_"_s) || line.contains(u"error"_s))
                << line.toStdString();
    }
    EXPECT_EQ(headings.size(), std::size(kClasses));
}

TEST(LoadFailurePageTest, HttpErrorNamesTheStatusAndAFailureWithoutTextItsCode)
{
    const LoadFailureExplanation http =
        ExplainLoadFailure({LoadFailureClass::HttpError, 503, QString()}, QString());
    EXPECT_TRUE(http.heading.contains(u"HTTP 503"_s)) << http.heading.toStdString();
    EXPECT_EQ(http.smallPrint, u"Para o suporte: código 503, http-error"_s);
    EXPECT_EQ(http.title, u"Não foi possível abrir a página"_s);
}

TEST(LoadFailurePageTest, ShowsWhatItIsGivenAsPlainTextAndRetriesThatUrl)
{
    TLoadFailurePage page;
    page.resize(800, 500);
    const QString url = u"http://127.0.0.1:9/<b>x</b>?q=<i>"_s;
    page.Show(url, {LoadFailureClass::Refused, -102, u"net::ERR_CONNECTION_REFUSED"_s},
              u"<b>AM</b>"_s);
    EXPECT_EQ(page.Title->text(), u"Não foi possível abrir o portal <b>AM</b>"_s);
    for (QLabel* label : {page.Title, page.Heading, page.Advice, page.SmallPrint})
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_TRUE(page.SmallPrint->text().endsWith(url));
    EXPECT_EQ(page.RetryButton->text(), u"Tentar novamente"_s);

    QSignalSpy retried(&page, &TLoadFailurePage::RetryRequested);
    page.RetryButton->click();
    ASSERT_EQ(retried.size(), 1);
    EXPECT_EQ(retried.first().first().toString(), url);
}

} // namespace
