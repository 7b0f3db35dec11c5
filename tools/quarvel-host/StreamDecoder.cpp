#include "StreamDecoder.h"

#include "hostlink/WireFormat.h"

namespace {

QString Hex2(unsigned value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

// ASCII bytes for an error line: printable as they are, everything else as \xHH.
QString EscapeBytes(QByteArrayView bytes, qsizetype limit)
{
    QString out;
    for (qsizetype i = 0; i < bytes.size() && i < limit; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b == '\\')
            out += QLatin1String("\\\\");
        else if (b >= 0x20 && b < 0x7F)
            out += QLatin1Char(static_cast<char>(b));
        else
            out += QLatin1String("\\x") + Hex2(b);
    }
    if (bytes.size() > limit)
        out += QLatin1String("...");
    return out;
}

// A result block's field lines begin with an ASCII letter, so their first code unit has a zero
// high byte; two printable ASCII bytes in a row are text sent in the wrong encoding.
bool LooksLikeAscii(QByteArrayView bytes)
{
    auto printable = [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n' || b == '\t';
    };
    return bytes.size() >= 2 && printable(bytes[0]) && printable(bytes[1]);
}

} // namespace

QString StreamDecoder::EscapeLine(QStringView line)
{
    QString out;
    out.reserve(line.size());
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char16_t c = line[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < line.size() &&
            QChar::isLowSurrogate(line[i + 1].unicode())) {
            out += line[i];
            out += line[++i];
        } else if (QChar::isSurrogate(c)) {
            out += QLatin1String("\\u") + QString::number(c, 16).toUpper();
        } else if (c == u'\\') {
            out += QLatin1String("\\\\");
        } else if (c == u'\n') {
            out += QLatin1String("\\n");
        } else if (c == u'\r') {
            out += QLatin1String("\\r");
        } else if (c == u'\t') {
            out += QLatin1String("\\t");
        } else if (c < 0x20 || c == 0x7F) {
            out += QLatin1String("\\x") + Hex2(c);
        } else {
            out += line[i];
        }
    }
    return out;
}

QString StreamDecoder::Error(const QString& text)
{
    error = true;
    return QLatin1String("error: ") + text;
}

QStringList StreamDecoder::Feed(QByteArrayView bytes)
{
    QStringList events;
    pending.append(bytes.data(), bytes.size());
    const QByteArray notice = ClosingNotice();

    for (;;) {
        switch (phase) {
        case Phase::Start:
            if (pending.isEmpty() || (pending.size() < notice.size() && notice.startsWith(pending)))
                return events; // need more bytes to tell
            if (pending.startsWith(notice)) {
                events << (noticeSeen ? Error(QStringLiteral("second closing notice"))
                                      : QStringLiteral("notice client-closing"));
                noticeSeen = true;
                pending.remove(0, notice.size());
                continue;
            }
            if (pending.size() < 2)
                return events;
            if (LooksLikeAscii(pending)) {
                phase = Phase::Garbage; // reported at the end, with a sample
                continue;
            }
            phase = Phase::Block;
            continue;

        case Phase::Block: {
            qsizetype i = 0;
            for (; i + 1 < pending.size() && phase == Phase::Block; i += 2) {
                const auto low = static_cast<unsigned char>(pending[i]);
                const auto high = static_cast<unsigned char>(pending[i + 1]);
                line += QChar(static_cast<char16_t>(low | (high << 8)));
                if (!line.endsWith(QLatin1String("\r\n")))
                    continue;
                line.chop(2);
                if (line == QLatin1String(".")) {
                    events << QStringLiteral("block %1 lines").arg(lines);
                    terminated = true;
                    phase = Phase::AfterBlock;
                } else {
                    events << QLatin1String("line ") + EscapeLine(line);
                    ++lines;
                }
                line.clear();
            }
            pending.remove(0, i);
            if (phase == Phase::Block)
                return events;
            continue;
        }

        case Phase::AfterBlock:
        case Phase::Garbage:
            if (phase == Phase::Garbage && sample.size() <= kSampleSize)
                sample += pending.left(kSampleSize + 1 - sample.size());
            ignored += pending.size();
            pending.clear();
            return events;
        }
    }
}

QStringList StreamDecoder::Finish()
{
    QStringList events;
    switch (phase) {
    case Phase::Start:
        if (!pending.isEmpty())
            events << (ClosingNotice().startsWith(pending)
                           ? Error(QStringLiteral("incomplete closing notice: ") +
                                   EscapeBytes(pending, 40))
                           : Error(QStringLiteral("odd byte count in the result block")));
        break;
    case Phase::Block:
        if (!pending.isEmpty())
            events << Error(QStringLiteral("odd byte count in the result block"));
        events << Error(QStringLiteral("missing terminator after %1 lines%2")
                            .arg(lines)
                            .arg(line.isEmpty()
                                     ? QString()
                                     : QStringLiteral(" and a partial line: ") + EscapeLine(line)));
        break;
    case Phase::AfterBlock:
        if (ignored > 0)
            events << Error(QStringLiteral("%1 bytes after the terminator").arg(ignored));
        break;
    case Phase::Garbage:
        events << Error(QStringLiteral("unexpected ASCII data, %1 bytes: %2")
                            .arg(ignored)
                            .arg(EscapeBytes(sample, kSampleSize)));
        break;
    }
    pending.clear();
    return events;
}
