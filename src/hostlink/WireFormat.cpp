#include "hostlink/WireFormat.h"

#include <QtEndian>

namespace {

void AppendUtf16Le(QByteArray& out, QStringView text)
{
    // An empty view may have no data pointer, which qToLittleEndian would hand to memcpy.
    if (text.isEmpty())
        return;
    const qsizetype at = out.size();
    out.resize(at + text.size() * 2);
    qToLittleEndian<quint16>(text.utf16(), text.size(), out.data() + at);
}

} // namespace

QByteArray EncodeResultBlock(const QStringList& lines)
{
    qsizetype units = 3;
    for (const QString& line : lines)
        units += line.size() + 2;

    QByteArray out;
    out.reserve(units * 2);
    // Code units go out as they are: lone surrogates included, nothing escaped.
    for (const QString& line : lines) {
        AppendUtf16Le(out, line);
        AppendUtf16Le(out, u"\r\n");
    }
    AppendUtf16Le(out, u".\r\n");
    return out;
}

QByteArray ClosingNotice()
{
    return QByteArrayLiteral("client-closing\r\n");
}

bool IsCloseCommand(QByteArrayView message)
{
    return message.startsWith(QByteArrayView("close"));
}
