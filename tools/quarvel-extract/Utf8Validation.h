#pragma once

#include <QByteArrayView>

// Byte offset of the first byte that does not begin a well-formed UTF-8 sequence (overlong
// forms, surrogates, values above U+10FFFF and cut-off sequences included), or -1 when all of
// bytes is valid UTF-8.
qsizetype FirstInvalidUtf8Offset(QByteArrayView bytes);
