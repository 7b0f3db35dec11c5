#pragma once

#include "portals/PortalTable.h"
#include "portals/URIEstado.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// A portal table with each portal's short key, parallel to the records.
struct KeyedPortalTable
{
    QStringList keys;
    TURIEstados portals;
};

// The outcome of reading a portal definitions file: either a whole table or problems, never
// part of a table.
struct PortalFileResult
{
    KeyedPortalTable table; // empty unless problems is empty
    QStringList problems;   // "file:line:column: what" or "file: portal/field: what"
    bool ok() const { return problems.isEmpty(); }
};

constexpr qsizetype kMaxPortalFileBytes = 1024 * 1024;
constexpr qsizetype kMaxPortals = 64;
constexpr qsizetype kMaxFieldsPerPortal = 64;

// The built-in table (with the given hosts) keyed by its built-in keys.
KeyedPortalTable BuiltInKeyedPortals(const TURIEstados& builtIn);

// The table in the file format, as indented UTF-8 JSON.
QByteArray PortalTableToJson(const KeyedPortalTable& table);

// Checks and converts a file's contents; fileName only names the file in the messages.
PortalFileResult ParsePortalFile(const QByteArray& bytes, const QString& fileName);

// Reads and checks the file at path (size, readability, then its contents).
PortalFileResult LoadPortalFile(const QString& path);

// The file to use, first found wins: envValue when not empty, else portals.json in exeDir,
// else etcPath. Empty when there is none (the built-in table is in force).
QString FindPortalFile(const QString& envValue, const QString& exeDir, const QString& etcPath);

// Puts each overridden built-in host (a key whose host differs from the default) in place of
// the scheme and host of that portal's URLconsulta and URLresposta.
void ApplyHostsToTable(const PortalHosts& hosts, KeyedPortalTable& table);

// The table in force and, when a file was found but refused, which file and why.
struct PortalTableChoice
{
    KeyedPortalTable table;
    QString file;         // the file in use or refused; empty: none found
    QStringList problems; // not empty: the file was refused and the built-in table is in force
};

// Looks for a file (see FindPortalFile), loads it or falls back to the built-in table, then
// applies hosts on top.
PortalTableChoice ChoosePortalTable(const QString& envValue, const QString& exeDir,
                                    const QString& etcPath, const PortalHosts& hosts);
