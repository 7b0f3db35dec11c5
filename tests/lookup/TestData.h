#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

// The realistic page texts and their expected blocks in tests/lookup/data.
inline QString ReadTestData(const QString& name)
{
    QFile file(QStringLiteral(QUARVEL_TEST_DATA_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// Lines as the tool prints them: each followed by a line feed.
inline QString Block(const QStringList& lines)
{
    QString block;
    for (const QString& line : lines)
        block += line + u'\n';
    return block;
}

inline const QStringList kPortalKeys = {QStringLiteral("ccc"), QStringLiteral("am"),
                                        QStringLiteral("es"), QStringLiteral("ba"),
                                        QStringLiteral("sp")};
