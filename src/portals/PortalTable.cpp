#include "portals/PortalTable.h"

#include <QLoggingCategory>
#include <QUrl>
#include <array>
#include <span>

// Named after the variable: under Qt's default message pattern a line reads
// "QUARVEL_PORTAL_HOSTS: <problem>", and QT_LOGGING_RULES="QUARVEL_PORTAL_HOSTS=false" hides it.
Q_LOGGING_CATEGORY(lcPortalHosts, "QUARVEL_PORTAL_HOSTS")

namespace {

// Non-ASCII characters are written as \u escapes so that every one of them is unambiguous
// here (U+00A0 in two SP labels, U+00BA in "Nº:").

struct FieldRow
{
    const QString* name;
    const char16_t* regEx;
};

struct PortalRow
{
    const char16_t* key; // short key used by QUARVEL_PORTAL_HOSTS and the tools
    const char16_t* estado;
    QString PortalHosts::*host;
    const char16_t* queryPath;
    const char16_t* resultPath; // nullptr: the result page is recognised by its content
    bool linkScript;
    const char16_t* detection; // nullptr: recognised by the result URL instead
    std::span<const FieldRow> fields;
    const char16_t* fill; // the portal's part of its fill script
};

// Makes every link of the query page point to "#" (110 characters, two blanks after '{').
constexpr const char16_t* kLinkScript =
    u"const list = document.getElementsByTagName(\"a\"); for (let i = 0; i < list.length; i++) "
    u"{  list[i].href = \"#\" }";

// The start of every fill script: d is the host's request. A control that is not there is
// skipped. Values are set as typing leaves them, followed by the input and change events the
// page's own scripts listen to; nothing is submitted. Each control is looked up whatever the
// request holds, and its name goes into the report the script returns (found or missing), so
// that a check of the page learns what the page still has.
constexpr const char16_t* kFillStart =
    u"function (d) {\n"
    u"  const report = {found: [], missing: [], captcha: false};\n"
    u"  const note = (n, e) => { (e ? report.found : report.missing).push(n); return e || null; "
    u"};\n"
    u"  const fire = (e) => { e.dispatchEvent(new Event('input', {bubbles: true}));"
    u" e.dispatchEvent(new Event('change', {bubbles: true})); };\n"
    u"  const named = (n) => note(n, document.getElementsByName(n)[0]);\n"
    u"  const idEnding = (s) => note(s, document.querySelector('[id$=\"' + s + '\"]'));\n"
    u"  const isCnpj = (t) => /cnpj/i.test(t);\n"
    u"  const cnpjBox = (e) => { if (!e || !d.cnpj) return; e.value = e.maxLength < 0 ||"
    u" e.maxLength >= 18 ? d.cnpjPunctuated : d.cnpj; fire(e); };\n"
    u"  const choose = (e, match) => { if (!e || !e.options) return;"
    u" const o = Array.from(e.options).find(match); if (o) { e.value = o.value; fire(e); } };\n"
    u"  const cnpjRadio = (n) => {"
    u" const r = note(n, Array.from(document.getElementsByName(n)).find((e) => e.type === 'radio' "
    u"&&"
    u" isCnpj(e.value + ' ' + Array.from(e.labels || [], (l) => l.textContent).join(' '))));"
    u" if (d.cnpj && r && !r.checked) r.click(); };\n";

// The end of every fill script: the keyboard goes to the captcha box, else to the button that
// submits the query; the report says which controls were there ({found, missing, captcha}).
constexpr const char16_t* kFillEnd =
    u"  const captcha = document.querySelector('input[name*=\"captcha\" i], input[id*=\"captcha\" "
    u"i]');\n"
    u"  report.captcha = !!captcha;\n"
    u"  const next = captcha || document.querySelector('form [type=\"submit\"], form "
    u"button:not([type])');\n"
    u"  if (next) next.focus();\n"
    u"  return report;\n"
    u"}";

constexpr const char16_t* kFillCcc = u"  const uf = named('CodUf');\n"
                                     u"  if (d.ufCode) choose(uf, (o) => o.value === d.ufCode);\n"
                                     u"  cnpjRadio('TipoPesquisa');\n"
                                     u"  cnpjBox(named('CodInscrMf'));\n";
constexpr const char16_t* kFillAm = u"  cnpjRadio('tipo');\n"
                                    u"  cnpjBox(named('cgc'));\n";
constexpr const char16_t* kFillEs = u"  cnpjBox(named('num_cnpj'));\n";
constexpr const char16_t* kFillBa = u"  cnpjBox(named('txt_CNPJ'));\n";
constexpr const char16_t* kFillSp =
    u"  const filter = idEnding('tipoFiltroDropDownList');\n"
    u"  if (d.cnpj) choose(filter, (o) => isCnpj(o.value + ' ' + o.text));\n"
    u"  cnpjBox(idEnding('valorFiltroTextBox'));\n";

// Texts shared by more than one portal.
constexpr const char16_t* kReRazaoSocialAm = u"(?:Raz\u00E3o Social:)(?:[\\t\\W]*)([\\w\\s\\d.]*)";
constexpr const char16_t* kReInscricaoAm =
    u"(?:Inscri\u00E7\u00E3o Estadual:)(?:[\\t\\W]*)([\\d.\\-]*)";
constexpr const char16_t* kReLogradouroAm = u"(?:Logradouro:)(?:[\\t\\W]*)(.*)";
constexpr const char16_t* kReNumeroAm = u"(?:N\u00FAmero:)(?:[\\t\\W]*)([^\\t]*)";
constexpr const char16_t* kReComplementoAm = u"(?:Complemento:)(?:[\\t]*\\W)(.*)";
constexpr const char16_t* kReBairroAm = u"(?:Bairro:)(?:[\\t]*\\W)(.*)";
constexpr const char16_t* kReCidadeAm = u"(?:Munic\u00EDpio:)(?:[\\t]*\\W)([^\\t]*)";
constexpr const char16_t* kReEstadoAm = u"(?:UF:)(?:[\\t\\W]*)([\\w]*)";
constexpr const char16_t* kReCepAm = u"(?:CEP:)(?:[\\t\\W]*)([\\w-]*)";
constexpr const char16_t* kReRazaoSocialBa = u"(?:Raz\u00E3o Social:)(?:[\\t]*)([\\w\\s\\d.]*)";

constexpr FieldRow kCccFields[] = {
    {&FIELD_CNPJ, u"(?:CNPJ:\\n)(?=\\d)(.*)"},
    {&FIELD_CPF, u"(?:CPF:\\n)(?=\\d)(.*)"},
    {&FIELD_NOME, u"(?:Nome Fantasia:\\n)(?!Data In\u00EDcio Atividade:)(.*)"},
    {&FIELD_RAZAOSOCIAL, u"(?:Nome da Empresa:\\n)(?!UF:)(.*)"},
    {&FIELD_INSCRICAOESTADUAL,
     u"(?:Inscri\u00E7\u00E3o Estadual \\(IE\\):\\n)(?!Situa\u00E7\u00E3o)(.*)"},
    {&FIELD_ENDERECO, u"(?:Logradouro:\\n)(?!Nro:)(.*)"},
    {&FIELD_NUMERO, u"(?:Nro:\\n)(?!Complemento:)(.*)"},
    {&FIELD_COMPLEMENTO, u"(?:Complemento:\\n)(?!Bairro:)(.*)"},
    {&FIELD_BAIRRO, u"(?:Bairro:\\n)(?!CEP:)(.*)"},
    {&FIELD_CIDADE,
     u"(?:Munic\u00EDpio IBGE:\\n)(?:[^-]*-\\s)(?!UF de Localiza\u00E7\u00E3o:)(.*)"},
    {&FIELD_ESTADO, u"(?:UF de Localiza\u00E7\u00E3o:\\n)(?!Logradouro:)(.*)"},
    {&FIELD_CEP, u"(?:CEP:\\n)(?=\\d)(.*)"},
};

constexpr FieldRow kAmFields[] = {
    {&FIELD_CNPJ, u"(?:C.N.P.J:)(?:[\\t\\W]*)([\\d.\\/-]*)"},
    {&FIELD_NOME, kReRazaoSocialAm},
    {&FIELD_RAZAOSOCIAL, kReRazaoSocialAm},
    {&FIELD_INSCRICAOESTADUAL, kReInscricaoAm},
    {&FIELD_TELEFONE, u"(?:Telefone:)(?:[\\t\\W[^\\n]]*)([\\d.\\-]*)"},
    {&FIELD_ENDERECO, kReLogradouroAm},
    {&FIELD_NUMERO, kReNumeroAm},
    {&FIELD_COMPLEMENTO, kReComplementoAm},
    {&FIELD_BAIRRO, kReBairroAm},
    {&FIELD_CIDADE, kReCidadeAm},
    {&FIELD_ESTADO, kReEstadoAm},
    {&FIELD_CEP, kReCepAm},
};

constexpr FieldRow kEsFields[] = {
    {&FIELD_CNPJ, u"(?:CNPJ:)(?:[\\t\\W]*)([\\d.\\/-]*)(?:\\tInscri\u00E7\u00E3o)"},
    {&FIELD_CPF, u"(?:CPF:)(?:[\\t\\W]*)([\\d.\\/\\-]*)"},
    {&FIELD_NOME, u"(?:Nome :)(?:[\\t\\W]*)([\\w\\s\\d.]*)"},
    {&FIELD_RAZAOSOCIAL, u"(?:Raz\u00E3o Social :)(?:[\\t\\W]*)([^\\n]*)"},
    {&FIELD_INSCRICAOESTADUAL, kReInscricaoAm},
    {&FIELD_TELEFONE, u"(?:Telefone:)(?:[\\t]*\\W)([\\d.\\-()]*)"},
    {&FIELD_ENDERECO, kReLogradouroAm},
    {&FIELD_NUMERO, kReNumeroAm},
    {&FIELD_COMPLEMENTO, kReComplementoAm},
    {&FIELD_BAIRRO, kReBairroAm},
    {&FIELD_CIDADE, kReCidadeAm},
    {&FIELD_ESTADO, kReEstadoAm},
    {&FIELD_CEP, kReCepAm},
};

constexpr FieldRow kBaFields[] = {
    {&FIELD_CNPJ, u"(?:CNPJ:)(?:[\\t]*)([\\d.\\/\\-]*)"},
    {&FIELD_NOME, kReRazaoSocialBa},
    {&FIELD_RAZAOSOCIAL, kReRazaoSocialBa},
    {&FIELD_INSCRICAOESTADUAL, u"(?:Inscri\u00E7\u00E3o Estadual:)(?:[\\n\\t]*)([\\w\\s\\d.]*)"},
    {&FIELD_TELEFONE, u"(?:Telefone:)(?:[\\t]*)([\\w\\s\\d.()]*)"},
    {&FIELD_ENDERECO, u"(?:Logradouro:)(?:[\\t]*)([\\w\\s\\d.()]*)"},
    {&FIELD_NUMERO, u"(?:N\u00FAmero:)(?:[\\t]*)([\\w\\s\\d.()]*)"},
    {&FIELD_COMPLEMENTO, u"(?:Complemento:)(?:[\\t]*)([\\w\\s\\d.()]*)"},
    {&FIELD_BAIRRO, u"(?:Bairro:)(?:[\\t]*)([\\w\\s\\d.()]*)"},
    {&FIELD_CIDADE, u"(?:Munic\u00EDpio:)(?:[\\t]*)([\\w\\s\\d.()]*)"},
    {&FIELD_ESTADO, u"(?:UF:)(?:[\\t]*)([\\w]*)"},
    {&FIELD_CEP, u"(?:CEP:)(?:[\\t]*)([\\w\\s]*)"},
};

constexpr FieldRow kSpFields[] = {
    {&FIELD_CNPJ, u"(?:CNPJ:)(?:[\\t\\W]*)([\\d.\\/-]*)"},
    {&FIELD_NOME, u"(?:Nome\u00A0Fantasia:)(?:[\\t]*)(.*)"},
    {&FIELD_RAZAOSOCIAL, u"(?:Nome\u00A0Empresarial:)(?:[\\t]*)(.*)"},
    {&FIELD_INSCRICAOESTADUAL, u"(?:IE:)(?:[\\t]*)([\\d.-]*)"},
    {&FIELD_ENDERECO, u"(?:Logradouro:)(?:[\\t]*)(.*)"},
    {&FIELD_NUMERO, u"(?:N\u00BA:)(?:[\\t]*)([^\\t]*)"},
    {&FIELD_COMPLEMENTO, u"(?:Complemento:)(?:[\\t]*)(.*)"},
    {&FIELD_BAIRRO, kReBairroAm},
    {&FIELD_CIDADE, u"(?:Munic\u00EDpio:)(?:[\\t]*)([^\\t]*)"},
    {&FIELD_ESTADO, u"(?:UF:)(?:[\\t]*)(.*)"},
    {&FIELD_CEP, u"(?:CEP:)(?:[\\t]*)([^\\t]*)"},
};

// The built-in portals, in registration order.
constexpr std::array<PortalRow, 5> kPortals = {{
    {u"ccc", u"Cadastro Centralizado de Contribuinte", &PortalHosts::ccc, u"/NFE/CCC", nullptr,
     false, u"Identifica\u00E7\u00E3o do Contribuinte", kCccFields, kFillCcc},
    {u"am", u"AM", &PortalHosts::am, u"/sintegra/index.asp", u"/sintegra/sintegra.asp?hash=", true,
     nullptr, kAmFields, kFillAm},
    {u"es", u"ES", &PortalHosts::es, u"/", u"/resultado.php", true, nullptr, kEsFields, kFillEs},
    {u"ba", u"BA", &PortalHosts::ba, u"/Sintegra/sintegra.asp?estado=BA", u"/Sintegra/Result.asp",
     true, nullptr, kBaFields, kFillBa},
    {u"sp", u"SP", &PortalHosts::sp,
     u"/Pages/Cadastro/Consultas/ConsultaPublica/ConsultaPublica.aspx", nullptr, false,
     u"C\u00F3digo de controle da consulta: ", kSpFields, kFillSp},
}};

QString Text(const char16_t* text)
{
    return QString::fromUtf16(text);
}

const PortalRow* RowForKey(QStringView key)
{
    const int index = PortalIndexForKey(key);
    return index < 0 ? nullptr : &kPortals[static_cast<std::size_t>(index)];
}

// Text for a one-line message: control characters are shown escaped.
QString Escaped(QStringView text)
{
    QString out;
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QStringLiteral("\\x%1").arg(uint(c.unicode()), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

// Checks an override value and brings it to the form the browser shows in a URL: lower-case
// scheme and host, no default port, no trailing slash. Returns the error text on failure.
QString NormaliseOrigin(QStringView value, QString& origin)
{
    if (value.isEmpty())
        return QStringLiteral("no URL after '='");
    if (!value.contains(u"://"))
        return QStringLiteral("expected an http or https URL such as http://127.0.0.2:8081");
    const QUrl url(value.toString(), QUrl::StrictMode);
    if (!url.isValid())
        // The parser's text quotes the value as it stands, control characters included.
        return QStringLiteral("not a valid URL (%1)").arg(Escaped(url.errorString()));
    const QString scheme = url.scheme();
    if (scheme != u"http" && scheme != u"https")
        return QStringLiteral("the scheme must be http or https");
    if (url.host().isEmpty())
        return QStringLiteral("the URL has no host");
    if (!url.userInfo().isEmpty())
        return QStringLiteral("user names and passwords are not accepted");
    if (!url.path().isEmpty() && url.path() != u"/")
        return QStringLiteral("only scheme://host[:port] is accepted, without a path");
    if (url.hasQuery() || url.hasFragment())
        return QStringLiteral("only scheme://host[:port] is accepted, without a query or fragment");

    QUrl normalised;
    normalised.setScheme(scheme);
    normalised.setHost(url.host());
    const int defaultPort = scheme == u"https" ? 443 : 80;
    if (url.port() != -1 && url.port() != defaultPort)
        normalised.setPort(url.port());
    origin = normalised.toString(QUrl::FullyEncoded);
    return {};
}

} // namespace

QStringList ApplyPortalHostsOverride(const QString& value, PortalHosts& hosts)
{
    QStringList errors;
    for (QStringView raw : QStringView(value).split(u',')) {
        const QStringView element = raw.trimmed();
        if (element.isEmpty())
            continue; // tolerates "a=...,,b=..." and a trailing comma
        const QString ignored =
            QStringLiteral("element %1 ignored: ").arg(QuotedForMessage(element));
        const qsizetype equals = element.indexOf(u'=');
        if (equals < 0) {
            errors << ignored + QStringLiteral("expected key=scheme://host[:port]");
            continue;
        }
        const QStringView key = element.left(equals).trimmed();
        const PortalRow* row = RowForKey(key);
        if (row == nullptr) {
            errors << ignored +
                          QStringLiteral("unknown portal key %1 (known keys: ccc, am, es, ba, sp)")
                              .arg(QuotedForMessage(key));
            continue;
        }
        QString origin;
        const QString error = NormaliseOrigin(element.mid(equals + 1).trimmed(), origin);
        if (!error.isEmpty()) {
            errors << ignored + error;
            continue;
        }
        hosts.*(row->host) = origin;
    }
    return errors;
}

PortalHosts PortalHostsFromEnvironment()
{
    PortalHosts hosts;
    const QString value = qEnvironmentVariable("QUARVEL_PORTAL_HOSTS");
    for (const QString& error : ApplyPortalHostsOverride(value, hosts))
        qCWarning(lcPortalHosts, "%s", qUtf8Printable(error));
    return hosts;
}

void BuildPortalTable(const PortalHosts& hosts,
                      const std::function<void(const TURIEstado&)>& registerURIEstado)
{
    if (!registerURIEstado)
        return;
    const TURIEstado _baseURIEstado;
    for (const PortalRow& row : kPortals) {
        // A fresh copy of the empty base record: nothing carries over from the previous portal.
        TURIEstado _temp = _baseURIEstado;
        const QString& host = hosts.*(row.host);
        _temp.estado = Text(row.estado);
        _temp.URLconsulta = host + Text(row.queryPath);
        if (row.resultPath != nullptr)
            _temp.URLresposta = host + Text(row.resultPath);
        if (row.linkScript)
            _temp.consultaReadyScript = Text(kLinkScript);
        if (row.detection != nullptr)
            _temp.responseStringDetection = Text(row.detection);
        for (const FieldRow& field : row.fields)
            AddField(*field.name, Text(field.regEx), _temp.fieldDefs);
        _temp.consultaFillScript = Text(kFillStart) + Text(row.fill) + Text(kFillEnd);
        registerURIEstado(_temp);
    }
}

TURIEstados BuiltInPortals(const PortalHosts& hosts)
{
    TURIEstados table;
    BuildPortalTable(hosts, [&table](const TURIEstado& portal) { table.append(portal); });
    return table;
}

const QList<BuiltInPortalPaths>& BuiltInPortalPathList()
{
    static const QList<BuiltInPortalPaths> list = [] {
        QList<BuiltInPortalPaths> paths;
        for (const PortalRow& row : kPortals) {
            paths.append({Text(row.key), Text(row.queryPath),
                          row.resultPath != nullptr ? Text(row.resultPath) : QString()});
        }
        return paths;
    }();
    return list;
}

int PortalIndexForKey(QStringView key)
{
    for (std::size_t i = 0; i < kPortals.size(); ++i) {
        if (key == QStringView(kPortals[i].key))
            return static_cast<int>(i);
    }
    return -1;
}

QString QuotedForMessage(QStringView text)
{
    return u'"' + Escaped(text) + u'"';
}
