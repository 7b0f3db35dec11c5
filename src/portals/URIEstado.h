#pragma once

#include <QList>
#include <QString>

// The portal records. Plain values: copying a record copies its field list.

struct TFieldDef
{
    QString fieldName;
    QString fieldRegEx;
};

using TFieldDefList = QList<TFieldDef>;

struct TURIEstado
{
    QString estado;
    QString URLconsulta;
    QString consultaReadyScript;
    // A function expression run on the query page with the host's request as its one argument
    // ({cnpj, cnpjPunctuated, uf, ufCode}); empty: the query is not filled in.
    QString consultaFillScript;
    QString URLresposta;
    QString responseStringDetection;
    TFieldDefList fieldDefs;
};

// The portal table, in registration order.
using TURIEstados = QList<TURIEstado>;

// Names on the left of the '=' in the lines sent to the host.
inline const QString FIELD_CNPJ = QStringLiteral("cnpj");
inline const QString FIELD_CPF = QStringLiteral("cpf");
inline const QString FIELD_NOME = QStringLiteral("nome");
inline const QString FIELD_RAZAOSOCIAL = QStringLiteral("razaosocial");
inline const QString FIELD_INSCRICAOESTADUAL = QStringLiteral("inscricaoestadual");
inline const QString FIELD_TELEFONE = QStringLiteral("telefone");
inline const QString FIELD_ENDERECO = QStringLiteral("endereco");
inline const QString FIELD_NUMERO = QStringLiteral("numero");
inline const QString FIELD_COMPLEMENTO = QStringLiteral("complemento");
inline const QString FIELD_BAIRRO = QStringLiteral("bairro");
inline const QString FIELD_CIDADE = QStringLiteral("cidade");
inline const QString FIELD_ESTADO = QStringLiteral("estado");
inline const QString FIELD_CEP = QStringLiteral("cep");

// Appends a copy of fieldDef to _array.
void PushFieldDef(const TFieldDef& fieldDef, TFieldDefList& _array);
// Builds a TFieldDef from the two texts and appends it with PushFieldDef.
void AddField(const QString& fieldName, const QString& fieldRegEx, TFieldDefList& _array);
// Index of the first entry whose estado equals _uf exactly (case-sensitive), or -1.
int GetIndex(const TURIEstados& table, const QString& _uf);
