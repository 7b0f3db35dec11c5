#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

// Reads what the program sends to its host, as the host sees it: an optional closing notice
// (ASCII), then an optional result block (UTF-16LE lines ended by CR LF, then "." CR LF), then
// the end of the stream. Turns it into event lines as quarvel-host prints them.
class StreamDecoder
{
public:
    // Events for these bytes, in order ("notice client-closing", "line ...", "block N lines",
    // "error: ..."). Bytes may arrive split anywhere.
    QStringList Feed(QByteArrayView bytes);
    // The stream has ended: the checks that need the whole stream.
    QStringList Finish();

    // A result block with its terminator arrived and nothing broke the protocol.
    bool WellFormedBlock() const { return terminated && !error; }
    bool SawError() const { return error; }

    // A line as printed: UTF-8 text with backslash, control characters and lone surrogates
    // written as escapes, so that every event stays on one output line.
    static QString EscapeLine(QStringView line);

private:
    enum class Phase
    {
        Start,
        Block,
        AfterBlock,
        Garbage
    };

    QString Error(const QString& text);

    Phase phase = Phase::Start;
    QByteArray pending; // bytes not yet decoded
    QString line;       // code units of the line being read, CR LF included
    int lines = 0;
    bool noticeSeen = false;
    bool terminated = false;
    bool error = false;
    qsizetype ignored = 0; // bytes after the terminator or in unexpected data
    static constexpr qsizetype kSampleSize = 40;
    QByteArray sample; // the first bytes of unexpected data, for the report
};
