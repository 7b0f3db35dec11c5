#pragma once

// The sample portals as the end-to-end tests serve them, and the bytes a lookup sends.
#include "BuiltInTable.h"
#include "HttpFixtureServer.h"
#include "portals/PortalTable.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <string>

// The query page of the portal at index, below its host.
inline QString QueryPath(int index)
{
    return BuiltInPortalPathList().at(index).queryPath;
}

// The lines each sample portal's result page gives, by portal index. AM: the telephone's
// separator takes one character, so a number that starts with "(" gives an empty value.
inline const std::array<QStringList, 5> kSampleLines = {
    QStringList{QStringLiteral("cnpj=12.345.678/0001-95"), QStringLiteral("cpf="),
                QStringLiteral("nome=AURORA DISTRIBUIDORA"),
                QStringLiteral("razaosocial=COMERCIAL AURORA LTDA"),
                QStringLiteral("inscricaoestadual=041234567"),
                QStringLiteral("endereco=RUA DAS ACACIAS"), QStringLiteral("numero=120"),
                QStringLiteral("complemento=SALA 3"), QStringLiteral("bairro=CENTRO"),
                QStringLiteral("cidade=MANAUS"), QStringLiteral("estado=AM"),
                QStringLiteral("cep=69005010")},
    QStringList{QStringLiteral("cnpj=23.456.789/0001-10"),
                QStringLiteral("nome=MADEIREIRA RIO NEGRO LTDA"),
                QStringLiteral("razaosocial=MADEIREIRA RIO NEGRO LTDA"),
                QStringLiteral("inscricaoestadual=04.234.567-8"), QStringLiteral("telefone="),
                QStringLiteral("endereco=AVENIDA EDUARDO RIBEIRO"), QStringLiteral("numero=520"),
                QStringLiteral("complemento=GALPAO 2"), QStringLiteral("bairro=CENTRO"),
                QStringLiteral("cidade=MANAUS"), QStringLiteral("estado=AM"),
                QStringLiteral("cep=69010-001")},
    QStringList{QStringLiteral("cnpj=45.678.901/0001-23"), QStringLiteral("cpf="),
                QStringLiteral("nome="), QStringLiteral("razaosocial=CAFE CAPIXABA COMERCIO LTDA"),
                QStringLiteral("inscricaoestadual=082.345.67-8"),
                QStringLiteral("telefone=2733221100"),
                QStringLiteral("endereco=AVENIDA JERÔNIMO MONTEIRO"), QStringLiteral("numero=240"),
                QStringLiteral("complemento=LOJA 1"), QStringLiteral("bairro=CENTRO"),
                QStringLiteral("cidade=VITÓRIA"), QStringLiteral("estado=ES"),
                QStringLiteral("cep=29010-002")},
    QStringList{QStringLiteral("cnpj=56.789.012/0001-34"),
                QStringLiteral("nome=DENDE DA BAHIA ALIMENTOS LTDA"),
                QStringLiteral("razaosocial=DENDE DA BAHIA ALIMENTOS LTDA"),
                QStringLiteral("inscricaoestadual=12.345.678"),
                QStringLiteral("telefone=(71) 33214455"), QStringLiteral("endereco=RUA DA GRECIA"),
                QStringLiteral("numero=120"), QStringLiteral("complemento=SALA 3"),
                QStringLiteral("bairro=COMERCIO"), QStringLiteral("cidade=SALVADOR"),
                QStringLiteral("estado=BA"), QStringLiteral("cep=40010010")},
    QStringList{QStringLiteral("cnpj=34.567.890/0001-12"), QStringLiteral("nome=PAULISTA PECAS"),
                QStringLiteral("razaosocial=PAULISTA PECAS E SERVICOS LTDA"),
                QStringLiteral("inscricaoestadual=123.456.789.110"),
                QStringLiteral("endereco=AVENIDA PAULISTA"), QStringLiteral("numero=1500"),
                QStringLiteral("complemento=CONJ 52"), QStringLiteral("bairro=BELA VISTA"),
                QStringLiteral("cidade=SÃO PAULO"), QStringLiteral("estado=SP"),
                QStringLiteral("cep=01310-100")}};

// The bytes the host must receive for these lines, built here on their own: each line's UTF-16
// code units low byte first, CR LF after each, then "." CR LF.
inline QByteArray ResultBlock(const QStringList& lines)
{
    QByteArray bytes;
    const auto put = [&bytes](char16_t unit) {
        bytes.append(char(unit & 0xFF));
        bytes.append(char(unit >> 8));
    };
    for (const QString& line : lines) {
        for (const QChar c : line)
            put(c.unicode());
        put(u'\r');
        put(u'\n');
    }
    put(u'.');
    put(u'\r');
    put(u'\n');
    return bytes;
}

// For failure messages: the bytes read as UTF-16LE, line ends shown.
inline std::string Readable(const QByteArray& bytes)
{
    QString text;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        text.append(QChar(char16_t(quint8(bytes[i]) | quint8(bytes[i + 1]) << 8)));
    if (bytes.size() % 2 != 0)
        text.append(QStringLiteral("<odd byte>"));
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("<CRLF>\n")).toStdString();
}

// One HTTP server per portal, each on a loopback address of its own, serving its sample folder
// (samples/portals/KEY).
class SamplePortals
{
public:
    bool start()
    {
        const QList<BuiltInPortalPaths>& portals = BuiltInPortalPathList();
        QStringList hosts;
        for (std::size_t i = 0; i < servers.size(); ++i) {
            auto& server = servers[i];
            server = std::make_unique<HttpFixtureServer>();
            server->setRoot(QStringLiteral(QUARVEL_SAMPLES_DIR "/") + portals.at(i).key);
            if (!server->listen(QHostAddress(QStringLiteral("127.0.0.%1").arg(2 + i))))
                return false;
            hosts.append(portals.at(i).key + u'=' + server->origin());
        }
        hostsValue = hosts.join(u',');
        return true;
    }

    HttpFixtureServer& server(int index) { return *servers.at(index); }
    QString queryUrl(int index) const { return servers.at(index)->url(QueryPath(index)); }

    std::array<std::unique_ptr<HttpFixtureServer>, 5> servers;
    QString hostsValue;
};
