#pragma once

#include "lookup/PortalFile.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <vector>

// One portal object as a file, with one member replaced by raw JSON.
inline QByteArray OnePortal(const char* member = nullptr, const char* raw = nullptr)
{
    QByteArray portal = R"j({"key": "xy", "estado": "XY", "URLconsulta": "https://a.example/q",
 "URLresposta": "", "responseStringDetection": "Resultado", "consultaReadyScript": "",
 "fieldDefs": [{"fieldName": "nome", "fieldRegEx": "Nome:\\s*(.*)"}]})j";
    if (member) {
        QJsonParseError e;
        QJsonObject o = QJsonDocument::fromJson(portal, &e).object();
        if (raw)
            o.insert(QLatin1StringView(member),
                     QJsonDocument::fromJson(QByteArray("[") + raw + "]").array().at(0));
        else
            o.remove(QLatin1StringView(member));
        portal = QJsonDocument(o).toJson();
    }
    return QByteArray(R"j({"version": 1, "portals": [)j") + portal + "]}";
}

inline QByteArray ManyPortals(int count)
{
    QByteArray portals;
    for (int i = 0; i < count; ++i) {
        QByteArray key;
        for (int n = i + 1; n > 0; n /= 26)
            key.prepend(char('a' + n % 26));
        portals += (i ? "," : "") + QByteArray(R"j({"key": ")j") + key + R"j(", "estado": "E)j" +
                   QByteArray::number(i) +
                   R"j(", "URLconsulta": "https://a.example/", "URLresposta": "",
 "responseStringDetection": "", "consultaReadyScript": "", "fieldDefs": []})j";
    }
    return R"j({"version": 1, "portals": [)j" + portals + "]}";
}

struct BrokenCase
{
    const char* name;
    QByteArray bytes;
    const char* expected; // in the message, after the file name
};

// Definitions files the program refuses, one a case, with the start of the message each gives
// (read under the name "f.json"), shared by the loader's tests and the tool's.
inline std::vector<BrokenCase> BrokenPortalFiles()
{
    return {
        // Qt's JSON parser words and places this one by its version (6.4: "1:2: illegal value",
        // 6.11: "1:1: illegal number"): the file and its first line are what is ours.
        {"not JSON", "portals?", "f.json:1:"},
        {"truncated",
         QByteArray(R"j({"version": 1,)j"
                    "\n"
                    R"j( "portals": [)j"),
         "f.json:2:"},
        {"empty file", "", "f.json:1:1: empty file"},
        {"wrong version", R"j({"version": 2, "portals": []})j", "f.json: version:"},
        {"missing member", OnePortal("URLresposta"), "f.json: xy: member \"URLresposta\" missing"},
        {"wrong type", OnePortal("estado", "5"), "f.json: xy: member \"estado\" missing or not"},
        {"duplicate key", ManyPortals(2).replace(R"j("key": "c")j", R"j("key": "b")j"),
         "f.json: b: duplicate key"},
        {"uppercase key", OnePortal("key", R"j("Xy")j"), "not lowercase ASCII"},
        {"empty estado", OnePortal("estado", R"j("")j"), "f.json: xy: estado is empty"},
        {"relative URL", OnePortal("URLconsulta", R"j("/q")j"), "f.json: xy: URLconsulta \"/q\""},
        {"ftp URL", OnePortal("URLconsulta", R"j("ftp://a.example/")j"), "not an absolute http"},
        {"expression does not compile",
         OnePortal("fieldDefs", R"j([{"fieldName": "nome", "fieldRegEx": "(a"}])j"),
         "f.json: xy/nome: expression does not compile"},
        {"detection does not compile", OnePortal("responseStringDetection", R"j("[x")j"),
         "f.json: xy/responseStringDetection: expression does not compile"},
        {"no group", OnePortal("fieldDefs", R"j([{"fieldName": "nome", "fieldRegEx": "a"}])j"),
         "f.json: xy/nome: field expression has no capturing group"},
        {"= in field name",
         OnePortal("fieldDefs", R"j([{"fieldName": "a=b", "fieldRegEx": "(a)"}])j"),
         "f.json: xy/a=b: field name contains"},
        {"CR in field name",
         OnePortal("fieldDefs", R"j([{"fieldName": "a\rb", "fieldRegEx": "(a)"}])j"),
         "field name contains '=', CR or LF"},
        {"empty field name",
         OnePortal("fieldDefs", R"j([{"fieldName": "", "fieldRegEx": "(a)"}])j"),
         "f.json: xy/field #1: field name is empty"},
        {"fill script not a string", OnePortal("consultaFillScript", "null"),
         "f.json: xy: member \"consultaFillScript\" not a string"},
        {"too many portals", ManyPortals(65), "f.json: portals: 65 portals, at most 64"},
        {"too large", QByteArray(kMaxPortalFileBytes + 1, ' '), "f.json: file is larger"},
    };
}
