#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

// The result block: each line's UTF-16 code units little-endian, CR LF after each, then
// "." CR LF. No byte-order mark, nothing escaped.
QByteArray EncodeResultBlock(const QStringList& lines);

// "client-closing" CR LF in ASCII.
QByteArray ClosingNotice();

// Is the host's whole message (or its first bytes) a close command?
bool IsCloseCommand(QByteArrayView message);
