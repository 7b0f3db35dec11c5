#include "lookup/HostRequest.h"

#include "portals/PortalTable.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <array>
#include <optional>
#include <utility>

namespace {

constexpr std::array<std::pair<const char16_t*, const char16_t*>, 27> kStates = {{
    {u"RO", u"11"}, {u"AC", u"12"}, {u"AM", u"13"}, {u"RR", u"14"}, {u"PA", u"15"}, {u"AP", u"16"},
    {u"TO", u"17"}, {u"MA", u"21"}, {u"PI", u"22"}, {u"CE", u"23"}, {u"RN", u"24"}, {u"PB", u"25"},
    {u"PE", u"26"}, {u"AL", u"27"}, {u"SE", u"28"}, {u"BA", u"29"}, {u"MG", u"31"}, {u"ES", u"32"},
    {u"RJ", u"33"}, {u"SP", u"35"}, {u"PR", u"41"}, {u"SC", u"42"}, {u"RS", u"43"}, {u"MS", u"50"},
    {u"MT", u"51"}, {u"GO", u"52"}, {u"DF", u"53"},
}};

int CheckDigit(QStringView digits, int count)
{
    // Weights 2..9 from the right, starting again at 2 after 9.
    int sum = 0;
    int weight = 2;
    for (int i = count - 1; i >= 0; --i) {
        sum += (digits[i].unicode() - u'0') * weight;
        weight = weight == 9 ? 2 : weight + 1;
    }
    const int rest = sum % 11;
    return rest < 2 ? 0 : 11 - rest;
}

// The CNPJ's 14 digits when text is 14 digits or the punctuated form, else empty.
QString CnpjFromArgument(const QString& text)
{
    static const QRegularExpression shape(
        QStringLiteral(R"(\A(?:[0-9]{14}|[0-9]{2}\.[0-9]{3}\.[0-9]{3}/[0-9]{4}-[0-9]{2})\z)"));
    return shape.match(text).hasMatch() ? DigitsOnly(text) : QString();
}

// A later good value of an option replaces an earlier one, which is then named as ignored.
void Replace(QString& member, const QString& value, const QString& name, QStringList& warnings)
{
    if (!member.isEmpty() && member != value)
        warnings << QStringLiteral("option %1 %2 ignored: given again, the later value is used")
                        .arg(QuotedForMessage(name), QuotedForMessage(member));
    member = value;
}

} // namespace

bool CnpjCheckDigitsValid(QStringView digits)
{
    if (digits.size() != 14)
        return false;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return CheckDigit(digits, 12) == digits[12].unicode() - u'0' &&
           CheckDigit(digits, 13) == digits[13].unicode() - u'0';
}

QString DigitsOnly(QStringView text)
{
    QString digits;
    for (const QChar c : text) {
        if (c >= u'0' && c <= u'9')
            digits += c;
    }
    return digits;
}

QString PunctuatedCnpj(const QString& digits)
{
    if (digits.size() != 14 || DigitsOnly(digits).size() != 14)
        return digits;
    return QStringLiteral("%1.%2.%3/%4-%5")
        .arg(digits.mid(0, 2), digits.mid(2, 3), digits.mid(5, 3), digits.mid(8, 4),
             digits.mid(12, 2));
}

QString IbgeStateCode(QStringView uf)
{
    for (const auto& [state, code] : kStates) {
        if (uf == QStringView(state))
            return QString::fromUtf16(code);
    }
    return {};
}

HostRequest ParseHostRequest(const QStringList& hostArguments, const QStringList& portalKeys)
{
    HostRequest request;
    QStringList& warnings = request.warnings;
    for (qsizetype i = 1; i < hostArguments.size(); ++i) {
        const QString& argument = hostArguments.at(i);
        if (!argument.startsWith(u"--")) {
            warnings << QStringLiteral("argument %1 ignored: not an option")
                            .arg(QuotedForMessage(argument));
            continue;
        }
        QString name = argument;
        std::optional<QString> value;
        if (const qsizetype equals = argument.indexOf(u'='); equals >= 0) {
            name = argument.left(equals);
            value = argument.mid(equals + 1);
        } else if (i + 1 < hostArguments.size() && !hostArguments.at(i + 1).startsWith(u"--")) {
            value = hostArguments.at(++i);
        }
        const bool known = name == u"--portal" || name == u"--uf" || name == u"--cnpj";
        if (!known) {
            // A newer host's option: skipped with its value, if it had one.
            warnings
                << QStringLiteral("option %1 ignored: unknown option").arg(QuotedForMessage(name));
            continue;
        }
        const QString ignored = QStringLiteral("option %1 ignored: ").arg(QuotedForMessage(name));
        if (!value) {
            warnings << ignored + QStringLiteral("no value");
            continue;
        }
        if (name == u"--portal") {
            if (!portalKeys.contains(*value)) {
                warnings << ignored + QStringLiteral("unknown portal key %1 (known keys: %2)")
                                          .arg(QuotedForMessage(*value), portalKeys.join(u", "));
                continue;
            }
            Replace(request.portalKey, *value, name, warnings);
        } else if (name == u"--uf") {
            const QString uf = value->toUpper();
            if (IbgeStateCode(uf).isEmpty()) {
                warnings << ignored +
                                QStringLiteral("%1 is not a state's two letters (SP, MG, ...)")
                                    .arg(QuotedForMessage(*value));
                continue;
            }
            Replace(request.uf, uf, name, warnings);
        } else {
            const QString digits = CnpjFromArgument(*value);
            if (digits.isEmpty()) {
                warnings << ignored + QStringLiteral("%1 is not a CNPJ (14 digits, or "
                                                     "NN.NNN.NNN/NNNN-NN)")
                                          .arg(QuotedForMessage(*value));
                continue;
            }
            if (!CnpjCheckDigitsValid(digits)) {
                warnings << ignored + QStringLiteral("CNPJ %1 has wrong check digits")
                                          .arg(QuotedForMessage(*value));
                continue;
            }
            Replace(request.cnpj, digits, name, warnings);
        }
    }
    return request;
}

QString FillScriptCall(const QString& fillScript, const HostRequest& request)
{
    const QJsonObject data{{QStringLiteral("cnpj"), request.cnpj},
                           {QStringLiteral("cnpjPunctuated"), PunctuatedCnpj(request.cnpj)},
                           {QStringLiteral("uf"), request.uf},
                           {QStringLiteral("ufCode"), IbgeStateCode(request.uf)}};
    return u'(' + fillScript + QStringLiteral(")(") +
           QString::fromUtf8(QJsonDocument(data).toJson(QJsonDocument::Compact)) +
           QStringLiteral(");");
}
