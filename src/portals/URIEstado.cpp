#include "portals/URIEstado.h"

void PushFieldDef(const TFieldDef& fieldDef, TFieldDefList& _array)
{
    _array.append(fieldDef);
}

void AddField(const QString& fieldName, const QString& fieldRegEx, TFieldDefList& _array)
{
    PushFieldDef(TFieldDef{fieldName, fieldRegEx}, _array);
}

int GetIndex(const TURIEstados& table, const QString& _uf)
{
    for (qsizetype i = 0; i < table.size(); ++i) {
        // QString's operator== compares UTF-16 code units: case-sensitive, nothing normalised.
        if (table.at(i).estado == _uf)
            return static_cast<int>(i);
    }
    return -1;
}
