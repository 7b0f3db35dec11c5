#include "FuzzCheck.h"

#include <cstdio>
#include <cstdlib>

const char* g_fuzzInputName = "";

void FuzzCheckFailed(const char* expression, const char* file, int line)
{
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)%s%s\n", expression, file, line,
                 *g_fuzzInputName != '\0' ? ", input " : "", g_fuzzInputName);
    std::fflush(stderr);
    std::abort();
}

QString RawUtf16(QByteArrayView bytes)
{
    QString text(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto low = static_cast<unsigned char>(bytes[2 * i]);
        const auto high = static_cast<unsigned char>(bytes[2 * i + 1]);
        text[i] = QChar(static_cast<char16_t>(low | (high << 8)));
    }
    return text;
}
