#include "Utf8Validation.h"

#include <cstdint>

qsizetype FirstInvalidUtf8Offset(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        qsizetype length = 0;
        std::uint32_t code = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07u;
        } else {
            return i; // continuation byte, C0/C1 or F5..FF
        }
        if (n - i < length)
            return i;
        for (qsizetype k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0u) != 0x80u)
                return i;
            code = (code << 6) | (p[i + k] & 0x3Fu);
        }
        if (length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF)))
            return i;
        if (length == 4 && (code < 0x10000 || code > 0x10FFFF))
            return i;
        i += length;
    }
    return -1;
}
