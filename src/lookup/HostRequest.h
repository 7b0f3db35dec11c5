#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// What the host asked for on the command line after the port: the portal to open and the
// taxpayer to fill in. Every part is optional; an empty member was not given (or was ignored).
struct HostRequest
{
    QString portalKey;
    QString uf;   // two upper-case letters, a Brazilian state
    QString cnpj; // 14 digits with valid check digits
    // One line per option that was ignored, naming it and why.
    QStringList warnings;

    bool fillsQuery() const { return !uf.isEmpty() || !cnpj.isEmpty(); }
};

// Reads "--portal KEY", "--uf UF" and "--cnpj CNPJ" (or "--name=value") from the arguments after
// the first, which is the port and is not looked at here. A key must be one of portalKeys. A
// malformed, unknown or repeated option costs only itself: it is named in warnings and the rest
// is read as usual; for a repeated option the last good value wins.
HostRequest ParseHostRequest(const QStringList& hostArguments, const QStringList& portalKeys);

// True when digits is 14 ASCII digits whose last two are the registry's modulus-11 check digits
// of the first twelve.
bool CnpjCheckDigitsValid(QStringView digits);

// The ASCII digits of text, in order (a CNPJ as a page shows it, compared by its number).
QString DigitsOnly(QStringView text);

// "NN.NNN.NNN/NNNN-NN" for 14 digits; other texts come back unchanged.
QString PunctuatedCnpj(const QString& digits);

// The IBGE code of a state ("SP" -> "35"), empty for anything else.
QString IbgeStateCode(QStringView uf);

// The text that runs a portal's fill script on the request: "(script)(data)", the data a JSON
// object {cnpj, cnpjPunctuated, uf, ufCode} made by the JSON writer, so that no value is ever
// read as code.
QString FillScriptCall(const QString& fillScript, const HostRequest& request);
